/* The VM's port library: a table of operating-system services (memory, console and formatted
 * text, files, clocks, national-language messages, sockets). The VM has one (K5JavaVM's
 * portLibrary); an agent outside a K5 VM makes its own with k5port_allocate_library and
 * k5port_startup_library. Every function takes the library as its first argument. */
#ifndef K5PORT_H
#define K5PORT_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define K5PORT_MAJOR_VERSION_NUMBER 14
#define K5PORT_MINOR_VERSION_NUMBER 0
#define K5PORT_CAPABILITY_STANDARD 0x1
#define K5PORT_CAPABILITY_FILESYSTEM 0x2
#define K5PORT_CAPABILITY_SOCKETS 0x4
#define K5PORT_CAPABILITY_MASK 0x7

typedef struct K5PortLibraryVersion {
  uint16_t majorVersionNumber;
  uint16_t minorVersionNumber;
  uint32_t padding;
  uint64_t capabilities;
} K5PortLibraryVersion;

/* File open flags (combine). */
#define K5_OPEN_READ 1
#define K5_OPEN_WRITE 2
#define K5_OPEN_CREATE 4
#define K5_OPEN_TRUNCATE 8
#define K5_OPEN_APPEND 16
#define K5_OPEN_TEXT 32
#define K5_OPEN_CREATE_NEW 64
/* file_seek whence */
#define K5_SEEK_SET 0
#define K5_SEEK_CUR 1
#define K5_SEEK_END 2

/* Error numbers (negative results). */
#define K5PORT_ERROR_FILE_OPFAILED (-300)
#define K5PORT_ERROR_FILE_NOENT (-301)
#define K5PORT_ERROR_FILE_NOPERMISSION (-302)
#define K5PORT_ERROR_SOCKET_OPFAILED (-200)
#define K5PORT_ERROR_SOCKET_TIMEOUT (-209)
#define K5PORT_ERROR_SOCKET_WOULDBLOCK (-210)
#define K5PORT_ERROR_SOCKET_INTERRUPTED (-211)
#define K5PORT_ERROR_SOCKET_NOTCONNECTED (-212)
#define K5PORT_ERROR_SOCKET_CONNRESET (-213)
#define K5PORT_ERROR_SOCKET_CONNREFUSED (-214)
#define K5PORT_ERROR_SOCKET_ADDRINUSE (-215)
#define K5PORT_ERROR_SOCKET_BADSOCKET (-216)
#define K5PORT_ERROR_SOCKET_BADADDR (-217)
#define K5PORT_ERROR_SOCKET_HOSTNOTFOUND (-218)
#define K5PORT_ERROR_SOCKET_BADARGUMENT (-219)
#define K5PORT_ERROR_SOCKET_NOBUFFERS (-220)
#define K5PORT_ERROR_SOCKET_CLOSED (-221)

/* Sockets. */
#define K5SOCK_AFINET 2
#define K5SOCK_STREAM 1
#define K5SOCK_DGRAM 2
#define K5SOCK_DEFPROTOCOL 0
#define K5SOCK_INADDR_ANY ((uint32_t)0)
/* Socket options (sock_setopt_int / sock_setopt_bool / sock_getopt_int). */
#define K5_SOL_SOCKET 1
#define K5_IPPROTO_TCP 6
#define K5_SO_REUSEADDR 1
#define K5_SO_KEEPALIVE 2
#define K5_SO_LINGER 3
#define K5_SO_SNDBUF 4
#define K5_SO_RCVBUF 5
#define K5_TCP_NODELAY 6
/* sock_shutdown */
#define K5SOCK_SHUT_RD 0
#define K5SOCK_SHUT_WR 1
#define K5SOCK_SHUT_RDWR 2

typedef struct K5Socket* k5socket_t;
/* A socket address (IPv4), kept opaque. */
typedef struct K5SockAddr {
  uint8_t storage[32];
} K5SockAddr;
typedef K5SockAddr* k5sockaddr_t;
/* A host lookup result. Addresses are IPv4 in network byte order. */
typedef struct K5HostEnt {
  const char* name;
  char** aliases;       /* NULL-terminated */
  uint32_t* addresses;  /* addressCount entries */
  int32_t addressCount;
  void* storage;        /* owned by the library; free with sock_freehostent */
} K5HostEnt;
/* A read set for sock_select: up to 16 sockets. */
typedef struct K5FdSet {
  int32_t count;
  k5socket_t sockets[16];
  uint8_t ready[16];
} K5FdSet;
typedef struct K5TimeVal {
  int32_t seconds;
  int32_t microseconds;
} K5TimeVal;

typedef struct K5PortLibrary K5PortLibrary;
struct K5PortLibrary {
  K5PortLibraryVersion portVersion;

  /* Version and lifecycle */
  int32_t (*port_shutdown_library)(K5PortLibrary* portLibrary);
  int32_t (*port_isCompatible)(K5PortLibrary* portLibrary, K5PortLibraryVersion* expected);

  /* Memory */
  void* (*mem_allocate_memory)(K5PortLibrary* portLibrary, uintptr_t byteAmount, const char* callSite);
  void* (*mem_reallocate_memory)(K5PortLibrary* portLibrary, void* memoryPointer, uintptr_t byteAmount);
  void (*mem_free_memory)(K5PortLibrary* portLibrary, void* memoryPointer);

  /* Console and formatted text */
  void (*tty_printf)(K5PortLibrary* portLibrary, const char* format, ...);
  void (*tty_vprintf)(K5PortLibrary* portLibrary, const char* format, va_list args);
  void (*tty_err_printf)(K5PortLibrary* portLibrary, const char* format, ...);
  void (*tty_err_vprintf)(K5PortLibrary* portLibrary, const char* format, va_list args);
  /* Formats into buf (bufLen bytes, always NUL-terminated) and answers the characters
   * written without the NUL. With buf NULL it writes nothing and answers the size the text
   * needs including its NUL. */
  uintptr_t (*str_printf)(K5PortLibrary* portLibrary, char* buf, uintptr_t bufLen, const char* format, ...);
  uintptr_t (*str_vprintf)(K5PortLibrary* portLibrary, char* buf, uintptr_t bufLen, const char* format, va_list args);

  /* Files: descriptors are >= 0, -1 on failure (error in error_last_error_number). */
  intptr_t (*file_open)(K5PortLibrary* portLibrary, const char* path, int32_t flags, int32_t mode);
  int32_t (*file_close)(K5PortLibrary* portLibrary, intptr_t fd);
  /* Answers the bytes read, or -1 at the end of the file or on an error. */
  intptr_t (*file_read)(K5PortLibrary* portLibrary, intptr_t fd, void* buf, intptr_t nbytes);
  /* Answers the bytes written, or a negative error. */
  intptr_t (*file_write)(K5PortLibrary* portLibrary, intptr_t fd, const void* buf, intptr_t nbytes);
  int64_t (*file_seek)(K5PortLibrary* portLibrary, intptr_t fd, int64_t offset, int32_t whence);
  void (*file_printf)(K5PortLibrary* portLibrary, intptr_t fd, const char* format, ...);
  void (*file_vprintf)(K5PortLibrary* portLibrary, intptr_t fd, const char* format, va_list args);
  int32_t (*file_unlink)(K5PortLibrary* portLibrary, const char* path);

  /* Clocks */
  int64_t (*time_current_time_millis)(K5PortLibrary* portLibrary);
  uintptr_t (*time_msec_clock)(K5PortLibrary* portLibrary);
  uintptr_t (*time_usec_clock)(K5PortLibrary* portLibrary);
  uint64_t (*time_hires_clock)(K5PortLibrary* portLibrary);
  uint64_t (*time_hires_frequency)(K5PortLibrary* portLibrary);
  /* (end - start) in units of 1/requiredResolution seconds. */
  uint64_t (*time_hires_delta)(K5PortLibrary* portLibrary, uint64_t startTime, uint64_t endTime,
                               uint64_t requiredResolution);

  /* National-language messages: module is four characters ("JVMP"), id the message number.
   * flags: K5NLS_INFO, K5NLS_WARNING, K5NLS_ERROR. The message's format takes the arguments. */
  void (*nls_printf)(K5PortLibrary* portLibrary, uintptr_t flags, uint32_t module, uint32_t id, ...);
  const char* (*nls_lookup_message)(K5PortLibrary* portLibrary, uintptr_t flags, uint32_t module,
                                    uint32_t id, const char* defaultMessage);

  /* Errors */
  int32_t (*error_last_error_number)(K5PortLibrary* portLibrary);

  /* Process */
  uintptr_t (*sysinfo_get_pid)(K5PortLibrary* portLibrary);
  void (*exit_shutdown_and_exit)(K5PortLibrary* portLibrary, int32_t exitCode);

  /* Sockets: 0 or a byte count on success, a negative K5PORT_ERROR_SOCKET_* on failure. */
  int32_t (*sock_socket)(K5PortLibrary* portLibrary, k5socket_t* handle, int32_t family, int32_t socktype,
                         int32_t protocol);
  int32_t (*sock_bind)(K5PortLibrary* portLibrary, k5socket_t sock, k5sockaddr_t addr);
  int32_t (*sock_listen)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t backlog);
  int32_t (*sock_accept)(K5PortLibrary* portLibrary, k5socket_t serverSock, k5sockaddr_t addrHandle,
                         k5socket_t* sockHandle);
  int32_t (*sock_connect)(K5PortLibrary* portLibrary, k5socket_t sock, k5sockaddr_t addr);
  int32_t (*sock_shutdown)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t how);
  int32_t (*sock_read)(K5PortLibrary* portLibrary, k5socket_t sock, uint8_t* buf, int32_t nbyte, int32_t flags);
  int32_t (*sock_write)(K5PortLibrary* portLibrary, k5socket_t sock, const uint8_t* buf, int32_t nbyte,
                        int32_t flags);
  int32_t (*sock_readfrom)(K5PortLibrary* portLibrary, k5socket_t sock, uint8_t* buf, int32_t nbyte,
                           int32_t flags, k5sockaddr_t addrHandle);
  int32_t (*sock_writeto)(K5PortLibrary* portLibrary, k5socket_t sock, const uint8_t* buf, int32_t nbyte,
                          int32_t flags, k5sockaddr_t addrHandle);
  /* Waits until a socket of the set is readable: answers the number ready (ready[] marks
   * them), 0 or K5PORT_ERROR_SOCKET_TIMEOUT when the time ran out, or an error. */
  int32_t (*sock_select)(K5PortLibrary* portLibrary, K5FdSet* readSet, K5TimeVal* timeout);
  /* One socket: 1 when readable, K5PORT_ERROR_SOCKET_TIMEOUT, or an error. */
  int32_t (*sock_select_read)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t secTime, int32_t uSecTime);
  int32_t (*sock_close)(K5PortLibrary* portLibrary, k5socket_t* sock);
  int32_t (*sock_socketIsValid)(K5PortLibrary* portLibrary, k5socket_t sock);
  int32_t (*sock_setopt_int)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t level, int32_t optname,
                             int32_t* value);
  int32_t (*sock_setopt_bool)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t level, int32_t optname,
                              uint8_t* value);
  int32_t (*sock_getopt_int)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t level, int32_t optname,
                             int32_t* value);
  int32_t (*sock_set_timeout)(K5PortLibrary* portLibrary, k5socket_t sock, int32_t milliseconds);
  uint16_t (*sock_htons)(K5PortLibrary* portLibrary, uint16_t val);
  uint32_t (*sock_htonl)(K5PortLibrary* portLibrary, uint32_t val);
  uint16_t (*sock_ntohs)(K5PortLibrary* portLibrary, uint16_t val);
  uint32_t (*sock_ntohl)(K5PortLibrary* portLibrary, uint32_t val);
  /* Fills an address from a family, an IPv4 address and a port (both in network order). */
  int32_t (*sock_sockaddr_init)(K5PortLibrary* portLibrary, k5sockaddr_t handle, int16_t family,
                                uint32_t nipAddr, uint16_t nPort);
  /* From a dotted quad or a host name and a port in network order. */
  int32_t (*sock_sockaddr)(K5PortLibrary* portLibrary, k5sockaddr_t handle, const char* addrStr, uint16_t nPort);
  uint32_t (*sock_sockaddr_address)(K5PortLibrary* portLibrary, k5sockaddr_t handle); /* network order */
  uint16_t (*sock_sockaddr_port)(K5PortLibrary* portLibrary, k5sockaddr_t handle);    /* network order */
  /* A dotted quad to an address in network order; error when it is not one. */
  int32_t (*sock_inetaddr)(K5PortLibrary* portLibrary, const char* addrStr, uint32_t* addr);
  /* An address (network order) as a dotted quad in a buffer of the library (valid until the
   * next call on the same thread). */
  const char* (*sock_inetntoa)(K5PortLibrary* portLibrary, uint32_t nipAddr);
  int32_t (*sock_gethostbyname)(K5PortLibrary* portLibrary, const char* name, K5HostEnt* result);
  void (*sock_freehostent)(K5PortLibrary* portLibrary, K5HostEnt* result);
  int32_t (*sock_gethostname)(K5PortLibrary* portLibrary, char* buffer, int32_t length);
  int32_t (*sock_getsockname)(K5PortLibrary* portLibrary, k5socket_t sock, k5sockaddr_t addr);
  int32_t (*sock_getpeername)(K5PortLibrary* portLibrary, k5socket_t sock, k5sockaddr_t addr);

  /* Private to the library. */
  void* portGlobals;
};

/* Message severities (nls_printf flags). */
#define K5NLS_INFO 0x1
#define K5NLS_ERROR 0x2
#define K5NLS_WARNING 0x4
/* A message module name as its word: K5NLS_MODULE('J','V','M','P'). */
#define K5NLS_MODULE(a, b, c, d) \
  ((uint32_t)(((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d)))

/* Makes a port library: answers 0 and *portLibrary, or a negative error when the version is
 * not offered (the major version must be 14, the capabilities within K5PORT_CAPABILITY_MASK). */
int32_t k5port_allocate_library(K5PortLibraryVersion* expectedVersion, K5PortLibrary** portLibrary);
/* Readies a library made by k5port_allocate_library; 0 on success. */
int32_t k5port_startup_library(K5PortLibrary* portLibrary);
/* The library's size for callers that place it themselves. */
uintptr_t k5port_getSize(K5PortLibraryVersion* version);

#ifdef __cplusplus
}
#endif

#endif

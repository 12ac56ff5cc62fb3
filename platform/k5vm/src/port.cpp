// The VM's port library over the host: memory, console text, files, clocks, messages and
// IPv4 sockets.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <string>
#include <vector>

#include "k5port.h"
#include "vork/core_internal.h"
#include "vork/text.h"

struct K5Socket {
  int fd;
};

namespace {

thread_local int32_t lastError = 0;

int32_t socketError(int error) {
  lastError = error;
  switch (error) {
    case ETIMEDOUT:
      return K5PORT_ERROR_SOCKET_TIMEOUT;
    case EAGAIN:
      return K5PORT_ERROR_SOCKET_WOULDBLOCK;
    case EINTR:
      return K5PORT_ERROR_SOCKET_INTERRUPTED;
    case ENOTCONN:
      return K5PORT_ERROR_SOCKET_NOTCONNECTED;
    case ECONNRESET:
    case EPIPE:
      return K5PORT_ERROR_SOCKET_CONNRESET;
    case ECONNREFUSED:
      return K5PORT_ERROR_SOCKET_CONNREFUSED;
    case EADDRINUSE:
      return K5PORT_ERROR_SOCKET_ADDRINUSE;
    case EBADF:
    case ENOTSOCK:
      return K5PORT_ERROR_SOCKET_BADSOCKET;
    case EINVAL:
      return K5PORT_ERROR_SOCKET_BADARGUMENT;
    case ENOBUFS:
    case ENOMEM:
      return K5PORT_ERROR_SOCKET_NOBUFFERS;
    default:
      return K5PORT_ERROR_SOCKET_OPFAILED;
  }
}

sockaddr_in* inet(k5sockaddr_t address) { return reinterpret_cast<sockaddr_in*>(address->storage); }

// ---- Memory ----
void* memAllocate(K5PortLibrary*, uintptr_t size, const char*) { return malloc(size ? size : 1); }
void* memReallocate(K5PortLibrary*, void* pointer, uintptr_t size) { return realloc(pointer, size ? size : 1); }
void memFree(K5PortLibrary*, void* pointer) { free(pointer); }

// ---- Text ----
void ttyVprintf(K5PortLibrary*, const char* format, va_list args) {
  vfprintf(stdout, format, args);
  fflush(stdout);
}
void ttyPrintf(K5PortLibrary* port, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ttyVprintf(port, format, args);
  va_end(args);
}
void ttyErrVprintf(K5PortLibrary*, const char* format, va_list args) {
  vfprintf(stderr, format, args);
  fflush(stderr);
}
void ttyErrPrintf(K5PortLibrary* port, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ttyErrVprintf(port, format, args);
  va_end(args);
}
uintptr_t strVprintf(K5PortLibrary*, char* buffer, uintptr_t length, const char* format, va_list args) {
  if (!buffer) {
    int needed = vsnprintf(nullptr, 0, format, args);
    return needed < 0 ? 0 : static_cast<uintptr_t>(needed) + 1;
  }
  if (length == 0) return 0;
  int written = vsnprintf(buffer, length, format, args);
  if (written < 0) {
    buffer[0] = 0;
    return 0;
  }
  return static_cast<uintptr_t>(written) < length ? static_cast<uintptr_t>(written) : length - 1;
}
uintptr_t strPrintf(K5PortLibrary* port, char* buffer, uintptr_t length, const char* format, ...) {
  va_list args;
  va_start(args, format);
  uintptr_t result = strVprintf(port, buffer, length, format, args);
  va_end(args);
  return result;
}

// ---- Files ----
// Paths go through the device's path mapping: a leading backslash names the device root.
std::string mapPath(const char* path) {
  std::string text(path);
  if (!text.empty() && text[0] == '\\') return vork::hostPath(vork::utf16FromUtf8(text));
  return text;
}

intptr_t fileOpen(K5PortLibrary*, const char* path, int32_t flags, int32_t mode) {
  if (!path) {
    lastError = EINVAL;
    return -1;
  }
  int hostFlags = 0;
  bool read = flags & K5_OPEN_READ, write = flags & (K5_OPEN_WRITE | K5_OPEN_APPEND);
  hostFlags = (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  if (flags & K5_OPEN_CREATE) hostFlags |= O_CREAT;
  if (flags & K5_OPEN_CREATE_NEW) hostFlags |= O_CREAT | O_EXCL;
  if (flags & K5_OPEN_TRUNCATE) hostFlags |= O_TRUNC;
  if (flags & K5_OPEN_APPEND) hostFlags |= O_APPEND;
  hostFlags |= O_CLOEXEC;
  int fd = open(mapPath(path).c_str(), hostFlags, mode);
  if (fd < 0) {
    lastError = errno;
    return -1;
  }
  return fd;
}
int32_t fileClose(K5PortLibrary*, intptr_t fd) { return close(static_cast<int>(fd)) == 0 ? 0 : -1; }
intptr_t fileRead(K5PortLibrary*, intptr_t fd, void* buffer, intptr_t count) {
  if (count <= 0) return -1;
  ssize_t got;
  do got = read(static_cast<int>(fd), buffer, static_cast<size_t>(count));
  while (got < 0 && errno == EINTR);
  if (got <= 0) {
    if (got < 0) lastError = errno;
    return -1;
  }
  return got;
}
intptr_t fileWrite(K5PortLibrary*, intptr_t fd, const void* buffer, intptr_t count) {
  const char* bytes = static_cast<const char*>(buffer);
  intptr_t done = 0;
  while (done < count) {
    ssize_t put = write(static_cast<int>(fd), bytes + done, static_cast<size_t>(count - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      return K5PORT_ERROR_FILE_OPFAILED;
    }
    done += put;
  }
  return done;
}
int64_t fileSeek(K5PortLibrary*, intptr_t fd, int64_t offset, int32_t whence) {
  int hostWhence = whence == K5_SEEK_CUR ? SEEK_CUR : whence == K5_SEEK_END ? SEEK_END : SEEK_SET;
  off_t result = lseek(static_cast<int>(fd), offset, hostWhence);
  if (result < 0) lastError = errno;
  return result;
}
void fileVprintf(K5PortLibrary* port, intptr_t fd, const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int needed = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return;
  if (static_cast<size_t>(needed) < sizeof small) {
    fileWrite(port, fd, small, needed);
    return;
  }
  std::vector<char> big(static_cast<size_t>(needed) + 1);
  vsnprintf(big.data(), big.size(), format, args);
  fileWrite(port, fd, big.data(), needed);
}
void filePrintf(K5PortLibrary* port, intptr_t fd, const char* format, ...) {
  va_list args;
  va_start(args, format);
  fileVprintf(port, fd, format, args);
  va_end(args);
}
int32_t fileUnlink(K5PortLibrary*, const char* path) { return unlink(mapPath(path).c_str()) == 0 ? 0 : -1; }

// ---- Clocks ----
int64_t currentTimeMillis(K5PortLibrary*) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}
uint64_t hiresClock(K5PortLibrary*) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}
uintptr_t msecClock(K5PortLibrary* port) { return static_cast<uintptr_t>(hiresClock(port) / 1000000); }
uintptr_t usecClock(K5PortLibrary* port) { return static_cast<uintptr_t>(hiresClock(port) / 1000); }
uint64_t hiresFrequency(K5PortLibrary*) { return 1000000000ull; }
uint64_t hiresDelta(K5PortLibrary*, uint64_t start, uint64_t end, uint64_t resolution) {
  uint64_t ticks = end - start;
  if (resolution == 0) return 0;
  if (resolution == 1000000000ull) return ticks;
  if (resolution < 1000000000ull) return ticks / (1000000000ull / resolution);
  return ticks * (resolution / 1000000000ull);
}

// ---- Messages ----
struct Message {
  uint32_t module;
  uint32_t id;
  const char* text;
};
const Message kMessages[] = {
    {K5NLS_MODULE('J', 'V', 'M', 'P'), 0,
     "JVMP000W The class load hook may not change the class %.*s; its original bytes are used.\n"},
    {K5NLS_MODULE('J', 'V', 'M', 'P'), 1, "JVMP001E The profiling interface could not be initialised.\n"},
    {K5NLS_MODULE('K', '5', 'V', 'M'), 0, "K5VM000E Could not load the agent library %s: %s\n"},
    {K5NLS_MODULE('K', '5', 'V', 'M'), 1, "K5VM001E The agent library %s has no entry point %s.\n"},
    {K5NLS_MODULE('K', '5', 'V', 'M'), 2, "K5VM002E The agent library %s failed to start (%d).\n"},
};

const char* lookupMessage(K5PortLibrary*, uintptr_t, uint32_t module, uint32_t id, const char* fallback) {
  for (const Message& message : kMessages)
    if (message.module == module && message.id == id) return message.text;
  return fallback;
}
void nlsPrintf(K5PortLibrary* port, uintptr_t flags, uint32_t module, uint32_t id, ...) {
  const char* format = lookupMessage(port, flags, module, id, nullptr);
  if (!format) {
    fprintf(stderr, "Message %c%c%c%c%03u\n", static_cast<char>(module >> 24), static_cast<char>(module >> 16),
            static_cast<char>(module >> 8), static_cast<char>(module), id);
    return;
  }
  va_list args;
  va_start(args, id);
  vfprintf(stderr, format, args);
  va_end(args);
  fflush(stderr);
}

int32_t lastErrorNumber(K5PortLibrary*) { return lastError; }
uintptr_t getPid(K5PortLibrary*) { return static_cast<uintptr_t>(getpid()); }
void shutdownAndExit(K5PortLibrary*, int32_t code) { exit(code); }

// ---- Sockets ----
int32_t sockSocket(K5PortLibrary*, k5socket_t* handle, int32_t family, int32_t type, int32_t protocol) {
  if (!handle) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  *handle = nullptr;
  if (family != K5SOCK_AFINET) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  int hostType = type == K5SOCK_DGRAM ? SOCK_DGRAM : SOCK_STREAM;
  int fd = socket(AF_INET, hostType | SOCK_CLOEXEC, protocol);
  if (fd < 0) return socketError(errno);
  if (hostType == SOCK_STREAM) {
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  auto* sock = new (std::nothrow) K5Socket{fd};
  if (!sock) {
    close(fd);
    return K5PORT_ERROR_SOCKET_NOBUFFERS;
  }
  *handle = sock;
  return 0;
}
bool valid(k5socket_t sock) { return sock && sock->fd >= 0; }
int32_t sockBind(K5PortLibrary*, k5socket_t sock, k5sockaddr_t address) {
  if (!valid(sock) || !address) return K5PORT_ERROR_SOCKET_BADSOCKET;
  if (bind(sock->fd, reinterpret_cast<sockaddr*>(inet(address)), sizeof(sockaddr_in)) != 0)
    return socketError(errno);
  return 0;
}
int32_t sockListen(K5PortLibrary*, k5socket_t sock, int32_t backlog) {
  if (!valid(sock)) return K5PORT_ERROR_SOCKET_BADSOCKET;
  return listen(sock->fd, backlog) == 0 ? 0 : socketError(errno);
}
int32_t sockAccept(K5PortLibrary*, k5socket_t server, k5sockaddr_t address, k5socket_t* handle) {
  if (!valid(server) || !handle) return K5PORT_ERROR_SOCKET_BADSOCKET;
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  int fd;
  do fd = accept4(server->fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return socketError(errno);
  if (address) {
    memset(address, 0, sizeof *address);
    memcpy(address->storage, &peer, sizeof peer);
  }
  *handle = new K5Socket{fd};
  return 0;
}
int32_t sockConnect(K5PortLibrary*, k5socket_t sock, k5sockaddr_t address) {
  if (!valid(sock) || !address) return K5PORT_ERROR_SOCKET_BADSOCKET;
  int result;
  do result = connect(sock->fd, reinterpret_cast<sockaddr*>(inet(address)), sizeof(sockaddr_in));
  while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : socketError(errno);
}
int32_t sockShutdown(K5PortLibrary*, k5socket_t sock, int32_t how) {
  if (!valid(sock)) return K5PORT_ERROR_SOCKET_BADSOCKET;
  int hostHow = how == K5SOCK_SHUT_RD ? SHUT_RD : how == K5SOCK_SHUT_WR ? SHUT_WR : SHUT_RDWR;
  return shutdown(sock->fd, hostHow) == 0 ? 0 : socketError(errno);
}
int32_t sockRead(K5PortLibrary*, k5socket_t sock, uint8_t* buffer, int32_t count, int32_t) {
  if (!valid(sock)) return K5PORT_ERROR_SOCKET_BADSOCKET;
  ssize_t got;
  do got = recv(sock->fd, buffer, static_cast<size_t>(count), 0);
  while (got < 0 && errno == EINTR);
  if (got < 0) return socketError(errno);
  if (got == 0 && count > 0) return K5PORT_ERROR_SOCKET_CLOSED;
  return static_cast<int32_t>(got);
}
int32_t sockWrite(K5PortLibrary*, k5socket_t sock, const uint8_t* buffer, int32_t count, int32_t) {
  if (!valid(sock)) return K5PORT_ERROR_SOCKET_BADSOCKET;
  ssize_t put;
  do put = send(sock->fd, buffer, static_cast<size_t>(count), MSG_NOSIGNAL);
  while (put < 0 && errno == EINTR);
  return put < 0 ? socketError(errno) : static_cast<int32_t>(put);
}
int32_t sockReadFrom(K5PortLibrary*, k5socket_t sock, uint8_t* buffer, int32_t count, int32_t,
                     k5sockaddr_t address) {
  if (!valid(sock)) return K5PORT_ERROR_SOCKET_BADSOCKET;
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  ssize_t got;
  do got = recvfrom(sock->fd, buffer, static_cast<size_t>(count), 0, reinterpret_cast<sockaddr*>(&peer), &length);
  while (got < 0 && errno == EINTR);
  if (got < 0) return socketError(errno);
  if (address) {
    memset(address, 0, sizeof *address);
    memcpy(address->storage, &peer, sizeof peer);
  }
  return static_cast<int32_t>(got);
}
int32_t sockWriteTo(K5PortLibrary*, k5socket_t sock, const uint8_t* buffer, int32_t count, int32_t,
                    k5sockaddr_t address) {
  if (!valid(sock) || !address) return K5PORT_ERROR_SOCKET_BADSOCKET;
  ssize_t put = sendto(sock->fd, buffer, static_cast<size_t>(count), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(inet(address)), sizeof(sockaddr_in));
  return put < 0 ? socketError(errno) : static_cast<int32_t>(put);
}
int pollMillis(K5TimeVal* timeout) {
  if (!timeout) return -1;
  int64_t millis = static_cast<int64_t>(timeout->seconds) * 1000 + timeout->microseconds / 1000;
  return millis > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(millis);
}
int32_t sockSelect(K5PortLibrary*, K5FdSet* set, K5TimeVal* timeout) {
  if (!set || set->count < 0 || set->count > 16) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  pollfd fds[16];
  for (int i = 0; i < set->count; i++) {
    fds[i].fd = valid(set->sockets[i]) ? set->sockets[i]->fd : -1;
    fds[i].events = POLLIN;
    fds[i].revents = 0;
  }
  int result;
  do result = poll(fds, static_cast<nfds_t>(set->count), pollMillis(timeout));
  while (result < 0 && errno == EINTR);
  if (result < 0) return socketError(errno);
  for (int i = 0; i < set->count; i++) set->ready[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
  return result;
}
int32_t sockSelectRead(K5PortLibrary* port, k5socket_t sock, int32_t seconds, int32_t microseconds) {
  K5FdSet set{};
  set.count = 1;
  set.sockets[0] = sock;
  K5TimeVal timeout{seconds, microseconds};
  int32_t result = sockSelect(port, &set, &timeout);
  if (result == 0) return K5PORT_ERROR_SOCKET_TIMEOUT;
  return result;
}
int32_t sockClose(K5PortLibrary*, k5socket_t* sock) {
  if (!sock || !*sock) return K5PORT_ERROR_SOCKET_BADSOCKET;
  if ((*sock)->fd >= 0) close((*sock)->fd);
  delete *sock;
  *sock = nullptr;
  return 0;
}
int32_t sockIsValid(K5PortLibrary*, k5socket_t sock) { return valid(sock) ? 1 : 0; }
bool hostOption(int32_t level, int32_t name, int& hostLevel, int& hostName) {
  hostLevel = level == K5_IPPROTO_TCP ? IPPROTO_TCP : SOL_SOCKET;
  switch (name) {
    case K5_SO_REUSEADDR: hostName = SO_REUSEADDR; return true;
    case K5_SO_KEEPALIVE: hostName = SO_KEEPALIVE; return true;
    case K5_SO_LINGER: hostName = SO_LINGER; return true;
    case K5_SO_SNDBUF: hostName = SO_SNDBUF; return true;
    case K5_SO_RCVBUF: hostName = SO_RCVBUF; return true;
    case K5_TCP_NODELAY: hostLevel = IPPROTO_TCP; hostName = TCP_NODELAY; return true;
    default: return false;
  }
}
int32_t sockSetoptInt(K5PortLibrary*, k5socket_t sock, int32_t level, int32_t name, int32_t* value) {
  int hostLevel, hostName;
  if (!valid(sock) || !value || !hostOption(level, name, hostLevel, hostName)) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  if (hostName == SO_LINGER) {
    linger setting{*value >= 0 ? 1 : 0, *value >= 0 ? *value : 0};
    return setsockopt(sock->fd, hostLevel, hostName, &setting, sizeof setting) == 0 ? 0 : socketError(errno);
  }
  int hostValue = *value;
  return setsockopt(sock->fd, hostLevel, hostName, &hostValue, sizeof hostValue) == 0 ? 0 : socketError(errno);
}
int32_t sockSetoptBool(K5PortLibrary* port, k5socket_t sock, int32_t level, int32_t name, uint8_t* value) {
  if (!value) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  int32_t hostValue = *value ? 1 : 0;
  return sockSetoptInt(port, sock, level, name, &hostValue);
}
int32_t sockGetoptInt(K5PortLibrary*, k5socket_t sock, int32_t level, int32_t name, int32_t* value) {
  int hostLevel, hostName;
  if (!valid(sock) || !value || !hostOption(level, name, hostLevel, hostName) || hostName == SO_LINGER)
    return K5PORT_ERROR_SOCKET_BADARGUMENT;
  int hostValue = 0;
  socklen_t length = sizeof hostValue;
  if (getsockopt(sock->fd, hostLevel, hostName, &hostValue, &length) != 0) return socketError(errno);
  *value = hostValue;
  return 0;
}
int32_t sockSetTimeout(K5PortLibrary*, k5socket_t sock, int32_t millis) {
  if (!valid(sock)) return K5PORT_ERROR_SOCKET_BADSOCKET;
  timeval limit{millis / 1000, (millis % 1000) * 1000};
  return setsockopt(sock->fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 ? 0 : socketError(errno);
}
uint16_t sockHtons(K5PortLibrary*, uint16_t value) { return htons(value); }
uint32_t sockHtonl(K5PortLibrary*, uint32_t value) { return htonl(value); }
uint16_t sockNtohs(K5PortLibrary*, uint16_t value) { return ntohs(value); }
uint32_t sockNtohl(K5PortLibrary*, uint32_t value) { return ntohl(value); }
int32_t sockSockaddrInit(K5PortLibrary*, k5sockaddr_t address, int16_t family, uint32_t nipAddr, uint16_t nPort) {
  if (!address) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  if (family != K5SOCK_AFINET) return K5PORT_ERROR_SOCKET_BADADDR;
  memset(address, 0, sizeof *address);
  sockaddr_in* in = inet(address);
  in->sin_family = AF_INET;
  in->sin_addr.s_addr = nipAddr;
  in->sin_port = nPort;
  return 0;
}
int32_t sockInetaddr(K5PortLibrary*, const char* text, uint32_t* address) {
  in_addr parsed{};
  if (!text || !address || inet_pton(AF_INET, text, &parsed) != 1) return K5PORT_ERROR_SOCKET_BADADDR;
  *address = parsed.s_addr;
  return 0;
}
int32_t lookupHost(const char* name, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || !result) return K5PORT_ERROR_SOCKET_HOSTNOTFOUND;
  *address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(result);
  return 0;
}
int32_t sockSockaddr(K5PortLibrary* port, k5sockaddr_t address, const char* text, uint16_t nPort) {
  uint32_t ip = 0;
  if (!text) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  if (sockInetaddr(port, text, &ip) != 0) {
    int32_t result = lookupHost(text, &ip);
    if (result != 0) return result;
  }
  return sockSockaddrInit(port, address, K5SOCK_AFINET, ip, nPort);
}
uint32_t sockSockaddrAddress(K5PortLibrary*, k5sockaddr_t address) { return address ? inet(address)->sin_addr.s_addr : 0; }
uint16_t sockSockaddrPort(K5PortLibrary*, k5sockaddr_t address) { return address ? inet(address)->sin_port : 0; }
const char* sockInetntoa(K5PortLibrary*, uint32_t address) {
  thread_local char text[INET_ADDRSTRLEN];
  in_addr value{};
  value.s_addr = address;
  inet_ntop(AF_INET, &value, text, sizeof text);
  return text;
}

struct HostStorage {
  std::string name;
  std::vector<std::string> aliasTexts;
  std::vector<char*> aliases;
  std::vector<uint32_t> addresses;
};

int32_t sockGethostbyname(K5PortLibrary*, const char* name, K5HostEnt* result) {
  if (!name || !result) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  memset(result, 0, sizeof *result);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return K5PORT_ERROR_SOCKET_HOSTNOTFOUND;
  auto* storage = new HostStorage;
  storage->name = found->ai_canonname ? found->ai_canonname : name;
  // The name asked for counts as an alias of the canonical name.
  storage->aliasTexts.push_back(name);
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    uint32_t address = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (uint32_t known : storage->addresses) seen = seen || known == address;
    if (!seen) storage->addresses.push_back(address);
  }
  freeaddrinfo(found);
  for (std::string& alias : storage->aliasTexts) storage->aliases.push_back(&alias[0]);
  storage->aliases.push_back(nullptr);
  result->name = storage->name.c_str();
  result->aliases = storage->aliases.data();
  result->addresses = storage->addresses.data();
  result->addressCount = static_cast<int32_t>(storage->addresses.size());
  result->storage = storage;
  return 0;
}
void sockFreehostent(K5PortLibrary*, K5HostEnt* result) {
  if (!result) return;
  delete static_cast<HostStorage*>(result->storage);
  memset(result, 0, sizeof *result);
}
int32_t sockGethostname(K5PortLibrary*, char* buffer, int32_t length) {
  if (!buffer || length <= 0) return K5PORT_ERROR_SOCKET_BADARGUMENT;
  return gethostname(buffer, static_cast<size_t>(length)) == 0 ? 0 : socketError(errno);
}
int32_t sockGetsockname(K5PortLibrary*, k5socket_t sock, k5sockaddr_t address) {
  if (!valid(sock) || !address) return K5PORT_ERROR_SOCKET_BADSOCKET;
  socklen_t length = sizeof(sockaddr_in);
  memset(address, 0, sizeof *address);
  return getsockname(sock->fd, reinterpret_cast<sockaddr*>(inet(address)), &length) == 0 ? 0 : socketError(errno);
}
int32_t sockGetpeername(K5PortLibrary*, k5socket_t sock, k5sockaddr_t address) {
  if (!valid(sock) || !address) return K5PORT_ERROR_SOCKET_BADSOCKET;
  socklen_t length = sizeof(sockaddr_in);
  memset(address, 0, sizeof *address);
  return getpeername(sock->fd, reinterpret_cast<sockaddr*>(inet(address)), &length) == 0 ? 0 : socketError(errno);
}

int32_t portShutdown(K5PortLibrary* port);
int32_t portIsCompatible(K5PortLibrary*, K5PortLibraryVersion* expected) {
  return expected && expected->majorVersionNumber == K5PORT_MAJOR_VERSION_NUMBER &&
         (expected->capabilities & ~static_cast<uint64_t>(K5PORT_CAPABILITY_MASK)) == 0;
}

void fill(K5PortLibrary* port) {
  memset(port, 0, sizeof *port);
  port->portVersion.majorVersionNumber = K5PORT_MAJOR_VERSION_NUMBER;
  port->portVersion.minorVersionNumber = K5PORT_MINOR_VERSION_NUMBER;
  port->portVersion.capabilities = K5PORT_CAPABILITY_MASK;
  port->port_shutdown_library = portShutdown;
  port->port_isCompatible = portIsCompatible;
  port->mem_allocate_memory = memAllocate;
  port->mem_reallocate_memory = memReallocate;
  port->mem_free_memory = memFree;
  port->tty_printf = ttyPrintf;
  port->tty_vprintf = ttyVprintf;
  port->tty_err_printf = ttyErrPrintf;
  port->tty_err_vprintf = ttyErrVprintf;
  port->str_printf = strPrintf;
  port->str_vprintf = strVprintf;
  port->file_open = fileOpen;
  port->file_close = fileClose;
  port->file_read = fileRead;
  port->file_write = fileWrite;
  port->file_seek = fileSeek;
  port->file_printf = filePrintf;
  port->file_vprintf = fileVprintf;
  port->file_unlink = fileUnlink;
  port->time_current_time_millis = currentTimeMillis;
  port->time_msec_clock = msecClock;
  port->time_usec_clock = usecClock;
  port->time_hires_clock = hiresClock;
  port->time_hires_frequency = hiresFrequency;
  port->time_hires_delta = hiresDelta;
  port->nls_printf = nlsPrintf;
  port->nls_lookup_message = lookupMessage;
  port->error_last_error_number = lastErrorNumber;
  port->sysinfo_get_pid = getPid;
  port->exit_shutdown_and_exit = shutdownAndExit;
  port->sock_socket = sockSocket;
  port->sock_bind = sockBind;
  port->sock_listen = sockListen;
  port->sock_accept = sockAccept;
  port->sock_connect = sockConnect;
  port->sock_shutdown = sockShutdown;
  port->sock_read = sockRead;
  port->sock_write = sockWrite;
  port->sock_readfrom = sockReadFrom;
  port->sock_writeto = sockWriteTo;
  port->sock_select = sockSelect;
  port->sock_select_read = sockSelectRead;
  port->sock_close = sockClose;
  port->sock_socketIsValid = sockIsValid;
  port->sock_setopt_int = sockSetoptInt;
  port->sock_setopt_bool = sockSetoptBool;
  port->sock_getopt_int = sockGetoptInt;
  port->sock_set_timeout = sockSetTimeout;
  port->sock_htons = sockHtons;
  port->sock_htonl = sockHtonl;
  port->sock_ntohs = sockNtohs;
  port->sock_ntohl = sockNtohl;
  port->sock_sockaddr_init = sockSockaddrInit;
  port->sock_sockaddr = sockSockaddr;
  port->sock_sockaddr_address = sockSockaddrAddress;
  port->sock_sockaddr_port = sockSockaddrPort;
  port->sock_inetaddr = sockInetaddr;
  port->sock_inetntoa = sockInetntoa;
  port->sock_gethostbyname = sockGethostbyname;
  port->sock_freehostent = sockFreehostent;
  port->sock_gethostname = sockGethostname;
  port->sock_getsockname = sockGetsockname;
  port->sock_getpeername = sockGetpeername;
}

int32_t portShutdown(K5PortLibrary* port) {
  // Libraries made by k5port_allocate_library carry the marker and are freed here.
  if (port && port->portGlobals == reinterpret_cast<void*>(port)) {
    free(port);
  }
  return 0;
}

}  // namespace

extern "C" {

int32_t k5port_allocate_library(K5PortLibraryVersion* expected, K5PortLibrary** portLibrary) {
  if (!portLibrary) return -1;
  *portLibrary = nullptr;
  if (!expected || expected->majorVersionNumber != K5PORT_MAJOR_VERSION_NUMBER ||
      (expected->capabilities & ~static_cast<uint64_t>(K5PORT_CAPABILITY_MASK)) != 0)
    return -1;
  auto* port = static_cast<K5PortLibrary*>(malloc(sizeof(K5PortLibrary)));
  if (!port) return -1;
  fill(port);
  port->portGlobals = nullptr;
  *portLibrary = port;
  return 0;
}

int32_t k5port_startup_library(K5PortLibrary* portLibrary) {
  if (!portLibrary || portLibrary->portVersion.majorVersionNumber != K5PORT_MAJOR_VERSION_NUMBER) return -1;
  portLibrary->portGlobals = portLibrary;  // ready; freed by port_shutdown_library
  return 0;
}

uintptr_t k5port_getSize(K5PortLibraryVersion* version) {
  if (!version || version->majorVersionNumber != K5PORT_MAJOR_VERSION_NUMBER) return 0;
  return sizeof(K5PortLibrary);
}

}  // extern "C"

// The VM's own library (never freed).
K5PortLibrary* k5vmPortLibrary() {
  static K5PortLibrary* port = [] {
    auto* made = new K5PortLibrary;
    fill(made);
    made->portGlobals = nullptr;
    return made;
  }();
  return port;
}

// The agent's entry point: the VM's port library and JVMPI interface, then the agent's start.
#include <jni.h>

#include <cstring>

#include "k5port.h"
#include "k5vm.h"
#include "xt_agent.h"
#include "xt_port.h"

namespace xt {

static K5PortLibrary* lib(void* context) { return static_cast<K5PortLibrary*>(context); }

static void* portAlloc(void* c, size_t size) { return lib(c)->mem_allocate_memory(lib(c), size, "k5profile"); }
static void portFree(void* c, void* block) { lib(c)->mem_free_memory(lib(c), block); }
static void portErrWrite(void* c, const char* text) { lib(c)->tty_err_printf(lib(c), "%s", text); }
static intptr_t portFileOpen(void* c, const char* path, int32_t flags, int32_t mode) {
  return lib(c)->file_open(lib(c), path, flags, mode);
}
static intptr_t portFileRead(void* c, intptr_t fd, void* buffer, intptr_t size) {
  return lib(c)->file_read(lib(c), fd, buffer, size);
}
// Writes everything (a short write is continued); the count written, or the error.
static intptr_t portFileWrite(void* c, intptr_t fd, const void* data, intptr_t size) {
  const char* p = static_cast<const char*>(data);
  intptr_t done = 0;
  while (done < size) {
    intptr_t n = lib(c)->file_write(lib(c), fd, p + done, size - done);
    if (n <= 0) return done > 0 ? done : n;
    done += n;
  }
  return done;
}
static int32_t portFileClose(void* c, intptr_t fd) { return lib(c)->file_close(lib(c), fd); }
static int64_t portMillis(void* c) { return lib(c)->time_current_time_millis(lib(c)); }
static uint64_t portHires(void* c) { return lib(c)->time_hires_clock(lib(c)); }
static uint64_t portHiresDelta(void* c, uint64_t start, uint64_t end, uint64_t perSecond) {
  return lib(c)->time_hires_delta(lib(c), start, end, perSecond);
}

static int32_t portLookupHost(void* c, const char* host, uint32_t* address) {
  K5HostEnt entry;
  std::memset(&entry, 0, sizeof(entry));
  int32_t rc = lib(c)->sock_gethostbyname(lib(c), host, &entry);
  if (rc < 0) return rc;
  // A result without alias names is refused, and so is one without an address to use.
  bool hasAlias = entry.aliases != nullptr && entry.aliases[0] != nullptr;
  int32_t result = 1;
  if (hasAlias && entry.addresses != nullptr && entry.addressCount > 0) {
    *address = entry.addresses[0];
    result = 0;
  }
  lib(c)->sock_freehostent(lib(c), &entry);
  return result;
}

static int32_t portSocketOpen(void* c, intptr_t* socket) {
  k5socket_t handle = nullptr;
  int32_t rc = lib(c)->sock_socket(lib(c), &handle, K5SOCK_AFINET, K5SOCK_STREAM, K5SOCK_DEFPROTOCOL);
  *socket = handle != nullptr ? reinterpret_cast<intptr_t>(handle) : -1;
  return rc;
}

static int32_t portSocketAddress(void* c, uint32_t address, uint16_t port, void** remote) {
  auto* a = static_cast<K5SockAddr*>(portAlloc(c, sizeof(K5SockAddr)));
  if (a == nullptr) return K5PORT_ERROR_SOCKET_NOBUFFERS;
  int32_t rc = lib(c)->sock_sockaddr_init(lib(c), a, K5SOCK_AFINET, address, port);
  if (rc != 0) {
    portFree(c, a);
    return rc;
  }
  *remote = a;
  return 0;
}

static int32_t portSocketConnect(void* c, intptr_t socket, void* remote) {
  return lib(c)->sock_connect(lib(c), reinterpret_cast<k5socket_t>(socket), static_cast<K5SockAddr*>(remote));
}

static void portSocketAddressFree(void* c, void* remote) {
  if (remote != nullptr) portFree(c, remote);
}

static intptr_t portSocketWrite(void* c, intptr_t socket, const void* data, intptr_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  intptr_t done = 0;
  while (done < size) {
    intptr_t chunk = size - done > 0x40000000 ? 0x40000000 : size - done;
    int32_t n = lib(c)->sock_write(lib(c), reinterpret_cast<k5socket_t>(socket), p + done,
                                   static_cast<int32_t>(chunk), 0);
    if (n <= 0) return done > 0 ? done : n;
    done += n;
  }
  return done;
}

static void portSocketClose(void* c, intptr_t socket) {
  k5socket_t handle = reinterpret_cast<k5socket_t>(socket);
  lib(c)->sock_close(lib(c), &handle);
}

PortOps portOpsOf(K5PortLibrary* portLibrary) {
  PortOps ops;
  ops.context = portLibrary;
  ops.memAlloc = portAlloc;
  ops.memFree = portFree;
  ops.errWrite = portErrWrite;
  ops.fileOpen = portFileOpen;
  ops.fileRead = portFileRead;
  ops.fileWrite = portFileWrite;
  ops.fileClose = portFileClose;
  ops.timeMillis = portMillis;
  ops.hiresClock = portHires;
  ops.hiresDelta = portHiresDelta;
  ops.lookupHost = portLookupHost;
  ops.socketOpen = portSocketOpen;
  ops.socketAddress = portSocketAddress;
  ops.socketConnect = portSocketConnect;
  ops.socketAddressFree = portSocketAddressFree;
  ops.socketWrite = portSocketWrite;
  ops.socketClose = portSocketClose;
  return ops;
}

// ---- Entry point ---------------------------------------------------------------------------

namespace {

// The agent's own port library, made when the VM does not offer one.
K5PortLibrary* ownPortLibrary = nullptr;

K5PortLibrary* portLibraryFor(JavaVM* vm) {
  // A K5 VM record carries "K5VM" in its third word and its port library in the fourth.
  const uintptr_t* words = reinterpret_cast<const uintptr_t*>(vm);
  if (words[2] == K5VM_IDENTIFIER) return reinterpret_cast<K5PortLibrary*>(words[3]);
  if (ownPortLibrary != nullptr) return ownPortLibrary;
  K5PortLibraryVersion version;
  std::memset(&version, 0, sizeof(version));
  version.majorVersionNumber = 14;
  version.minorVersionNumber = 0;
  version.capabilities = 7;
  K5PortLibrary* made = nullptr;
  if (k5port_allocate_library(&version, &made) != 0 || made == nullptr) return nullptr;
  if (k5port_startup_library(made) != 0) return nullptr;
  ownPortLibrary = made;
  return made;
}

}  // namespace
}  // namespace xt

extern "C" JNIEXPORT jint JNICALL JVM_OnLoad(JavaVM* vm, char* options, void* /*reserved*/) {
  using namespace xt;
  if (vm == nullptr) return -1;
  agent.vm = vm;
  K5PortLibrary* portLibrary = portLibraryFor(vm);
  if (portLibrary == nullptr) return -1;
  agent.port = portOpsOf(portLibrary);
  void* table = nullptr;
  if (vm->GetEnv(&table, JVMPI_VERSION_1) != JNI_OK || table == nullptr) {
    message("k5profile: Failed to get JVMPI Interface\n");
    return -1;
  }
  agent.jvmpi = static_cast<JVMPI_Interface*>(table);
  return agentStart(options);
}

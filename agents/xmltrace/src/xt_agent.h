// The XML trace profiler agent: its state, the port-library services it uses and its JVMPI
// event handler. JVM_OnLoad (vm_entry.cpp) binds the VM's services and calls agentStart.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "k5jvmpi.h"
#include "xt_core.h"

namespace xt {

// The port-library services the agent uses, bound to the VM's port library at load (and to
// host or failing stand-ins in tests).
struct PortOps {
  void* context;  // the port library
  void* (*memAlloc)(void* context, size_t size);
  void (*memFree)(void* context, void* block);
  void (*errWrite)(void* context, const char* text);  // text on the error stream
  // Files: a descriptor, or -1. Flags and mode are the port library's.
  intptr_t (*fileOpen)(void* context, const char* path, int32_t flags, int32_t mode);
  intptr_t (*fileRead)(void* context, intptr_t fd, void* buffer, intptr_t size);  // -1 at the end
  intptr_t (*fileWrite)(void* context, intptr_t fd, const void* data, intptr_t size);
  int32_t (*fileClose)(void* context, intptr_t fd);
  int64_t (*timeMillis)(void* context);
  uint64_t (*hiresClock)(void* context);
  uint64_t (*hiresDelta)(void* context, uint64_t start, uint64_t end, uint64_t perSecond);
  // Sockets: 0 and a result, or the port library's (negative) error code.
  // lookupHost: 0 and the first IPv4 address (network byte order), 1 when the result has no
  // alias names (or no address), a negative error code when the lookup fails.
  int32_t (*lookupHost)(void* context, const char* host, uint32_t* address);
  int32_t (*socketOpen)(void* context, intptr_t* socket);  // IPv4 stream socket
  // Connects to the address and port (both in network byte order).
  int32_t (*socketAddress)(void* context, uint32_t address, uint16_t port, void** remote);
  int32_t (*socketConnect)(void* context, intptr_t socket, void* remote);
  void (*socketAddressFree)(void* context, void* remote);
  intptr_t (*socketWrite)(void* context, intptr_t socket, const void* data, intptr_t size);
  void (*socketClose)(void* context, intptr_t socket);
};

// The port-library file-open flags the agent passes (write|create|truncate, and read).
constexpr int32_t kOpenWriteCreateTruncate = 14;
constexpr int32_t kOpenRead = 33;
constexpr int32_t kOpenMode = 0777;

enum class PrinterKind { None, Stderr, File, Socket, Quiet };

struct Printer {
  std::atomic<PrinterKind> kind{PrinterKind::None};
  intptr_t handle = -1;  // file descriptor or socket
};

// A Java thread's method stack, kept in its JVMPI thread-local storage.
constexpr int kMethodStackSlots = 1024;
struct MethodStack {
  int32_t depth;
  jmethodID slots[kMethodStackSlots];
};

struct AgentState {
  JavaVM* vm = nullptr;
  JVMPI_Interface* jvmpi = nullptr;
  PortOps port{};
  ProfileOptions options;
  char* optionsCopy = nullptr;
  Printer printer;
  int64_t startMillis = 0;
  uint64_t startHires = 0;
  FilterList filters;
  IdSet excludedClasses;
  IdSet excludedMethods;
  IdSet excludedObjects;
  JVMPI_RawMonitor filterMonitor = nullptr;
};

extern AgentState agent;

// The rest of the agent's start once the VM, its JVMPI table and port library are known:
// options, filters, printer, time base, handler and events. 0 when active, -1 when it cannot
// start; a help request or a bad option string ends the process through ProfilerExit.
jint agentStart(const char* options);
void agentNotifyEvent(JVMPI_Event* event);
// Releases what the agent holds (for tests that start it more than once in one process).
void agentReset();

// Printer pieces, reachable for tests.
bool createPrinter(const ProfileOptions& options, Printer* printer);
void printRecord(const Record& record);
void closePrinter();
void eventTime(char out[kTimeTextSize]);
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace xt

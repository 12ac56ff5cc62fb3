// Test fixture for the agent: a JVMPI table and port services backed by the host, with
// switches to make single services fail, and a reader for the trace lines.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "xt_agent.h"

namespace fake {

struct Monitor {
  std::recursive_mutex mutex;
};

struct World {
  std::mutex lock;
  std::string errors;                  // the error stream
  std::vector<jint> enabled;           // EnableEvent calls in order
  std::vector<jint> exits;             // ProfilerExit codes
  jint failEnable = 0;                 // EnableEvent of this type fails
  bool failMonitor = false;            // RawMonitorCreate answers NULL
  std::atomic<bool> failAlloc{false};  // memAlloc answers NULL
  std::atomic<bool> zeroDelta{false};  // hiresDelta answers 0
  std::map<JNIEnv*, void*> tls;
  std::map<jmethodID, jobjectID> methodClass;
  std::string monitorName;
  jlong cpuTime = 777;
};

inline World* world = nullptr;

template <typename T> T idOf(uintptr_t value) { return reinterpret_cast<T>(value); }

// ---- JVMPI ----
inline jint enableEvent(jint type, void*) {
  std::lock_guard<std::mutex> g(world->lock);
  world->enabled.push_back(type);
  return type == world->failEnable ? JVMPI_NOT_AVAILABLE : JVMPI_SUCCESS;
}
inline jint notAvailable(jint, void*) { return JVMPI_NOT_AVAILABLE; }
inline void profilerExit(jint code) {
  std::lock_guard<std::mutex> g(world->lock);
  world->exits.push_back(code);
}
inline JVMPI_RawMonitor monitorCreate(char* name) {
  if (world->failMonitor) return nullptr;
  world->monitorName = name;
  return reinterpret_cast<JVMPI_RawMonitor>(new Monitor);
}
inline void monitorEnter(JVMPI_RawMonitor m) { reinterpret_cast<Monitor*>(m)->mutex.lock(); }
inline void monitorExit(JVMPI_RawMonitor m) { reinterpret_cast<Monitor*>(m)->mutex.unlock(); }
inline void monitorDestroy(JVMPI_RawMonitor m) { delete reinterpret_cast<Monitor*>(m); }
inline jlong cpuTime() { return world->cpuTime; }
inline void setTls(JNIEnv* env, void* p) {
  std::lock_guard<std::mutex> g(world->lock);
  world->tls[env] = p;
}
inline void* getTls(JNIEnv* env) {
  std::lock_guard<std::mutex> g(world->lock);
  auto it = world->tls.find(env);
  return it == world->tls.end() ? nullptr : it->second;
}
// A thread's object is its env plus 0x10000.
inline jobjectID threadObject(JNIEnv* env) { return idOf<jobjectID>(reinterpret_cast<uintptr_t>(env) + 0x10000); }
inline jobjectID methodClass(jmethodID m) {
  std::lock_guard<std::mutex> g(world->lock);
  auto it = world->methodClass.find(m);
  return it == world->methodClass.end() ? nullptr : it->second;
}

inline JVMPI_Interface makeInterface() {
  JVMPI_Interface t;
  std::memset(&t, 0, sizeof(t));
  t.version = JVMPI_VERSION_1_2;
  t.EnableEvent = enableEvent;
  t.DisableEvent = notAvailable;
  t.RequestEvent = notAvailable;
  t.ProfilerExit = profilerExit;
  t.RawMonitorCreate = monitorCreate;
  t.RawMonitorEnter = monitorEnter;
  t.RawMonitorExit = monitorExit;
  t.RawMonitorDestroy = monitorDestroy;
  t.GetCurrentThreadCpuTime = cpuTime;
  t.SetThreadLocalStorage = setTls;
  t.GetThreadLocalStorage = getTls;
  t.GetThreadObject = threadObject;
  t.GetMethodClass = methodClass;
  return t;
}

// ---- Port services on the host ----
inline void* memAlloc(void*, size_t size) { return world->failAlloc ? nullptr : std::malloc(size); }
inline void memFree(void*, void* p) { std::free(p); }
inline void errWrite(void*, const char* text) {
  std::lock_guard<std::mutex> g(world->lock);
  world->errors += text;
}
inline intptr_t fileOpen(void*, const char* path, int32_t flags, int32_t mode) {
  int host = (flags & 2) ? O_WRONLY : O_RDONLY;
  if (flags & 4) host |= O_CREAT;
  if (flags & 8) host |= O_TRUNC;
  int fd = ::open(path, host, mode);
  return fd < 0 ? -1 : fd;
}
inline intptr_t fileRead(void*, intptr_t fd, void* buffer, intptr_t size) {
  ssize_t n = ::read(static_cast<int>(fd), buffer, static_cast<size_t>(size));
  return n <= 0 ? -1 : n;
}
inline intptr_t fileWrite(void*, intptr_t fd, const void* data, intptr_t size) {
  return ::write(static_cast<int>(fd), data, static_cast<size_t>(size));
}
inline int32_t fileClose(void*, intptr_t fd) { return ::close(static_cast<int>(fd)); }
inline int64_t millis(void*) { return 1700000000123; }
inline uint64_t hires(void*) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}
inline uint64_t hiresDelta(void*, uint64_t start, uint64_t end, uint64_t) {
  return world->zeroDelta ? 0 : (end - start) + 1;
}
inline int32_t lookupHost(void*, const char* host, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0) return -218;
  int32_t rc = 1;
  if (result != nullptr) {
    *address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    rc = 0;
  }
  freeaddrinfo(result);
  return rc;
}
inline int32_t socketOpen(void*, intptr_t* s) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  *s = fd;
  return fd < 0 ? -200 : 0;
}
inline int32_t socketAddress(void*, uint32_t address, uint16_t port, void** remote) {
  auto* a = new sockaddr_in{};
  a->sin_family = AF_INET;
  a->sin_addr.s_addr = address;
  a->sin_port = port;
  *remote = a;
  return 0;
}
inline int32_t socketConnect(void*, intptr_t s, void* remote) {
  return ::connect(static_cast<int>(s), static_cast<sockaddr*>(remote), sizeof(sockaddr_in)) == 0 ? 0 : -214;
}
inline void socketAddressFree(void*, void* remote) { delete static_cast<sockaddr_in*>(remote); }
inline intptr_t socketWrite(void*, intptr_t s, const void* data, intptr_t size) {
  return ::send(static_cast<int>(s), data, static_cast<size_t>(size), MSG_NOSIGNAL);
}
inline void socketClose(void*, intptr_t s) { ::close(static_cast<int>(s)); }

inline xt::PortOps makePort() {
  xt::PortOps p;
  p.context = nullptr;
  p.memAlloc = memAlloc;
  p.memFree = memFree;
  p.errWrite = errWrite;
  p.fileOpen = fileOpen;
  p.fileRead = fileRead;
  p.fileWrite = fileWrite;
  p.fileClose = fileClose;
  p.timeMillis = millis;
  p.hiresClock = hires;
  p.hiresDelta = hiresDelta;
  p.lookupHost = lookupHost;
  p.socketOpen = socketOpen;
  p.socketAddress = socketAddress;
  p.socketConnect = socketConnect;
  p.socketAddressFree = socketAddressFree;
  p.socketWrite = socketWrite;
  p.socketClose = socketClose;
  return p;
}

// ---- Trace lines ----
struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // in order, values as written
  std::string get(const std::string& key) const {
    for (const auto& a : attributes)
      if (a.first == key) return a.second;
    return "<absent>";
  }
  std::string keys() const {
    std::string k;
    for (const auto& a : attributes) k += (k.empty() ? "" : ",") + a.first;
    return k;
  }
};

// Reads the records written by the agent (one per line, values without '"').
inline std::vector<Element> elements(const std::string& text) {
  std::vector<Element> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.size() < 4 || line[0] != '<') continue;
    Element e;
    size_t i = 1;
    while (i < line.size() && line[i] != ' ') e.name += line[i++];
    for (;;) {
      while (i < line.size() && line[i] == ' ') ++i;
      if (i >= line.size() || line[i] == '/') break;
      size_t eq = line.find("=\"", i);
      size_t close = line.find('"', eq + 2);
      if (eq == std::string::npos || close == std::string::npos) break;
      e.attributes.emplace_back(line.substr(i, eq - i), line.substr(eq + 2, close - eq - 2));
      i = close + 1;
    }
    out.push_back(e);
  }
  return out;
}

}  // namespace fake

// Throughput of both serial builds through a pseudo-terminal, and the cost of one read call.
// The libraries are loaded as the VM loads them and called through their natives.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <jni.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vork/control.h"

namespace {

// Just enough of a JNI environment for the natives: byte arrays are {length, bytes}.
struct ByteArray {
  jsize length;
  jbyte* bytes;
};

jsize JNICALL arrayLength(JNIEnv*, jarray array) { return reinterpret_cast<ByteArray*>(array)->length; }
jbyte* JNICALL byteElements(JNIEnv*, jbyteArray array, jboolean* isCopy) {
  if (isCopy) *isCopy = JNI_FALSE;
  return reinterpret_cast<ByteArray*>(array)->bytes;
}
void JNICALL releaseBytes(JNIEnv*, jbyteArray, jbyte*, jint) {}

struct Natives {
  int (*open)(JNIEnv*, jclass, jint);
  int (*close)(JNIEnv*, jclass, jint);
  int (*writeArray)(JNIEnv*, jclass, jint, jbyteArray);
  jboolean (*isDataAvailable)(JNIEnv*, jclass, jint);
  int (*read)(JNIEnv*, jclass, jint);
};

JNIEnv* environment() {
  static JNINativeInterface_ table = [] {
    JNINativeInterface_ t{};
    t.GetArrayLength = arrayLength;
    t.GetByteArrayElements = byteElements;
    t.ReleaseByteArrayElements = releaseBytes;
    return t;
  }();
  static JNIEnv env{&table};
  return &env;
}

std::string libraryDirectory() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  path = path.substr(0, path.rfind('/'));  // build/bench
  return path.substr(0, path.rfind('/')) + "/lib";
}

const Natives& natives(const char* library) {
  static std::vector<std::pair<std::string, Natives>> loaded;
  for (auto& entry : loaded) {
    if (entry.first == library) return entry.second;
  }
  std::string path = libraryDirectory() + "/lib" + library + ".so";
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    fprintf(stderr, "%s\n", dlerror());
    abort();
  }
  Natives n{};
  n.open = reinterpret_cast<decltype(n.open)>(dlsym(module, "Java_com_q7vk_rxtx_internal_Native_open"));
  n.close = reinterpret_cast<decltype(n.close)>(dlsym(module, "Java_com_q7vk_rxtx_internal_Native_close"));
  n.writeArray = reinterpret_cast<decltype(n.writeArray)>(dlsym(module, "Java_com_q7vk_rxtx_internal_Native_write__I_3B"));
  n.isDataAvailable = reinterpret_cast<decltype(n.isDataAvailable)>(
      dlsym(module, "Java_com_q7vk_rxtx_internal_Native_isDataAvailable"));
  n.read = reinterpret_cast<decltype(n.read)>(dlsym(module, "Java_com_q7vk_rxtx_internal_Native_read"));
  loaded.emplace_back(library, n);
  return loaded.back().second;
}

// A pseudo-terminal linked as COM1 of a scratch device root.
struct Pty {
  int master = -1;
  std::string root;
  Pty() {
    char pattern[] = "/tmp/serial-bench-XXXXXX";
    root = mkdtemp(pattern);
    VorkControl_SetDeviceRoot(root.c_str());
    mkdir((root + "/dev").c_str(), 0755);
    // Non-blocking, so the peer thread never hangs on a full queue or a closed slave.
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    grantpt(master);
    unlockpt(master);
    symlink(ptsname(master), (root + "/dev/COM1").c_str());
  }
  ~Pty() {
    close(master);
    unlink((root + "/dev/COM1").c_str());
    rmdir((root + "/dev").c_str());
    rmdir(root.c_str());
  }
};

// Runs `body` on the master side until stopped.
struct Peer {
  std::atomic<bool> stop{false};
  std::thread thread;
  template <typename Body>
  Peer(int master, Body body) : thread([this, master, body] {
    std::vector<char> buffer(16384, 'x');
    while (!stop.load()) {
      pollfd p{master, static_cast<short>(body.events), 0};
      if (poll(&p, 1, 10) > 0) body(master, buffer);
    }
  }) {}
  ~Peer() {
    stop = true;
    thread.join();
  }
};

struct Drain {
  short events = POLLIN;
  void operator()(int fd, std::vector<char>& buffer) const {
    if (read(fd, buffer.data(), buffer.size()) < 0) usleep(100);
  }
};
struct Flood {
  short events = POLLOUT;
  void operator()(int fd, std::vector<char>& buffer) const {
    if (write(fd, buffer.data(), buffer.size()) < 0) usleep(100);
  }
};

void writeThroughput(benchmark::State& state, const char* library) {
  const Natives& n = natives(library);
  Pty pty;
  if (n.open(environment(), nullptr, 0) != 1) {
    state.SkipWithError("open failed");
    return;
  }
  Peer peer(pty.master, Drain{});
  std::vector<jbyte> data(static_cast<size_t>(state.range(0)), 'a');
  ByteArray array{static_cast<jsize>(data.size()), data.data()};
  int64_t bytes = 0;
  for (auto _ : state) {
    int written = n.writeArray(environment(), nullptr, 0, reinterpret_cast<jbyteArray>(&array));
    benchmark::DoNotOptimize(written);
    bytes += written;
  }
  n.close(environment(), nullptr, 0);
  state.SetBytesProcessed(bytes);
}

void pollAndReadThroughput(benchmark::State& state, const char* library) {
  const Natives& n = natives(library);
  Pty pty;
  // The line is raw once open: no echo of the peer's bytes back to it.
  if (n.open(environment(), nullptr, 0) != 1) {
    state.SkipWithError("open failed");
    return;
  }
  Peer peer(pty.master, Flood{});
  int64_t bytes = 0;
  for (auto _ : state) {
    if (n.isDataAvailable(environment(), nullptr, 0)) {
      while (n.read(environment(), nullptr, 0) >= 0) ++bytes;
    }
  }
  n.close(environment(), nullptr, 0);
  while (n.read(environment(), nullptr, 0) >= 0) {
  }
  state.SetBytesProcessed(bytes);
}

// One read call on a ring that holds bytes; refills happen with the clock stopped.
void readOneByte(benchmark::State& state, const char* library) {
  const Natives& n = natives(library);
  Pty pty;
  // The line is raw once open: no echo of the peer's bytes back to it.
  if (n.open(environment(), nullptr, 0) != 1) {
    state.SkipWithError("open failed");
    return;
  }
  Peer peer(pty.master, Flood{});
  for (auto _ : state) {
    int value = n.read(environment(), nullptr, 0);
    if (value < 0) {
      state.PauseTiming();
      while (!n.isDataAvailable(environment(), nullptr, 0)) {
      }
      state.ResumeTiming();
      value = n.read(environment(), nullptr, 0);
    }
    benchmark::DoNotOptimize(value);
  }
  n.close(environment(), nullptr, 0);
  while (n.read(environment(), nullptr, 0) >= 0) {
  }
}

void emptyRead(benchmark::State& state, const char* library) {
  const Natives& n = natives(library);
  for (auto _ : state) benchmark::DoNotOptimize(n.read(environment(), nullptr, 0));
}

}  // namespace

BENCHMARK_CAPTURE(writeThroughput, desktop, "vkrxtx")->Arg(1)->Arg(64)->Arg(4096)->UseRealTime();
BENCHMARK_CAPTURE(writeThroughput, handheld, "vkrxtxce")->Arg(1)->Arg(64)->Arg(4096)->UseRealTime();
BENCHMARK_CAPTURE(pollAndReadThroughput, desktop, "vkrxtx")->UseRealTime();
BENCHMARK_CAPTURE(pollAndReadThroughput, handheld, "vkrxtxce")->UseRealTime();
BENCHMARK_CAPTURE(readOneByte, desktop, "vkrxtx");
BENCHMARK_CAPTURE(readOneByte, handheld, "vkrxtxce");
BENCHMARK_CAPTURE(emptyRead, desktop, "vkrxtx");
BENCHMARK_CAPTURE(emptyRead, handheld, "vkrxtxce");

BENCHMARK_MAIN();

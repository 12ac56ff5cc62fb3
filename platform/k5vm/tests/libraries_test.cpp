// The VM's thread library, port library and hook service as the agents use them.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "k5port.h"
#include "k5sim.h"
#include "k5thread.h"
#include "k5vm.h"

extern "C" void VorkControl_SetClockScale(unsigned value);

namespace {

// ---- Thread library ----

TEST(ThreadLibrary, MonitorsAreRecursiveAndOwned) {
  k5thread_monitor_t monitor = nullptr;
  ASSERT_EQ(k5thread_monitor_init_with_name(&monitor, 0, "m"), K5THREAD_SUCCESS);
  EXPECT_STREQ(k5thread_monitor_get_name(monitor), "m");
  EXPECT_EQ(k5thread_monitor_exit(monitor), K5THREAD_ILLEGAL_MONITOR_STATE);
  EXPECT_EQ(k5thread_monitor_wait_timed(monitor, 1, 0), K5THREAD_ILLEGAL_MONITOR_STATE);
  EXPECT_EQ(k5thread_monitor_notify(monitor), K5THREAD_ILLEGAL_MONITOR_STATE);
  k5thread_monitor_enter(monitor);
  EXPECT_EQ(k5thread_monitor_try_enter(monitor), 0);
  EXPECT_EQ(k5thread_monitor_get_count(monitor), 2u);
  EXPECT_EQ(k5thread_monitor_get_owner(monitor), k5thread_self());
  int otherTry = 0;
  std::thread([&] { otherTry = k5thread_monitor_try_enter(monitor); }).join();
  EXPECT_NE(otherTry, 0);
  k5thread_monitor_exit(monitor);
  k5thread_monitor_exit(monitor);
  EXPECT_EQ(k5thread_monitor_get_owner(monitor), nullptr);
  std::thread([&] {
    otherTry = k5thread_monitor_try_enter(monitor);
    k5thread_monitor_exit(monitor);
  }).join();
  EXPECT_EQ(otherTry, 0);
  k5thread_monitor_destroy(monitor);
}

TEST(ThreadLibrary, WaitNotifyAndTheFastClock) {
  k5thread_monitor_t monitor = nullptr;
  k5thread_monitor_init_with_name(&monitor, 0, nullptr);
  // A 60-second limit passes in moments with the clock 10000 times faster.
  VorkControl_SetClockScale(10000);
  k5thread_monitor_enter(monitor);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(k5thread_monitor_wait_timed(monitor, 60000, 0), K5THREAD_TIMED_OUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(k5thread_monitor_get_count(monitor), 1u);  // re-entered after the wait
  k5thread_monitor_exit(monitor);
  VorkControl_SetClockScale(1);

  // notify wakes one waiter, notify_all the rest; states show while they wait.
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  std::atomic<k5thread_t> handles[2] = {nullptr, nullptr};
  for (int i = 0; i < 2; i++)
    waiters.emplace_back([&, i] {
      handles[i] = k5thread_self();
      k5thread_monitor_enter(monitor);
      k5thread_monitor_wait(monitor);
      woken++;
      k5thread_monitor_exit(monitor);
    });
  auto waiting = [&] {
    int count = 0;
    for (auto& slot : handles)
      if (k5thread_t handle = slot.load(); handle && (k5thread_get_flags(handle, nullptr) & K5THREAD_FLAG_WAITING)) count++;
    return count;
  };
  while (waiting() < 2) std::this_thread::yield();
  k5thread_monitor_t blocker = nullptr;
  k5thread_get_flags(handles[0], &blocker);
  EXPECT_EQ(blocker, monitor);
  EXPECT_EQ(k5thread_get_state(handles[0]), static_cast<uintptr_t>(K5THREAD_STATE_WAITING));
  k5thread_monitor_enter(monitor);
  k5thread_monitor_notify(monitor);
  k5thread_monitor_exit(monitor);
  while (woken < 1) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(woken, 1);
  k5thread_monitor_enter(monitor);
  k5thread_monitor_notify_all(monitor);
  k5thread_monitor_exit(monitor);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(woken, 2);
  k5thread_monitor_destroy(monitor);
}

int countCpu(void* argument) {
  auto* result = static_cast<std::atomic<int64_t>*>(argument);
  volatile uint64_t sum = 0;
  int64_t start = k5thread_get_self_cpu_time(k5thread_self());
  while (k5thread_get_self_cpu_time(k5thread_self()) - start < 5000000) sum = sum + 1;
  *result = k5thread_get_cpu_time(k5thread_self());
  return 0;
}

TEST(ThreadLibrary, ThreadsPrioritiesCpuTimeAndMonitorWalk) {
  std::atomic<int64_t> cpu{-2};
  k5thread_t thread = nullptr;
  ASSERT_EQ(k5thread_create(&thread, 128 * 1024, 9, 0, countCpu, &cpu), K5THREAD_SUCCESS);
  EXPECT_EQ(k5thread_get_priority(thread), 9u);
  while (cpu == -2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GE(cpu.load(), 5000000);
  EXPECT_GE(k5thread_get_stack_size(thread), 128u * 1024);
  EXPECT_EQ(k5thread_set_priority(thread, 11), K5THREAD_ERR);
  EXPECT_EQ(k5thread_create(&thread, 0, 5, 1, countCpu, &cpu), K5THREAD_ERR);  // no suspended start
  EXPECT_NE(k5thread_get_handle(k5thread_self()), 0u);

  k5thread_monitor_t first = nullptr, second = nullptr;
  k5thread_monitor_init_with_name(&first, K5THREAD_MONITOR_OBJECT, "walk-1");
  k5thread_monitor_init_with_name(&second, 0, "walk-2");
  k5thread_monitor_destroy(first);
  bool sawFirst = false, sawSecond = false;
  k5thread_lib_lock();
  for (k5thread_monitor_t m = k5thread_monitor_walk(nullptr); m; m = k5thread_monitor_walk(m)) {
    sawFirst = sawFirst || m == first;
    sawSecond = sawSecond || m == second;
  }
  k5thread_lib_unlock();
  EXPECT_FALSE(sawFirst);
  EXPECT_TRUE(sawSecond);
  k5thread_monitor_destroy(second);
}

// ---- Port library ----

K5PortLibrary* makePort() {
  K5PortLibraryVersion version{K5PORT_MAJOR_VERSION_NUMBER, 0, 0, K5PORT_CAPABILITY_MASK};
  K5PortLibrary* port = nullptr;
  if (k5port_allocate_library(&version, &port) != 0 || k5port_startup_library(port) != 0) return nullptr;
  return port;
}

TEST(PortLibrary, VersionsAreChecked) {
  struct Case {
    uint16_t major;
    uint64_t capabilities;
    bool ok;
  } cases[] = {{14, 7, true}, {14, 1, true}, {13, 7, false}, {15, 7, false}, {14, 8, false}};
  for (const Case& c : cases) {
    K5PortLibraryVersion version{c.major, 0, 0, c.capabilities};
    K5PortLibrary* port = nullptr;
    EXPECT_EQ(k5port_allocate_library(&version, &port) == 0, c.ok) << c.major << " " << c.capabilities;
    if (port) {
      EXPECT_EQ(k5port_startup_library(port), 0);
      port->port_shutdown_library(port);
    }
  }
}

TEST(PortLibrary, FormattedTextAndFiles) {
  K5PortLibrary* port = makePort();
  ASSERT_NE(port, nullptr);
  // Without a buffer: the size the text needs, its NUL included.
  EXPECT_EQ(port->str_printf(port, nullptr, 0, "%d-%s", 42, "abc"), 7u);
  char small[5];
  EXPECT_EQ(port->str_printf(port, small, sizeof small, "%s", "abcdefgh"), 4u);
  EXPECT_STREQ(small, "abcd");

  char folder[] = "/tmp/k5port-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/out.txt";
  intptr_t fd = port->file_open(port, path.c_str(), K5_OPEN_WRITE | K5_OPEN_CREATE | K5_OPEN_TRUNCATE, 0666);
  ASSERT_GE(fd, 0);
  port->file_printf(port, fd, "%s %d\n", "line", 1);
  EXPECT_EQ(port->file_write(port, fd, "xyz", 3), 3);
  port->file_close(port, fd);
  fd = port->file_open(port, path.c_str(), K5_OPEN_READ | K5_OPEN_TEXT, 0);
  ASSERT_GE(fd, 0);
  char buffer[64];
  intptr_t got = port->file_read(port, fd, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, got > 0 ? got : 0), "line 1\nxyz");
  EXPECT_EQ(port->file_read(port, fd, buffer, sizeof buffer), -1);  // the end
  port->file_close(port, fd);
  // Truncation on a second open for writing.
  fd = port->file_open(port, path.c_str(), 14, 0777);
  port->file_close(port, fd);
  fd = port->file_open(port, path.c_str(), 33, 0777);
  EXPECT_EQ(port->file_read(port, fd, buffer, sizeof buffer), -1);
  port->file_close(port, fd);
  EXPECT_EQ(port->file_open(port, (std::string(folder) + "/none/x").c_str(), 33, 0), -1);
  unlink(path.c_str());
  rmdir(folder);

  EXPECT_EQ(port->time_hires_delta(port, 1000, 3001000, 1000), 3u);
  EXPECT_EQ(port->time_hires_delta(port, 1000, 3001000, 1000000000), 3000000u);
  EXPECT_GT(port->time_hires_clock(port), 0u);
  EXPECT_GT(port->time_current_time_millis(port), 1600000000000LL);

  testing::internal::CaptureStderr();
  port->nls_printf(port, K5NLS_WARNING, K5NLS_MODULE('J', 'V', 'M', 'P'), 0, 7, "a/Bcdef-extra");
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("a/Bcdef"), std::string::npos);
  EXPECT_EQ(message.find("extra"), std::string::npos);
  port->port_shutdown_library(port);
}

TEST(PortLibrary, SocketsRoundTripOverLoopback) {
  K5PortLibrary* port = makePort();
  ASSERT_NE(port, nullptr);
  k5socket_t server = nullptr, client = nullptr, accepted = nullptr;
  ASSERT_EQ(port->sock_socket(port, &server, K5SOCK_AFINET, K5SOCK_STREAM, K5SOCK_DEFPROTOCOL), 0);
  K5SockAddr address;
  uint32_t loopback = 0;
  ASSERT_EQ(port->sock_inetaddr(port, "127.0.0.1", &loopback), 0);
  EXPECT_NE(port->sock_inetaddr(port, "127.0.0", &loopback), 0);
  port->sock_inetaddr(port, "127.0.0.1", &loopback);
  ASSERT_EQ(port->sock_sockaddr_init(port, &address, K5SOCK_AFINET, loopback, port->sock_htons(port, 0)), 0);
  ASSERT_EQ(port->sock_bind(port, server, &address), 0);
  ASSERT_EQ(port->sock_listen(port, server, 1), 0);
  K5SockAddr bound;
  ASSERT_EQ(port->sock_getsockname(port, server, &bound), 0);
  EXPECT_EQ(port->sock_select_read(port, server, 0, 1000), K5PORT_ERROR_SOCKET_TIMEOUT);
  ASSERT_EQ(port->sock_socket(port, &client, K5SOCK_AFINET, K5SOCK_STREAM, K5SOCK_DEFPROTOCOL), 0);
  ASSERT_EQ(port->sock_connect(port, client, &bound), 0);
  EXPECT_EQ(port->sock_select_read(port, server, 1, 0), 1);
  K5SockAddr peer;
  ASSERT_EQ(port->sock_accept(port, server, &peer, &accepted), 0);
  EXPECT_EQ(port->sock_sockaddr_address(port, &peer), loopback);
  EXPECT_EQ(port->sock_write(port, client, reinterpret_cast<const uint8_t*>("hello"), 5, 0), 5);
  uint8_t buffer[16];
  EXPECT_EQ(port->sock_read(port, accepted, buffer, sizeof buffer, 0), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "hello");
  port->sock_close(port, &client);
  EXPECT_EQ(client, nullptr);
  EXPECT_EQ(port->sock_read(port, accepted, buffer, sizeof buffer, 0), K5PORT_ERROR_SOCKET_CLOSED);
  port->sock_close(port, &accepted);
  port->sock_close(port, &server);
  EXPECT_EQ(port->sock_socketIsValid(port, server), 0);

  K5HostEnt host;
  ASSERT_EQ(port->sock_gethostbyname(port, "localhost", &host), 0);
  ASSERT_GT(host.addressCount, 0);
  ASSERT_NE(host.aliases, nullptr);
  EXPECT_NE(host.aliases[0], nullptr);
  port->sock_freehostent(port, &host);
  EXPECT_EQ(port->sock_gethostbyname(port, "no-such-host.invalid", &host), K5PORT_ERROR_SOCKET_HOSTNOTFOUND);
  EXPECT_STREQ(port->sock_inetntoa(port, loopback), "127.0.0.1");
  port->port_shutdown_library(port);
}

// ---- Hooks ----

std::vector<int>* calls = nullptr;
void hookA(K5HookInterface*, uintptr_t, void*, void* user) { calls->push_back(static_cast<int>(reinterpret_cast<intptr_t>(user))); }
void hookSelfRemoving(K5HookInterface* hooks, uintptr_t event, void*, void*) {
  calls->push_back(99);
  k5hook_unregister(hooks, event, hookSelfRemoving, nullptr);
}

TEST(Hooks, RegistrationsCountAndMayChangeDuringDispatch) {
  std::string error;
  K5JavaVM* vm = k5sim_createVM({}, &error);
  ASSERT_NE(vm, nullptr) << error;
  std::vector<int> seen;
  calls = &seen;
  K5HookInterface* hooks = vm->vmHooks;
  EXPECT_FALSE(k5hook_isHooked(hooks, 50));
  k5hook_register(hooks, 50, hookA, reinterpret_cast<void*>(1));
  k5hook_register(hooks, 50, hookA, reinterpret_cast<void*>(1));
  k5hook_register(hooks, 50, hookSelfRemoving, nullptr);
  k5hook_register(hooks, 50, hookA, reinterpret_cast<void*>(2));
  k5hook_dispatch(hooks, 50, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{1, 1, 99, 2}));
  seen.clear();
  k5hook_unregister(hooks, 50, hookA, reinterpret_cast<void*>(1));
  k5hook_dispatch(hooks, 50, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_EQ(k5hook_register(hooks, K5HOOK_MAX_EVENT, hookA, nullptr), -1);
  EXPECT_EQ(k5hook_reserve(hooks, 20), 0);
  EXPECT_TRUE(k5hook_isReserved(hooks, 20));
  calls = nullptr;
  k5sim_shutdown(vm, 0);
  k5sim_destroyVM(vm);
}

TEST(VmRecord, IdentifierPortLibraryAndGetEnv) {
  std::string error;
  K5JavaVM* vm = k5sim_createVM({"-Xnojit", "-Xcustom:1"}, &error);
  ASSERT_NE(vm, nullptr) << error;
  auto* words = reinterpret_cast<uintptr_t*>(vm);
  EXPECT_EQ(words[2], K5VM_IDENTIFIER);
  EXPECT_EQ(reinterpret_cast<K5PortLibrary*>(words[3]), vm->portLibrary);
  EXPECT_EQ(vm->jitConfig, nullptr);
  EXPECT_EQ(vm->jitHooks, nullptr);
  EXPECT_STREQ(k5vm_findArgument(vm, "-Xcustom:", 1), "-Xcustom:1");
  EXPECT_EQ(k5vm_findArgument(vm, "-Xnone", 0), nullptr);
  JavaVM* javaVM = reinterpret_cast<JavaVM*>(vm);
  void* env = nullptr;
  EXPECT_EQ(javaVM->functions->GetEnv(javaVM, &env, JNI_VERSION_1_2), JNI_OK);
  EXPECT_EQ(env, vm->mainThread);
  EXPECT_EQ(javaVM->functions->GetEnv(javaVM, &env, 0x7E000101), JNI_OK);
  EXPECT_NE(env, nullptr);
  EXPECT_EQ(javaVM->functions->GetEnv(javaVM, &env, 0x12345), JNI_EVERSION);
  // Another host thread is detached until it attaches; then it is a VM thread with an object.
  std::thread([&] {
    void* other = nullptr;
    EXPECT_EQ(javaVM->functions->GetEnv(javaVM, &other, JNI_VERSION_1_2), JNI_EDETACHED);
    JavaVMAttachArgs args{JNI_VERSION_1_2, const_cast<char*>("helper"), nullptr};
    ASSERT_EQ(javaVM->functions->AttachCurrentThreadAsDaemon(javaVM, &other, &args), JNI_OK);
    auto* thread = static_cast<K5VMThread*>(other);
    EXPECT_TRUE(thread->privateFlags & K5_PRIVATE_FLAGS_DAEMON);
    K5Object* name = k5vm_threadObjectName(vm, thread->threadObject);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(k5vm_stringLength(vm, name), 6u);
    EXPECT_EQ(javaVM->functions->DetachCurrentThread(javaVM), JNI_OK);
    EXPECT_EQ(javaVM->functions->DetachCurrentThread(javaVM), JNI_EDETACHED);
  }).join();
  EXPECT_EQ(vm->mainThread->linkNext, vm->mainThread);  // back to the main thread alone
  EXPECT_EQ(k5vm_threadFromOSThread(vm, k5thread_self()), vm->mainThread);

  // Object monitors and global references as a dump would walk them.
  ASSERT_EQ(k5sim_playText(vm, "class d/Obj\nend\nload d/Obj\nmain alloc o d/Obj\nmain alloc p d/Obj\n"
                               "main lock o\nmain globalref g1 o\nmain globalref g2 p weak\n", &error), 0) << error;
  K5Object* o = k5sim_namedObject(vm, "o");
  k5thread_monitor_t monitor = k5vm_objectMonitor(vm, o);
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(k5thread_monitor_get_user_data(monitor), o);
  EXPECT_EQ(k5thread_monitor_get_owner(monitor), k5thread_self());
  EXPECT_EQ(k5vm_objectMonitor(vm, k5sim_namedObject(vm, "p")), nullptr);
  std::vector<std::pair<K5Object*, int>> refs;
  k5vm_iterateGlobalRefs(
      vm,
      [](K5JavaVM*, jobject reference, K5Object* object, int weak, void* data) {
        EXPECT_EQ(k5vm_objectFromRef(reference), object);
        static_cast<std::vector<std::pair<K5Object*, int>>*>(data)->push_back({object, weak});
      },
      &refs);
  EXPECT_EQ(refs, (std::vector<std::pair<K5Object*, int>>{{o, 0}, {k5sim_namedObject(vm, "p"), 1}}));
  ASSERT_EQ(k5sim_playText(vm, "main unlock o\n", &error), 0) << error;
  k5sim_shutdown(vm, 0);
  k5sim_destroyVM(vm);
}

TEST(Workload, BadInputIsReportedWithItsLine) {
  std::string error;
  K5JavaVM* vm = k5sim_createVM({}, &error);
  ASSERT_NE(vm, nullptr) << error;
  ASSERT_EQ(k5sim_playText(vm, "class w/A\n method m ()V\nend\nload w/A\nmain alloc a w/A\nstart t\n", &error), 0)
      << error;
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"class\n", "line 1: class <name>"},
      {"class w/B\n method m\nend\n", "line 2: method <name> <signature> [static] [native]"},
      {"class w/C\n method m ()V lines=1-2\nend\n", "line 2: lines=<pc>:<line>,..."},
      {"class w/D\n bogus\nend\n", "line 2: unknown class line bogus"},
      {"class w/E super=w/Nope\nend\nload w/E\n", "line 3: superclass w/Nope of w/E is not loaded"},
      {"load w/A\n", "line 1: class w/A is already loaded"},
      {"main call w/A.nothing()V\n", "line 1: no method w/A.nothing()V"},
      {"main call w/A.m()V this=ghost\n", "line 1: no object ghost"},
      {"main call w/A.m()V pc=-1\n", "line 1: bad pc"},
      {"main newarray x Q 3\n", "line 1: no element type Q"},
      {"main newarray x I 99999999999\n", "line 1: bad array length"},
      {"main newarray x I 3 dims=0\n", "line 1: bad dims"},
      {"main unlock a\n", "line 1: thread main does not own the monitor of a"},
      {"main wait a 0\n", "line 1: the main thread cannot wait without a timeout"},
      {"t lock a\nmain lock a\n", "line 2: the main thread would block on the monitor of a"},
      {"gc move=ghost\n", "line 1: no object ghost"},
      {"segment remove new\n", "line 1: segment new belongs to the VM"},
      {"segment add s size=12\n", "line 1: bad segment size"},
      {"deleteref nothing\n", "line 1: no reference nothing"},
      {"start t\n", "line 1: bad thread name"},
      {"main end\n", "line 1: the main thread ends with shutdown"},
      {"main suppress maybe\n", "line 1: suppress on or suppress off"},
      {"main sleep soon\n", "line 1: bad sleep time"},
      {"main jitload w/A.m()V addr=zz\n", "line 1: bad addr"},
      {"main notification\n", "line 1: bad flag word"},
      {"shutdown -1\n", "line 1: bad exit code"},
      {"main\n", "line 1: a step is missing after the thread name"},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_EQ(k5sim_playText(vm, c.text, &error), -1) << c.text;
    EXPECT_EQ(error, c.message) << c.text;
  }
  ASSERT_EQ(k5sim_playText(vm, "t unlock a\n", &error), 0) << error;
  k5sim_shutdown(vm, 0);
  k5sim_destroyVM(vm);
}

}  // namespace

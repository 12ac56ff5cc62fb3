// The VM's thread library over host threads: thread records with flags, priorities and
// thread-local storage; recursive monitors with wait and notify; a walk over live monitors.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "k5thread.h"
#include "vork/core_internal.h"

namespace {

constexpr int kTlsSlots = 64;

}  // namespace

struct K5Thread {
  pthread_t pthread;
  pid_t tid = 0;
  std::atomic<uintptr_t> flags{0};
  std::atomic<uintptr_t> priority{K5THREAD_PRIORITY_NORMAL};
  std::atomic<K5ThreadMonitor*> blocker{nullptr};
  void* tls[kTlsSlots] = {};
  uintptr_t stackSize = 0;
  uintptr_t stackBase = 0;
  bool recordStackUsage = false;
  k5thread_entrypoint_t entry = nullptr;
  void* arg = nullptr;
  std::atomic<int64_t> lastCpuTime{0};
  // Sleep and interrupt.
  std::mutex sleepMutex;
  std::condition_variable sleepCond;
};

struct K5ThreadMonitor {
  std::mutex mutex;
  std::condition_variable enterCond;
  std::condition_variable notifyCond;
  K5Thread* owner = nullptr;
  uintptr_t count = 0;
  uintptr_t flags = 0;
  char* name = nullptr;
  void* userData = nullptr;
  int waiters = 0;
  int pendingNotifies = 0;
  int64_t lastWaitMillis = 0;
  intptr_t lastWaitNanos = 0;
  K5ThreadMonitor* next = nullptr;
  K5ThreadMonitor* previous = nullptr;
};

namespace {

struct Library {
  std::recursive_mutex lock;
  K5ThreadMonitor* monitors = nullptr;
  std::vector<K5Thread*> threads;  // every record ever made; kept for late queries
  std::atomic<bool> stackUsage{false};
  std::atomic<uintptr_t> nextTlsKey{1};
};

Library& lib() {
  static Library* library = new Library;
  return *library;
}

thread_local K5Thread* currentThread = nullptr;

pid_t hostTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

K5Thread* adoptSelf() {
  auto* thread = new K5Thread;
  thread->pthread = pthread_self();
  thread->tid = hostTid();
  thread->flags = K5THREAD_FLAG_STARTED;
  {
    std::lock_guard<std::recursive_mutex> guard(lib().lock);
    lib().threads.push_back(thread);
  }
  currentThread = thread;
  return thread;
}

std::chrono::nanoseconds scaled(int64_t millis, intptr_t nanos) {
  unsigned scale = vork::clockScale();
  if (scale == 0) scale = 1;
  // Long limits stay representable: 2^63 ns is about 292 years.
  long double total = (static_cast<long double>(millis) * 1000000.0L + nanos) / scale;
  if (total > 9.0e18L) total = 9.0e18L;
  return std::chrono::nanoseconds(static_cast<int64_t>(total));
}

void* threadMain(void* argument) {
  auto* thread = static_cast<K5Thread*>(argument);
  currentThread = thread;
  thread->tid = hostTid();
  int marker = 0;
  thread->stackBase = reinterpret_cast<uintptr_t>(&marker);
  thread->entry(thread->arg);
  thread->lastCpuTime = k5thread_get_cpu_time(thread);
  thread->flags |= K5THREAD_FLAG_DEAD;
  currentThread = nullptr;
  return nullptr;
}

}  // namespace

extern "C" {

k5thread_t k5thread_self(void) { return currentThread ? currentThread : adoptSelf(); }

int k5thread_create(k5thread_t* handle, uintptr_t stacksize, uintptr_t priority, uintptr_t suspend,
                    k5thread_entrypoint_t entrypoint, void* entryarg) {
  if (!entrypoint || suspend) return K5THREAD_ERR;
  auto* thread = new K5Thread;
  thread->entry = entrypoint;
  thread->arg = entryarg;
  thread->priority = (priority >= K5THREAD_PRIORITY_MIN && priority <= K5THREAD_PRIORITY_MAX)
                         ? priority
                         : K5THREAD_PRIORITY_NORMAL;
  thread->flags = K5THREAD_FLAG_STARTED;
  thread->recordStackUsage = lib().stackUsage.load();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stacksize) {
    if (stacksize < 64 * 1024) stacksize = 64 * 1024;
    pthread_attr_setstacksize(&attributes, stacksize);
  }
  size_t actual = 0;
  pthread_attr_getstacksize(&attributes, &actual);
  thread->stackSize = actual;
  {
    std::lock_guard<std::recursive_mutex> guard(lib().lock);
    lib().threads.push_back(thread);
  }
  if (handle) *handle = thread;
  int result = pthread_create(&thread->pthread, &attributes, threadMain, thread);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    thread->flags |= K5THREAD_FLAG_DEAD;
    if (handle) *handle = nullptr;
    return K5THREAD_ERR;
  }
  return K5THREAD_SUCCESS;
}

void k5thread_detach(k5thread_t thread) {
  if (!thread) return;
  thread->lastCpuTime = k5thread_get_cpu_time(thread);
  thread->flags |= K5THREAD_FLAG_DEAD;
  if (currentThread == thread) currentThread = nullptr;
}

int k5thread_sleep_interruptable(int64_t millis, intptr_t nanos) {
  K5Thread* self = k5thread_self();
  std::unique_lock<std::mutex> lock(self->sleepMutex);
  self->flags |= K5THREAD_FLAG_SLEEPING;
  auto deadline = std::chrono::steady_clock::now() + scaled(millis, nanos);
  int result = K5THREAD_SUCCESS;
  while (true) {
    if (self->flags & K5THREAD_FLAG_INTERRUPTED) {
      self->flags &= ~static_cast<uintptr_t>(K5THREAD_FLAG_INTERRUPTED);
      result = K5THREAD_INTERRUPTED;
      break;
    }
    if (self->sleepCond.wait_until(lock, deadline) == std::cv_status::timeout) break;
  }
  self->flags &= ~static_cast<uintptr_t>(K5THREAD_FLAG_SLEEPING);
  return result;
}

int k5thread_sleep(int64_t millis) {
  if (millis <= 0) return K5THREAD_SUCCESS;
  std::this_thread::sleep_for(scaled(millis, 0));
  return K5THREAD_SUCCESS;
}

void k5thread_yield(void) { sched_yield(); }

void k5thread_interrupt(k5thread_t thread) {
  if (!thread) return;
  {
    std::lock_guard<std::mutex> guard(thread->sleepMutex);
    thread->flags |= K5THREAD_FLAG_INTERRUPTED;
  }
  thread->sleepCond.notify_all();
  K5ThreadMonitor* monitor = thread->blocker.load();
  if (monitor) {
    std::lock_guard<std::mutex> guard(monitor->mutex);
    monitor->notifyCond.notify_all();
  }
}

int k5thread_clear_interrupted(void) {
  K5Thread* self = k5thread_self();
  uintptr_t before = self->flags.fetch_and(~static_cast<uintptr_t>(K5THREAD_FLAG_INTERRUPTED));
  return (before & K5THREAD_FLAG_INTERRUPTED) ? 1 : 0;
}

uintptr_t k5thread_get_priority(k5thread_t thread) { return thread ? thread->priority.load() : 0; }

int k5thread_set_priority(k5thread_t thread, uintptr_t priority) {
  if (!thread || priority < K5THREAD_PRIORITY_MIN || priority > K5THREAD_PRIORITY_MAX) return K5THREAD_ERR;
  thread->priority = priority;
  return K5THREAD_SUCCESS;
}

int k5thread_get_os_priority(k5thread_t thread, int32_t* policy, int32_t* priority) {
  if (!thread || (thread->flags & K5THREAD_FLAG_DEAD)) return K5THREAD_ERR;
  int hostPolicy = 0;
  sched_param parameters{};
  if (pthread_getschedparam(thread->pthread, &hostPolicy, &parameters) != 0) return K5THREAD_ERR;
  if (policy) *policy = hostPolicy;
  if (priority) *priority = parameters.sched_priority;
  return K5THREAD_SUCCESS;
}

uintptr_t k5thread_get_handle(k5thread_t thread) { return thread ? static_cast<uintptr_t>(thread->tid) : 0; }

uintptr_t k5thread_get_flags(k5thread_t thread, k5thread_monitor_t* blocker) {
  if (!thread) return 0;
  if (blocker) *blocker = thread->blocker.load();
  return thread->flags.load();
}

uintptr_t k5thread_get_state(k5thread_t thread) {
  if (!thread) return K5THREAD_STATE_DEAD;
  uintptr_t flags = thread->flags.load();
  if (flags & K5THREAD_FLAG_DEAD) return K5THREAD_STATE_DEAD;
  if (flags & K5THREAD_FLAG_SUSPENDED) return K5THREAD_STATE_SUSPENDED;
  if (flags & K5THREAD_FLAG_BLOCKED) return K5THREAD_STATE_BLOCKED;
  if (flags & K5THREAD_FLAG_WAITING) return K5THREAD_STATE_WAITING;
  if (flags & K5THREAD_FLAG_TIMED_WAIT) return K5THREAD_STATE_WAITING_TIMED;
  if (flags & K5THREAD_FLAG_SLEEPING) return K5THREAD_STATE_SLEEPING;
  return K5THREAD_STATE_RUNNING;
}

void k5thread_set_suspended(k5thread_t thread, int suspended) {
  if (!thread) return;
  if (suspended)
    thread->flags |= K5THREAD_FLAG_SUSPENDED;
  else
    thread->flags &= ~static_cast<uintptr_t>(K5THREAD_FLAG_SUSPENDED);
}

uintptr_t k5thread_get_stack_size(k5thread_t thread) {
  if (!thread) return 0;
  if (thread->stackSize) return thread->stackSize;
  pthread_attr_t attributes;
  size_t size = 0;
  if (!(thread->flags & K5THREAD_FLAG_DEAD) && pthread_getattr_np(thread->pthread, &attributes) == 0) {
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
  }
  return size;
}

void k5thread_enable_stack_usage(uintptr_t enable) { lib().stackUsage = enable != 0; }

int k5thread_get_stack_usage(k5thread_t thread, uintptr_t* usage) {
  if (!thread || !usage || !thread->recordStackUsage) return K5THREAD_ERR;
  // The host does not tell the deepest use; answer the current depth of a running thread.
  int marker = 0;
  uintptr_t here = reinterpret_cast<uintptr_t>(&marker);
  *usage = (thread == currentThread && thread->stackBase > here) ? thread->stackBase - here : 0;
  return K5THREAD_SUCCESS;
}

int64_t k5thread_get_cpu_time(k5thread_t thread) {
  if (!thread) return -1;
  if (thread->flags & K5THREAD_FLAG_DEAD) return thread->lastCpuTime.load();
  clockid_t clock;
  if (pthread_getcpuclockid(thread->pthread, &clock) != 0) return -1;
  timespec now{};
  if (clock_gettime(clock, &now) != 0) return -1;
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t k5thread_get_self_cpu_time(k5thread_t) {
  timespec now{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return -1;
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int k5thread_tls_alloc(k5thread_tls_key_t* key) {
  uintptr_t next = lib().nextTlsKey.fetch_add(1);
  if (next >= kTlsSlots || !key) return K5THREAD_ERR;
  *key = next;
  return K5THREAD_SUCCESS;
}

int k5thread_tls_free(k5thread_tls_key_t key) {
  if (key == 0 || key >= kTlsSlots) return K5THREAD_ERR;
  std::lock_guard<std::recursive_mutex> guard(lib().lock);
  for (K5Thread* thread : lib().threads) thread->tls[key] = nullptr;
  return K5THREAD_SUCCESS;
}

int k5thread_tls_set(k5thread_t thread, k5thread_tls_key_t key, void* value) {
  if (!thread || key == 0 || key >= kTlsSlots) return K5THREAD_ERR;
  thread->tls[key] = value;
  return K5THREAD_SUCCESS;
}

void* k5thread_tls_get(k5thread_t thread, k5thread_tls_key_t key) {
  if (!thread || key == 0 || key >= kTlsSlots) return nullptr;
  return thread->tls[key];
}

// ---- Monitors --------------------------------------------------------------------------

int k5thread_monitor_init_with_name(k5thread_monitor_t* handle, uintptr_t flags, const char* name) {
  if (!handle) return K5THREAD_ERR;
  auto* monitor = new (std::nothrow) K5ThreadMonitor;
  if (!monitor) return K5THREAD_ERR;
  monitor->flags = flags;
  if (name) monitor->name = strdup(name);
  std::lock_guard<std::recursive_mutex> guard(lib().lock);
  monitor->next = lib().monitors;
  if (lib().monitors) lib().monitors->previous = monitor;
  lib().monitors = monitor;
  *handle = monitor;
  return K5THREAD_SUCCESS;
}

int k5thread_monitor_destroy(k5thread_monitor_t monitor) {
  if (!monitor) return K5THREAD_ERR;
  {
    std::lock_guard<std::recursive_mutex> guard(lib().lock);
    if (monitor->previous) monitor->previous->next = monitor->next;
    if (monitor->next) monitor->next->previous = monitor->previous;
    if (lib().monitors == monitor) lib().monitors = monitor->next;
  }
  free(monitor->name);
  delete monitor;
  return K5THREAD_SUCCESS;
}

namespace {

// Takes ownership once the monitor is free; the caller holds monitor->mutex.
void acquireOwnership(K5ThreadMonitor* monitor, std::unique_lock<std::mutex>& lock, K5Thread* self) {
  if (monitor->owner && monitor->owner != self) {
    self->blocker = monitor;
    self->flags |= K5THREAD_FLAG_BLOCKED;
    monitor->enterCond.wait(lock, [&] { return monitor->owner == nullptr; });
    self->flags &= ~static_cast<uintptr_t>(K5THREAD_FLAG_BLOCKED);
    self->blocker = nullptr;
  }
  monitor->owner = self;
}

}  // namespace

int k5thread_monitor_enter(k5thread_monitor_t monitor) {
  if (!monitor) return K5THREAD_ERR;
  K5Thread* self = k5thread_self();
  std::unique_lock<std::mutex> lock(monitor->mutex);
  acquireOwnership(monitor, lock, self);
  monitor->count++;
  return K5THREAD_SUCCESS;
}

int k5thread_monitor_try_enter(k5thread_monitor_t monitor) {
  if (!monitor) return K5THREAD_ERR;
  K5Thread* self = k5thread_self();
  std::lock_guard<std::mutex> guard(monitor->mutex);
  if (monitor->owner && monitor->owner != self) return K5THREAD_WOULD_BLOCK;
  monitor->owner = self;
  monitor->count++;
  return K5THREAD_SUCCESS;
}

int k5thread_monitor_exit(k5thread_monitor_t monitor) {
  if (!monitor) return K5THREAD_ERR;
  K5Thread* self = k5thread_self();
  std::lock_guard<std::mutex> guard(monitor->mutex);
  if (monitor->owner != self) return K5THREAD_ILLEGAL_MONITOR_STATE;
  if (--monitor->count == 0) {
    monitor->owner = nullptr;
    monitor->enterCond.notify_one();
  }
  return K5THREAD_SUCCESS;
}

int k5thread_monitor_wait_timed(k5thread_monitor_t monitor, int64_t millis, intptr_t nanos) {
  if (!monitor) return K5THREAD_ERR;
  K5Thread* self = k5thread_self();
  std::unique_lock<std::mutex> lock(monitor->mutex);
  if (monitor->owner != self) return K5THREAD_ILLEGAL_MONITOR_STATE;
  bool timed = millis > 0 || nanos > 0;
  monitor->lastWaitMillis = millis;
  monitor->lastWaitNanos = nanos;
  if (millis < 0 || nanos < 0) {
    // A negative limit is no wait at all.
    return K5THREAD_TIMED_OUT;
  }
  uintptr_t savedCount = monitor->count;
  monitor->owner = nullptr;
  monitor->count = 0;
  monitor->enterCond.notify_one();
  monitor->waiters++;
  self->blocker = monitor;
  uintptr_t waitFlag = timed ? K5THREAD_FLAG_TIMED_WAIT : K5THREAD_FLAG_WAITING;
  self->flags |= waitFlag;
  int result = K5THREAD_SUCCESS;
  auto deadline = std::chrono::steady_clock::now() + scaled(millis, nanos);
  while (true) {
    if (monitor->pendingNotifies > 0) {
      monitor->pendingNotifies--;
      break;
    }
    if (self->flags & K5THREAD_FLAG_INTERRUPTED) {
      self->flags &= ~static_cast<uintptr_t>(K5THREAD_FLAG_INTERRUPTED);
      result = K5THREAD_INTERRUPTED;
      break;
    }
    if (timed) {
      if (monitor->notifyCond.wait_until(lock, deadline) == std::cv_status::timeout &&
          monitor->pendingNotifies == 0) {
        result = K5THREAD_TIMED_OUT;
        break;
      }
    } else {
      monitor->notifyCond.wait(lock);
    }
  }
  monitor->waiters--;
  self->flags &= ~waitFlag;
  self->blocker = nullptr;
  acquireOwnership(monitor, lock, self);
  monitor->count = savedCount;
  return result;
}

int k5thread_monitor_wait(k5thread_monitor_t monitor) { return k5thread_monitor_wait_timed(monitor, 0, 0); }

int k5thread_monitor_notify(k5thread_monitor_t monitor) {
  if (!monitor) return K5THREAD_ERR;
  std::lock_guard<std::mutex> guard(monitor->mutex);
  if (monitor->owner != k5thread_self()) return K5THREAD_ILLEGAL_MONITOR_STATE;
  if (monitor->pendingNotifies < monitor->waiters) {
    monitor->pendingNotifies++;
    monitor->notifyCond.notify_all();
  }
  return K5THREAD_SUCCESS;
}

int k5thread_monitor_notify_all(k5thread_monitor_t monitor) {
  if (!monitor) return K5THREAD_ERR;
  std::lock_guard<std::mutex> guard(monitor->mutex);
  if (monitor->owner != k5thread_self()) return K5THREAD_ILLEGAL_MONITOR_STATE;
  monitor->pendingNotifies = monitor->waiters;
  monitor->notifyCond.notify_all();
  return K5THREAD_SUCCESS;
}

const char* k5thread_monitor_get_name(k5thread_monitor_t monitor) { return monitor ? monitor->name : nullptr; }
uintptr_t k5thread_monitor_get_flags(k5thread_monitor_t monitor) { return monitor ? monitor->flags : 0; }

k5thread_t k5thread_monitor_get_owner(k5thread_monitor_t monitor) {
  if (!monitor) return nullptr;
  std::lock_guard<std::mutex> guard(monitor->mutex);
  return monitor->owner;
}

uintptr_t k5thread_monitor_get_count(k5thread_monitor_t monitor) {
  if (!monitor) return 0;
  std::lock_guard<std::mutex> guard(monitor->mutex);
  return monitor->count;
}

void k5thread_monitor_set_user_data(k5thread_monitor_t monitor, void* data) {
  if (monitor) monitor->userData = data;
}
void* k5thread_monitor_get_user_data(k5thread_monitor_t monitor) { return monitor ? monitor->userData : nullptr; }

void k5thread_monitor_get_last_wait(k5thread_monitor_t monitor, int64_t* millis, intptr_t* nanos) {
  if (!monitor) return;
  std::lock_guard<std::mutex> guard(monitor->mutex);
  if (millis) *millis = monitor->lastWaitMillis;
  if (nanos) *nanos = monitor->lastWaitNanos;
}

k5thread_monitor_t k5thread_monitor_walk(k5thread_monitor_t previous) {
  std::lock_guard<std::recursive_mutex> guard(lib().lock);
  return previous ? previous->next : lib().monitors;
}

void k5thread_lib_lock(void) { lib().lock.lock(); }
void k5thread_lib_unlock(void) { lib().lock.unlock(); }

}  // extern "C"

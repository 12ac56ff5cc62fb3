// Events, mutexes, critical sections and threads.
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "vork/core_internal.h"
#include "vork/text.h"
#include "windows.h"

using namespace vork;

namespace {

// ---- Events ---------------------------------------------------------------------------------
// Named events are shared by name within the process; every set of a named event is also
// noted in <device root>/events.log, where other components of the device (the power
// manager) would see it.

struct Event {
  bool manualReset;
  bool signaled;
  int references;
  std::u16string name;
};

std::map<std::u16string, Event*>& namedEvents = *new std::map<std::u16string, Event*>;  // under waitLock()

bool eventSignaled(KernelObject* object, bool consume) {
  auto* event = static_cast<Event*>(object->data);
  if (!event->signaled) return false;
  if (consume && !event->manualReset) event->signaled = false;
  return true;
}

void eventDestroy(KernelObject* object) {
  auto* event = static_cast<Event*>(object->data);
  if (--event->references > 0) return;
  if (!event->name.empty()) namedEvents.erase(event->name);
  delete event;
}

const ObjectOps eventOps{"event", eventDestroy, eventSignaled, nullptr, nullptr};

void noteNamedEvent(const std::u16string& name, const char* what) {
  std::string path = deviceRoot() + "/events.log";
  if (FILE* log = std::fopen(path.c_str(), "a")) {
    std::fprintf(log, "%s %s\n", what, utf8FromUtf16(name).c_str());
    std::fclose(log);
  }
}

// ---- Mutexes ----------------------------------------------------------------------------------

struct Mutex {
  std::thread::id owner;
  unsigned count;
};

bool mutexSignaled(KernelObject* object, bool consume) {
  auto* mutex = static_cast<Mutex*>(object->data);
  auto self = std::this_thread::get_id();
  if (mutex->count != 0 && mutex->owner != self) return false;
  if (consume) {
    mutex->owner = self;
    ++mutex->count;
  }
  return true;
}

void mutexDestroy(KernelObject* object) { delete static_cast<Mutex*>(object->data); }

const ObjectOps mutexOps{"mutex", mutexDestroy, mutexSignaled, nullptr, nullptr};

// ---- Threads -------------------------------------------------------------------------------------

struct Thread {
  std::atomic<bool> finished{false};
  DWORD exitCode = STILL_ACTIVE;
  int references = 2;  // the handle and the running thread
};

bool threadSignaled(KernelObject* object, bool) {
  return static_cast<Thread*>(object->data)->finished.load();
}

void releaseThread(Thread* thread) {
  if (--thread->references == 0) delete thread;
}

void threadDestroy(KernelObject* object) { releaseThread(static_cast<Thread*>(object->data)); }

const ObjectOps threadOps{"thread", threadDestroy, threadSignaled, nullptr, nullptr};

std::atomic<DWORD> nextThreadId{1};
thread_local DWORD currentThreadId = 0;

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  auto lock = waitLock();
  Event* event;
  if (name && *name) {
    auto found = namedEvents.find(name);
    if (found != namedEvents.end()) {
      event = found->second;
      ++event->references;
      lock.unlock();
      HANDLE handle = newHandle(&eventOps, event);
      SetLastError(ERROR_ALREADY_EXISTS);
      return handle;
    }
    event = new Event{manualReset != 0, initialState != 0, 1, name};
    namedEvents[name] = event;
  } else {
    event = new Event{manualReset != 0, initialState != 0, 1, u""};
  }
  lock.unlock();
  SetLastError(ERROR_SUCCESS);
  return newHandle(&eventOps, event);
}

BOOL EventModify(HANDLE handle, DWORD function) {
  KernelObject* object = objectOf(handle, &eventOps);
  if (!object) return FALSE;
  auto* event = static_cast<Event*>(object->data);
  std::u16string name;
  {
    auto lock = waitLock();
    switch (function) {
      case EVENT_SET: event->signaled = true; break;
      case EVENT_RESET: event->signaled = false; break;
      case EVENT_PULSE: event->signaled = true; break;
      default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
    name = event->name;
  }
  wakeWaiters();
  if (function == EVENT_PULSE) {
    // Give the woken waiters a moment to take the signal, then take it back.
    std::this_thread::yield();
    auto lock = waitLock();
    event->signaled = false;
  }
  if (!name.empty() && function != EVENT_RESET) noteNamedEvent(name, "set");
  return TRUE;
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR) {
  auto* mutex = new Mutex{};
  if (initialOwner) {
    mutex->owner = std::this_thread::get_id();
    mutex->count = 1;
  }
  return newHandle(&mutexOps, mutex);
}

BOOL ReleaseMutex(HANDLE handle) {
  KernelObject* object = objectOf(handle, &mutexOps);
  if (!object) return FALSE;
  auto* mutex = static_cast<Mutex*>(object->data);
  {
    auto lock = waitLock();
    if (mutex->count == 0 || mutex->owner != std::this_thread::get_id()) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    if (--mutex->count == 0) mutex->owner = std::thread::id();
  }
  wakeWaiters();
  return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex; }
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete static_cast<std::recursive_mutex*>(section->impl);
  section->impl = nullptr;
}
void EnterCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->lock();
}
void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

LONG InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

DWORD GetCurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = nextThreadId++;
  return currentThreadId;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId) {
  auto* thread = new Thread;
  DWORD id = nextThreadId++;
  HANDLE handle = newHandle(&threadOps, thread);
  try {
    std::thread([thread, start, parameter, id] {
      currentThreadId = id;
      DWORD code = start(parameter);
      {
        auto lock = waitLock();
        thread->exitCode = code;
        thread->finished = true;
        releaseThread(thread);
      }
      wakeWaiters();
    }).detach();
  } catch (const std::system_error&) {
    CloseHandle(handle);
    releaseThread(thread);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = id;
  return handle;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  KernelObject* object = objectOf(handle, &threadOps);
  if (!object) return FALSE;
  auto lock = waitLock();
  *exitCode = static_cast<Thread*>(object->data)->exitCode;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE handle, int) { return objectOf(handle, &threadOps) != nullptr; }

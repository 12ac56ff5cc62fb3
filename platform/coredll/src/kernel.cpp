// Handles, waiting, the device clock and error numbers.
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "vork/control.h"
#include "vork/core_internal.h"
#include "windows.h"

namespace vork {

// ---- Last error ------------------------------------------------------------------------------

static thread_local DWORD lastError = 0;

}  // namespace vork

DWORD GetLastError() { return vork::lastError; }
void SetLastError(DWORD code) { vork::lastError = code; }

namespace vork {

DWORD errorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY: return ERROR_BUSY;
    case ENOEXEC: return ERROR_BAD_FORMAT;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EIO: return ERROR_GEN_FAILURE;
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ERROR_GEN_FAILURE;
  }
}

// ---- Handles ---------------------------------------------------------------------------------
// Handles are small tagged integers into one table; a closed slot is reused only after all
// others, so a stale handle is unlikely to name a new object.

// The table lives as long as the process (handles still open at exit are the process's, as on
// the device), so it is never destroyed.
static std::mutex& tableLock = *new std::mutex;
static std::vector<KernelObject*>& table = *new std::vector<KernelObject*>;  // null where a slot is free
static std::vector<size_t>& freeSlots = *new std::vector<size_t>;
static constexpr uintptr_t handleBase = 0x1000;
static constexpr uintptr_t handleStep = 4;
// Freed slots are reused only once this many are waiting, so a stale handle rarely names a
// new object.
static constexpr size_t reuseAfter = 64;

HANDLE newHandle(const ObjectOps* ops, void* data) {
  auto* object = new KernelObject{ops, data};
  std::lock_guard<std::mutex> guard(tableLock);
  size_t index;
  if (freeSlots.size() > reuseAfter) {
    index = freeSlots.front();
    freeSlots.erase(freeSlots.begin());
    table[index] = object;
  } else {
    index = table.size();
    table.push_back(object);
  }
  return reinterpret_cast<HANDLE>(handleBase + index * handleStep);
}

static bool slotIndex(HANDLE handle, size_t& index) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value < handleBase || (value - handleBase) % handleStep != 0) return false;
  index = (value - handleBase) / handleStep;
  return index < table.size() && table[index] != nullptr;
}

KernelObject* objectOf(HANDLE handle, const ObjectOps* ops) {
  std::lock_guard<std::mutex> guard(tableLock);
  size_t index;
  if (!slotIndex(handle, index) || (ops && table[index]->ops != ops)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return table[index];
}

static KernelObject* takeHandle(HANDLE handle) {
  std::lock_guard<std::mutex> guard(tableLock);
  size_t index;
  if (!slotIndex(handle, index)) return nullptr;
  KernelObject* object = table[index];
  table[index] = nullptr;
  freeSlots.push_back(index);
  return object;
}

// ---- Waiting ---------------------------------------------------------------------------------

static std::mutex& waitMutex = *new std::mutex;
static std::condition_variable& waitCondition = *new std::condition_variable;

std::unique_lock<std::mutex> waitLock() { return std::unique_lock<std::mutex>(waitMutex); }

void wakeWaiters() { waitCondition.notify_all(); }

// ---- Clock -----------------------------------------------------------------------------------

static std::atomic<unsigned> scale{0};

unsigned clockScale() {
  unsigned current = scale.load(std::memory_order_relaxed);
  if (current == 0) {
    const char* env = std::getenv("VORK_CLOCK_SCALE");
    long value = env ? std::strtol(env, nullptr, 10) : 1;
    current = value > 0 ? static_cast<unsigned>(value) : 1;
    unsigned unset = 0;
    scale.compare_exchange_strong(unset, current);
  }
  return current;
}

std::chrono::nanoseconds hostDuration(DWORD deviceMilliseconds) {
  return std::chrono::nanoseconds(static_cast<int64_t>(deviceMilliseconds) * 1000000 / clockScale());
}

bool waitUntil(std::unique_lock<std::mutex>& lock, DWORD milliseconds, bool (*ready)(void*),
               void* context) {
  if (milliseconds == INFINITE) {
    // Some objects (processes) change state without telling: look again now and then.
    while (!ready(context)) waitCondition.wait_for(lock, std::chrono::milliseconds(20));
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + hostDuration(milliseconds);
  while (!ready(context)) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    waitCondition.wait_for(lock, std::min<std::chrono::nanoseconds>(deadline - now,
                                                                     std::chrono::milliseconds(20)));
  }
  return true;
}

}  // namespace vork

using namespace vork;

BOOL CloseHandle(HANDLE object) {
  KernelObject* taken = takeHandle(object);
  if (!taken) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    // Waiters look at objects under the wait lock: none is looking while this one goes.
    auto lock = waitLock();
    if (taken->ops->destroy) taken->ops->destroy(taken);
    delete taken;
  }
  wakeWaiters();
  return TRUE;
}

namespace vork {

bool waitableHandles(DWORD count, const HANDLE* handles) {
  for (DWORD i = 0; i < count; ++i) {
    KernelObject* object = objectOf(handles[i], nullptr);
    if (!object || !object->ops->signaled) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
  }
  return true;
}

bool objectsSignaled(DWORD count, const HANDLE* handles, bool waitAll, DWORD& result) {
  if (waitAll) {
    for (DWORD i = 0; i < count; ++i) {
      KernelObject* object = objectOf(handles[i], nullptr);
      if (!object || !object->ops->signaled || !object->ops->signaled(object, false)) return false;
    }
    for (DWORD i = 0; i < count; ++i) {
      KernelObject* object = objectOf(handles[i], nullptr);
      object->ops->signaled(object, true);
    }
    result = WAIT_OBJECT_0;
    return true;
  }
  for (DWORD i = 0; i < count; ++i) {
    KernelObject* object = objectOf(handles[i], nullptr);
    if (object && object->ops->signaled && object->ops->signaled(object, true)) {
      result = WAIT_OBJECT_0 + i;
      return true;
    }
  }
  return false;
}

}  // namespace vork

struct WaitRequest {
  DWORD count;
  const HANDLE* handles;
  BOOL waitAll;
  DWORD result;
};

static bool waitReady(void* context) {
  auto* request = static_cast<WaitRequest*>(context);
  return objectsSignaled(request->count, request->handles, request->waitAll != 0, request->result);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (!waitableHandles(count, handles)) return WAIT_FAILED;
  WaitRequest request{count, handles, waitAll, WAIT_FAILED};
  auto lock = waitLock();
  if (!waitUntil(lock, milliseconds, waitReady, &request)) return WAIT_TIMEOUT;
  return request.result;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(hostDuration(milliseconds));
}

DWORD GetTickCount() {
  static const auto start = std::chrono::steady_clock::now();
  auto elapsed = std::chrono::steady_clock::now() - start;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return static_cast<DWORD>(ms * clockScale());
}

extern "C" void VorkControl_SetClockScale(unsigned value) { vork::scale.store(value ? value : 1); }
extern "C" unsigned VorkControl_ClockScale() { return clockScale(); }

// Hook interfaces: per event a list of (function, user data). Dispatch reads an immutable
// snapshot of the list, so hooks may register and unregister while an event is dispatched.
#include <atomic>
#include <mutex>
#include <vector>

#include "internal.h"

namespace {

struct Registration {
  K5HookFunction function;
  void* userData;
};
using HookList = std::vector<Registration>;

}  // namespace

struct K5HookInterface {
  std::mutex lock;
  std::atomic<const HookList*> lists[K5HOOK_MAX_EVENT];
  std::atomic<bool> reserved[K5HOOK_MAX_EVENT];
  std::vector<const HookList*> retired;  // old snapshots, freed with the interface
};

K5HookInterface* k5hook_newInterface() {
  auto* hooks = new K5HookInterface;
  for (auto& list : hooks->lists) list = nullptr;
  for (auto& flag : hooks->reserved) flag = false;
  return hooks;
}

void k5hook_freeInterface(K5HookInterface* hooks) {
  if (!hooks) return;
  for (auto& list : hooks->lists) delete list.load();
  for (const HookList* list : hooks->retired) delete list;
  delete hooks;
}

void k5hook_unregisterAll(K5HookInterface* hooks, K5HookFunction function) {
  if (!hooks) return;
  std::lock_guard<std::mutex> guard(hooks->lock);
  for (auto& slot : hooks->lists) {
    const HookList* old = slot.load();
    if (!old) continue;
    auto* fresh = new HookList;
    for (const Registration& entry : *old)
      if (entry.function != function) fresh->push_back(entry);
    slot = fresh;
    hooks->retired.push_back(old);
  }
}

extern "C" {

int32_t k5hook_reserve(K5HookInterface* hooks, uintptr_t eventNum) {
  if (!hooks || eventNum >= K5HOOK_MAX_EVENT) return -1;
  hooks->reserved[eventNum] = true;
  return 0;
}

int32_t k5hook_isReserved(K5HookInterface* hooks, uintptr_t eventNum) {
  return hooks && eventNum < K5HOOK_MAX_EVENT && hooks->reserved[eventNum] ? 1 : 0;
}

int32_t k5hook_register(K5HookInterface* hooks, uintptr_t eventNum, K5HookFunction function, void* userData) {
  if (!hooks || !function || eventNum >= K5HOOK_MAX_EVENT) return -1;
  std::lock_guard<std::mutex> guard(hooks->lock);
  const HookList* old = hooks->lists[eventNum].load();
  auto* fresh = old ? new HookList(*old) : new HookList;
  fresh->push_back({function, userData});
  hooks->lists[eventNum] = fresh;
  if (old) hooks->retired.push_back(old);
  return 0;
}

void k5hook_unregister(K5HookInterface* hooks, uintptr_t eventNum, K5HookFunction function, void* userData) {
  if (!hooks || eventNum >= K5HOOK_MAX_EVENT) return;
  std::lock_guard<std::mutex> guard(hooks->lock);
  const HookList* old = hooks->lists[eventNum].load();
  if (!old) return;
  auto* fresh = new HookList(*old);
  for (auto it = fresh->begin(); it != fresh->end(); ++it) {
    if (it->function == function && it->userData == userData) {
      fresh->erase(it);
      break;
    }
  }
  hooks->lists[eventNum] = fresh;
  hooks->retired.push_back(old);
}

void k5hook_dispatch(K5HookInterface* hooks, uintptr_t eventNum, void* eventData) {
  if (!hooks || eventNum >= K5HOOK_MAX_EVENT) return;
  const HookList* list = hooks->lists[eventNum].load(std::memory_order_acquire);
  if (!list) return;
  for (const Registration& entry : *list) entry.function(hooks, eventNum, eventData, entry.userData);
}

int32_t k5hook_isHooked(K5HookInterface* hooks, uintptr_t eventNum) {
  if (!hooks || eventNum >= K5HOOK_MAX_EVENT) return 0;
  const HookList* list = hooks->lists[eventNum].load(std::memory_order_acquire);
  return list && !list->empty() ? 1 : 0;
}

}  // extern "C"

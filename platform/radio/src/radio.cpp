// What happens in the air over time: inquiries and discoveries on threads of their own, stack
// status changes on the status thread, and counters for tests.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "radio_internal.h"
#include "vork/core_internal.h"
#include "vork/radio.h"
#include "vork/radio_control.h"

namespace vork::radio {

// ---- Counters --------------------------------------------------------------------------------

namespace {
std::mutex& counterLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
std::map<std::string, long>& counters() {
  static auto* table = new std::map<std::string, long>;
  return *table;
}
}  // namespace

void count(const char* what) {
  std::lock_guard<std::mutex> guard(counterLock());
  ++counters()[what];
}

long counter(const char* what) {
  std::lock_guard<std::mutex> guard(counterLock());
  auto found = counters().find(what);
  return found == counters().end() ? 0 : found->second;
}

// ---- Activities ------------------------------------------------------------------------------
// A timed list of steps run on the activity's thread. Steps are called without the lock; stop()
// waits for the thread, so no step runs after it returns.

struct Activity {
  struct Step {
    std::chrono::nanoseconds at;
    std::function<void()> run;
  };
  std::vector<Step> steps;  // by time
  std::mutex lock;
  std::condition_variable wake;
  bool stopping = false;
  bool selfStopped = false;  // stop() was called from a step: the thread frees the activity
  std::thread thread;
};

namespace {

void runActivity(Activity* activity) {
  auto start = std::chrono::steady_clock::now();
  for (Activity::Step& step : activity->steps) {
    {
      std::unique_lock<std::mutex> lock(activity->lock);
      if (activity->wake.wait_until(lock, start + step.at, [activity] { return activity->stopping; })) break;
    }
    step.run();
    std::lock_guard<std::mutex> guard(activity->lock);
    if (activity->stopping) break;
  }
  // Stay until stopped, so an activity that never completes keeps its thread like a stack would.
  std::unique_lock<std::mutex> lock(activity->lock);
  activity->wake.wait(lock, [activity] { return activity->stopping; });
  if (activity->selfStopped) {
    lock.unlock();
    delete activity;
  }
}

Activity* launch(Activity* activity) {
  std::stable_sort(activity->steps.begin(), activity->steps.end(),
                   [](const Activity::Step& a, const Activity::Step& b) { return a.at < b.at; });
  try {
    activity->thread = std::thread(runActivity, activity);
  } catch (const std::system_error&) {
    delete activity;
    return nullptr;
  }
  return activity;
}

}  // namespace

void stop(Activity* activity) {
  if (!activity) return;
  bool self = std::this_thread::get_id() == activity->thread.get_id();
  {
    std::lock_guard<std::mutex> guard(activity->lock);
    activity->stopping = true;
    activity->selfStopped = self;
  }
  activity->wake.notify_all();
  if (self) {
    activity->thread.detach();
    return;
  }
  activity->thread.join();
  delete activity;
}

Activity* startInquiry(InquiryCallbacks callbacks) {
  auto air = currentAir();
  count("inquiries");
  if (air->inquiry == Outcome::Fail) return nullptr;
  auto* activity = new Activity;
  auto shared = std::make_shared<InquiryCallbacks>(std::move(callbacks));
  auto responded = std::make_shared<std::vector<Address>>();
  for (const Device& device : air->devices) {
    for (unsigned k = 0; k < device.responses; ++k) {
      uint64_t ms = device.firstResponseMs + uint64_t(k) * device.intervalMs;
      if (air->inquiry == Outcome::Complete && ms >= air->inquiryMs) break;
      activity->steps.push_back({hostDuration(static_cast<DWORD>(std::min<uint64_t>(ms, 0x7FFFFFFF))),
                                 [shared, responded, air, &device] {
                                   if (std::find(responded->begin(), responded->end(), device.address) ==
                                       responded->end())
                                     responded->push_back(device.address);
                                   if (shared->responded) shared->responded(device);
                                 }});
    }
  }
  if (air->inquiry == Outcome::Complete) {
    activity->steps.push_back({hostDuration(air->inquiryMs), [shared, responded] {
                                 if (shared->completed) shared->completed(true, static_cast<int>(responded->size()));
                               }});
  }
  return launch(activity);
}

Activity* startDiscovery(const Address& address, std::function<void(const Records&)> completed) {
  auto air = currentAir();
  count("discoveries");
  if (air->discovery == Outcome::Fail) return nullptr;
  auto* activity = new Activity;
  if (air->discovery == Outcome::Complete) {
    Records records;
    if (const Device* device = air->find(address)) records = device->records;
    activity->steps.push_back({hostDuration(air->discoveryMs), [completed, records] { completed(records); }});
  }
  return launch(activity);
}

// ---- Stack status ----------------------------------------------------------------------------
// One status thread delivers changes in order; while stacks listen it also watches the air file,
// so a status line written there by another process reaches them.

namespace {

struct StatusHub {
  std::recursive_mutex calling;  // held while callbacks run
  std::mutex lock;
  std::condition_variable wake;
  std::map<int, std::function<void(int)>> subscribers;
  std::deque<int> queue;
  long queued = 0, delivered = 0;
  int nextId = 1;
  bool running = false;
};

StatusHub& hub() {
  static StatusHub* instance = new StatusHub;  // the status thread outlives static destruction
  return *instance;
}

void statusThread() {
  StatusHub& h = hub();
  while (true) {
    int status;
    {
      std::unique_lock<std::mutex> lock(h.lock);
      h.wake.wait_for(lock, std::chrono::milliseconds(50), [&h] { return !h.queue.empty(); });
      if (h.queue.empty()) {
        bool listening = !h.subscribers.empty();
        lock.unlock();
        if (listening) currentAir();  // notices a changed file and queues its status
        continue;
      }
      status = h.queue.front();
      h.queue.pop_front();
    }
    {
      std::lock_guard<std::recursive_mutex> calling(h.calling);
      std::vector<std::function<void(int)>> targets;
      {
        std::lock_guard<std::mutex> guard(h.lock);
        for (auto& entry : h.subscribers) targets.push_back(entry.second);
      }
      for (auto& target : targets) target(status);
      count("status");
    }
    {
      std::lock_guard<std::mutex> guard(h.lock);
      ++h.delivered;
    }
    h.wake.notify_all();
  }
}

// Under h.lock.
void ensureThread(StatusHub& h) {
  if (h.running) return;
  h.running = true;
  std::thread(statusThread).detach();
}

}  // namespace

void queueStatus(int status) {
  StatusHub& h = hub();
  {
    std::lock_guard<std::mutex> guard(h.lock);
    h.queue.push_back(status);
    ++h.queued;
    ensureThread(h);
  }
  h.wake.notify_all();
}

int subscribeStatus(std::function<void(int)> changed) {
  StatusHub& h = hub();
  std::lock_guard<std::mutex> guard(h.lock);
  int id = h.nextId++;
  h.subscribers[id] = std::move(changed);
  ensureThread(h);
  return id;
}

void unsubscribeStatus(int subscription) {
  StatusHub& h = hub();
  std::lock_guard<std::recursive_mutex> calling(h.calling);
  std::lock_guard<std::mutex> guard(h.lock);
  h.subscribers.erase(subscription);
}

}  // namespace vork::radio

using namespace vork::radio;

extern "C" void VorkRadio_StackStatus(int status) {
  StatusHub& h = hub();
  long ticket;
  {
    std::lock_guard<std::mutex> guard(h.lock);
    h.queue.push_back(status);
    ticket = ++h.queued;
    ensureThread(h);
  }
  h.wake.notify_all();
  std::unique_lock<std::mutex> lock(h.lock);
  h.wake.wait(lock, [&h, ticket] { return h.delivered >= ticket; });
}

extern "C" long VorkRadio_Counter(const char* what) { return counter(what ? what : ""); }

extern "C" void VorkRadio_ResetCounters() {
  std::lock_guard<std::mutex> guard(counterLock());
  counters().clear();
}

// Agents and workloads: loading agent libraries through their entry points, and playing a
// workload text that makes the VM do what a Java program would (threads, classes, calls,
// allocations, collections, monitors, references, compiled code, dumps, shutdown).
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "internal.h"

namespace {

K5VMPrivate* priv(K5JavaVM* vm) { return vm->privateData; }

// ---- Agents ------------------------------------------------------------------------------------

const char* keepText(K5JavaVM* vm, const std::string& text) { return vmIntern(vm, text); }

}  // namespace

int k5sim_loadAgent(K5JavaVM* vm, const std::string& library, const std::string& options, std::string* error) {
  K5VMPrivate* p = priv(vm);
  std::string path = library.find('/') != std::string::npos ? library : p->libraryPath + "/lib" + library + ".so";
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!handle) {
    if (error) *error = "Could not load the agent library " + path + ": " + dlerror();
    return -1;
  }
  K5SimAgent agent;
  agent.library = library;
  agent.options = options;
  agent.handle = handle;
  bool analyzer = library == "K5PRF24" && options == "\x01analyze";
  agent.analyzer = analyzer;
  {
    std::lock_guard<std::recursive_mutex> guard(p->classLock);
    p->agents.push_back(agent);
  }
  if (analyzer) {
    auto main = reinterpret_cast<K5VMDllMainFunction>(dlsym(handle, "K5VMDllMain"));
    if (!main) {
      if (error) *error = "The agent library " + path + " has no entry point K5VMDllMain";
      return -1;
    }
    jint result = main(reinterpret_cast<JavaVM*>(vm), K5VM_STAGE_AGENTS_STARTED, nullptr);
    if (result != 0 && error) *error = "K5VMDllMain of " + path + " failed (" + std::to_string(result) + ")";
    return result;
  }
  auto onLoad = reinterpret_cast<K5AgentOnLoad>(dlsym(handle, "JVM_OnLoad"));
  if (!onLoad) {
    if (error) *error = "The agent library " + path + " has no entry point JVM_OnLoad";
    return -1;
  }
  jint result = onLoad(reinterpret_cast<JavaVM*>(vm), const_cast<char*>(keepText(vm, options)), nullptr);
  if (result != 0 && error) *error = "JVM_OnLoad of " + path + " failed (" + std::to_string(result) + ")";
  return result;
}

int k5sim_loadAgents(K5JavaVM* vm, std::string* error) {
  K5VMPrivate* p = priv(vm);
  std::vector<K5SimAgent> requested;
  {
    std::lock_guard<std::recursive_mutex> guard(p->classLock);
    requested.swap(p->agents);
  }
  std::stable_partition(requested.begin(), requested.end(),
                        [](const K5SimAgent& agent) { return agent.library == "K5JPI24" && !agent.analyzer; });
  for (const K5SimAgent& agent : requested) {
    int result = k5sim_loadAgent(vm, agent.library, agent.analyzer ? "\x01analyze" : agent.options, error);
    if (result != 0) return result;
  }
  return 0;
}

void k5sim_initialized(K5JavaVM* vm) {
  K5VMThread* thread = k5vm_currentThread(vm);
  k5vm_acquireVMAccess(thread);
  K5VMThreadEvent event{thread};
  k5hook_dispatch(vm->vmHooks, K5HOOK_VM_INITIALIZED, &event);
  K5VMThreadEvent ready{thread};
  k5hook_dispatch(vm->vmHooks, K5HOOK_VM_HEAP_READY, &ready);
  k5vm_releaseVMAccess(thread);
}


void k5sim_shutdown(K5JavaVM* vm, int exitCode) {
  k5sim_endThreads(vm);
  K5VMThread* thread = k5vm_currentThread(vm);
  if (thread) {
    k5vm_acquireVMAccess(thread);
    K5VMShutdownEvent event{thread, exitCode};
    k5hook_dispatch(vm->vmHooks, K5HOOK_VM_SHUTTING_DOWN, &event);
    k5vm_releaseVMAccess(thread);
  }
  std::vector<K5SimAgent> agents;
  {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
    agents = priv(vm)->agents;
  }
  for (const K5SimAgent& agent : agents) {
    if (!agent.handle) continue;
    auto onUnload = reinterpret_cast<K5AgentOnUnload>(dlsym(agent.handle, "JVM_OnUnload"));
    if (onUnload) onUnload(reinterpret_cast<JavaVM*>(vm));
  }
}

// ---- Direct operations ---------------------------------------------------------------------------

K5Method* k5sim_findMethod(K5Class* clazz, const std::string& name, const std::string& signature) {
  for (K5Class* c = clazz; c; c = c->superclass)
    for (uint32_t i = 0; i < c->methodCount; i++)
      if (name == c->methods[i].name && (signature.empty() || signature == c->methods[i].signature))
        return &c->methods[i];
  return nullptr;
}

void k5sim_enterMethod(K5VMThread* thread, K5Method* method, K5Object* receiver, uintptr_t pc, bool second) {
  K5VMThreadPrivate* t = thread->privateData;
  if (t->depth == t->stack.size()) t->stack.emplace_back();
  Frame& frame = t->stack[t->depth++];
  frame.slots.clear();
  frame.method = method;
  frame.pc = pc;
  frame.jni = (method->modifiers & K5_ACC_NATIVE) != 0;
  frame.localRefMark = t->localRefs.size();
  if (!(method->modifiers & K5_ACC_STATIC)) frame.slots.push_back(receiver);
  uintptr_t event = frame.jni ? K5HOOK_VM_NATIVE_METHOD_ENTER : K5HOOK_VM_METHOD_ENTER;
  K5HookInterface* hooks = thread->javaVM->vmHooks;
  if (!k5hook_isHooked(hooks, event)) return;
  K5VMMethodEvent data{thread, method, frame.slots.empty() ? nullptr : frame.slots.data(), second ? 1u : 0u};
  k5hook_dispatch(hooks, event, &data);
}

void k5sim_returnMethod(K5VMThread* thread) {
  K5VMThreadPrivate* t = thread->privateData;
  if (t->depth == 0) return;
  Frame& frame = t->stack[t->depth - 1];
  uintptr_t event = frame.jni ? K5HOOK_VM_NATIVE_METHOD_RETURN : K5HOOK_VM_METHOD_RETURN;
  K5HookInterface* hooks = thread->javaVM->vmHooks;
  if (k5hook_isHooked(hooks, event)) {
    K5VMMethodEvent data{thread, frame.method, frame.slots.empty() ? nullptr : frame.slots.data(), 0};
    k5hook_dispatch(hooks, event, &data);
  }
  if (t->localRefs.size() > frame.localRefMark) t->localRefs.resize(frame.localRefMark);
  frame.slots.clear();
  t->depth--;
}

namespace {

K5Object* allocateWithEvent(K5VMThread* thread, K5Class* clazz, uint32_t size, uint32_t flags, uint32_t length,
                            bool small) {
  K5JavaVM* vm = thread->javaVM;
  K5MemorySegment* segment = nullptr;
  K5Object* object = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->heapLock);
    size = (size + 7) & ~7u;
    for (K5MemorySegment* s = vm->objectSegments; s && !object; s = s->nextSegment) {
      if (!(s->type & K5_MEMORY_TYPE_OBJECT) || !(s->type & K5_MEMORY_TYPE_NEW)) continue;
      if (static_cast<uintptr_t>(s->heapTop - s->heapAlloc) < size) continue;
      object = reinterpret_cast<K5Object*>(s->heapAlloc);
      memset(object, 0, size);
      object->clazz = clazz;
      object->size = size;
      object->flags = flags;
      if (flags & K5_OBJECT_ARRAY) reinterpret_cast<K5ArrayObject*>(object)->length = length;
      s->heapAlloc += size;
      segment = s;
    }
  }
  if (!object) return nullptr;
  uintptr_t event = small ? K5HOOK_VM_OBJECT_ALLOCATE_WITHIN_THRESHOLD : K5HOOK_VM_OBJECT_ALLOCATE;
  if (k5hook_isHooked(vm->vmHooks, event)) {
    K5VMObjectAllocateEvent data{thread, object, size, segment};
    k5hook_dispatch(vm->vmHooks, event, &data);
  }
  return object;
}

}  // namespace

K5Object* k5sim_allocate(K5VMThread* thread, K5Class* clazz) {
  if (!clazz) return nullptr;
  return allocateWithEvent(thread, clazz, K5_OBJECT_HEADER_SIZE + clazz->instanceSize, 0, 0, false);
}

K5Object* k5sim_allocateArray(K5VMThread* thread, K5Class* arrayClass, uint32_t length) {
  if (!arrayClass || !(arrayClass->flags & K5_CLASS_ARRAY)) return nullptr;
  uint64_t size = K5_ARRAY_HEADER_SIZE + static_cast<uint64_t>(arrayClass->elementSize) * length;
  if (size > 0x7FFFFFFF) return nullptr;
  return allocateWithEvent(thread, arrayClass, static_cast<uint32_t>(size), K5_OBJECT_ARRAY, length, false);
}

K5Object* k5sim_namedObject(K5JavaVM* vm, const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
  auto found = priv(vm)->namedObjects.find(name);
  return found == priv(vm)->namedObjects.end() ? nullptr : found->second;
}

K5VMThread* k5sim_namedThread(K5JavaVM* vm, const std::string& name) {
  if (name == "main") return vm->mainThread;
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->threadListLock);
  auto found = priv(vm)->namedThreads.find(name);
  return found == priv(vm)->namedThreads.end() ? nullptr : found->second;
}

uint32_t k5sim_notificationFlags(K5VMThread* thread, uint32_t flags) {
  K5VMNotificationFlagsEvent event{thread, flags};
  k5hook_dispatch(thread->javaVM->vmHooks, K5HOOK_VM_NOTIFICATION_FLAGS, &event);
  return event.flags;
}

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string current;
  std::istringstream stream(text);
  while (std::getline(stream, current, separator)) parts.push_back(current);
  return parts;
}

std::vector<std::string> tokens(const std::string& line) {
  std::vector<std::string> result;
  std::istringstream stream(line);
  std::string token;
  while (stream >> token) result.push_back(token);
  return result;
}

bool parseNumber(const std::string& text, uint64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = strtoull(text.c_str(), &end, 0);
  if (errno || !end || *end || text[0] == '-') return false;
  *value = parsed;
  return true;
}

// Decodes \xHH escapes of a bytes= text.
std::string decodeBytes(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\\' && i + 3 < text.size() + 0 && text[i + 1] == 'x') {
      out.push_back(static_cast<char>(strtol(text.substr(i + 2, 2).c_str(), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string printable(const uint8_t* data, uintptr_t length) {
  std::string out;
  char hex[8];
  for (uintptr_t i = 0; i < length; i++) {
    if (data[i] >= 0x20 && data[i] < 0x7F && data[i] != '\\') {
      out.push_back(static_cast<char>(data[i]));
    } else {
      snprintf(hex, sizeof hex, "\\x%02X", data[i]);
      out += hex;
    }
  }
  return out;
}

void freeClassBytes(void*, void* data) { free(data); }

}  // namespace

K5Class* k5sim_loadClass(K5VMThread* thread, const std::string& name, std::string* error) {
  K5JavaVM* vm = thread->javaVM;
  ClassDeclaration declaration;
  {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
    auto found = priv(vm)->declarations.find(name);
    if (found == priv(vm)->declarations.end()) {
      if (error) *error = "class " + name + " is not declared";
      return nullptr;
    }
    declaration = found->second;
  }
  if (k5vm_findClass(vm, name.c_str(), nullptr)) {
    if (error) *error = "class " + name + " is already loaded";
    return nullptr;
  }
  std::string bytes = declaration.bytes.empty() ? "\xCA\xFE\xBA\xBE" + name : declaration.bytes;
  auto* data = static_cast<uint8_t*>(malloc(bytes.size() + 1));
  memcpy(data, bytes.data(), bytes.size());
  K5VMClassLoadHookEvent hook{};
  hook.currentThread = thread;
  hook.className = name.c_str();
  hook.classNameLength = name.size();
  hook.classLoader = declaration.loaderObject.empty() ? nullptr : k5sim_namedObject(vm, declaration.loaderObject);
  hook.classData = data;
  hook.classDataLength = bytes.size();
  hook.freeFunction = freeClassBytes;
  hook.freeUserData = nullptr;
  k5hook_dispatch(vm->vmHooks, K5HOOK_VM_CLASS_LOAD_HOOK, &hook);
  std::string defined = printable(hook.classData, hook.classDataLength);
  {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
    priv(vm)->definedBytes[name] = defined;
  }
  vmLog(vm, "define " + name + " " + std::to_string(hook.classDataLength) + " " + defined);
  if (hook.freeFunction) hook.freeFunction(hook.freeUserData, hook.classData);
  K5Class* clazz = vmDefineClass(vm, declaration, error);
  if (!clazz) return nullptr;
  K5VMClassEvent event{thread, clazz};
  k5hook_dispatch(vm->vmHooks, K5HOOK_VM_CLASS_LOAD, &event);
  return clazz;
}

// ---- Workload player ---------------------------------------------------------------------------------

namespace {

struct Worker {
  std::string name, group, parent;
  bool withObject = true;
  bool daemon = false;
  K5JavaVM* vm = nullptr;
  K5VMThread* thread = nullptr;
  k5thread_t os = nullptr;
  std::mutex mutex;
  std::condition_variable cond;
  std::function<void(K5VMThread*)> task;
  bool busy = false;
  bool ready = false;
  bool finished = false;
  bool quit = false;
  std::string error;
};

int workerMain(void* argument) {
  auto* worker = static_cast<Worker*>(argument);
  K5VMThread* thread = vmNewThread(worker->vm, worker->name, worker->group, worker->parent, worker->withObject,
                                   worker->daemon);
  {
    std::lock_guard<std::recursive_mutex> guard(priv(worker->vm)->threadListLock);
    priv(worker->vm)->namedThreads[worker->name] = thread;
  }
  vmStartedThread(thread);
  {
    std::lock_guard<std::mutex> guard(worker->mutex);
    worker->thread = thread;
    worker->ready = true;
  }
  worker->cond.notify_all();
  while (true) {
    std::function<void(K5VMThread*)> task;
    bool quit;
    {
      std::unique_lock<std::mutex> lock(worker->mutex);
      worker->cond.wait(lock, [&] { return worker->busy || worker->quit; });
      task = worker->task;
      quit = worker->quit && !worker->busy;
    }
    if (quit) break;
    k5vm_acquireVMAccess(thread);
    task(thread);
    k5vm_releaseVMAccess(thread);
    {
      std::lock_guard<std::mutex> guard(worker->mutex);
      worker->busy = false;
    }
    worker->cond.notify_all();
  }
  vmEndThread(thread);
  // Notify under the lock: the player frees the worker as soon as it sees it finished.
  std::lock_guard<std::mutex> guard(worker->mutex);
  worker->finished = true;
  worker->cond.notify_all();
  return 0;
}

using Workers = std::map<std::string, std::unique_ptr<Worker>>;
// The threads a workload started live on across workloads played on the same VM.
std::mutex workersLock;
std::map<K5JavaVM*, Workers>& allWorkers() {
  static auto* all = new std::map<K5JavaVM*, Workers>;
  return *all;
}
Workers& workersOf(K5JavaVM* vm) {
  std::lock_guard<std::mutex> guard(workersLock);
  return allWorkers()[vm];
}

struct Player {
  K5JavaVM* vm;
  Workers& workers;
  std::string error;
  int line = 0;
  bool stop = false;
  int exitCode = 0;

  bool fail(const std::string& message) {
    error = "line " + std::to_string(line) + ": " + message;
    return false;
  }

  static bool blockedOrDone(Worker* worker) {
    if (!worker->busy) return true;
    uintptr_t flags = k5thread_get_flags(worker->os, nullptr);
    return flags & (K5THREAD_FLAG_BLOCKED | K5THREAD_FLAG_WAITING | K5THREAD_FLAG_TIMED_WAIT |
                    K5THREAD_FLAG_SUSPENDED | K5THREAD_FLAG_SLEEPING);
  }

  // Waits until the worker finished its step, or is blocked in it (then the step goes on
  // while the workload continues).
  bool settle(Worker* worker, bool untilDone) {
    std::unique_lock<std::mutex> lock(worker->mutex);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (untilDone ? worker->busy : !blockedOrDone(worker)) {
      if (std::chrono::steady_clock::now() >= deadline)
        return fail("thread " + worker->name + " did not finish its step");
      // A worker that blocks in its step does not signal: look again shortly.
      worker->cond.wait_for(lock, std::chrono::milliseconds(1));
    }
    return true;
  }

  bool run(const std::string& threadName, const std::function<void(K5VMThread*)>& task) {
    if (threadName == "main") {
      K5VMThread* thread = vm->mainThread;
      k5vm_acquireVMAccess(thread);
      task(thread);
      k5vm_releaseVMAccess(thread);
      return error.empty();
    }
    auto found = workers.find(threadName);
    if (found == workers.end()) return fail("no thread " + threadName);
    Worker* worker = found->second.get();
    if (!settle(worker, true)) return false;
    {
      std::lock_guard<std::mutex> guard(worker->mutex);
      worker->task = task;
      worker->busy = true;
    }
    worker->cond.notify_all();
    return settle(worker, false) && error.empty();
  }

  bool endWorker(const std::string& name) {
    auto found = workers.find(name);
    if (found == workers.end()) return fail("no thread " + name);
    Worker* worker = found->second.get();
    if (!settle(worker, true)) return false;
    {
      std::lock_guard<std::mutex> guard(worker->mutex);
      worker->quit = true;
    }
    worker->cond.notify_all();
    std::unique_lock<std::mutex> lock(worker->mutex);
    if (!worker->cond.wait_for(lock, std::chrono::seconds(20), [&] { return worker->finished; }))
      return fail("thread " + name + " did not end");
    lock.unlock();
    // The host thread returns right after; give it a moment so its record is complete.
    workers.erase(found);
    return true;
  }

  K5Object* object(const std::string& name) {
    if (name == "null" || name == "-") return nullptr;
    return k5sim_namedObject(vm, name);
  }
  void name(const std::string& key, K5Object* value) {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
    priv(vm)->namedObjects[key] = value;
  }

  // "Class.method(sig)" or "Class.method"
  K5Method* method(const std::string& text) {
    size_t paren = text.find('(');
    std::string head = text.substr(0, paren);
    std::string signature = paren == std::string::npos ? "" : text.substr(paren);
    size_t dot = head.rfind('.');
    if (dot == std::string::npos) return nullptr;
    K5Class* clazz = k5vm_findClass(vm, head.substr(0, dot).c_str(), nullptr);
    return clazz ? k5sim_findMethod(clazz, head.substr(dot + 1), signature) : nullptr;
  }

  K5Class* typeClass(const std::string& type) {
    if (type.size() == 1) return k5vm_primitiveClass(vm, type[0]);
    return k5vm_findClass(vm, type.c_str(), nullptr);
  }

  bool step(std::vector<std::string> words, std::map<std::string, std::string>& options,
            std::vector<std::string>& flags);
  bool play(const std::string& text);
};

void parseOptions(std::vector<std::string>& words, std::map<std::string, std::string>& options,
                  std::vector<std::string>& flags) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < words.size(); i++) {
    size_t equals = words[i].find('=');
    if (i > 0 && equals != std::string::npos && equals > 0) {
      options[words[i].substr(0, equals)] = words[i].substr(equals + 1);
    } else {
      rest.push_back(words[i]);
    }
  }
  words = rest;
  flags = rest;
}

bool hasFlag(const std::vector<std::string>& flags, const char* flag) {
  for (const std::string& word : flags)
    if (word == flag) return true;
  return false;
}

bool Player::step(std::vector<std::string> words, std::map<std::string, std::string>& options,
                  std::vector<std::string>& flags) {
  // The first word names a thread (main or one started by the workload) or a VM-wide step.
  std::string threadName = "main";
  if (words[0] == "main" || workers.count(words[0])) {
    threadName = words[0];
    words.erase(words.begin());
    if (words.empty()) return fail("a step is missing after the thread name");
  }
  const std::string command = words[0];
  auto arg = [&](size_t i) -> std::string { return i < words.size() ? words[i] : std::string(); };

  if (command == "start") {
    std::string threadKey = arg(1);
    if (threadKey.empty() || threadKey == "main" || workers.count(threadKey)) return fail("bad thread name");
    auto worker = std::make_unique<Worker>();
    worker->vm = vm;
    worker->name = options.count("name") ? options["name"] : threadKey;
    worker->group = options.count("group") ? options["group"] : "main";
    worker->parent = options.count("parent") ? options["parent"] : (worker->group == "system" ? "" : "system");
    if (options.count("group") && options["group"] == "-") worker->group.clear();
    worker->withObject = !hasFlag(flags, "noobject");
    worker->daemon = hasFlag(flags, "daemon");
    Worker* raw = worker.get();
    if (k5thread_create(&raw->os, 0, K5THREAD_PRIORITY_NORMAL, 0, workerMain, raw) != K5THREAD_SUCCESS)
      return fail("could not start thread " + threadKey);
    std::unique_lock<std::mutex> lock(raw->mutex);
    raw->cond.wait(lock, [&] { return raw->ready; });
    lock.unlock();
    {
      std::lock_guard<std::recursive_mutex> guard(priv(vm)->threadListLock);
      priv(vm)->namedThreads[threadKey] = raw->thread;
    }
    workers[threadKey] = std::move(worker);
    return true;
  }
  if (command == "end") {
    if (threadName == "main") return fail("the main thread ends with shutdown");
    return endWorker(threadName);
  }
  if (command == "load") {
    std::string className = arg(1);
    std::string failure;
    bool ok = run(threadName, [&](K5VMThread* thread) {
      if (!k5sim_loadClass(thread, className, &failure)) {
      }
    });
    if (!failure.empty()) return fail(failure);
    return ok;
  }
  if (command == "unload") {
    K5Class* clazz = k5vm_findClass(vm, arg(1).c_str(), nullptr);
    if (!clazz) return fail("class " + arg(1) + " is not loaded");
    return run(threadName, [&](K5VMThread* thread) {
      K5VMClassEvent event{thread, clazz};
      k5hook_dispatch(vm->vmHooks, K5HOOK_VM_CLASS_UNLOAD, &event);
      clazz->flags |= K5_CLASS_UNLOADED;
    });
  }
  if (command == "call") {
    K5Method* target = method(arg(1));
    if (!target) return fail("no method " + arg(1));
    K5Object* receiver = nullptr;
    if (options.count("this")) {
      receiver = object(options["this"]);
      if (!receiver && options["this"] != "null") return fail("no object " + options["this"]);
    }
    uint64_t pc = 0;
    if (options.count("pc") && !parseNumber(options["pc"], &pc)) return fail("bad pc");
    bool second = hasFlag(flags, "second");
    return run(threadName, [&](K5VMThread* thread) { k5sim_enterMethod(thread, target, receiver, pc, second); });
  }
  if (command == "at") {
    uint64_t pc = 0;
    if (!parseNumber(arg(1), &pc)) return fail("bad pc");
    return run(threadName, [&](K5VMThread* thread) {
      K5VMThreadPrivate* t = thread->privateData;
      if (t->depth) t->stack[t->depth - 1].pc = pc;
    });
  }
  if (command == "return") {
    return run(threadName, [&](K5VMThread* thread) { k5sim_returnMethod(thread); });
  }
  if (command == "alloc") {
    K5Class* clazz = k5vm_findClass(vm, arg(2).c_str(), nullptr);
    if (!clazz) return fail("class " + arg(2) + " is not loaded");
    std::string key = arg(1);
    bool small = hasFlag(flags, "small");
    return run(threadName, [&](K5VMThread* thread) {
      K5Object* made = allocateWithEvent(thread, clazz, K5_OBJECT_HEADER_SIZE + clazz->instanceSize, 0, 0, small);
      if (!made) fail("the heap is full");
      name(key, made);
    });
  }
  if (command == "newarray") {
    K5Class* element = typeClass(arg(2));
    uint64_t length = 0, dims = 1;
    if (!element) return fail("no element type " + arg(2));
    if (!parseNumber(arg(3), &length) || length > 1000000) return fail("bad array length");
    if (options.count("dims") && (!parseNumber(options["dims"], &dims) || dims == 0 || dims > 255))
      return fail("bad dims");
    K5Class* arrayClass = k5sim_arrayClassOf(vm, element, static_cast<uint32_t>(dims));
    std::string key = arg(1);
    return run(threadName, [&](K5VMThread* thread) {
      K5Object* made = k5sim_allocateArray(thread, arrayClass, static_cast<uint32_t>(length));
      if (!made) fail("the heap is full");
      name(key, made);
    });
  }
  if (command == "gc") {
    std::vector<std::string> moves = options.count("move") ? split(options["move"], ',') : std::vector<std::string>();
    std::vector<std::string> frees = options.count("free") ? split(options["free"], ',') : std::vector<std::string>();
    for (const std::vector<std::string>* list : {&moves, &frees})
      for (const std::string& key : *list)
        if (!object(key)) return fail("no object " + key);
    bool local = hasFlag(flags, "local");
    bool ok = run(threadName, [&](K5VMThread* thread) {
      k5vm_acquireExclusiveVMAccess(thread);
      K5VMThreadEvent start{thread};
      k5hook_dispatch(vm->gcHooks, local ? K5HOOK_GC_LOCAL_START : K5HOOK_GC_GLOBAL_START, &start);
      // Names are looked up as the collection goes: a moved object is freed at its new place,
      // and a name freed twice is freed once.
      for (const std::string& key : moves)
        if (K5Object* target = object(key)) vmMoveObject(thread, target);
      for (const std::string& key : frees)
        if (K5Object* target = object(key)) vmFreeObject(thread, target);
      K5VMThreadEvent end{thread};
      k5hook_dispatch(vm->gcHooks, local ? K5HOOK_GC_LOCAL_END : K5HOOK_GC_GLOBAL_END, &end);
      k5vm_releaseExclusiveVMAccess(thread);
    });
    {
      std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
      for (const std::string& key : frees) priv(vm)->namedObjects.erase(key);
    }
    return ok;
  }
  if (command == "segment") {
    // segment add <name> [size=N] | segment remove <name>
    if (arg(1) == "add") {
      uint64_t size = 256 * 1024;
      if (options.count("size") && (!parseNumber(options["size"], &size) || size < 4096 || size > (64u << 20)))
        return fail("bad segment size");
      std::string key = arg(2);
      return run(threadName, [&](K5VMThread* thread) {
        K5MemorySegment* segment =
            vmAddSegment(thread, K5_MEMORY_TYPE_OBJECT | K5_MEMORY_TYPE_OLD, size, vmIntern(vm, key));
        if (!segment) fail("no memory for the segment");
      });
    }
    if (arg(1) == "remove") {
      std::string key = arg(2);
      K5MemorySegment* found = nullptr;
      for (K5MemorySegment* s = vm->objectSegments; s; s = s->nextSegment)
        if (s->spaceName && key == s->spaceName) found = s;
      if (!found) return fail("no segment " + key);
      if (!(found->type & K5_MEMORY_TYPE_OBJECT) || key == "new" || key == "old")
        return fail("segment " + key + " belongs to the VM");
      if (found->heapAlloc != found->heapBase) return fail("segment " + key + " is not empty");
      return run(threadName, [&](K5VMThread* thread) { vmRemoveSegment(thread, found); });
    }
    return fail("segment add or segment remove");
  }
  if (command == "lock" || command == "unlock" || command == "wait" || command == "notify" ||
      command == "notifyall") {
    K5Object* target = object(arg(1));
    if (!target) return fail("no object " + arg(1));
    uint64_t timeout = 0;
    if (command == "wait" && !arg(2).empty() && !parseNumber(arg(2), &timeout)) return fail("bad timeout");
    // The player runs the main thread's steps itself: they must not block for good.
    if (threadName == "main" && command == "wait" && timeout == 0)
      return fail("the main thread cannot wait without a timeout");
    std::string objectName = arg(1);
    return run(threadName, [this, command, target, timeout, threadName, objectName](K5VMThread* thread) {
      ObjectMonitor* entry = vmObjectMonitor(vm, target);
      k5thread_monitor_t monitor = entry->monitor;
      if (command != "lock" && k5thread_monitor_get_owner(monitor) != k5thread_self()) {
        fail("thread " + threadName + " does not own the monitor of " + objectName);
        return;
      }
      if (command == "lock") {
        if (k5thread_monitor_try_enter(monitor) == 0) return;
        if (threadName == "main") {
          fail("the main thread would block on the monitor of " + objectName);
          return;
        }
        K5VMMonitorEvent before{thread, monitor, target};
        k5hook_dispatch(vm->vmHooks, K5HOOK_VM_MONITOR_CONTENDED_ENTER, &before);
        {
          std::lock_guard<std::mutex> guard(priv(vm)->monitorLock);
          entry->contenders++;
        }
        __atomic_store_n(&thread->blockingObject, target, __ATOMIC_SEQ_CST);
        k5vm_releaseVMAccess(thread);
        k5thread_monitor_enter(monitor);
        k5vm_acquireVMAccess(thread);
        // A collection may have moved the object meanwhile: the VM kept this slot current.
        K5Object* current = __atomic_load_n(&thread->blockingObject, __ATOMIC_SEQ_CST);
        __atomic_store_n(&thread->blockingObject, static_cast<K5Object*>(nullptr), __ATOMIC_SEQ_CST);
        {
          std::lock_guard<std::mutex> guard(priv(vm)->monitorLock);
          entry->contenders--;
        }
        K5VMMonitorEvent after{thread, monitor, current};
        k5hook_dispatch(vm->vmHooks, K5HOOK_VM_MONITOR_CONTENDED_ENTERED, &after);
      } else if (command == "unlock") {
        bool contended;
        {
          std::lock_guard<std::mutex> guard(priv(vm)->monitorLock);
          contended = entry->contenders > 0;
        }
        if (contended && k5thread_monitor_get_count(monitor) == 1) {
          K5VMMonitorEvent event{thread, monitor, target};
          k5hook_dispatch(vm->vmHooks, K5HOOK_VM_MONITOR_CONTENDED_EXIT, &event);
        }
        k5thread_monitor_exit(monitor);
      } else if (command == "wait") {
        K5VMMonitorWaitEvent before{thread, monitor, target, static_cast<int64_t>(timeout)};
        k5hook_dispatch(vm->vmHooks, K5HOOK_VM_MONITOR_WAIT, &before);
        k5vm_releaseVMAccess(thread);
        k5thread_monitor_wait_timed(monitor, static_cast<int64_t>(timeout), 0);
        k5vm_acquireVMAccess(thread);
        K5Object* current = static_cast<K5Object*>(k5thread_monitor_get_user_data(monitor));
        K5VMMonitorWaitEvent after{thread, monitor, current, static_cast<int64_t>(timeout)};
        k5hook_dispatch(vm->vmHooks, K5HOOK_VM_MONITOR_WAITED, &after);
      } else if (command == "notify") {
        k5thread_monitor_notify(monitor);
      } else {
        k5thread_monitor_notify_all(monitor);
      }
    });
  }
  if (command == "globalref") {
    K5Object* target = object(arg(2));
    if (!target) return fail("no object " + arg(2));
    std::string key = arg(1);
    bool weak = hasFlag(flags, "weak");
    return run(threadName, [&](K5VMThread* thread) {
      jobject reference = vmNewGlobalRef(thread, target, weak);
      std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
      priv(vm)->namedRefs[key] = reference;
    });
  }
  if (command == "deleteref") {
    jobject reference = nullptr;
    {
      std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
      auto found = priv(vm)->namedRefs.find(arg(1));
      if (found == priv(vm)->namedRefs.end()) return fail("no reference " + arg(1));
      reference = found->second;
      priv(vm)->namedRefs.erase(found);
    }
    return run(threadName, [&](K5VMThread* thread) { vmDeleteGlobalRef(thread, reference); });
  }
  if (command == "suppress") {
    bool on = arg(1) == "on";
    if (!on && arg(1) != "off") return fail("suppress on or suppress off");
    return run(threadName, [&](K5VMThread* thread) {
      if (on)
        __atomic_fetch_or(&thread->privateFlags, K5_PRIVATE_FLAGS_EVENT_SUPPRESSED, __ATOMIC_SEQ_CST);
      else
        __atomic_fetch_and(&thread->privateFlags, ~static_cast<uint32_t>(K5_PRIVATE_FLAGS_EVENT_SUPPRESSED), __ATOMIC_SEQ_CST);
    });
  }
  if (command == "sleep") {
    uint64_t millis = 0;
    if (!parseNumber(arg(1), &millis)) return fail("bad sleep time");
    return run(threadName, [&](K5VMThread* thread) {
      k5vm_releaseVMAccess(thread);
      k5thread_sleep(static_cast<int64_t>(millis));
      k5vm_acquireVMAccess(thread);
    });
  }
  if (command == "jitload" || command == "jitunload") {
    K5Method* target = arg(1) == "-" ? nullptr : method(arg(1));
    if (!target && arg(1) != "-") return fail("no method " + arg(1));
    uint64_t address = 0, size = 0, data = 0;
    if (options.count("addr") && !parseNumber(options["addr"], &address)) return fail("bad addr");
    if (options.count("size") && !parseNumber(options["size"], &size)) return fail("bad size");
    if (options.count("data") && !parseNumber(options["data"], &data)) return fail("bad data");
    uintptr_t event = command == "jitload" ? K5HOOK_VM_COMPILED_CODE_LOAD : K5HOOK_VM_COMPILED_CODE_UNLOAD;
    return run(threadName, [&](K5VMThread* thread) {
      K5VMCompiledCodeEvent record{thread, target, reinterpret_cast<void*>(static_cast<uintptr_t>(address)),
                                   static_cast<uintptr_t>(size), static_cast<uintptr_t>(data)};
      k5hook_dispatch(vm->vmHooks, event, &record);
    });
  }
  if (command == "jitevent") {
    if (!vm->jitHooks) return fail("the VM has no JIT");
    K5Method* target = method(arg(1));
    if (!target) return fail("no method " + arg(1));
    uintptr_t event = hasFlag(flags, "second") ? K5HOOK_JIT_METHOD_EVENT_SECOND : K5HOOK_JIT_METHOD_EVENT;
    return run(threadName, [&](K5VMThread* thread) {
      K5VMMethodEvent record{thread, target, nullptr, 0};
      k5hook_dispatch(vm->jitHooks, event, &record);
    });
  }
  if (command == "notification") {
    uint64_t value = 0;
    if (!parseNumber(arg(1), &value)) return fail("bad flag word");
    return run(threadName, [&](K5VMThread* thread) {
      uint32_t result = k5sim_notificationFlags(thread, static_cast<uint32_t>(value));
      char text[64];
      snprintf(text, sizeof text, "notification flags 0x%X", result);
      vmLog(vm, text);
    });
  }
  if (command == "switch") {
    return run(threadName, [&](K5VMThread* thread) {
      K5VMThreadEvent event{thread};
      k5hook_dispatch(vm->vmHooks, K5HOOK_VM_THREAD_SWITCH, &event);
    });
  }
  if (command == "datadump") {
    // The request comes from a host thread the VM does not know (as a signal would).
    K5VMDataDumpEvent event{nullptr, 0};
    std::thread requester([&] { k5hook_dispatch(vm->vmHooks, K5HOOK_VM_USER_DATA_DUMP, &event); });
    requester.join();
    if (event.result != 0) vmLog(vm, "data dump failed " + std::to_string(event.result));
    return true;
  }
  if (command == "explicitgc") {
    // System.gc(): suppressed while the VM's word says so.
    return run(threadName, [&](K5VMThread* thread) {
      if (!vm->suppressExplicitGC) k5gc_fullCollect(thread);
    });
  }
  if (command == "print") {
    std::string text;
    for (size_t i = 1; i < words.size(); i++) text += (i > 1 ? " " : "") + words[i];
    for (auto& option : options) text += " " + option.first + "=" + option.second;
    vmLog(vm, text);
    printf("%s\n", text.c_str());
    fflush(stdout);
    return true;
  }
  if (command == "shutdown") {
    uint64_t code = 0;
    if (!arg(1).empty() && !parseNumber(arg(1), &code)) return fail("bad exit code");
    exitCode = static_cast<int>(code);
    stop = true;
    return true;
  }
  return fail("unknown step " + command);
}

bool Player::play(const std::string& text) {
  std::istringstream stream(text);
  std::string raw;
  ClassDeclaration* open = nullptr;
  ClassDeclaration pending;
  while (!stop && std::getline(stream, raw)) {
    line++;
    size_t hash = raw.find('#');
    if (hash != std::string::npos) raw = raw.substr(0, hash);
    std::vector<std::string> words = tokens(raw);
    if (words.empty()) continue;
    std::map<std::string, std::string> options;
    std::vector<std::string> flags;
    std::vector<std::string> all = words;
    if (open) {
      parseOptions(words, options, flags);
      if (words[0] == "end") {
        std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
        priv(vm)->declarations[pending.name] = pending;
        open = nullptr;
      } else if (words[0] == "method") {
        if (words.size() < 3 || words[2][0] != '(') return fail("method <name> <signature> [static] [native]");
        ClassDeclaration::M method;
        method.name = words[1];
        method.signature = words[2];
        if (hasFlag(flags, "static")) method.modifiers |= K5_ACC_STATIC;
        if (hasFlag(flags, "native")) method.modifiers |= K5_ACC_NATIVE;
        if (options.count("lines")) {
          for (const std::string& pair : split(options["lines"], ',')) {
            size_t colon = pair.find(':');
            uint64_t pc = 0, number = 0;
            if (colon == std::string::npos || !parseNumber(pair.substr(0, colon), &pc) ||
                !parseNumber(pair.substr(colon + 1), &number))
              return fail("lines=<pc>:<line>,...");
            method.lines.push_back({static_cast<uint32_t>(pc), static_cast<uint32_t>(number)});
          }
        }
        pending.methods.push_back(method);
      } else if (words[0] == "field") {
        if (words.size() < 3) return fail("field <name> <signature> [static]");
        pending.fields.push_back({words[1], words[2], hasFlag(flags, "static") ? uint32_t(K5_ACC_STATIC) : 0u});
      } else if (words[0] == "const") {
        if (words.size() < 3 || (words[1] != "class" && words[1] != "string"))
          return fail("const class <name> | const string <text>");
        pending.constants.push_back({words[1] == "class" ? uint32_t(K5_CP_CLASS) : uint32_t(K5_CP_STRING), words[2]});
      } else {
        return fail("unknown class line " + words[0]);
      }
      continue;
    }
    parseOptions(words, options, flags);
    if (words[0] == "class") {
      if (words.size() < 2) return fail("class <name>");
      pending = ClassDeclaration();
      pending.name = words[1];
      pending.super = options.count("super") ? options["super"] : "";
      pending.source = options.count("source") ? options["source"] : "";
      pending.bytes = options.count("bytes") ? decodeBytes(options["bytes"]) : "";
      pending.loaderObject = options.count("loader") ? options["loader"] : "";
      if (options.count("interfaces")) pending.interfaces = split(options["interfaces"], ',');
      open = &pending;
      continue;
    }
    if (!step(words, options, flags)) return false;
  }
  if (open) return fail("class " + pending.name + " has no end");
  return true;
}

}  // namespace

int k5sim_playText(K5JavaVM* vm, const std::string& text, std::string* error) {
  Player player{vm, workersOf(vm), {}, 0, false, 0};
  bool ok = player.play(text);
  if (!ok) {
    if (error) *error = player.error;
    return -1;
  }
  return player.stop ? player.exitCode : 0;
}

int k5sim_playFile(K5JavaVM* vm, const std::string& path, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    if (error) *error = "cannot read the workload " + path;
    return -1;
  }
  std::stringstream text;
  text << file.rdbuf();
  return k5sim_playText(vm, text.str(), error);
}

void k5sim_endThreads(K5JavaVM* vm) {
  Player player{vm, workersOf(vm), {}, 0, false, 0};
  std::vector<std::string> names;
  for (auto& entry : player.workers) names.push_back(entry.first);
  for (const std::string& name : names) player.endWorker(name);
  std::lock_guard<std::mutex> guard(workersLock);
  allWorkers().erase(vm);
}

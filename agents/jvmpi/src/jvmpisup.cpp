// The JVMPI profiling-interface provider: loaded into the K5 VM through JVM_OnLoad, it stores a
// JVMPI 1.2 interface table in the VM record, turns the VM's, the collector's and the JIT's
// hook events into JVMPI events and answers the interface's utility functions.
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <string>

#include "k5jvmpi.h"
#include "k5vm.h"

#define PROVIDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// ---- State ---------------------------------------------------------------------------------------

enum TracePoint : uint32_t { kTraceDispatchBefore, kTraceDispatchAfter, kTraceAssertion, kTracePointCount };

struct Provider {
  std::atomic<K5JavaVM*> vm{nullptr};
  std::atomic<int> heapWalkable{1};
  K5TraceInterface* trace = nullptr;
  K5TraceModule module{};
  unsigned char active[kTracePointCount] = {};
  // Which groups of dynamic hooks are registered.
  std::mutex hookLock;
  bool entryHooks = false, exitHooks = false, allocHooks = false, freeHook = false, moveHook = false;
};

Provider provider;

K5JavaVM* vmOf() { return provider.vm.load(std::memory_order_acquire); }
K5VMThread* currentThread() {
  K5JavaVM* vm = vmOf();
  return vm ? k5vm_currentThread(vm) : nullptr;
}
K5PortLibrary* port() { return vmOf()->portLibrary; }

void assertion(const char* text, int line) {
  if (provider.trace && provider.trace->Assertion)
    provider.trace->Assertion(currentThread(), &provider.module, kTraceAssertion, text, "jvmpi/jvmpisup", line);
}
#define JVMPI_ASSERT(condition, text)       \
  do {                                      \
    if (!(condition)) assertion(text, __LINE__); \
  } while (0)

// ---- Masks ----------------------------------------------------------------------------------------

volatile uint32_t* maskFor(K5JavaVM* vm, jint type, uint32_t* bit) {
  if (type >= 1 && type <= 32) {
    *bit = 1u << (type - 1);
    return &vm->jvmpiEventMaskLow;
  }
  if (type >= 33 && type <= 64) {
    *bit = 1u << (type - 33);
    return &vm->jvmpiEventMaskHigh;
  }
  if (type >= 2000 && type <= 2031) {
    *bit = 1u << (type - 2000);
    return &vm->jvmpiExtensionEventMask;
  }
  return nullptr;
}

bool enabled(jint type) {
  K5JavaVM* vm = vmOf();
  if (!vm) return false;
  uint32_t bit;
  volatile uint32_t* mask = maskFor(vm, type, &bit);
  return mask && (__atomic_load_n(mask, __ATOMIC_RELAXED) & bit);
}

void setBit(jint type, bool on) {
  uint32_t bit;
  volatile uint32_t* mask = maskFor(vmOf(), type, &bit);
  if (!mask) return;
  if (on)
    __atomic_fetch_or(mask, bit, __ATOMIC_RELEASE);
  else
    __atomic_fetch_and(mask, ~bit, __ATOMIC_RELEASE);
}

// ---- Dispatch ------------------------------------------------------------------------------------

enum Context { asIs, withVmAccess, withoutVmAccess };

void dispatch(JVMPI_Event* event, Context context) {
  K5JavaVM* vm = vmOf();
  if (!vm) return;
  jint type = event->event_type;
  K5VMThread* thread = k5vm_currentThread(vm);
  bool deliver;
  if (type & JVMPI_REQUESTED_EVENT) {
    deliver = true;
  } else {
    deliver = enabled(type);
    if (deliver && thread && (__atomic_load_n(&thread->privateFlags, __ATOMIC_SEQ_CST) & K5_PRIVATE_FLAGS_EVENT_SUPPRESSED))
      deliver = type == JVMPI_EVENT_THREAD_END || type == JVMPI_EVENT_JVM_SHUT_DOWN;
  }
  if (!deliver) return;
  event->env_id = reinterpret_cast<JNIEnv*>(thread);
  if (provider.trace && provider.active[kTraceDispatchBefore])
    provider.trace->Trace(thread, &provider.module, kTraceDispatchBefore, "dispatch %d", static_cast<int>(type));
  bool hadAccess = thread && (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS);
  bool framed = context != asIs && thread;
  if (framed) {
    if (!hadAccess) k5vm_acquireVMAccess(thread);
    k5vm_pushLocalFrame(thread, 16);
    if (context == withoutVmAccess) k5vm_releaseVMAccess(thread);
  }
  auto* table = static_cast<JVMPI_Interface*>(vm->jvmpiInterface);
  void (*notify)(JVMPI_Event*) = table ? __atomic_load_n(&table->NotifyEvent, __ATOMIC_ACQUIRE) : nullptr;
  if (notify) notify(event);
  if (framed) {
    if (!(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS)) k5vm_acquireVMAccess(thread);
    k5vm_popLocalFrame(thread);
    if (!hadAccess) k5vm_releaseVMAccess(thread);
  }
  if (provider.trace && provider.active[kTraceDispatchAfter])
    provider.trace->Trace(thread, &provider.module, kTraceDispatchAfter, "dispatched %d", static_cast<int>(type));
}

jobjectID id(K5Object* object) { return reinterpret_cast<jobjectID>(object); }
K5Object* object(jobjectID jid) { return reinterpret_cast<K5Object*>(jid); }
jint arena(K5MemorySegment* segment) { return static_cast<jint>(reinterpret_cast<uintptr_t>(segment)); }

// ---- Texts ----------------------------------------------------------------------------------------

// A Java string as modified UTF-8 in a block of the VM's memory service; NULL when missing.
char* modifiedUtf8(K5Object* string) {
  K5JavaVM* vm = vmOf();
  if (!string) return nullptr;
  uint32_t length = k5vm_stringLength(vm, string);
  const uint16_t* chars = k5vm_stringChars(vm, string);
  size_t size = 1;
  for (uint32_t i = 0; i < length; i++) {
    uint16_t c = chars[i];
    size += (c >= 0x0001 && c <= 0x007F) ? 1 : (c <= 0x07FF) ? 2 : 3;
  }
  auto* text = static_cast<char*>(port()->mem_allocate_memory(port(), size, "jvmpisup"));
  if (!text) return nullptr;
  char* out = text;
  for (uint32_t i = 0; i < length; i++) {
    uint16_t c = chars[i];
    if (c >= 0x0001 && c <= 0x007F) {
      *out++ = static_cast<char>(c);
    } else if (c <= 0x07FF) {
      *out++ = static_cast<char>(0xC0 | (c >> 6));
      *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out++ = static_cast<char>(0xE0 | (c >> 12));
      *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  *out = 0;
  return text;
}

void freeBlock(void* block) {
  if (block) port()->mem_free_memory(port(), block);
}

// ---- Event builders ----------------------------------------------------------------------------------

void reportThreadStart(K5VMThread* started, jint type) {
  K5JavaVM* vm = vmOf();
  JVMPI_Event event{};
  event.event_type = type;
  K5Object* threadObject = started ? started->threadObject : nullptr;
  if (threadObject) {
    K5Object* group = k5vm_threadObjectGroup(vm, threadObject);
    event.u.thread_start.thread_name = modifiedUtf8(k5vm_threadObjectName(vm, threadObject));
    event.u.thread_start.group_name = group ? modifiedUtf8(k5vm_threadGroupName(vm, group)) : nullptr;
    K5Object* parent = group ? k5vm_threadGroupParent(vm, group) : nullptr;
    event.u.thread_start.parent_name = parent ? modifiedUtf8(k5vm_threadGroupName(vm, parent)) : nullptr;
  }
  event.u.thread_start.thread_id = id(threadObject);
  event.u.thread_start.thread_env_id = reinterpret_cast<JNIEnv*>(started);
  dispatch(&event, withVmAccess);
  freeBlock(event.u.thread_start.thread_name);
  freeBlock(event.u.thread_start.group_name);
  freeBlock(event.u.thread_start.parent_name);
}

std::string jvmpiClassName(K5Class* clazz) {
  if (!(clazz->flags & K5_CLASS_ARRAY)) return clazz->name;
  std::string name(clazz->arity > 1 ? clazz->arity - 1 : 0, '[');
  name.append(clazz->name, 2);
  K5Class* leaf = clazz->leafComponentType;
  if (leaf && !(leaf->flags & K5_CLASS_PRIMITIVE)) {
    name += leaf->name;
    name += ';';
  }
  return name;
}

void reportClassLoad(K5Class* clazz, jint type) {
  if (!clazz || !clazz->classObject) return;
  std::string name = jvmpiClassName(clazz);
  // Measure every text, then fill one block.
  size_t size = name.size() + 1;
  uint32_t statics = 0, instances = 0;
  for (uint32_t i = 0; i < clazz->methodCount; i++)
    size += strlen(clazz->methods[i].name) + 1 + strlen(clazz->methods[i].signature) + 1;
  for (uint32_t i = 0; i < clazz->fieldCount; i++) {
    size += strlen(clazz->fields[i].name) + 1 + strlen(clazz->fields[i].signature) + 1;
    if (clazz->fields[i].modifiers & K5_ACC_STATIC)
      statics++;
    else
      instances++;
  }
  auto* block = static_cast<char*>(port()->mem_allocate_memory(port(), size, "jvmpisup"));
  if (!block) return;
  char* cursor = block;
  auto copy = [&](const char* text, size_t length) {
    char* start = cursor;
    memcpy(cursor, text, length);
    cursor[length] = 0;
    cursor += length + 1;
    return start;
  };
  JVMPI_Event event{};
  event.event_type = type;
  event.u.class_load.class_name = copy(name.c_str(), name.size());
  if (clazz->sourceFileName) {
    size_t length = strlen(clazz->sourceFileName);
    auto* source = static_cast<char*>(port()->mem_allocate_memory(port(), length + 1, "jvmpisup"));
    if (source) memcpy(source, clazz->sourceFileName, length + 1);
    event.u.class_load.source_name = source;
  }
  event.u.class_load.num_interfaces = static_cast<jint>(clazz->interfaceCount);
  event.u.class_load.num_methods = static_cast<jint>(clazz->methodCount);
  if (clazz->methodCount) {
    auto* methods = static_cast<JVMPI_Method*>(
        port()->mem_allocate_memory(port(), sizeof(JVMPI_Method) * clazz->methodCount, "jvmpisup"));
    K5VMThread* thread = currentThread();
    for (uint32_t i = 0; i < clazz->methodCount; i++) {
      K5Method* method = &clazz->methods[i];
      char* methodName = copy(method->name, strlen(method->name));
      char* signature = copy(method->signature, strlen(method->signature));
      if (!methods) continue;
      methods[i].method_name = methodName;
      methods[i].method_signature = signature;
      jint low = 0, high = 0;
      for (uint32_t l = 0; l < method->lineNumberCount; l++) {
        jint line = static_cast<jint>(method->lineNumbers[l].line);
        if (l == 0 || line < low) low = line;
        if (l == 0 || line > high) high = line;
      }
      methods[i].start_lineno = low;
      methods[i].end_lineno = high;
      methods[i].method_id = k5vm_getMethodID(thread, method);
    }
    event.u.class_load.methods = methods;
  }
  JVMPI_Field* staticList = statics ? static_cast<JVMPI_Field*>(
                                          port()->mem_allocate_memory(port(), sizeof(JVMPI_Field) * statics, "jvmpisup"))
                                    : nullptr;
  JVMPI_Field* instanceList =
      instances ? static_cast<JVMPI_Field*>(
                      port()->mem_allocate_memory(port(), sizeof(JVMPI_Field) * instances, "jvmpisup"))
                : nullptr;
  uint32_t s = 0, n = 0;
  for (uint32_t i = 0; i < clazz->fieldCount; i++) {
    K5Field* field = &clazz->fields[i];
    char* fieldName = copy(field->name, strlen(field->name));
    char* signature = copy(field->signature, strlen(field->signature));
    JVMPI_Field* list = (field->modifiers & K5_ACC_STATIC) ? staticList : instanceList;
    uint32_t& index = (field->modifiers & K5_ACC_STATIC) ? s : n;
    if (list) list[index] = {fieldName, signature};
    index++;
  }
  event.u.class_load.num_static_fields = static_cast<jint>(statics);
  event.u.class_load.statics = staticList;
  event.u.class_load.num_instance_fields = static_cast<jint>(instances);
  event.u.class_load.instances = instanceList;
  event.u.class_load.class_id = id(clazz->classObject);
  dispatch(&event, withVmAccess);
  freeBlock(block);
  freeBlock(event.u.class_load.source_name);
  freeBlock(event.u.class_load.methods);
  freeBlock(staticList);
  freeBlock(instanceList);
}

void reportObjectAlloc(K5Object* obj, uintptr_t size, K5MemorySegment* segment, jint type) {
  K5JavaVM* vm = vmOf();
  if (!obj) return;
  K5Class* clazz = obj->clazz;
  JVMPI_Event event{};
  event.event_type = type;
  if (!(obj->flags & K5_OBJECT_ARRAY)) {
    if (!clazz || !clazz->classObject) return;
    event.u.obj_alloc.class_id = id(clazz->classObject);
    event.u.obj_alloc.is_array = JVMPI_NORMAL_OBJECT;
  } else {
    K5Class* component = clazz ? clazz->componentType : nullptr;
    if (!component || !(component->flags & K5_CLASS_PRIMITIVE)) {
      event.u.obj_alloc.is_array = JVMPI_CLASS;
      event.u.obj_alloc.class_id = component ? id(component->classObject) : nullptr;
    } else {
      jint kind;
      switch (clazz->elementSize) {
        case 1:
          kind = clazz == k5vm_booleanArrayClass(vm) ? JVMPI_BOOLEAN : JVMPI_BYTE;
          break;
        case 2:
          kind = component == k5vm_primitiveClass(vm, 'C') ? JVMPI_CHAR : JVMPI_SHORT;
          break;
        case 4:
          kind = component == k5vm_primitiveClass(vm, 'I') ? JVMPI_INT : JVMPI_FLOAT;
          break;
        default:
          kind = component == k5vm_primitiveClass(vm, 'D') ? JVMPI_DOUBLE : JVMPI_LONG;
          break;
      }
      event.u.obj_alloc.is_array = kind;
      event.u.obj_alloc.class_id = nullptr;
    }
  }
  event.u.obj_alloc.arena_id = arena(segment);
  event.u.obj_alloc.size = static_cast<jint>(size);
  event.u.obj_alloc.obj_id = id(obj);
  K5VMThread* thread = currentThread();
  if (thread) thread->gcDisableCount++;
  dispatch(&event, withVmAccess);
  if (thread) thread->gcDisableCount--;
}

// ---- Hooks ----------------------------------------------------------------------------------------

void onMethodEntry(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5VMMethodEvent*>(data);
  jint a = JVMPI_EVENT_METHOD_ENTRY, b = JVMPI_EVENT_METHOD_ENTRY2;
  if (eventNum == K5HOOK_VM_METHOD_ENTER) {
    if (enabled(2000) && e->special) {
      a = 2004;
      b = 2005;
    }
  } else if (enabled(2003)) {
    a = 2011;
    b = 2012;
  }
  bool reportA = enabled(a), reportB = enabled(b);
  if (!reportA && !reportB) return;
  jmethodID mid = k5vm_getMethodID(e->currentThread, e->method);
  if (reportA) {
    JVMPI_Event event{};
    event.event_type = a;
    event.u.method.method_id = mid;
    dispatch(&event, withoutVmAccess);
  }
  if (reportB) {
    JVMPI_Event event{};
    event.event_type = b;
    event.u.method_entry2.method_id = mid;
    bool isStatic = e->method && (e->method->modifiers & K5_ACC_STATIC);
    event.u.method_entry2.obj_id = (!isStatic && e->arg0EA) ? id(*e->arg0EA) : nullptr;
    dispatch(&event, withVmAccess);
  }
}

void onMethodExit(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5VMMethodEvent*>(data);
  if (!enabled(JVMPI_EVENT_METHOD_EXIT)) return;
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_METHOD_EXIT;
  event.u.method.method_id = k5vm_getMethodID(e->currentThread, e->method);
  dispatch(&event, withoutVmAccess);
}

void onObjectAlloc(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5VMObjectAllocateEvent*>(data);
  if (!enabled(JVMPI_EVENT_OBJECT_ALLOC)) return;
  reportObjectAlloc(e->object, e->size, e->segment, JVMPI_EVENT_OBJECT_ALLOC);
}

void onObjectFree(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5GCObjectEvent*>(data);
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_OBJECT_FREE;
  event.u.obj_free.obj_id = id(e->object);
  dispatch(&event, asIs);
}

void onObjectMove(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5GCObjectMovedEvent*>(data);
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_OBJECT_MOVE;
  event.u.obj_move.arena_id = arena(e->oldSegment);
  event.u.obj_move.obj_id = id(e->oldObject);
  event.u.obj_move.new_arena_id = arena(e->newSegment);
  event.u.obj_move.new_obj_id = id(e->newObject);
  dispatch(&event, asIs);
}

void simple(jint type, Context context) {
  JVMPI_Event event{};
  event.event_type = type;
  dispatch(&event, context);
}

void unregisterAll();

void onVmInitialized(K5HookInterface*, uintptr_t, void*, void*) { simple(JVMPI_EVENT_JVM_INIT_DONE, withoutVmAccess); }

void onVmShutdown(K5HookInterface*, uintptr_t, void*, void*) {
  simple(JVMPI_EVENT_JVM_SHUT_DOWN, withoutVmAccess);
  unregisterAll();
}

void onThreadStart(K5HookInterface*, uintptr_t, void* data, void*) {
  if (!enabled(JVMPI_EVENT_THREAD_START)) return;
  reportThreadStart(static_cast<K5VMThreadEvent*>(data)->currentThread, JVMPI_EVENT_THREAD_START);
}

void onThreadEnd(K5HookInterface*, uintptr_t, void*, void*) { simple(JVMPI_EVENT_THREAD_END, withoutVmAccess); }

void onClassLoad(K5HookInterface*, uintptr_t, void* data, void*) {
  if (!enabled(JVMPI_EVENT_CLASS_LOAD)) return;
  reportClassLoad(static_cast<K5VMClassEvent*>(data)->clazz, JVMPI_EVENT_CLASS_LOAD);
}

void onMonitor(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5VMMonitorEvent*>(data);
  JVMPI_Event event{};
  event.event_type = eventNum == K5HOOK_VM_MONITOR_CONTENDED_ENTER     ? JVMPI_EVENT_MONITOR_CONTENDED_ENTER
                     : eventNum == K5HOOK_VM_MONITOR_CONTENDED_ENTERED ? JVMPI_EVENT_MONITOR_CONTENDED_ENTERED
                                                                       : JVMPI_EVENT_MONITOR_CONTENDED_EXIT;
  event.u.monitor.object = id(e->object);
  dispatch(&event, withVmAccess);
}

void onMonitorWait(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5VMMonitorWaitEvent*>(data);
  JVMPI_Event event{};
  event.event_type = eventNum == K5HOOK_VM_MONITOR_WAIT ? JVMPI_EVENT_MONITOR_WAIT : JVMPI_EVENT_MONITOR_WAITED;
  event.u.monitor_wait.object = id(e->object);
  event.u.monitor_wait.timeout = e->timeout;
  dispatch(&event, withVmAccess);
}

void onHeapReady(K5HookInterface*, uintptr_t, void*, void*) {
  K5JavaVM* vm = vmOf();
  if (!enabled(JVMPI_EVENT_ARENA_NEW)) return;
  k5gc_lockSegmentList(vm);
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT) || !(segment->type & (K5_MEMORY_TYPE_NEW | K5_MEMORY_TYPE_OLD)))
      continue;
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_ARENA_NEW;
    event.u.new_arena.arena_id = arena(segment);
    event.u.new_arena.arena_name = const_cast<char*>("object_heap");
    dispatch(&event, withVmAccess);
  }
  k5gc_unlockSegmentList(vm);
}

void onGlobalRef(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5VMGlobalRefEvent*>(data);
  JVMPI_Event event{};
  if (eventNum == K5HOOK_VM_GLOBAL_REF_CREATED) {
    event.event_type = e->isWeak ? JVMPI_EVENT_JNI_WEAK_GLOBALREF_ALLOC : JVMPI_EVENT_JNI_GLOBALREF_ALLOC;
    event.u.jni_globalref_alloc.obj_id = id(e->object);
    event.u.jni_globalref_alloc.ref_id = e->reference;
  } else {
    event.event_type = e->isWeak ? JVMPI_EVENT_JNI_WEAK_GLOBALREF_FREE : JVMPI_EVENT_JNI_GLOBALREF_FREE;
    event.u.jni_globalref_free.ref_id = e->reference;
  }
  dispatch(&event, withVmAccess);
}

void* hookMalloc(unsigned int size) { return port()->mem_allocate_memory(port(), size, "jvmpisup"); }
void hookFree(void* userData, void* data) {
  auto* library = static_cast<K5PortLibrary*>(userData);
  library->mem_free_memory(library, data);
}

void onClassLoadHook(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5VMClassLoadHookEvent*>(data);
  if (!enabled(JVMPI_EVENT_CLASS_LOAD_HOOK)) return;
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_CLASS_LOAD_HOOK;
  event.u.class_load_hook.class_data = e->classData;
  event.u.class_load_hook.class_data_len = static_cast<jint>(e->classDataLength);
  event.u.class_load_hook.new_class_data = e->classData;
  event.u.class_load_hook.new_class_data_len = static_cast<jint>(e->classDataLength);
  event.u.class_load_hook.malloc_f = hookMalloc;
  K5VMThread* thread = e->currentThread;
  k5vm_pushObjectSlot(thread, e->classLoader);
  dispatch(&event, withoutVmAccess);
  e->classLoader = k5vm_popObjectSlot(thread);
  unsigned char* fresh = event.u.class_load_hook.new_class_data;
  jint freshLength = event.u.class_load_hook.new_class_data_len;
  static const char kInternals[] = "java/lang/K5VMInternals";
  bool internals = e->classNameLength == sizeof kInternals - 1 &&
                   memcmp(e->className, kInternals, sizeof kInternals - 1) == 0;
  if (internals && fresh != e->classData &&
      (freshLength < 0 || static_cast<uintptr_t>(freshLength) != e->classDataLength ||
       memcmp(fresh, e->classData, e->classDataLength) != 0)) {
    freeBlock(fresh);
    port()->nls_printf(port(), K5NLS_WARNING, K5NLS_MODULE('J', 'V', 'M', 'P'), 0,
                       static_cast<int>(e->classNameLength), e->className);
    return;
  }
  if (fresh != e->classData) {
    if (!fresh || freshLength < 0) return;  // nothing usable came back: keep the bytes given
    if (e->freeFunction) e->freeFunction(e->freeUserData, e->classData);
    e->classData = fresh;
    e->classDataLength = static_cast<uintptr_t>(freshLength);
    e->freeFunction = hookFree;
    e->freeUserData = port();
    e->classDataReplaced = 1;
  }
}

void onDataDump(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5VMDataDumpEvent*>(data);
  K5JavaVM* vm = vmOf();
  bool attachedHere = k5vm_currentThread(vm) == nullptr;
  JNIEnv* env = nullptr;
  JavaVM* javaVM = reinterpret_cast<JavaVM*>(vm);
  jint result = javaVM->functions->AttachCurrentThreadAsDaemon(javaVM, reinterpret_cast<void**>(&env), nullptr);
  if (result != JNI_OK) {
    e->result = result;
    return;
  }
  simple(JVMPI_EVENT_DATA_DUMP_REQUEST, withoutVmAccess);
  simple(JVMPI_EVENT_DATA_RESET_REQUEST, withoutVmAccess);
  if (attachedHere) javaVM->functions->DetachCurrentThread(javaVM);
}

void onNotificationFlags(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5VMNotificationFlagsEvent*>(data);
  if (!enabled(2026)) e->flags |= 0x100000;
}

void onCompiledCode(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5VMCompiledCodeEvent*>(data);
  bool load = eventNum == K5HOOK_VM_COMPILED_CODE_LOAD;
  JVMPI_Event event{};
  if (e->method) {
    if (load) {
      event.event_type = JVMPI_EVENT_COMPILED_METHOD_LOAD;
      event.u.compiled_method_load.method_id = k5vm_getMethodID(e->currentThread, e->method);
      event.u.compiled_method_load.code_addr = e->startPC;
      event.u.compiled_method_load.code_size = static_cast<jint>(e->length);
      event.u.compiled_method_load.lineno_table_size = 0;
      event.u.compiled_method_load.lineno_table = nullptr;
    } else {
      event.event_type = JVMPI_EVENT_COMPILED_METHOD_UNLOAD;
      event.u.compiled_method_unload.method_id = k5vm_getMethodID(e->currentThread, e->method);
    }
  } else {
    event.event_type = JVMPI_EVENT_EXT_CODE;
    jint* words = event.u.code_event.words;
    words[3] = load ? static_cast<jint>(e->metaData) : 0;
    words[5] = load ? 1 : 2;
    words[6] = static_cast<jint>(reinterpret_cast<uintptr_t>(e->startPC));
    words[7] = load ? static_cast<jint>(e->length) : 0;
  }
  K5VMThread* thread = e->currentThread;
  if (thread) __atomic_fetch_or(&thread->privateFlags, K5_PRIVATE_FLAGS_IN_JIT_EVENT, __ATOMIC_SEQ_CST);
  dispatch(&event, withVmAccess);
  if (thread) __atomic_fetch_and(&thread->privateFlags, ~static_cast<uint32_t>(K5_PRIVATE_FLAGS_IN_JIT_EVENT), __ATOMIC_SEQ_CST);
}

void onClassUnload(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* e = static_cast<K5VMClassEvent*>(data);
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_CLASS_UNLOAD;
  event.u.class_unload.class_id = e->clazz ? id(e->clazz->classObject) : nullptr;
  dispatch(&event, withVmAccess);
}

void onGcStart(K5HookInterface*, uintptr_t, void*, void*) {
  simple(JVMPI_EVENT_GC_START, withVmAccess);
  provider.heapWalkable = 0;
}

void onGcEnd(K5HookInterface*, uintptr_t, void*, void*) {
  provider.heapWalkable = 1;
  if (!enabled(JVMPI_EVENT_GC_FINISH)) return;
  K5JavaVM* vm = vmOf();
  uint32_t usedObjects = 0, usedSpace = 0, totalSpace = 0;
  k5gc_lockSegmentList(vm);
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
    totalSpace += static_cast<uint32_t>(segment->heapTop - segment->heapBase);
    for (uint8_t* cursor = segment->heapBase; cursor < segment->heapAlloc;) {
      auto* obj = reinterpret_cast<K5Object*>(cursor);
      if (obj->size == 0) break;  // a damaged segment: stop rather than loop
      cursor += obj->size;
      if (obj->flags & K5_OBJECT_HOLE) continue;
      usedObjects++;
      usedSpace += (obj->size + 3) & ~3u;
    }
  }
  k5gc_unlockSegmentList(vm);
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_GC_FINISH;
  event.u.gc_info.used_objects = static_cast<jlong>(usedObjects);
  event.u.gc_info.used_object_space = static_cast<jlong>(usedSpace);
  event.u.gc_info.total_object_space = static_cast<jlong>(totalSpace);
  dispatch(&event, withVmAccess);
}

void onSegment(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5GCSegmentEvent*>(data);
  JVMPI_Event event{};
  if (eventNum == K5HOOK_GC_SEGMENT_ADDED) {
    event.event_type = JVMPI_EVENT_ARENA_NEW;
    event.u.new_arena.arena_id = arena(e->segment);
    event.u.new_arena.arena_name = const_cast<char*>("object_heap");
  } else {
    event.event_type = JVMPI_EVENT_ARENA_DELETE;
    event.u.delete_arena.arena_id = arena(e->segment);
  }
  dispatch(&event, withVmAccess);
}

void onJitMethod(K5HookInterface*, uintptr_t eventNum, void* data, void*) {
  auto* e = static_cast<K5VMMethodEvent*>(data);
  JVMPI_Event event{};
  event.event_type = eventNum == K5HOOK_JIT_METHOD_EVENT ? JVMPI_EVENT_EXT_JIT_METHOD : JVMPI_EVENT_EXT_JIT_METHOD_SECOND;
  event.u.method.method_id = k5vm_getMethodID(e->currentThread, e->method);
  dispatch(&event, withoutVmAccess);
}

struct PermanentHook {
  int which;  // 0 VM, 1 GC, 2 JIT
  uintptr_t event;
  K5HookFunction function;
};

const PermanentHook kPermanentHooks[] = {
    {0, K5HOOK_VM_INITIALIZED, onVmInitialized},
    {0, K5HOOK_VM_SHUTTING_DOWN, onVmShutdown},
    {0, K5HOOK_VM_THREAD_STARTED, onThreadStart},
    {0, K5HOOK_VM_THREAD_END, onThreadEnd},
    {0, K5HOOK_VM_CLASS_LOAD, onClassLoad},
    {0, K5HOOK_VM_MONITOR_CONTENDED_ENTER, onMonitor},
    {0, K5HOOK_VM_MONITOR_CONTENDED_ENTERED, onMonitor},
    {0, K5HOOK_VM_MONITOR_CONTENDED_EXIT, onMonitor},
    {0, K5HOOK_VM_MONITOR_WAIT, onMonitorWait},
    {0, K5HOOK_VM_MONITOR_WAITED, onMonitorWait},
    {0, K5HOOK_VM_HEAP_READY, onHeapReady},
    {0, K5HOOK_VM_GLOBAL_REF_CREATED, onGlobalRef},
    {0, K5HOOK_VM_GLOBAL_REF_DELETED, onGlobalRef},
    {0, K5HOOK_VM_CLASS_LOAD_HOOK, onClassLoadHook},
    {0, K5HOOK_VM_USER_DATA_DUMP, onDataDump},
    {0, K5HOOK_VM_NOTIFICATION_FLAGS, onNotificationFlags},
    {0, K5HOOK_VM_COMPILED_CODE_LOAD, onCompiledCode},
    {0, K5HOOK_VM_COMPILED_CODE_UNLOAD, onCompiledCode},
    {0, K5HOOK_VM_CLASS_UNLOAD, onClassUnload},
    {1, K5HOOK_GC_GLOBAL_START, onGcStart},
    {1, K5HOOK_GC_LOCAL_START, onGcStart},
    {1, K5HOOK_GC_GLOBAL_END, onGcEnd},
    {1, K5HOOK_GC_LOCAL_END, onGcEnd},
    {1, K5HOOK_GC_SEGMENT_ADDED, onSegment},
    {1, K5HOOK_GC_SEGMENT_REMOVED, onSegment},
    {2, K5HOOK_JIT_METHOD_EVENT, onJitMethod},
    {2, K5HOOK_JIT_METHOD_EVENT_SECOND, onJitMethod},
};

K5HookInterface* hooksOf(K5JavaVM* vm, int which) {
  return which == 0 ? vm->vmHooks : which == 1 ? vm->gcHooks : vm->jitHooks;
}

// ---- Dynamic hook groups ----------------------------------------------------------------------------


// Registers or unregisters each group of dynamic hooks so that it is registered exactly while
// some event type that needs it is enabled.
void syncDynamicHooks() {
  K5JavaVM* vm = vmOf();
  std::lock_guard<std::mutex> guard(provider.hookLock);
  bool wantEntry = false;
  for (jint type : {1, 2, 2004, 2005, 2007, 2008, 2009, 2010, 2011, 2012}) wantEntry = wantEntry || enabled(type);
  auto sync = [&](bool want, bool& registered, K5HookInterface* hooks, std::initializer_list<uintptr_t> events,
                  K5HookFunction function) {
    if (want == registered) return;
    for (uintptr_t event : events) {
      if (want)
        k5hook_register(hooks, event, function, nullptr);
      else
        k5hook_unregister(hooks, event, function, nullptr);
    }
    registered = want;
  };
  sync(wantEntry, provider.entryHooks, vm->vmHooks, {K5HOOK_VM_METHOD_ENTER, K5HOOK_VM_NATIVE_METHOD_ENTER},
       onMethodEntry);
  sync(enabled(3), provider.exitHooks, vm->vmHooks, {K5HOOK_VM_METHOD_RETURN, K5HOOK_VM_NATIVE_METHOD_RETURN},
       onMethodExit);
  sync(enabled(4), provider.allocHooks, vm->vmHooks,
       {K5HOOK_VM_OBJECT_ALLOCATE, K5HOOK_VM_OBJECT_ALLOCATE_WITHIN_THRESHOLD}, onObjectAlloc);
  sync(enabled(5), provider.freeHook, vm->gcHooks, {K5HOOK_GC_OBJECT_FREED}, onObjectFree);
  sync(enabled(6), provider.moveHook, vm->gcHooks, {K5HOOK_GC_OBJECT_MOVED}, onObjectMove);
}

void unregisterAll() {
  K5JavaVM* vm = vmOf();
  for (const PermanentHook& hook : kPermanentHooks) {
    K5HookInterface* hooks = hooksOf(vm, hook.which);
    if (hooks) k5hook_unregister(hooks, hook.event, hook.function, nullptr);
  }
  std::lock_guard<std::mutex> guard(provider.hookLock);
  auto drop = [&](bool& registered, K5HookInterface* hooks, std::initializer_list<uintptr_t> events,
                  K5HookFunction function) {
    if (!registered) return;
    for (uintptr_t event : events) k5hook_unregister(hooks, event, function, nullptr);
    registered = false;
  };
  drop(provider.entryHooks, vm->vmHooks, {K5HOOK_VM_METHOD_ENTER, K5HOOK_VM_NATIVE_METHOD_ENTER}, onMethodEntry);
  drop(provider.exitHooks, vm->vmHooks, {K5HOOK_VM_METHOD_RETURN, K5HOOK_VM_NATIVE_METHOD_RETURN}, onMethodExit);
  drop(provider.allocHooks, vm->vmHooks, {K5HOOK_VM_OBJECT_ALLOCATE, K5HOOK_VM_OBJECT_ALLOCATE_WITHIN_THRESHOLD},
       onObjectAlloc);
  drop(provider.freeHook, vm->gcHooks, {K5HOOK_GC_OBJECT_FREED}, onObjectFree);
  drop(provider.moveHook, vm->gcHooks, {K5HOOK_GC_OBJECT_MOVED}, onObjectMove);
}

// ---- The interface's functions -------------------------------------------------------------------------

bool acceptedType(jint type) {
  if (type == JVMPI_EVENT_HEAP_DUMP || type == JVMPI_EVENT_OBJECT_DUMP || type == JVMPI_EVENT_MONITOR_DUMP ||
      type == 2021 || type == 2024)
    return false;
  return (type >= 1 && type <= 61) || (type >= 2000 && type <= 2026);
}

void applyJitFlags(jint type, bool enable) {
  K5JavaVM* vm = vmOf();
  if (!vm->jitConfig) return;
  volatile uint32_t* flags = &vm->jitConfig->jitReportFlags;
  uint32_t bits = 0;
  switch (type) {
    case 2000:
      __atomic_store_n(flags, enable ? 0u : 0x27u, __ATOMIC_RELEASE);
      return;
    case 2001: bits = 0x1; break;
    case 2002: bits = 0x4; break;
    case 2003: bits = 0xA; break;
    case 2025: bits = 0x20; break;
    default: return;
  }
  if (enable)
    __atomic_fetch_or(flags, bits, __ATOMIC_RELEASE);
  else
    __atomic_fetch_and(flags, ~bits, __ATOMIC_RELEASE);
}

jint JNICALL enableEvent(jint type, void*) {
  K5JavaVM* vm = vmOf();
  if (!vm) {
    assertion("(0 )", __LINE__);
    return JVMPI_FAIL;
  }
  if (!acceptedType(type)) return JVMPI_NOT_AVAILABLE;
  K5VMThread* thread = k5vm_currentThread(vm);
  JVMPI_ASSERT(thread != nullptr, "((currThread) != NULL)");
  bool acquired = thread && !(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS);
  if (acquired) k5vm_acquireVMAccess(thread);
  if (thread) k5vm_acquireExclusiveVMAccess(thread);
  setBit(type, true);
  syncDynamicHooks();
  applyJitFlags(type, true);
  if (thread) k5vm_releaseExclusiveVMAccess(thread);
  if (acquired) k5vm_releaseVMAccess(thread);
  return JVMPI_SUCCESS;
}

jint JNICALL disableEvent(jint type, void*) {
  K5JavaVM* vm = vmOf();
  if (!vm) {
    assertion("(0 )", __LINE__);
    return JVMPI_FAIL;
  }
  if (!acceptedType(type)) return JVMPI_NOT_AVAILABLE;
  if (type >= 2000) {
    K5VMThread* thread = k5vm_currentThread(vm);
    bool acquired = thread && !(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS);
    if (acquired) k5vm_acquireVMAccess(thread);
    if (thread) k5vm_acquireExclusiveVMAccess(thread);
    applyJitFlags(type, false);
    if (thread) k5vm_releaseExclusiveVMAccess(thread);
    if (acquired) k5vm_releaseVMAccess(thread);
  }
  k5thread_monitor_enter(vm->jvmpiMonitor);
  setBit(type, false);
  k5thread_monitor_exit(vm->jvmpiMonitor);
  syncDynamicHooks();
  return JVMPI_SUCCESS;
}

jint JNICALL requestEvent(jint type, void* arg) {
  K5JavaVM* vm = vmOf();
  if (!vm) return JVMPI_FAIL;
  switch (type) {
    case JVMPI_EVENT_OBJECT_ALLOC: {
      K5Object* target = static_cast<K5Object*>(arg);
      JVMPI_ASSERT(target != nullptr, "((obj) != NULL)");
      if (!target) return JVMPI_FAIL;
      uintptr_t size = k5gc_objectSize(vm, target);
      K5MemorySegment* segment = k5gc_segmentOfObject(vm, target);
      reportObjectAlloc(target, size, segment, JVMPI_EVENT_OBJECT_ALLOC | JVMPI_REQUESTED_EVENT);
      return JVMPI_SUCCESS;
    }
    case JVMPI_EVENT_THREAD_START: {
      K5Object* threadObject = static_cast<K5Object*>(arg);
      K5VMThread* found = nullptr;
      k5vm_lockThreadList(vm);
      K5VMThread* walk = vm->mainThread;
      if (walk && threadObject) {
        do {
          if (walk->threadObject == threadObject) found = walk;
          walk = walk->linkNext;
        } while (!found && walk != vm->mainThread);
      }
      k5vm_unlockThreadList(vm);
      if (!found) return JVMPI_FAIL;
      reportThreadStart(found, JVMPI_EVENT_THREAD_START | JVMPI_REQUESTED_EVENT);
      return JVMPI_SUCCESS;
    }
    case JVMPI_EVENT_CLASS_LOAD: {
      K5Class* clazz = k5vm_classFromClassObject(vm, static_cast<K5Object*>(arg));
      JVMPI_ASSERT(clazz != nullptr, "((clazz) != NULL)");
      if (clazz) reportClassLoad(clazz, JVMPI_EVENT_CLASS_LOAD | JVMPI_REQUESTED_EVENT);
      return JVMPI_SUCCESS;
    }
    default:
      // Heap, object and monitor dumps are not offered yet; 2021 and unknown types never are.
      return JVMPI_NOT_AVAILABLE;
  }
}

struct TraceWalk {
  JVMPI_CallTrace* trace;
  bool failed;
};

uintptr_t fillFrame(K5VMThread* current, K5StackWalkState* state) {
  auto* walk = static_cast<TraceWalk*>(state->userData1);
  jmethodID mid = k5vm_getMethodID(current, state->method);
  if (!mid) {
    walk->failed = true;
    return K5_STACKWALK_STOP_ITERATING;
  }
  JVMPI_CallFrame& frame = walk->trace->frames[state->framesWalked - 1];
  frame.method_id = mid;
  frame.lineno = static_cast<jint>(k5vm_lineNumberForPC(state->method, state->isJNIFrame ? 0 : state->pc));
  walk->trace->num_frames = static_cast<jint>(state->framesWalked);
  return K5_STACKWALK_KEEP_ITERATING;
}

void JNICALL getCallTrace(JVMPI_CallTrace* trace, jint depth) {
  K5JavaVM* vm = vmOf();
  JVMPI_ASSERT(trace != nullptr, "((trace) != NULL)");
  if (!vm || !trace) return;
  trace->num_frames = 0;
  K5VMThread* target = reinterpret_cast<K5VMThread*>(trace->env_id);
  JVMPI_ASSERT(target != nullptr, "((traceThread) != NULL)");
  K5VMThread* thread = k5vm_currentThread(vm);
  JVMPI_ASSERT(thread != nullptr, "((currThread) != NULL)");
  if (!target || !thread || depth <= 0 || !trace->frames) return;
  bool acquired = !(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS);
  if (acquired) k5vm_acquireVMAccess(thread);
  TraceWalk walk{trace, false};
  K5StackWalkState state{};
  state.walkThread = target;
  state.maxFrames = static_cast<uintptr_t>(depth);
  state.frameWalkFunction = fillFrame;
  state.userData1 = &walk;
  if (target == thread) {
    if (!(__atomic_load_n(&thread->privateFlags, __ATOMIC_SEQ_CST) & K5_PRIVATE_FLAGS_IN_JIT_EVENT)) k5vm_walkStack(thread, &state);
  } else {
    k5vm_acquireExclusiveVMAccess(thread);
    k5vm_walkStack(thread, &state);
    k5vm_releaseExclusiveVMAccess(thread);
  }
  if (walk.failed) trace->num_frames = 0;
  if (acquired) k5vm_releaseVMAccess(thread);
}

void JNICALL profilerExit(jint code) { exit(code); }

JVMPI_RawMonitor JNICALL rawMonitorCreate(char*) {
  k5thread_monitor_t monitor = nullptr;
  if (k5thread_monitor_init_with_name(&monitor, 0, nullptr) != K5THREAD_SUCCESS) return nullptr;
  return reinterpret_cast<JVMPI_RawMonitor>(monitor);
}

k5thread_monitor_t monitorOf(JVMPI_RawMonitor id) { return reinterpret_cast<k5thread_monitor_t>(id); }

bool reportsContention(k5thread_monitor_t monitor) {
  const char* name = k5thread_monitor_get_name(monitor);
  return name && name[0] != '_';
}

void rawMonitorEvent(jint type, k5thread_monitor_t monitor) {
  JVMPI_Event event{};
  event.event_type = type;
  event.u.raw_monitor.name = const_cast<char*>(k5thread_monitor_get_name(monitor));
  event.u.raw_monitor.id = reinterpret_cast<JVMPI_RawMonitor>(monitor);
  dispatch(&event, withVmAccess);
}

void JNICALL rawMonitorEnter(JVMPI_RawMonitor id) {
  k5thread_monitor_t monitor = monitorOf(id);
  JVMPI_ASSERT(monitor != nullptr, "((lock_id) != NULL)");
  if (!monitor) return;
  if (!reportsContention(monitor)) {
    k5thread_monitor_enter(monitor);
    return;
  }
  if (k5thread_monitor_try_enter(monitor) == 0) return;
  rawMonitorEvent(JVMPI_EVENT_RAW_MONITOR_CONTENDED_ENTER, monitor);
  k5thread_monitor_enter(monitor);
  rawMonitorEvent(JVMPI_EVENT_RAW_MONITOR_CONTENDED_ENTERED, monitor);
}

void JNICALL rawMonitorExit(JVMPI_RawMonitor id) {
  k5thread_monitor_t monitor = monitorOf(id);
  JVMPI_ASSERT(monitor != nullptr, "((lock_id) != NULL)");
  if (!monitor) return;
  if (reportsContention(monitor)) rawMonitorEvent(JVMPI_EVENT_RAW_MONITOR_CONTENDED_EXIT, monitor);
  k5thread_monitor_exit(monitor);
}

void JNICALL rawMonitorWait(JVMPI_RawMonitor id, jlong ms) {
  k5thread_monitor_t monitor = monitorOf(id);
  JVMPI_ASSERT(monitor != nullptr, "((lock_id) != NULL)");
  if (!monitor) return;
  if (ms > 2147483647LL) ms = 2147483647LL;
  k5thread_monitor_wait_timed(monitor, ms, 0);
}

void JNICALL rawMonitorNotifyAll(JVMPI_RawMonitor id) {
  JVMPI_ASSERT(id != nullptr, "((lock_id) != NULL)");
  if (id) k5thread_monitor_notify_all(monitorOf(id));
}

void JNICALL rawMonitorDestroy(JVMPI_RawMonitor id) {
  JVMPI_ASSERT(id != nullptr, "((lock_id) != NULL)");
  if (id) k5thread_monitor_destroy(monitorOf(id));
}

jlong JNICALL getCurrentThreadCpuTime() { return k5thread_get_self_cpu_time(k5thread_self()); }

K5VMThread* threadOf(JNIEnv* env) { return reinterpret_cast<K5VMThread*>(env); }

void JNICALL suspendThreadList(jint count, JNIEnv** list, jint* results) {
  if (count <= 0) return;
  JVMPI_ASSERT(list != nullptr, "((*reqList) != NULL)");
  JVMPI_ASSERT(results != nullptr, "((results) != NULL)");
  if (!list || !results) return;
  K5VMThread* thread = currentThread();
  JVMPI_ASSERT(thread && (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS),
               "((currentThread)->publicFlags & K5_PUBLIC_FLAGS_VM_ACCESS)");
  if (thread) k5vm_acquireExclusiveVMAccess(thread);
  for (jint i = 0; i < count; i++) {
    if (list[i]) k5vm_haltThreadForSuspend(threadOf(list[i]));
    results[i] = 0;
  }
  if (thread) k5vm_releaseExclusiveVMAccess(thread);
}

void JNICALL suspendThread(JNIEnv* env) {
  JVMPI_ASSERT(env != nullptr, "((env) != NULL)");
  if (!env) return;
  jint result = 0;
  suspendThreadList(1, &env, &result);
}

void JNICALL resumeThread(JNIEnv* env) {
  if (!env) return;
  k5vm_resumeThread(threadOf(env));
}

void JNICALL resumeThreadList(jint count, JNIEnv** list, jint* results) {
  JVMPI_ASSERT(list != nullptr || count <= 0, "((*reqList) != NULL)");
  JVMPI_ASSERT(results != nullptr || count <= 0, "((results) != NULL)");
  if (!list || !results) return;
  for (jint i = 0; i < count; i++) {
    resumeThread(list[i]);
    results[i] = 0;
  }
}

jint JNICALL getThreadStatus(JNIEnv* env) {
  JVMPI_ASSERT(env != nullptr, "((env) != NULL)");
  if (!env) return JVMPI_FAIL;
  K5VMThread* thread = threadOf(env);
  uintptr_t flags = k5thread_get_flags(thread->osThread, nullptr);
  jint status;
  if ((flags & K5THREAD_FLAG_BLOCKED) || k5vm_blockingObject(thread))
    status = JVMPI_THREAD_MONITOR_WAIT;
  else if (flags & (K5THREAD_FLAG_WAITING | K5THREAD_FLAG_TIMED_WAIT))
    status = JVMPI_THREAD_CONDVAR_WAIT;
  else
    status = JVMPI_THREAD_RUNNABLE;
  if (flags & K5THREAD_FLAG_SUSPENDED) status |= JVMPI_THREAD_SUSPENDED;
  if (flags & K5THREAD_FLAG_INTERRUPTED) status |= JVMPI_THREAD_INTERRUPTED;
  return status;
}

jboolean JNICALL threadHasRun(JNIEnv* env) {
  JVMPI_ASSERT(env != nullptr, "((env) != NULL)");
  if (!env) return JNI_FALSE;
  return (__atomic_load_n(&threadOf(env)->privateFlags, __ATOMIC_SEQ_CST) & K5_PRIVATE_FLAGS_NOT_RUN_SINCE_RESUMED) ? JNI_FALSE : JNI_TRUE;
}

struct SystemThreadStart {
  k5thread_monitor_t monitor;
  jint result;
  const char* name;
  void (*f)(void*);
  K5JavaVM* vm;
};

int systemThreadMain(void* argument) {
  auto* start = static_cast<SystemThreadStart*>(argument);
  K5JavaVM* vm = start->vm;
  void (*f)(void*) = start->f;
  K5VMThread* self = nullptr;
  jint result = k5vm_attachSystemDaemonThread(vm, &self, start->name);
  k5thread_monitor_enter(start->monitor);
  start->result = result;
  k5thread_monitor_notify_all(start->monitor);
  k5thread_monitor_exit(start->monitor);
  // The creator may return from here on: start is not used again.
  if (result == JNI_OK) {
    f(self->threadObject);
    JavaVM* javaVM = reinterpret_cast<JavaVM*>(vm);
    javaVM->functions->DetachCurrentThread(javaVM);
  }
  return 0;
}

jint JNICALL createSystemThread(char* name, jint priority, void (*f)(void*)) {
  K5JavaVM* vm = vmOf();
  JVMPI_ASSERT(f != nullptr, "((f) != NULL)");
  if (!vm || !f) return JVMPI_FAIL;
  SystemThreadStart start{nullptr, 1, name, f, vm};
  if (k5thread_monitor_init_with_name(&start.monitor, 0, nullptr) != K5THREAD_SUCCESS) return JVMPI_FAIL;
  if (priority != JVMPI_MINIMUM_PRIORITY && priority != JVMPI_MAXIMUM_PRIORITY) priority = JVMPI_NORMAL_PRIORITY;
  k5thread_t thread = nullptr;
  k5thread_monitor_enter(start.monitor);
  if (k5thread_create(&thread, vm->defaultThreadStackSize, static_cast<uintptr_t>(priority), 0, systemThreadMain,
                      &start) != K5THREAD_SUCCESS) {
    k5thread_monitor_exit(start.monitor);
    k5thread_monitor_destroy(start.monitor);
    return JVMPI_FAIL;
  }
  while (start.result > 0) k5thread_monitor_wait(start.monitor);
  k5thread_monitor_exit(start.monitor);
  k5thread_monitor_destroy(start.monitor);
  return start.result;
}

void JNICALL setThreadLocalStorage(JNIEnv* env, void* pointer) {
  JVMPI_ASSERT(env != nullptr, "((env_id) != NULL)");
  if (env) threadOf(env)->profilerTlsWord = pointer;
}

void* JNICALL getThreadLocalStorage(JNIEnv* env) {
  JVMPI_ASSERT(env != nullptr, "((env_id) != NULL)");
  return env ? threadOf(env)->profilerTlsWord : nullptr;
}

void JNICALL disableGC() {
  K5VMThread* thread = currentThread();
  JVMPI_ASSERT(thread != nullptr, "((vmThread) != NULL)");
  if (!thread) return;
  if (thread->gcDisableCount == 0 && (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS)) return;
  if (thread->gcDisableCount == 0) k5vm_acquireVMAccess(thread);
  thread->gcDisableCount++;
}

void JNICALL enableGC() {
  K5VMThread* thread = currentThread();
  JVMPI_ASSERT(thread != nullptr, "((vmThread) != NULL)");
  if (!thread || thread->gcDisableCount == 0) return;
  if (--thread->gcDisableCount == 0) k5vm_releaseVMAccess(thread);
}

void JNICALL runGC() {
  K5JavaVM* vm = vmOf();
  K5VMThread* thread = currentThread();
  if (!vm || !thread || (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS) || vm->suppressExplicitGC) return;
  k5vm_acquireVMAccess(thread);
  k5gc_fullCollect(thread);
  k5vm_releaseVMAccess(thread);
}

jobjectID JNICALL getThreadObject(JNIEnv* env) {
  JVMPI_ASSERT(env != nullptr, "((env) != NULL)");
  return env ? id(threadOf(env)->threadObject) : nullptr;
}

jobjectID JNICALL getMethodClass(jmethodID mid) {
  K5Method* method = k5vm_methodFromID(mid);
  JVMPI_ASSERT(method != nullptr, "((method) != NULL)");
  if (!method || !method->declaringClass) return nullptr;
  return id(method->declaringClass->classObject);
}

jobject JNICALL jobjectID2jobject(jobjectID jid) {
  JVMPI_ASSERT(jid != nullptr, "((jid) != NULL)");
  if (!jid) return nullptr;
  K5VMThread* thread = currentThread();
  JVMPI_ASSERT(thread != nullptr, "((currThread) != NULL)");
  return thread ? k5vm_newLocalRef(thread, object(jid)) : nullptr;
}

jobjectID JNICALL jobject2jobjectID(jobject reference) {
  JVMPI_ASSERT(reference != nullptr, "((obj) != NULL)");
  return reference ? id(k5vm_objectFromRef(reference)) : nullptr;
}

const JVMPI_Interface kTemplate = {
    JVMPI_VERSION_1_2,  nullptr,          enableEvent,         disableEvent,         requestEvent,
    getCallTrace,       profilerExit,     rawMonitorCreate,    rawMonitorEnter,      rawMonitorExit,
    rawMonitorWait,     rawMonitorNotifyAll, rawMonitorDestroy, getCurrentThreadCpuTime, suspendThread,
    resumeThread,       getThreadStatus,  threadHasRun,        createSystemThread,   setThreadLocalStorage,
    getThreadLocalStorage, disableGC,     enableGC,            runGC,                getThreadObject,
    getMethodClass,     jobjectID2jobject, jobject2jobjectID,  suspendThreadList,    resumeThreadList,
};

void registerTrace(JavaVM* javaVM) {
  K5TraceInterface* trace = nullptr;
  if (javaVM->functions->GetEnv(javaVM, reinterpret_cast<void**>(&trace), K5_TRACE_VERSION_1_1) != JNI_OK || !trace)
    return;
  if (provider.trace) return;  // registered by the first load
  provider.module.name = "k5jvmpi";
  provider.module.formatFile = "K5TraceFormat.dat";
  provider.module.pointCount = kTracePointCount;
  provider.module.active = provider.active;
  if (trace->RegisterModule(javaVM, &provider.module) == JNI_OK) provider.trace = trace;
}

}  // namespace

PROVIDER_EXPORT jint JNICALL JVM_OnLoad(JavaVM* javaVM, char*, void*) {
  if (!javaVM) return -1;
  registerTrace(javaVM);
  K5JavaVM* expected = nullptr;
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  if (!provider.vm.compare_exchange_strong(expected, vm)) return -1;
  if (vm->jvmpiMonitor) return 0;
  auto* table = static_cast<JVMPI_Interface*>(
      vm->portLibrary->mem_allocate_memory(vm->portLibrary, sizeof(JVMPI_Interface), "jvmpisup"));
  k5thread_monitor_t monitor = nullptr;
  if (!table || k5thread_monitor_init_with_name(&monitor, 0, nullptr) != K5THREAD_SUCCESS) {
    if (monitor) k5thread_monitor_destroy(monitor);
    if (table) vm->portLibrary->mem_free_memory(vm->portLibrary, table);
    vm->jvmpiMonitor = nullptr;
    return -1;
  }
  memcpy(table, &kTemplate, sizeof kTemplate);
  vm->jvmpiInterface = table;
  vm->jvmpiMonitor = monitor;
  for (uintptr_t event : {20, 22, 23, 24, 31, 32}) k5hook_reserve(vm->vmHooks, event);
  for (const PermanentHook& hook : kPermanentHooks) {
    K5HookInterface* hooks = hooksOf(vm, hook.which);
    if (hooks) k5hook_register(hooks, hook.event, hook.function, nullptr);
  }
  if (vm->jitConfig) vm->jitConfig->jitReportFlags = 0x27;
  return 0;
}

PROVIDER_EXPORT jint JNICALL JVM_OnUnload(JavaVM* javaVM) {
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  if (!vm) return 0;
  if (vm->jvmpiMonitor) {
    k5thread_monitor_destroy(vm->jvmpiMonitor);
    vm->jvmpiMonitor = nullptr;
  }
  if (vm->jvmpiInterface) {
    vm->portLibrary->mem_free_memory(vm->portLibrary, vm->jvmpiInterface);
    vm->jvmpiInterface = nullptr;
  }
  if (provider.trace) {
    provider.trace->DeregisterModule(javaVM, &provider.module);
    provider.trace = nullptr;
  }
  return 0;
}

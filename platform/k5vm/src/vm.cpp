// The substitute K5 VM: the VM record and its invocation interface, VM threads and VM access,
// classes, the object heap and its collector, stacks and references, and the trace service.
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <algorithm>
#include <functional>

#include "internal.h"

namespace {

thread_local K5VMThread* tlsCurrent = nullptr;

constexpr uintptr_t kSegmentSize = 2 * 1024 * 1024;
constexpr uintptr_t kClassMemoryType = 0x10000;  // VM-internal memory: not object memory

K5VMPrivate* priv(K5JavaVM* vm) { return vm->privateData; }

uint32_t roundUp8(uintptr_t size) { return static_cast<uint32_t>((size + 7) & ~static_cast<uintptr_t>(7)); }

// ---- Memory in the low 4 GB, so segment and object identities fit 32-bit identifiers ----
void* mapMemory(uintptr_t size) {
  void* memory = MAP_FAILED;
#ifdef MAP_32BIT
  memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
#endif
  if (memory == MAP_FAILED)
    memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

}  // namespace

K5VMThread* vmCurrentThread() { return tlsCurrent; }

void vmLog(K5JavaVM* vm, const std::string& text) {
  std::lock_guard<std::mutex> guard(priv(vm)->logLock);
  priv(vm)->log.push_back(text);
}

const char* vmIntern(K5JavaVM* vm, const std::string& text) {
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  memcpy(copy.get(), text.c_str(), text.size() + 1);
  const char* result = copy.get();
  priv(vm)->strings.push_back(std::move(copy));
  return result;
}

// ---- Segments ---------------------------------------------------------------------------

K5MemorySegment* vmAddSegment(K5VMThread* thread, uintptr_t type, uintptr_t size, const char* spaceName) {
  K5JavaVM* vm = thread ? thread->javaVM : nullptr;
  return nullptr != vm ? [&]() -> K5MemorySegment* {
    auto* base = static_cast<uint8_t*>(mapMemory(size));
    if (!base) return nullptr;
    auto* segment = reinterpret_cast<K5MemorySegment*>(base);
    memset(segment, 0, sizeof *segment);
    segment->type = type;
    segment->heapBase = base + roundUp8(sizeof(K5MemorySegment) + 64);
    segment->heapTop = base + size;
    segment->heapAlloc = segment->heapBase;
    segment->size = static_cast<uintptr_t>(segment->heapTop - segment->heapBase);
    segment->spaceName = spaceName;
    {
      std::lock_guard<std::recursive_mutex> guard(priv(vm)->segmentLock);
      priv(vm)->segments.push_back(segment);
      K5MemorySegment** link = &vm->objectSegments;
      while (*link) link = &(*link)->nextSegment;
      *link = segment;
    }
    K5GCSegmentEvent event{thread, segment};
    k5hook_dispatch(vm->gcHooks, K5HOOK_GC_SEGMENT_ADDED, &event);
    return segment;
  }()
                      : nullptr;
}

void vmRemoveSegment(K5VMThread* thread, K5MemorySegment* segment) {
  K5JavaVM* vm = thread->javaVM;
  K5GCSegmentEvent event{thread, segment};
  k5hook_dispatch(vm->gcHooks, K5HOOK_GC_SEGMENT_REMOVED, &event);
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->segmentLock);
  K5MemorySegment** link = &vm->objectSegments;
  while (*link && *link != segment) link = &(*link)->nextSegment;
  if (*link) *link = segment->nextSegment;
  auto& list = priv(vm)->segments;
  list.erase(std::remove(list.begin(), list.end(), segment), list.end());
  munmap(segment, segment->size + static_cast<uintptr_t>(segment->heapBase - reinterpret_cast<uint8_t*>(segment)));
}

namespace {

// Raw allocation in a segment of the wanted kind (no events).
K5Object* rawAllocate(K5JavaVM* vm, K5Class* clazz, uint32_t size, uint32_t flags, K5MemorySegment** where,
                      uintptr_t preferType = K5_MEMORY_TYPE_NEW) {
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->heapLock);
  size = roundUp8(size);
  for (int pass = 0; pass < 2; pass++) {
    for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
      if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
      if (pass == 0 && !(segment->type & preferType)) continue;
      if (static_cast<uintptr_t>(segment->heapTop - segment->heapAlloc) < size) continue;
      auto* object = reinterpret_cast<K5Object*>(segment->heapAlloc);
      memset(object, 0, size);
      object->clazz = clazz;
      object->size = size;
      object->flags = flags;
      segment->heapAlloc += size;
      if (where) *where = segment;
      return object;
    }
  }
  return nullptr;
}

uint32_t fieldOffset(K5Class* clazz, const char* name) {
  for (K5Class* c = clazz; c; c = c->superclass)
    for (uint32_t i = 0; i < c->fieldCount; i++)
      if (!(c->fields[i].modifiers & K5_ACC_STATIC) && strcmp(c->fields[i].name, name) == 0)
        return c->fields[i].offset;
  return 0;
}

K5Object*& referenceField(K5Object* object, uint32_t offset) {
  return *reinterpret_cast<K5Object**>(reinterpret_cast<uint8_t*>(object) + offset);
}

bool isReferenceSignature(const char* signature) { return signature && (signature[0] == 'L' || signature[0] == '['); }

K5Class*& classSlotOfClassObject(K5Object* object) {
  return *reinterpret_cast<K5Class**>(reinterpret_cast<uint8_t*>(object) + K5_OBJECT_HEADER_SIZE);
}

K5Object* newClassObject(K5JavaVM* vm, K5Class* clazz) {
  K5Class* classClass = priv(vm)->classClass;
  uint32_t size = K5_OBJECT_HEADER_SIZE + (classClass ? classClass->instanceSize : 8);
  K5Object* object = rawAllocate(vm, classClass, size < K5_OBJECT_HEADER_SIZE + 8 ? K5_OBJECT_HEADER_SIZE + 8 : size, 0,
                                 nullptr, K5_MEMORY_TYPE_OLD);
  if (object) classSlotOfClassObject(object) = clazz;
  return object;
}

K5Class* newClassRecord(K5JavaVM* vm, const std::string& name) {
  auto* clazz = static_cast<K5Class*>(calloc(1, sizeof(K5Class)));
  clazz->name = vmIntern(vm, name);
  return clazz;
}

void linkClass(K5JavaVM* vm, K5Class* clazz) {
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->classLock);
  K5Class** link = &vm->classes;
  while (*link) link = &(*link)->nextClass;
  *link = clazz;
}

// Every reference the VM holds: fn is called with each slot and may change it.
void forEachReference(K5JavaVM* vm, const std::function<void(K5Object*&)>& fn) {
  K5VMPrivate* p = priv(vm);
  {
    std::lock_guard<std::recursive_mutex> guard(p->threadListLock);
    K5VMThread* thread = vm->mainThread;
    if (thread) {
      do {
        if (thread->threadObject) fn(thread->threadObject);
        if (thread->blockingObject) fn(thread->blockingObject);
        for (size_t i = 0; i < thread->privateData->depth; i++)
          for (K5Object*& slot : thread->privateData->stack[i].slots)
            if (slot) fn(slot);
        for (K5Object*& slot : thread->privateData->localRefs)
          if (slot) fn(slot);
        for (K5Object*& slot : thread->privateData->objectSlots)
          if (slot) fn(slot);
        thread = thread->linkNext;
      } while (thread && thread != vm->mainThread);
    }
  }
  {
    std::lock_guard<std::mutex> guard(p->globalRefLock);
    for (GlobalRef& ref : p->globalRefs)
      if (ref.used && ref.object) fn(ref.object);
  }
  {
    std::lock_guard<std::recursive_mutex> guard(p->classLock);
    for (K5Class* clazz = vm->classes; clazz; clazz = clazz->nextClass) {
      if (clazz->classObject) fn(clazz->classObject);
      if (clazz->classLoader) fn(clazz->classLoader);
      for (uint32_t i = 1; i < clazz->constantPoolCount; i++)
        if (clazz->constantPool[i].kind == K5_CP_STRING && clazz->constantPool[i].value)
          fn(reinterpret_cast<K5Object*&>(clazz->constantPool[i].value));
      for (uint32_t i = 0; i < clazz->fieldCount; i++)
        if ((clazz->fields[i].modifiers & K5_ACC_STATIC) && isReferenceSignature(clazz->fields[i].signature)) {
          K5Object*& slot = *reinterpret_cast<K5Object**>(clazz->staticData + clazz->fields[i].offset);
          if (slot) fn(slot);
        }
    }
    for (auto& entry : p->namedObjects)
      if (entry.second) fn(entry.second);
  }
  // References inside heap objects.
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
    for (uint8_t* cursor = segment->heapBase; cursor < segment->heapAlloc;) {
      auto* object = reinterpret_cast<K5Object*>(cursor);
      cursor += object->size;
      if (object->flags & K5_OBJECT_HOLE) continue;
      K5Class* clazz = object->clazz;
      if (object->flags & K5_OBJECT_ARRAY) {
        if (clazz->componentType && !(clazz->componentType->flags & K5_CLASS_PRIMITIVE)) {
          auto* array = reinterpret_cast<K5ArrayObject*>(object);
          auto** elements = reinterpret_cast<K5Object**>(reinterpret_cast<uint8_t*>(object) + K5_ARRAY_HEADER_SIZE);
          for (uint32_t i = 0; i < array->length; i++)
            if (elements[i]) fn(elements[i]);
        }
        continue;
      }
      for (K5Class* c = clazz; c; c = c->superclass)
        for (uint32_t i = 0; i < c->fieldCount; i++)
          if (!(c->fields[i].modifiers & K5_ACC_STATIC) && isReferenceSignature(c->fields[i].signature)) {
            K5Object*& slot = referenceField(object, c->fields[i].offset);
            if (slot) fn(slot);
          }
    }
  }
}

}  // namespace

// ---- Object monitors ----------------------------------------------------------------------

ObjectMonitor* vmObjectMonitor(K5JavaVM* vm, K5Object* object) {
  std::lock_guard<std::mutex> guard(priv(vm)->monitorLock);
  ObjectMonitor*& entry = priv(vm)->objectMonitors[object];
  if (!entry) {
    entry = new ObjectMonitor;
    k5thread_monitor_init_with_name(&entry->monitor, K5THREAD_MONITOR_OBJECT, nullptr);
    k5thread_monitor_set_user_data(entry->monitor, object);
  }
  return entry;
}

// ---- Moves and frees ----------------------------------------------------------------------

void vmMoveObject(K5VMThread* thread, K5Object* object) {
  K5JavaVM* vm = thread->javaVM;
  if (!object || (object->flags & K5_OBJECT_HOLE)) return;
  K5GCObjectMovedEvent event{thread, object, nullptr, nullptr, nullptr};
  {
    // Lock order: classes, then the heap (as class definition does).
    std::lock_guard<std::recursive_mutex> classes(priv(vm)->classLock);
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->heapLock);
    K5MemorySegment* from = k5gc_segmentOfObject(vm, object);
    uintptr_t target = (from && (from->type & K5_MEMORY_TYPE_NEW)) ? K5_MEMORY_TYPE_OLD : K5_MEMORY_TYPE_NEW;
    K5MemorySegment* to = nullptr;
    K5Object* moved = rawAllocate(vm, object->clazz, object->size, object->flags, &to, target);
    if (!moved) return;  // no room anywhere: the object stays
    memcpy(moved, object, object->size);
    // The old place becomes a hole.
    uint32_t size = object->size;
    memset(object, 0, size);
    object->size = size;
    object->flags = K5_OBJECT_HOLE;
    forEachReference(vm, [&](K5Object*& slot) {
      if (slot == object) slot = moved;
    });
    {
      std::lock_guard<std::mutex> monitors(priv(vm)->monitorLock);
      auto found = priv(vm)->objectMonitors.find(object);
      if (found != priv(vm)->objectMonitors.end()) {
        ObjectMonitor* entry = found->second;
        priv(vm)->objectMonitors.erase(found);
        k5thread_monitor_set_user_data(entry->monitor, moved);
        priv(vm)->objectMonitors[moved] = entry;
      }
    }
    if (moved->clazz == priv(vm)->classClass) {
      K5Class* clazz = classSlotOfClassObject(moved);
      if (clazz) clazz->classObject = moved;
    }
    event = K5GCObjectMovedEvent{thread, object, from, moved, to};
  }
  // Hooks run without the VM's locks.
  k5hook_dispatch(vm->gcHooks, K5HOOK_GC_OBJECT_MOVED, &event);
}

void vmFreeObject(K5VMThread* thread, K5Object* object) {
  K5JavaVM* vm = thread->javaVM;
  if (!object || (object->flags & K5_OBJECT_HOLE)) return;
  // Hooks see the object before it becomes a hole, and run without the VM's locks.
  K5GCObjectEvent event{thread, object, k5gc_segmentOfObject(vm, object)};
  k5hook_dispatch(vm->gcHooks, K5HOOK_GC_OBJECT_FREED, &event);
  std::lock_guard<std::recursive_mutex> classes(priv(vm)->classLock);
  std::lock_guard<std::recursive_mutex> guard(priv(vm)->heapLock);
  forEachReference(vm, [&](K5Object*& slot) {
    if (slot == object) slot = nullptr;
  });
  uint32_t size = object->size;
  memset(object, 0, size);
  object->size = size;
  object->flags = K5_OBJECT_HOLE;
}

void vmCollect(K5VMThread* thread, const std::vector<K5Object*>& moves, const std::vector<K5Object*>& frees) {
  K5JavaVM* vm = thread->javaVM;
  k5vm_acquireExclusiveVMAccess(thread);
  K5VMThreadEvent start{thread};
  k5hook_dispatch(vm->gcHooks, K5HOOK_GC_GLOBAL_START, &start);
  for (K5Object* object : moves)
    if (object) vmMoveObject(thread, object);
  for (K5Object* object : frees)
    if (object) vmFreeObject(thread, object);
  K5VMThreadEvent end{thread};
  k5hook_dispatch(vm->gcHooks, K5HOOK_GC_GLOBAL_END, &end);
  k5vm_releaseExclusiveVMAccess(thread);
}

// ---- Strings and thread objects -------------------------------------------------------------

K5Object* vmNewString(K5VMThread* thread, const std::string& utf8) {
  K5JavaVM* vm = thread->javaVM;
  std::u16string text;
  // Decode UTF-8 (malformed bytes are taken as Latin-1).
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t code = c;
    size_t length = 1;
    if (c >= 0xE0 && c < 0xF0 && i + 2 < utf8.size()) {
      code = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
      length = 3;
    } else if (c >= 0xC0 && c < 0xE0 && i + 1 < utf8.size()) {
      code = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
      length = 2;
    }
    text.push_back(static_cast<char16_t>(code));
    i += length;
  }
  K5Class* charArray = priv(vm)->primitiveArray['C'];
  uint32_t length = static_cast<uint32_t>(text.size());
  K5Object* chars = rawAllocate(vm, charArray, K5_ARRAY_HEADER_SIZE + 2 * length, K5_OBJECT_ARRAY, nullptr);
  if (!chars) return nullptr;
  reinterpret_cast<K5ArrayObject*>(chars)->length = length;
  memcpy(reinterpret_cast<uint8_t*>(chars) + K5_ARRAY_HEADER_SIZE, text.data(), 2 * length);
  K5Class* stringClass = priv(vm)->stringClass;
  // Objects move only in a collection, which waits for this thread's VM access.
  K5Object* string = rawAllocate(vm, stringClass, K5_OBJECT_HEADER_SIZE + stringClass->instanceSize, 0, nullptr);
  if (!string) return nullptr;
  referenceField(string, fieldOffset(stringClass, "value")) = chars;
  return string;
}

namespace {

K5Object* groupObject(K5VMThread* thread, const std::string& name, const std::string& parent) {
  K5JavaVM* vm = thread->javaVM;
  K5VMPrivate* p = priv(vm);
  std::lock_guard<std::recursive_mutex> guard(p->classLock);
  std::string key = "\x01group:" + name;
  auto found = p->namedObjects.find(key);
  if (found != p->namedObjects.end()) return found->second;
  K5Object* parentObject = parent.empty() ? nullptr : groupObject(thread, parent, "");
  K5Object* nameObject = vmNewString(thread, name);
  K5Class* groupClass = p->threadGroupClass;
  K5Object* group = rawAllocate(vm, groupClass, K5_OBJECT_HEADER_SIZE + groupClass->instanceSize, 0, nullptr);
  if (!group) return nullptr;
  referenceField(group, fieldOffset(groupClass, "name")) = nameObject;
  referenceField(group, fieldOffset(groupClass, "parent")) = parentObject;
  p->namedObjects[key] = group;
  return group;
}

}  // namespace

K5VMThread* vmNewThread(K5JavaVM* vm, const std::string& name, const std::string& group, const std::string& parent,
                        bool withObject, bool daemon) {
  auto* thread = static_cast<K5VMThread*>(calloc(1, sizeof(K5VMThread)));
  thread->functions = nullptr;
  thread->functions = k5vmJniTable();
  thread->javaVM = vm;
  thread->osThread = k5thread_self();
  thread->privateData = new K5VMThreadPrivate;
  thread->privateData->name = name;
  if (daemon) __atomic_fetch_or(&thread->privateFlags, K5_PRIVATE_FLAGS_DAEMON, __ATOMIC_SEQ_CST);
  tlsCurrent = thread;
  {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->threadListLock);
    if (!vm->mainThread) {
      vm->mainThread = thread;
      thread->linkNext = thread->linkPrevious = thread;
    } else {
      K5VMThread* last = vm->mainThread->linkPrevious;
      thread->linkNext = vm->mainThread;
      thread->linkPrevious = last;
      last->linkNext = thread;
      vm->mainThread->linkPrevious = thread;
    }
  }
  if (withObject) {
    k5vm_acquireVMAccess(thread);
    K5Object* groupObj = group.empty() ? nullptr : groupObject(thread, group, parent);
    K5VMPrivate* p = priv(vm);
    K5Object* nameObject = vmNewString(thread, name);
    K5Class* threadClass = p->threadClass;
    K5Object* object = rawAllocate(vm, threadClass, K5_OBJECT_HEADER_SIZE + threadClass->instanceSize, 0, nullptr);
    if (object) {
      referenceField(object, fieldOffset(threadClass, "name")) = nameObject;
      referenceField(object, fieldOffset(threadClass, "group")) = groupObj;
      thread->threadObject = object;
    }
    k5vm_releaseVMAccess(thread);
  }
  return thread;
}

void vmStartedThread(K5VMThread* thread) {
  bool had = __atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS;
  if (!had) k5vm_acquireVMAccess(thread);
  K5VMThreadEvent event{thread};
  k5hook_dispatch(thread->javaVM->vmHooks, K5HOOK_VM_THREAD_STARTED, &event);
  if (!had) k5vm_releaseVMAccess(thread);
}

void vmEndThread(K5VMThread* thread) {
  K5JavaVM* vm = thread->javaVM;
  if (!(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS)) k5vm_acquireVMAccess(thread);
  K5VMThreadEvent event{thread};
  k5hook_dispatch(vm->vmHooks, K5HOOK_VM_THREAD_END, &event);
  k5vm_releaseVMAccess(thread);
  {
    std::lock_guard<std::recursive_mutex> guard(priv(vm)->threadListLock);
    if (vm->mainThread == thread) {
      vm->mainThread = thread->linkNext == thread ? nullptr : thread->linkNext;
    }
    thread->linkPrevious->linkNext = thread->linkNext;
    thread->linkNext->linkPrevious = thread->linkPrevious;
    for (auto it = priv(vm)->namedThreads.begin(); it != priv(vm)->namedThreads.end();)
      it = it->second == thread ? priv(vm)->namedThreads.erase(it) : std::next(it);
  }
  if (tlsCurrent == thread) tlsCurrent = nullptr;
  delete thread->privateData;
  free(thread);
}

// ---- Class definition --------------------------------------------------------------------------

namespace {

K5Class* definePrimitive(K5JavaVM* vm, const char* name, char signature, uint32_t size) {
  K5Class* clazz = newClassRecord(vm, name);
  clazz->flags = K5_CLASS_PRIMITIVE;
  clazz->elementSize = size;
  clazz->superclass = nullptr;
  priv(vm)->primitive[static_cast<int>(signature)] = clazz;
  linkClass(vm, clazz);
  return clazz;
}

K5Class* bootClass(K5JavaVM* vm, const char* name, K5Class* super,
                   std::initializer_list<std::pair<const char*, const char*>> fields) {
  ClassDeclaration declaration;
  declaration.name = name;
  declaration.super = super ? super->name : "";
  for (auto& field : fields) declaration.fields.push_back({field.first, field.second, 0});
  return vmDefineClass(vm, declaration, nullptr);
}

}  // namespace

K5Class* vmDefineClass(K5JavaVM* vm, const ClassDeclaration& d, std::string* error) {
  K5VMPrivate* p = priv(vm);
  K5Class* super = nullptr;
  if (!d.super.empty()) {
    super = k5vm_findClass(vm, d.super.c_str(), nullptr);
    if (!super) {
      if (error) *error = "superclass " + d.super + " of " + d.name + " is not loaded";
      return nullptr;
    }
  } else if (d.name != "java/lang/Object") {
    super = p->objectClass;
  }
  K5Class* clazz = newClassRecord(vm, d.name);
  clazz->superclass = super;
  clazz->sourceFileName = d.source.empty() ? nullptr : vmIntern(vm, d.source);
  clazz->modifiers = K5_ACC_PUBLIC;
  clazz->interfaceCount = static_cast<uint32_t>(d.interfaces.size());
  clazz->interfaceNames = static_cast<const char**>(calloc(d.interfaces.size() + 1, sizeof(char*)));
  for (size_t i = 0; i < d.interfaces.size(); i++) clazz->interfaceNames[i] = vmIntern(vm, d.interfaces[i]);
  clazz->methodCount = static_cast<uint32_t>(d.methods.size());
  clazz->methods = static_cast<K5Method*>(calloc(d.methods.size() + 1, sizeof(K5Method)));
  for (size_t i = 0; i < d.methods.size(); i++) {
    K5Method& method = clazz->methods[i];
    method.declaringClass = clazz;
    method.name = vmIntern(vm, d.methods[i].name);
    method.signature = vmIntern(vm, d.methods[i].signature);
    method.modifiers = d.methods[i].modifiers;
    std::vector<K5LineNumber> lines = d.methods[i].lines;
    std::sort(lines.begin(), lines.end(), [](const K5LineNumber& a, const K5LineNumber& b) { return a.pc < b.pc; });
    method.lineNumberCount = static_cast<uint32_t>(lines.size());
    method.lineNumbers = static_cast<K5LineNumber*>(calloc(lines.size() + 1, sizeof(K5LineNumber)));
    std::copy(lines.begin(), lines.end(), method.lineNumbers);
  }
  clazz->fieldCount = static_cast<uint32_t>(d.fields.size());
  clazz->fields = static_cast<K5Field*>(calloc(d.fields.size() + 1, sizeof(K5Field)));
  uint32_t instanceOffset = K5_OBJECT_HEADER_SIZE + (super ? super->instanceSize : 0);
  uint32_t staticOffset = 0;
  for (size_t i = 0; i < d.fields.size(); i++) {
    K5Field& field = clazz->fields[i];
    field.name = vmIntern(vm, d.fields[i].name);
    field.signature = vmIntern(vm, d.fields[i].signature);
    field.modifiers = d.fields[i].modifiers;
    if (field.modifiers & K5_ACC_STATIC) {
      field.offset = staticOffset;
      staticOffset += 8;
    } else {
      field.offset = instanceOffset;
      instanceOffset += 8;
    }
  }
  clazz->instanceSize = instanceOffset - K5_OBJECT_HEADER_SIZE;
  if (d.name == "java/lang/Class" && clazz->instanceSize < 8) clazz->instanceSize = 8;
  clazz->staticData = static_cast<uint8_t*>(calloc(staticOffset + 8, 1));
  clazz->constantPoolCount = static_cast<uint32_t>(d.constants.size() + 1);
  clazz->constantPool = static_cast<K5ConstantPoolEntry*>(calloc(d.constants.size() + 1, sizeof(K5ConstantPoolEntry)));
  if (!d.loaderObject.empty()) {
    auto found = p->namedObjects.find(d.loaderObject);
    if (found != p->namedObjects.end()) clazz->classLoader = found->second;
  }
  if (d.name == "java/lang/Class") p->classClass = clazz;
  clazz->classObject = p->classClass ? newClassObject(vm, clazz) : nullptr;
  linkClass(vm, clazz);
  K5VMThread* thread = tlsCurrent;
  for (size_t i = 0; i < d.constants.size(); i++) {
    K5ConstantPoolEntry& entry = clazz->constantPool[i + 1];
    entry.kind = d.constants[i].kind;
    if (entry.kind == K5_CP_CLASS) entry.value = k5vm_findClass(vm, d.constants[i].text.c_str(), nullptr);
    if (entry.kind == K5_CP_STRING && thread) entry.value = vmNewString(thread, d.constants[i].text);
  }
  return clazz;
}

K5Class* k5sim_arrayClassOf(K5JavaVM* vm, K5Class* element, uint32_t dimensions) {
  if (!element || dimensions == 0) return nullptr;
  K5VMPrivate* p = priv(vm);
  std::lock_guard<std::recursive_mutex> guard(p->classLock);
  K5Class* leaf = element;
  while (leaf->flags & K5_CLASS_ARRAY) {
    dimensions += leaf->arity;
    leaf = leaf->leafComponentType;
  }
  auto key = std::make_pair(leaf, dimensions);
  auto found = p->arrayClasses.find(key);
  if (found != p->arrayClasses.end()) return found->second;
  K5Class* component = dimensions > 1 ? k5sim_arrayClassOf(vm, leaf, dimensions - 1) : leaf;
  bool primitiveLeaf = leaf->flags & K5_CLASS_PRIMITIVE;
  char prefix[3] = {'[', 'L', 0};
  if (primitiveLeaf) {
    for (int c = 0; c < 128; c++)
      if (p->primitive[c] == leaf) prefix[1] = static_cast<char>(c);
  }
  K5Class* clazz = newClassRecord(vm, prefix);
  clazz->flags = K5_CLASS_ARRAY;
  clazz->superclass = p->objectClass;
  clazz->arity = dimensions;
  clazz->componentType = component;
  clazz->leafComponentType = leaf;
  clazz->elementSize = (dimensions == 1 && primitiveLeaf) ? leaf->elementSize : 8;
  clazz->interfaceNames = static_cast<const char**>(calloc(1, sizeof(char*)));
  clazz->methods = static_cast<K5Method*>(calloc(1, sizeof(K5Method)));
  clazz->fields = static_cast<K5Field*>(calloc(1, sizeof(K5Field)));
  clazz->constantPool = static_cast<K5ConstantPoolEntry*>(calloc(1, sizeof(K5ConstantPoolEntry)));
  clazz->constantPoolCount = 1;
  clazz->staticData = static_cast<uint8_t*>(calloc(1, 8));
  clazz->classObject = newClassObject(vm, clazz);
  p->arrayClasses[key] = clazz;
  if (dimensions == 1 && primitiveLeaf) p->primitiveArray[static_cast<unsigned char>(prefix[1])] = clazz;
  linkClass(vm, clazz);
  return clazz;
}

// ---- VM creation ----------------------------------------------------------------------------------

namespace {
jint JNICALL destroyJavaVM(JavaVM*) { return JNI_ERR; }
jint attach(JavaVM* javaVM, void** penv, void* args, bool daemon) {
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  if (!penv) return JNI_EINVAL;
  if (tlsCurrent && tlsCurrent->javaVM == vm) {
    *penv = tlsCurrent;
    return JNI_OK;
  }
  std::string name;
  std::string group = "main";
  auto* attachArgs = static_cast<JavaVMAttachArgs*>(args);
  if (attachArgs && attachArgs->version != JNI_VERSION_1_1 && attachArgs->version != JNI_VERSION_1_2 &&
      attachArgs->version != JNI_VERSION_1_4 && attachArgs->version != JNI_VERSION_1_6)
    return JNI_EVERSION;
  if (attachArgs && attachArgs->name) name = attachArgs->name;
  if (name.empty()) {
    std::lock_guard<std::recursive_mutex> guard(vm->privateData->threadListLock);
    name = "Thread-" + std::to_string(vm->privateData->threadCounter++);
  }
  K5VMThread* thread = vmNewThread(vm, name, group, "system", true, daemon);
  thread->privateData->attached = true;
  vmStartedThread(thread);
  *penv = thread;
  return JNI_OK;
}
jint JNICALL attachCurrentThread(JavaVM* vm, void** penv, void* args) { return attach(vm, penv, args, false); }
jint JNICALL attachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args) { return attach(vm, penv, args, true); }
jint JNICALL detachCurrentThread(JavaVM* javaVM) {
  return k5vm_detachCurrentThread(reinterpret_cast<K5JavaVM*>(javaVM));
}
jint JNICALL getEnv(JavaVM* javaVM, void** penv, jint version) {
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  if (!penv) return JNI_EINVAL;
  *penv = nullptr;
  if (version == 0x10000001 || version == 0x10000002 || version == 0x10000003) {
    if (!vm->jvmpiInterface) {
      // A profiler asks for JVMPI before the provider was loaded: load it now.
      std::string error;
      if (k5sim_loadAgent(vm, "K5JPI24", "", &error) != 0) fprintf(stderr, "%s\n", error.c_str());
    }
    if (!vm->jvmpiInterface) return JNI_EVERSION;
    *penv = vm->jvmpiInterface;
    return JNI_OK;
  }
  if (version == K5_TRACE_VERSION_1_1) {
    *penv = &vm->privateData->traceInterface;
    return JNI_OK;
  }
  if (version == JNI_VERSION_1_1 || version == JNI_VERSION_1_2 || version == JNI_VERSION_1_4 ||
      version == JNI_VERSION_1_6) {
    if (!tlsCurrent || tlsCurrent->javaVM != vm) return JNI_EDETACHED;
    *penv = tlsCurrent;
    return JNI_OK;
  }
  return JNI_EVERSION;
}

const JNIInvokeInterface_ kInvokeInterface = {
    nullptr,       nullptr,       nullptr, destroyJavaVM, attachCurrentThread, detachCurrentThread, getEnv,
    attachCurrentThreadAsDaemon,
};

// ---- Trace service ----
bool traceEnabledFor(K5VMPrivate* p, const char* name) {
  if (p->traceAll) return true;
  for (const std::string& module : p->traceModules)
    if (module == name) return true;
  return false;
}

K5JavaVM* traceVM = nullptr;  // the VM whose trace service records (one per process)

jint JNICALL registerModule(JavaVM* javaVM, K5TraceModule* module) {
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  if (!vm || !module || !module->name) return JNI_ERR;
  K5VMPrivate* p = vm->privateData;
  std::lock_guard<std::mutex> guard(p->traceLock);
  p->traceModuleList.push_back(module);
  if (module->active) memset(module->active, traceEnabledFor(p, module->name) ? 1 : 0, module->pointCount);
  return JNI_OK;
}
jint JNICALL deregisterModule(JavaVM* javaVM, K5TraceModule* module) {
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  if (!vm || !module) return JNI_ERR;
  K5VMPrivate* p = vm->privateData;
  std::lock_guard<std::mutex> guard(p->traceLock);
  auto& list = p->traceModuleList;
  list.erase(std::remove(list.begin(), list.end(), module), list.end());
  if (module->active) memset(module->active, 0, module->pointCount);
  return JNI_OK;
}
void record(K5JavaVM* vm, const std::string& text) {
  if (!vm) return;
  std::lock_guard<std::mutex> guard(vm->privateData->traceLock);
  if (vm->privateData->traceRecords.size() < 100000) vm->privateData->traceRecords.push_back(text);
}
void traceFn(K5VMThread* thread, K5TraceModule* module, uint32_t point, const char* format, ...) {
  if (!module || point >= module->pointCount || !module->active || !module->active[point]) return;
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format ? format : "", args);
  va_end(args);
  K5JavaVM* vm = thread ? thread->javaVM : traceVM;
  record(vm, std::string(module->name) + "." + std::to_string(point) + " " + buffer);
}
void assertionFn(K5VMThread* thread, K5TraceModule* module, uint32_t point, const char* text, const char* file,
                 int32_t line) {
  if (!module || point >= module->pointCount || !module->active || !module->active[point]) return;
  K5JavaVM* vm = thread ? thread->javaVM : traceVM;
  record(vm, std::string(module->name) + "." + std::to_string(point) + " ASSERT " + (file ? file : "") + ":" +
                 std::to_string(line) + " " + (text ? text : ""));
}

}  // namespace

K5JavaVM* k5sim_createVM(const std::vector<std::string>& options, std::string* error) {
  auto* vm = static_cast<K5JavaVM*>(calloc(1, sizeof(K5JavaVM)));
  auto* p = new K5VMPrivate;
  vm->privateData = p;
  vm->functions = &kInvokeInterface;
  vm->identifier = K5VM_IDENTIFIER;
  vm->portLibrary = k5vmPortLibrary();
  vm->defaultThreadStackSize = 256 * 1024;
  bool jit = true;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&k5sim_createVM), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    size_t slash = self.rfind('/');
    p->libraryPath = slash == std::string::npos ? "." : self.substr(0, slash);
  }
  for (const std::string& option : options) {
    p->arguments.push_back(option);
    p->consumed.push_back(false);
    if (option.rfind("-Xrun", 0) == 0) {
      K5SimAgent agent;
      std::string rest = option.substr(5);
      size_t colon = rest.find(':');
      agent.library = rest.substr(0, colon);
      if (colon != std::string::npos) agent.options = rest.substr(colon + 1);
      if (agent.library.empty()) {
        if (error) *error = "No library named in " + option;
        delete p;
        free(vm);
        return nullptr;
      }
      p->agents.push_back(agent);
    } else if (option.rfind("-Xanalyze:", 0) == 0 || option == "-Xanalyze") {
      K5SimAgent agent;
      agent.library = "K5PRF24";
      agent.analyzer = true;
      p->agents.push_back(agent);
    } else if (option.rfind("-Xlibpath:", 0) == 0) {
      p->libraryPath = option.substr(10);
    } else if (option.rfind("-Xtrace:", 0) == 0) {
      std::string list = option.substr(8);
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string module = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (module == "all") p->traceAll = true;
        if (!module.empty()) p->traceModules.push_back(module);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (option == "-Xnojit") {
      jit = false;
    } else if (option == "-Xsuppressgc") {
      vm->suppressExplicitGC = 1;
    }
  }
  p->traceInterface.version = K5_TRACE_VERSION_1_1;
  p->traceInterface.RegisterModule = registerModule;
  p->traceInterface.DeregisterModule = deregisterModule;
  p->traceInterface.Trace = traceFn;
  p->traceInterface.Assertion = assertionFn;
  traceVM = vm;
  vm->vmHooks = k5hook_newInterface();
  vm->gcHooks = k5hook_newInterface();
  if (jit) {
    vm->jitHooks = k5hook_newInterface();
    vm->jitConfig = static_cast<K5JITConfig*>(calloc(1, sizeof(K5JITConfig)));
  }
  // The heap: a new space and an old space of object memory, and VM-internal memory.
  K5VMThread bootstrap{};
  bootstrap.javaVM = vm;
  vmAddSegment(&bootstrap, K5_MEMORY_TYPE_OBJECT | K5_MEMORY_TYPE_NEW, kSegmentSize, "new");
  vmAddSegment(&bootstrap, K5_MEMORY_TYPE_OBJECT | K5_MEMORY_TYPE_OLD, kSegmentSize, "old");
  vmAddSegment(&bootstrap, kClassMemoryType, 64 * 1024, "classes");
  // Boot classes.
  p->objectClass = bootClass(vm, "java/lang/Object", nullptr, {});
  bootClass(vm, "java/lang/Class", p->objectClass, {{"vmRef", "J"}});
  p->objectClass->classObject = newClassObject(vm, p->objectClass);
  definePrimitive(vm, "boolean", 'Z', 1);
  definePrimitive(vm, "byte", 'B', 1);
  definePrimitive(vm, "char", 'C', 2);
  definePrimitive(vm, "short", 'S', 2);
  definePrimitive(vm, "int", 'I', 4);
  definePrimitive(vm, "float", 'F', 4);
  definePrimitive(vm, "long", 'J', 8);
  definePrimitive(vm, "double", 'D', 8);
  definePrimitive(vm, "void", 'V', 0);
  for (char c : std::string("ZBCSIFJD")) {
    K5Class* primitive = p->primitive[static_cast<int>(c)];
    primitive->classObject = newClassObject(vm, primitive);
    k5sim_arrayClassOf(vm, primitive, 1);
  }
  p->stringClass = bootClass(vm, "java/lang/String", p->objectClass, {{"value", "[C"}});
  p->threadGroupClass =
      bootClass(vm, "java/lang/ThreadGroup", p->objectClass, {{"name", "Ljava/lang/String;"}, {"parent", "Ljava/lang/ThreadGroup;"}});
  p->threadClass = bootClass(vm, "java/lang/Thread", p->objectClass,
                             {{"name", "Ljava/lang/String;"}, {"group", "Ljava/lang/ThreadGroup;"}});
  // The main thread.
  vmNewThread(vm, "main", "main", "system", true, false);
  return vm;
}

void k5sim_destroyVM(K5JavaVM* vm) {
  if (!vm) return;
  K5VMPrivate* p = vm->privateData;
  while (vm->mainThread) {
    K5VMThread* thread = vm->mainThread;
    {
      std::lock_guard<std::recursive_mutex> guard(p->threadListLock);
      if (thread->linkNext == thread) {
        vm->mainThread = nullptr;
      } else {
        vm->mainThread = thread->linkNext;
        thread->linkPrevious->linkNext = thread->linkNext;
        thread->linkNext->linkPrevious = thread->linkPrevious;
      }
    }
    if (tlsCurrent == thread) tlsCurrent = nullptr;
    delete thread->privateData;
    free(thread);
  }
  for (auto& entry : p->objectMonitors) {
    k5thread_monitor_destroy(entry.second->monitor);
    delete entry.second;
  }
  for (K5Class* clazz = vm->classes; clazz;) {
    K5Class* next = clazz->nextClass;
    for (uint32_t i = 0; i < clazz->methodCount; i++) free(clazz->methods[i].lineNumbers);
    free(clazz->methods);
    free(clazz->fields);
    free(clazz->interfaceNames);
    free(clazz->constantPool);
    free(clazz->staticData);
    free(clazz);
    clazz = next;
  }
  for (K5MemorySegment* segment : p->segments)
    munmap(segment, segment->size + static_cast<uintptr_t>(segment->heapBase - reinterpret_cast<uint8_t*>(segment)));
  k5hook_freeInterface(vm->vmHooks);
  k5hook_freeInterface(vm->gcHooks);
  k5hook_freeInterface(vm->jitHooks);
  free(vm->jitConfig);
  if (traceVM == vm) traceVM = nullptr;
  delete p;
  free(vm);
}

std::vector<std::string> k5sim_traceRecords(K5JavaVM* vm) {
  std::lock_guard<std::mutex> guard(vm->privateData->traceLock);
  return vm->privateData->traceRecords;
}

std::vector<std::string> k5sim_log(K5JavaVM* vm) {
  std::lock_guard<std::mutex> guard(vm->privateData->logLock);
  return vm->privateData->log;
}

// ---- Internal functions ------------------------------------------------------------------------

namespace {

// Waits on the access condition; the count lets releases skip the wake-up when nobody waits.
void waitForAccess(K5VMPrivate* p, std::unique_lock<std::mutex>& lock) {
  p->accessWaiters++;
  p->accessCond.wait(lock);
  p->accessWaiters--;
}

void wakeAccessWaiters(K5VMPrivate* p) {
  if (p->accessWaiters > 0) p->accessCond.notify_all();
}

}  // namespace

extern "C" {

K5VMThread* k5vm_currentThread(K5JavaVM* vm) { return tlsCurrent && tlsCurrent->javaVM == vm ? tlsCurrent : nullptr; }

void k5vm_acquireVMAccess(K5VMThread* thread) {
  if (!thread) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  std::unique_lock<std::mutex> lock(p->accessMutex);
  if (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS) return;
  bool stopped = false;
  while ((p->exclusiveOwner && p->exclusiveOwner != thread) ||
         (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_HALT_THREAD_SUSPEND)) {
    if ((__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_HALT_THREAD_SUSPEND) && !stopped) {
      stopped = true;
      __atomic_fetch_or(&thread->publicFlags, K5_PUBLIC_FLAGS_STOPPED, __ATOMIC_SEQ_CST);
      k5thread_set_suspended(thread->osThread, 1);
    }
    waitForAccess(p, lock);
  }
  if (stopped) {
    __atomic_fetch_and(&thread->publicFlags, ~static_cast<uint32_t>(K5_PUBLIC_FLAGS_STOPPED), __ATOMIC_SEQ_CST);
    k5thread_set_suspended(thread->osThread, 0);
  }
  __atomic_fetch_and(&thread->privateFlags, ~static_cast<uint32_t>(K5_PRIVATE_FLAGS_NOT_RUN_SINCE_RESUMED), __ATOMIC_SEQ_CST);
  __atomic_fetch_or(&thread->publicFlags, K5_PUBLIC_FLAGS_VM_ACCESS, __ATOMIC_SEQ_CST);
  p->accessCount++;
}

void k5vm_releaseVMAccess(K5VMThread* thread) {
  if (!thread) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  std::lock_guard<std::mutex> lock(p->accessMutex);
  if (!(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS)) return;
  __atomic_fetch_and(&thread->publicFlags, ~static_cast<uint32_t>(K5_PUBLIC_FLAGS_VM_ACCESS), __ATOMIC_SEQ_CST);
  p->accessCount--;
  wakeAccessWaiters(p);
}

void k5vm_acquireExclusiveVMAccess(K5VMThread* thread) {
  if (!thread) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  std::unique_lock<std::mutex> lock(p->accessMutex);
  if (p->exclusiveOwner == thread) {
    p->exclusiveDepth++;
    return;
  }
  bool hadAccess = __atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS;
  if (p->exclusiveOwner && hadAccess) {
    // Another thread is taking exclusive access: step aside until it is done.
    __atomic_fetch_and(&thread->publicFlags, ~static_cast<uint32_t>(K5_PUBLIC_FLAGS_VM_ACCESS), __ATOMIC_SEQ_CST);
    p->accessCount--;
    wakeAccessWaiters(p);
  }
  while (p->exclusiveOwner) waitForAccess(p, lock);
  if (hadAccess && !(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS)) {
    __atomic_fetch_or(&thread->publicFlags, K5_PUBLIC_FLAGS_VM_ACCESS, __ATOMIC_SEQ_CST);
    p->accessCount++;
  }
  p->exclusiveOwner = thread;
  p->exclusiveDepth = 1;
  int own = (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS) ? 1 : 0;
  while (p->accessCount - own > 0) {
    waitForAccess(p, lock);
    own = (__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS) ? 1 : 0;
  }
}

void k5vm_releaseExclusiveVMAccess(K5VMThread* thread) {
  if (!thread) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  std::lock_guard<std::mutex> lock(p->accessMutex);
  if (p->exclusiveOwner != thread) return;
  if (--p->exclusiveDepth == 0) {
    p->exclusiveOwner = nullptr;
    wakeAccessWaiters(p);
  }
}

void k5vm_checkHalt(K5VMThread* thread) {
  if (!thread || !(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_HALT_THREAD_SUSPEND)) return;
  bool had = __atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS;
  k5vm_releaseVMAccess(thread);
  k5vm_acquireVMAccess(thread);
  if (!had) k5vm_releaseVMAccess(thread);
}

void k5vm_haltThreadForSuspend(K5VMThread* thread) {
  if (!thread) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  std::lock_guard<std::mutex> lock(p->accessMutex);
  __atomic_fetch_or(&thread->publicFlags, K5_PUBLIC_FLAGS_HALT_THREAD_SUSPEND, __ATOMIC_SEQ_CST);
  wakeAccessWaiters(p);
}

void k5vm_resumeThread(K5VMThread* thread) {
  if (!thread) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  std::lock_guard<std::mutex> lock(p->accessMutex);
  if (!(__atomic_load_n(&thread->publicFlags, __ATOMIC_SEQ_CST) & K5_PUBLIC_FLAGS_VM_ACCESS))
    __atomic_fetch_or(&thread->privateFlags, K5_PRIVATE_FLAGS_NOT_RUN_SINCE_RESUMED, __ATOMIC_SEQ_CST);
  __atomic_fetch_and(&thread->publicFlags, ~static_cast<uint32_t>(K5_PUBLIC_FLAGS_HALT_THREAD_SUSPEND), __ATOMIC_SEQ_CST);
  wakeAccessWaiters(p);
}

const char* k5vm_findArgument(K5JavaVM* vm, const char* prefix, int consume) {
  if (!vm || !prefix) return nullptr;
  K5VMPrivate* p = vm->privateData;
  size_t length = strlen(prefix);
  for (size_t i = 0; i < p->arguments.size(); i++) {
    if (p->arguments[i].compare(0, length, prefix) == 0) {
      if (consume) p->consumed[i] = true;
      return p->arguments[i].c_str();
    }
  }
  return nullptr;
}

void k5vm_setAgentLibraryName(K5JavaVM* vm, const char* name) {
  if (vm && name) vm->agentLibraryName = vmIntern(vm, name);
}

void k5vm_lockThreadList(K5JavaVM* vm) { vm->privateData->threadListLock.lock(); }
void k5vm_unlockThreadList(K5JavaVM* vm) { vm->privateData->threadListLock.unlock(); }

jint k5vm_attachSystemDaemonThread(K5JavaVM* vm, K5VMThread** thread, const char* name) {
  JavaVMAttachArgs args{JNI_VERSION_1_2, const_cast<char*>(name), nullptr};
  void* env = nullptr;
  jint result = attach(reinterpret_cast<JavaVM*>(vm), &env, &args, true);
  if (result == JNI_OK) {
    auto* attached = static_cast<K5VMThread*>(env);
    __atomic_fetch_or(&attached->privateFlags, K5_PRIVATE_FLAGS_SYSTEM_THREAD, __ATOMIC_SEQ_CST);
    if (thread) *thread = attached;
  }
  return result;
}

jint k5vm_detachCurrentThread(K5JavaVM* vm) {
  K5VMThread* thread = k5vm_currentThread(vm);
  if (!thread) return JNI_EDETACHED;
  if (thread == vm->mainThread && !thread->privateData->attached) return JNI_ERR;
  vmEndThread(thread);
  return JNI_OK;
}

K5Object* k5vm_blockingObject(K5VMThread* thread) {
  return thread ? __atomic_load_n(&thread->blockingObject, __ATOMIC_SEQ_CST) : nullptr;
}

K5VMThread* k5vm_threadFromOSThread(K5JavaVM* vm, k5thread_t osThread) {
  if (!vm || !osThread) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(vm->privateData->threadListLock);
  K5VMThread* thread = vm->mainThread;
  if (!thread) return nullptr;
  do {
    if (thread->osThread == osThread) return thread;
    thread = thread->linkNext;
  } while (thread != vm->mainThread);
  return nullptr;
}

k5thread_monitor_t k5vm_objectMonitor(K5JavaVM* vm, K5Object* object) {
  if (!vm || !object) return nullptr;
  std::lock_guard<std::mutex> guard(vm->privateData->monitorLock);
  auto found = vm->privateData->objectMonitors.find(object);
  return found == vm->privateData->objectMonitors.end() ? nullptr : found->second->monitor;
}

void k5vm_iterateGlobalRefs(K5JavaVM* vm, void (*function)(K5JavaVM*, jobject, K5Object*, int, void*),
                            void* userData) {
  if (!vm || !function) return;
  std::vector<GlobalRef*> used;
  {
    std::lock_guard<std::mutex> guard(vm->privateData->globalRefLock);
    for (GlobalRef& ref : vm->privateData->globalRefs)
      if (ref.used) used.push_back(&ref);
  }
  for (GlobalRef* ref : used)
    function(vm, reinterpret_cast<jobject>(&ref->object), ref->object, ref->weak ? 1 : 0, userData);
}

K5Object* k5vm_threadObjectName(K5JavaVM* vm, K5Object* threadObject) {
  if (!threadObject || threadObject->clazz != vm->privateData->threadClass) return nullptr;
  return referenceField(threadObject, fieldOffset(vm->privateData->threadClass, "name"));
}
K5Object* k5vm_threadObjectGroup(K5JavaVM* vm, K5Object* threadObject) {
  if (!threadObject || threadObject->clazz != vm->privateData->threadClass) return nullptr;
  return referenceField(threadObject, fieldOffset(vm->privateData->threadClass, "group"));
}
K5Object* k5vm_threadGroupName(K5JavaVM* vm, K5Object* group) {
  if (!group || group->clazz != vm->privateData->threadGroupClass) return nullptr;
  return referenceField(group, fieldOffset(vm->privateData->threadGroupClass, "name"));
}
K5Object* k5vm_threadGroupParent(K5JavaVM* vm, K5Object* group) {
  if (!group || group->clazz != vm->privateData->threadGroupClass) return nullptr;
  return referenceField(group, fieldOffset(vm->privateData->threadGroupClass, "parent"));
}
uint32_t k5vm_stringLength(K5JavaVM* vm, K5Object* string) {
  if (!string || string->clazz != vm->privateData->stringClass) return 0;
  K5Object* chars = referenceField(string, fieldOffset(vm->privateData->stringClass, "value"));
  return chars ? reinterpret_cast<K5ArrayObject*>(chars)->length : 0;
}
const uint16_t* k5vm_stringChars(K5JavaVM* vm, K5Object* string) {
  if (!string || string->clazz != vm->privateData->stringClass) return nullptr;
  K5Object* chars = referenceField(string, fieldOffset(vm->privateData->stringClass, "value"));
  return chars ? reinterpret_cast<const uint16_t*>(reinterpret_cast<uint8_t*>(chars) + K5_ARRAY_HEADER_SIZE)
               : nullptr;
}

K5Class* k5vm_firstClass(K5JavaVM* vm) {
  K5Class* clazz = vm->classes;
  while (clazz && (clazz->flags & K5_CLASS_UNLOADED)) clazz = clazz->nextClass;
  return clazz;
}
K5Class* k5vm_nextClass(K5JavaVM*, K5Class* clazz) {
  clazz = clazz ? clazz->nextClass : nullptr;
  while (clazz && (clazz->flags & K5_CLASS_UNLOADED)) clazz = clazz->nextClass;
  return clazz;
}
void k5vm_lockClassTable(K5JavaVM* vm) { vm->privateData->classLock.lock(); }
void k5vm_unlockClassTable(K5JavaVM* vm) { vm->privateData->classLock.unlock(); }

K5Class* k5vm_findClass(K5JavaVM* vm, const char* name, K5Object* classLoader) {
  if (!vm || !name) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(vm->privateData->classLock);
  for (K5Class* clazz = k5vm_firstClass(vm); clazz; clazz = k5vm_nextClass(vm, clazz))
    if (!(clazz->flags & (K5_CLASS_ARRAY | K5_CLASS_PRIMITIVE)) && strcmp(clazz->name, name) == 0 &&
        (!classLoader || clazz->classLoader == classLoader || !clazz->classLoader))
      return clazz;
  return nullptr;
}

K5Class* k5vm_classFromClassObject(K5JavaVM* vm, K5Object* object) {
  if (!vm || !object || (object->flags & K5_OBJECT_HOLE) || object->clazz != vm->privateData->classClass)
    return nullptr;
  return classSlotOfClassObject(object);
}

K5Class* k5vm_booleanArrayClass(K5JavaVM* vm) { return vm->privateData->primitiveArray['Z']; }
K5Class* k5vm_primitiveClass(K5JavaVM* vm, char signatureChar) {
  if (signatureChar < 0) return nullptr;
  return vm->privateData->primitive[static_cast<int>(signatureChar)];
}

jmethodID k5vm_getMethodID(K5VMThread*, K5Method* method) { return reinterpret_cast<jmethodID>(method); }
K5Method* k5vm_methodFromID(jmethodID id) { return reinterpret_cast<K5Method*>(id); }

jobject k5vm_newLocalRef(K5VMThread* thread, K5Object* object) {
  if (!thread || !object) return nullptr;
  thread->privateData->localRefs.push_back(object);
  return reinterpret_cast<jobject>(&thread->privateData->localRefs.back());
}

K5Object* k5vm_objectFromRef(jobject reference) {
  return reference ? *reinterpret_cast<K5Object**>(reference) : nullptr;
}

jint k5vm_pushLocalFrame(K5VMThread* thread, jint) {
  if (!thread) return JNI_ERR;
  thread->privateData->localFrames.push_back(thread->privateData->localRefs.size());
  return JNI_OK;
}

void k5vm_popLocalFrame(K5VMThread* thread) {
  if (!thread || thread->privateData->localFrames.empty()) return;
  size_t mark = thread->privateData->localFrames.back();
  thread->privateData->localFrames.pop_back();
  thread->privateData->localRefs.resize(mark);
}

void k5vm_pushObjectSlot(K5VMThread* thread, K5Object* object) {
  if (thread) thread->privateData->objectSlots.push_back(object);
}

K5Object* k5vm_popObjectSlot(K5VMThread* thread) {
  if (!thread || thread->privateData->objectSlots.empty()) return nullptr;
  K5Object* object = thread->privateData->objectSlots.back();
  thread->privateData->objectSlots.pop_back();
  return object;
}

uintptr_t k5vm_walkStack(K5VMThread* currentThread, K5StackWalkState* state) {
  if (!state || !state->walkThread) return 0;
  std::vector<Frame>& stack = state->walkThread->privateData->stack;
  size_t depth = state->walkThread->privateData->depth;
  std::deque<K5Object*>& locals = state->walkThread->privateData->localRefs;
  state->framesWalked = 0;
  for (size_t i = depth; i-- > 0;) {
    if (state->maxFrames && state->framesWalked >= state->maxFrames) break;
    Frame& frame = stack[i];
    state->method = frame.method;
    state->pc = frame.jni ? 0 : frame.pc;
    state->isJNIFrame = frame.jni ? 1 : 0;
    state->framesWalked++;
    state->objectSlots = frame.slots.empty() ? nullptr : frame.slots.data();
    state->objectSlotCount = frame.slots.size();
    size_t end = (i + 1 < depth) ? stack[i + 1].localRefMark : locals.size();
    state->localRefs = nullptr;
    state->localRefCount = 0;
    if (frame.jni && end > frame.localRefMark && end <= locals.size()) {
      state->localRefs = reinterpret_cast<jobject*>(&locals[frame.localRefMark]);
      state->localRefCount = end - frame.localRefMark;
    }
    if (state->frameWalkFunction &&
        state->frameWalkFunction(currentThread, state) == K5_STACKWALK_STOP_ITERATING)
      break;
  }
  return state->framesWalked;
}

uint32_t k5vm_lineNumberForPC(K5Method* method, uintptr_t pc) {
  if (!method || method->lineNumberCount == 0) return 0;
  uint32_t line = 0;
  bool found = false;
  for (uint32_t i = 0; i < method->lineNumberCount; i++) {
    if (method->lineNumbers[i].pc <= pc) {
      line = method->lineNumbers[i].line;
      found = true;
    }
  }
  return found ? line : 0;
}

uintptr_t k5gc_objectSize(K5JavaVM*, K5Object* object) { return object ? object->size : 0; }

void k5gc_fullCollect(K5VMThread* thread) {
  if (!thread) return;
  vmCollect(thread, {}, {});
}

void k5gc_iterateHeap(K5JavaVM* vm,
                      void (*function)(K5JavaVM*, K5MemorySegment*, K5Object*, void*), void* userData) {
  if (!vm || !function) return;
  std::lock_guard<std::recursive_mutex> guard(vm->privateData->segmentLock);
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
    for (uint8_t* cursor = segment->heapBase; cursor < segment->heapAlloc;) {
      auto* object = reinterpret_cast<K5Object*>(cursor);
      cursor += object->size;
      if (!(object->flags & K5_OBJECT_HOLE)) function(vm, segment, object, userData);
    }
  }
}

K5MemorySegment* k5gc_segmentOfObject(K5JavaVM* vm, K5Object* object) {
  if (!vm || !object) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(vm->privateData->segmentLock);
  auto* address = reinterpret_cast<uint8_t*>(object);
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment)
    if (address >= segment->heapBase && address < segment->heapAlloc) return segment;
  return nullptr;
}

void k5gc_lockSegmentList(K5JavaVM* vm) { vm->privateData->segmentLock.lock(); }
void k5gc_unlockSegmentList(K5JavaVM* vm) { vm->privateData->segmentLock.unlock(); }

uintptr_t k5gc_memorySpaces(K5JavaVM* vm, K5MemorySpaceInfo* spaces, uintptr_t max) {
  std::lock_guard<std::recursive_mutex> guard(vm->privateData->segmentLock);
  uintptr_t count = 0;
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
    if (spaces && count < max) {
      spaces[count].name = segment->spaceName;
      spaces[count].totalBytes = segment->size;
      spaces[count].freeBytes = static_cast<uintptr_t>(segment->heapTop - segment->heapAlloc);
      spaces[count].segmentCount = 1;
    }
    count++;
  }
  return count;
}

void k5gc_usage(K5JavaVM* vm, uintptr_t* totalBytes, uintptr_t* freeBytes) {
  uintptr_t total = 0, available = 0;
  std::lock_guard<std::recursive_mutex> guard(vm->privateData->segmentLock);
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
    total += segment->size;
    available += static_cast<uintptr_t>(segment->heapTop - segment->heapAlloc);
  }
  if (totalBytes) *totalBytes = total;
  if (freeBytes) *freeBytes = available;
}

}  // extern "C"

// ---- Global references ---------------------------------------------------------------------------

jobject vmNewGlobalRef(K5VMThread* thread, K5Object* object, bool weak) {
  if (!object) return nullptr;
  K5VMPrivate* p = thread->javaVM->privateData;
  jobject reference = nullptr;
  {
    std::lock_guard<std::mutex> guard(p->globalRefLock);
    GlobalRef* slot = nullptr;
    for (GlobalRef& ref : p->globalRefs)
      if (!ref.used) {
        slot = &ref;
        break;
      }
    if (!slot) {
      p->globalRefs.emplace_back();
      slot = &p->globalRefs.back();
    }
    slot->object = object;
    slot->weak = weak;
    slot->used = true;
    reference = reinterpret_cast<jobject>(&slot->object);
  }
  K5VMGlobalRefEvent event{thread, reference, object, weak ? 1u : 0u};
  k5hook_dispatch(thread->javaVM->vmHooks, K5HOOK_VM_GLOBAL_REF_CREATED, &event);
  return reference;
}

void vmDeleteGlobalRef(K5VMThread* thread, jobject reference) {
  if (!reference) return;
  K5VMPrivate* p = thread->javaVM->privateData;
  GlobalRef* slot = nullptr;
  {
    std::lock_guard<std::mutex> guard(p->globalRefLock);
    for (GlobalRef& ref : p->globalRefs)
      if (reinterpret_cast<jobject>(&ref.object) == reference && ref.used) slot = &ref;
  }
  if (!slot) return;
  K5VMGlobalRefEvent event{thread, reference, slot->object, slot->weak ? 1u : 0u};
  k5hook_dispatch(thread->javaVM->vmHooks, K5HOOK_VM_GLOBAL_REF_DELETED, &event);
  std::lock_guard<std::mutex> guard(p->globalRefLock);
  slot->used = false;
  slot->object = nullptr;
}

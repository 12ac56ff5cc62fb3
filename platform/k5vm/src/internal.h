// The substitute VM's private records, shared by its source files.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "k5sim.h"
#include "k5vm.h"

K5HookInterface* k5hook_newInterface();
void k5hook_freeInterface(K5HookInterface* hooks);
K5PortLibrary* k5vmPortLibrary();
const JNINativeInterface_* k5vmJniTable();

struct Frame {
  K5Method* method = nullptr;
  uintptr_t pc = 0;
  bool jni = false;
  std::vector<K5Object*> slots;  // slot 0: the receiver of an instance method
  size_t localRefMark = 0;       // local references made in this frame start here
};

struct K5VMThreadPrivate {
  std::string name;
  std::vector<Frame> stack;  // frames [0, depth) are live; the rest are kept for reuse
  size_t depth = 0;
  std::deque<K5Object*> localRefs;  // jobject = address of an element
  std::vector<size_t> localFrames;  // marks of pushed local frames
  std::vector<K5Object*> objectSlots;
  bool attached = false;  // attached through the invocation interface
  bool hadAccessBeforeHalt = false;
};

struct GlobalRef {
  K5Object* object = nullptr;
  bool weak = false;
  bool used = false;
};

struct ObjectMonitor {
  k5thread_monitor_t monitor = nullptr;
  int contenders = 0;
};

struct TraceRecord {
  std::string text;
};

struct ClassDeclaration {
  std::string name, super, source, bytes;
  std::vector<std::string> interfaces;
  struct M {
    std::string name, signature;
    uint32_t modifiers = 0;
    std::vector<K5LineNumber> lines;
  };
  std::vector<M> methods;
  struct F {
    std::string name, signature;
    uint32_t modifiers = 0;
  };
  std::vector<F> fields;
  struct C {
    uint32_t kind;
    std::string text;
  };
  std::vector<C> constants;
  std::string loaderObject;
};

struct K5VMPrivate {
  std::vector<std::string> arguments;
  std::vector<bool> consumed;
  std::vector<K5SimAgent> agents;
  std::string libraryPath;
  std::vector<std::string> traceModules;  // enabled
  bool traceAll = false;

  // VM access.
  std::mutex accessMutex;
  std::condition_variable accessCond;
  int accessCount = 0;
  int accessWaiters = 0;  // threads waiting on accessCond (under accessMutex)
  K5VMThread* exclusiveOwner = nullptr;
  int exclusiveDepth = 0;

  std::recursive_mutex threadListLock;
  std::recursive_mutex classLock;
  std::recursive_mutex segmentLock;
  std::recursive_mutex heapLock;  // allocation, moves, frees
  std::mutex globalRefLock;
  std::deque<GlobalRef> globalRefs;
  std::mutex monitorLock;
  std::unordered_map<K5Object*, ObjectMonitor*> objectMonitors;  // entries stay put when rekeyed

  // Classes.
  std::map<std::string, ClassDeclaration> declarations;
  std::vector<std::unique_ptr<char[]>> strings;  // names owned by the VM
  K5Class* objectClass = nullptr;
  K5Class* classClass = nullptr;
  K5Class* stringClass = nullptr;
  K5Class* threadClass = nullptr;
  K5Class* threadGroupClass = nullptr;
  K5Class* primitive[128] = {};
  K5Class* primitiveArray[128] = {};  // "[I" and the like, by signature character
  K5Class* referenceArray = nullptr;  // the "[L" shape (one per element class below)
  std::map<std::pair<K5Class*, uint32_t>, K5Class*> arrayClasses;
  std::map<K5Object*, K5Class*> classOfClassObject;
  K5Object* systemGroup = nullptr;
  K5Object* mainGroup = nullptr;

  // Heap.
  std::vector<K5MemorySegment*> segments;

  // Trace.
  std::mutex traceLock;
  std::vector<K5TraceModule*> traceModuleList;
  std::vector<std::string> traceRecords;
  K5TraceInterface traceInterface{};

  // Workload.
  std::mutex logLock;
  std::vector<std::string> log;
  std::map<std::string, K5Object*> namedObjects;
  std::map<std::string, jobject> namedRefs;
  std::map<std::string, K5VMThread*> namedThreads;
  std::map<std::string, std::string> definedBytes;  // class name -> the bytes it was defined from
  int threadCounter = 0;
};

// VM-side helpers shared between files.
K5VMThread* vmCurrentThread();
K5VMThread* vmNewThread(K5JavaVM* vm, const std::string& name, const std::string& group,
                        const std::string& parent, bool withObject, bool daemon);
void vmStartedThread(K5VMThread* thread);  // fires VM 6
void vmEndThread(K5VMThread* thread);      // fires VM 7, unlinks, frees
K5Object* vmNewString(K5VMThread* thread, const std::string& utf8);
K5Class* vmDefineClass(K5JavaVM* vm, const ClassDeclaration& declaration, std::string* error);
void vmMoveObject(K5VMThread* thread, K5Object* object);
void vmFreeObject(K5VMThread* thread, K5Object* object);
void vmCollect(K5VMThread* thread, const std::vector<K5Object*>& moves, const std::vector<K5Object*>& frees);
ObjectMonitor* vmObjectMonitor(K5JavaVM* vm, K5Object* object);
void vmLog(K5JavaVM* vm, const std::string& text);
const char* vmIntern(K5JavaVM* vm, const std::string& text);
K5MemorySegment* vmAddSegment(K5VMThread* thread, uintptr_t type, uintptr_t size, const char* spaceName);
void vmRemoveSegment(K5VMThread* thread, K5MemorySegment* segment);
jobject vmNewGlobalRef(K5VMThread* thread, K5Object* object, bool weak);
void vmDeleteGlobalRef(K5VMThread* thread, jobject reference);

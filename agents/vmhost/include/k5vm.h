/* The K5 VM as its agents see it: the VM record (a JavaVM), the VM thread record (a JNIEnv),
 * classes, methods, fields, objects and memory segments, the VM, collector and JIT hook
 * interfaces with their event records, the trace interface, and the VM's internal functions.
 * Agents link against the VM library (libk5vm.so). */
#ifndef K5VM_H
#define K5VM_H

#include <jni.h>
#include <stdint.h>

#include "k5port.h"
#include "k5thread.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The characters K5VM: the third word of a K5 VM record, telling that it holds the VM's port
 * library in its fourth word. */
#define K5VM_IDENTIFIER ((uintptr_t)0x4B35564D)
/* GetEnv version of the trace interface. */
#define K5_TRACE_VERSION_1_1 ((jint)0x7E000101)
/* GetEnv answers JNI_EVERSION for versions it does not offer. */

typedef struct K5JavaVM K5JavaVM;
typedef struct K5VMThread K5VMThread;
typedef struct K5Class K5Class;
typedef struct K5Method K5Method;
typedef struct K5Object K5Object;
typedef struct K5MemorySegment K5MemorySegment;
typedef struct K5HookInterface K5HookInterface;
typedef struct K5JITConfig K5JITConfig;
struct K5VMPrivate;
struct K5VMThreadPrivate;

/* ---- Objects ---------------------------------------------------------------------------- */
/* Every heap object starts with this header; its address is its identity (a jobjectID). */
struct K5Object {
  K5Class* clazz;  /* NULL for a free hole */
  uint32_t size;   /* bytes the object takes, header included, a multiple of 8 */
  uint32_t flags;  /* K5_OBJECT_* */
};
#define K5_OBJECT_HOLE 0x1  /* a free hole of `size` bytes; skip it */
#define K5_OBJECT_ARRAY 0x2 /* an array: K5ArrayObject */
#define K5_OBJECT_HEADER_SIZE ((uint32_t)sizeof(K5Object))
typedef struct K5ArrayObject {
  K5Object header;
  uint32_t length;
  uint32_t padding;
  /* elements follow */
} K5ArrayObject;
#define K5_ARRAY_HEADER_SIZE ((uint32_t)sizeof(K5ArrayObject))

/* ---- Classes ---------------------------------------------------------------------------- */
#define K5_ACC_PUBLIC 0x0001
#define K5_ACC_STATIC 0x0008
#define K5_ACC_NATIVE 0x0100
#define K5_ACC_INTERFACE 0x0200

typedef struct K5LineNumber {
  uint32_t pc;   /* bytecode position */
  uint32_t line; /* source line */
} K5LineNumber;

struct K5Method {
  K5Class* declaringClass;
  const char* name;
  const char* signature;
  uint32_t modifiers; /* K5_ACC_* */
  uint32_t lineNumberCount;
  K5LineNumber* lineNumbers; /* in pc order */
};

typedef struct K5Field {
  const char* name;
  const char* signature;
  uint32_t modifiers; /* K5_ACC_STATIC for a static field */
  uint32_t offset;    /* instance fields: from the object's start; statics: into staticData */
} K5Field;

/* Constant-pool entry kinds. */
#define K5_CP_UNUSED 0
#define K5_CP_CLASS 1  /* value: the K5Class, NULL when unresolved */
#define K5_CP_STRING 2 /* value: the String object */
#define K5_CP_INT 3
#define K5_CP_METHOD 4
typedef struct K5ConstantPoolEntry {
  uint32_t kind;
  uint32_t padding;
  void* value;
} K5ConstantPoolEntry;

/* Class flags. */
#define K5_CLASS_ARRAY 0x1
#define K5_CLASS_PRIMITIVE 0x2 /* int, boolean, ...: the primitive classes */
#define K5_CLASS_UNLOADED 0x4

struct K5Class {
  /* Internal name with '/' separators. An array class's own name is its two-character
   * prefix: "[L" for arrays of references, "[I", "[Z", ... for primitive arrays; its arity
   * and leaf component give the rest. */
  const char* name;
  const char* sourceFileName; /* NULL when none recorded */
  K5Class* superclass;
  K5Object* classObject;      /* the java/lang/Class instance; NULL before it exists */
  K5Object* classLoader;      /* NULL: the system loader */
  uint32_t flags;             /* K5_CLASS_* */
  uint32_t modifiers;
  uint32_t interfaceCount;
  const char** interfaceNames; /* the interfaces the class declares, in order */
  uint32_t methodCount;
  K5Method* methods; /* declaration order */
  uint32_t fieldCount;
  K5Field* fields;   /* declaration order, static and instance mixed */
  uint32_t constantPoolCount;
  K5ConstantPoolEntry* constantPool; /* index 0 unused */
  uint32_t instanceSize;             /* bytes of instance fields (after the header) */
  uint32_t arity;                    /* arrays: dimensions */
  K5Class* componentType;            /* arrays: the element class */
  K5Class* leafComponentType;        /* arrays: the innermost element class */
  uint32_t elementSize;              /* arrays: bytes per element; primitive classes: their size */
  uint32_t padding;
  uint8_t* staticData;
  K5Class* nextClass; /* the VM's class list */
};

/* ---- Memory segments ------------------------------------------------------------------------ */
#define K5_MEMORY_TYPE_NEW 0x1
#define K5_MEMORY_TYPE_OLD 0x2
#define K5_MEMORY_TYPE_OBJECT 0x8
struct K5MemorySegment {
  uintptr_t type; /* K5_MEMORY_TYPE_* */
  uint8_t* heapBase;   /* first object */
  uint8_t* heapTop;    /* end of the object area */
  uint8_t* heapAlloc;  /* allocation pointer: objects and holes lie between base and here */
  uintptr_t size;      /* heapTop - heapBase */
  K5MemorySegment* nextSegment;
  const char* spaceName;
};

/* ---- Threads -------------------------------------------------------------------------------- */
/* publicFlags */
#define K5_PUBLIC_FLAGS_HALT_THREAD_SUSPEND 0x1 /* halt request: suspend */
#define K5_PUBLIC_FLAGS_VM_ACCESS 0x20
#define K5_PUBLIC_FLAGS_STOPPED 0x40 /* halted at a suspension point */
/* privateFlags */
#define K5_PRIVATE_FLAGS_NOT_RUN_SINCE_RESUMED 0x1
#define K5_PRIVATE_FLAGS_EVENT_SUPPRESSED 0x2 /* events of this thread are not reported */
#define K5_PRIVATE_FLAGS_IN_JIT_EVENT 0x4     /* inside a compiled-code load or unload report */
#define K5_PRIVATE_FLAGS_SYSTEM_THREAD 0x8
#define K5_PRIVATE_FLAGS_DAEMON 0x10

/* The VM thread record. Its first word makes it a JNIEnv. */
struct K5VMThread {
  const struct JNINativeInterface_* functions;
  K5JavaVM* javaVM;
  k5thread_t osThread;
  volatile uint32_t publicFlags;
  volatile uint32_t privateFlags;
  uint32_t gcDisableCount;
  uint32_t padding;
  void* profilerTlsWord;
  K5Object* threadObject;     /* NULL for a thread without one */
  K5Object* blockingObject;   /* the object whose monitor it is blocked entering */
  K5VMThread* linkNext;       /* the thread list (circular) */
  K5VMThread* linkPrevious;
  struct K5VMThreadPrivate* privateData;
};

/* ---- Hooks -------------------------------------------------------------------------------- */
typedef void (*K5HookFunction)(K5HookInterface* hookInterface, uintptr_t eventNum, void* eventData,
                               void* userData);
#define K5HOOK_MAX_EVENT 128

/* VM hook events (vm->vmHooks). */
#define K5HOOK_VM_INITIALIZED 2
#define K5HOOK_VM_SHUTTING_DOWN 3
#define K5HOOK_VM_THREAD_STARTED 6
#define K5HOOK_VM_THREAD_END 7
#define K5HOOK_VM_CLASS_LOAD 8
#define K5HOOK_VM_MONITOR_CONTENDED_ENTER 14
#define K5HOOK_VM_MONITOR_CONTENDED_ENTERED 15
#define K5HOOK_VM_METHOD_ENTER 20
#define K5HOOK_VM_HEAP_READY 21
#define K5HOOK_VM_METHOD_RETURN 22
#define K5HOOK_VM_NATIVE_METHOD_ENTER 23
#define K5HOOK_VM_NATIVE_METHOD_RETURN 24
#define K5HOOK_VM_GLOBAL_REF_CREATED 26
#define K5HOOK_VM_GLOBAL_REF_DELETED 27
#define K5HOOK_VM_MONITOR_CONTENDED_EXIT 28
#define K5HOOK_VM_CLASS_LOAD_HOOK 29
#define K5HOOK_VM_OBJECT_ALLOCATE 31
#define K5HOOK_VM_OBJECT_ALLOCATE_WITHIN_THRESHOLD 32
#define K5HOOK_VM_USER_DATA_DUMP 33
#define K5HOOK_VM_MONITOR_WAIT 35
#define K5HOOK_VM_MONITOR_WAITED 36
#define K5HOOK_VM_NOTIFICATION_FLAGS 38
#define K5HOOK_VM_THREAD_SWITCH 39
#define K5HOOK_VM_COMPILED_CODE_LOAD 70
#define K5HOOK_VM_COMPILED_CODE_UNLOAD 71
#define K5HOOK_VM_CLASS_UNLOAD 73
/* Collector hook events (vm->gcHooks). */
#define K5HOOK_GC_GLOBAL_START 2
#define K5HOOK_GC_GLOBAL_END 4
#define K5HOOK_GC_SEGMENT_ADDED 29
#define K5HOOK_GC_SEGMENT_REMOVED 30
#define K5HOOK_GC_OBJECT_FREED 31
#define K5HOOK_GC_OBJECT_MOVED 32
#define K5HOOK_GC_LOCAL_START 39
#define K5HOOK_GC_LOCAL_END 40
/* JIT hook events (vm->jitHooks, present only with a JIT). */
#define K5HOOK_JIT_METHOD_EVENT 3
#define K5HOOK_JIT_METHOD_EVENT_SECOND 4

/* Event records (eventData). currentThread is the thread the event happens on. */
typedef struct K5VMThreadEvent {
  K5VMThread* currentThread;
} K5VMThreadEvent; /* VM 2, 3, 6, 7, 21, 39; GC 2, 4, 39, 40 */
typedef struct K5VMShutdownEvent {
  K5VMThread* currentThread;
  int32_t exitCode;
} K5VMShutdownEvent; /* VM 3 */
typedef struct K5VMClassEvent {
  K5VMThread* currentThread;
  K5Class* clazz;
} K5VMClassEvent; /* VM 8, 73 */
typedef struct K5VMMonitorEvent {
  K5VMThread* currentThread;
  k5thread_monitor_t monitor;
  K5Object* object;
} K5VMMonitorEvent; /* VM 14, 15, 28 */
typedef struct K5VMMonitorWaitEvent {
  K5VMThread* currentThread;
  k5thread_monitor_t monitor;
  K5Object* object;
  int64_t timeout;
} K5VMMonitorWaitEvent; /* VM 35, 36 */
typedef struct K5VMMethodEvent {
  K5VMThread* currentThread;
  K5Method* method;
  K5Object** arg0EA;   /* start of the arguments: *arg0EA is the receiver of an instance method */
  uintptr_t special;   /* VM 20: non-zero for the second kind of entry */
} K5VMMethodEvent; /* VM 20, 22, 23, 24; JIT 3, 4 */
typedef struct K5VMGlobalRefEvent {
  K5VMThread* currentThread;
  jobject reference;
  K5Object* object;
  uintptr_t isWeak;
} K5VMGlobalRefEvent; /* VM 26, 27 */
typedef struct K5VMClassLoadHookEvent {
  K5VMThread* currentThread;
  const char* className; /* not NUL-terminated */
  uintptr_t classNameLength;
  K5Object* classLoader;   /* kept current across the hook by the hook's handler */
  uint8_t* classData;
  uintptr_t classDataLength;
  void (*freeFunction)(void* userData, void* data); /* frees classData; NULL: nothing to free */
  void* freeUserData;
  uintptr_t classDataReplaced; /* set when a hook replaced the bytes */
} K5VMClassLoadHookEvent; /* VM 29 */
typedef struct K5VMObjectAllocateEvent {
  K5VMThread* currentThread;
  K5Object* object;
  uintptr_t size;
  K5MemorySegment* segment;
} K5VMObjectAllocateEvent; /* VM 31, 32 */
typedef struct K5VMDataDumpEvent {
  K5VMThread* currentThread;
  int32_t result; /* a handler reports a failure here */
} K5VMDataDumpEvent; /* VM 33 */
typedef struct K5VMNotificationFlagsEvent {
  K5VMThread* currentThread;
  uint32_t flags; /* handlers may set bits */
} K5VMNotificationFlagsEvent; /* VM 38 */
typedef struct K5VMCompiledCodeEvent {
  K5VMThread* currentThread;
  K5Method* method; /* NULL for code not tied to a method */
  void* startPC;
  uintptr_t length;
  uintptr_t metaData; /* the event's fifth word */
} K5VMCompiledCodeEvent; /* VM 70, 71 */
typedef struct K5GCObjectEvent {
  K5VMThread* currentThread;
  K5Object* object;
  K5MemorySegment* segment;
} K5GCObjectEvent; /* GC 31 */
typedef struct K5GCObjectMovedEvent {
  K5VMThread* currentThread;
  K5Object* oldObject;
  K5MemorySegment* oldSegment;
  K5Object* newObject;
  K5MemorySegment* newSegment;
} K5GCObjectMovedEvent; /* GC 32 */
typedef struct K5GCSegmentEvent {
  K5VMThread* currentThread;
  K5MemorySegment* segment;
} K5GCSegmentEvent; /* GC 29, 30 */

/* Marks an event as wanted by an agent that will register for it later; 0 when granted. */
int32_t k5hook_reserve(K5HookInterface* hooks, uintptr_t eventNum);
/* Adds a hook; registering the same function twice counts twice. 0 on success. */
int32_t k5hook_register(K5HookInterface* hooks, uintptr_t eventNum, K5HookFunction function, void* userData);
/* Removes one registration of (function, userData). */
void k5hook_unregister(K5HookInterface* hooks, uintptr_t eventNum, K5HookFunction function, void* userData);
/* Calls every hook of the event in registration order. */
void k5hook_dispatch(K5HookInterface* hooks, uintptr_t eventNum, void* eventData);
/* Non-zero when some hook is registered for the event. */
int32_t k5hook_isHooked(K5HookInterface* hooks, uintptr_t eventNum);
int32_t k5hook_isReserved(K5HookInterface* hooks, uintptr_t eventNum);

/* ---- JIT configuration ---------------------------------------------------------------------- */
struct K5JITConfig {
  volatile uint32_t jitReportFlags;
  uint32_t padding;
};

/* ---- Trace interface (GetEnv K5_TRACE_VERSION_1_1) ------------------------------------------- */
typedef struct K5TraceModule {
  const char* name;       /* "k5jvmpi" */
  const char* formatFile; /* "K5TraceFormat.dat" */
  uint32_t pointCount;
  unsigned char* active;  /* one byte per trace point; the VM sets it when the point is enabled */
  struct K5TraceModule* next;
} K5TraceModule;
typedef struct K5TraceInterface {
  jint version;
  jint (*RegisterModule)(JavaVM* vm, K5TraceModule* module);
  jint (*DeregisterModule)(JavaVM* vm, K5TraceModule* module);
  /* Records trace point `point` of the module with a formatted text. */
  void (*Trace)(K5VMThread* thread, K5TraceModule* module, uint32_t point, const char* format, ...);
  /* Records a failed assertion: its text, the source location and line. */
  void (*Assertion)(K5VMThread* thread, K5TraceModule* module, uint32_t point, const char* text,
                    const char* file, int32_t line);
} K5TraceInterface;

/* ---- The VM record ---------------------------------------------------------------------------- */
/* The analyzer's flag: set when the analyzer is installed. */
#define K5_VM_FLAG_ANALYZER_INSTALLED 0x400

struct K5JavaVM {
  const struct JNIInvokeInterface_* functions; /* word 0: makes it a JavaVM */
  void* reserved0;
  uintptr_t identifier;       /* word 2: K5VM_IDENTIFIER */
  K5PortLibrary* portLibrary; /* word 3 */

  /* Slots of the profiling-interface provider. */
  void* jvmpiInterface;               /* the JVMPI_Interface table GetEnv hands out */
  k5thread_monitor_t jvmpiMonitor;    /* providerMonitor */
  volatile uint32_t jvmpiEventMaskLow;
  volatile uint32_t jvmpiEventMaskHigh;
  volatile uint32_t jvmpiExtensionEventMask;
  /* Non-zero: explicit collections (System.gc, RunGC) are suppressed. */
  volatile uint32_t suppressExplicitGC;

  /* The analyzer's slots. */
  char* analyzerOptions;
  uint32_t extendedRuntimeFlags; /* K5_VM_FLAG_* */
  uint32_t padding;
  const char* agentLibraryName;  /* the name an agent gave the VM at start-up */

  K5HookInterface* vmHooks;
  K5HookInterface* gcHooks;
  K5HookInterface* jitHooks; /* NULL without a JIT */
  K5JITConfig* jitConfig;    /* NULL without a JIT */

  K5VMThread* mainThread; /* the thread list starts here */
  K5MemorySegment* objectSegments; /* the segment list */
  K5Class* classes;                /* the class list */
  uintptr_t defaultThreadStackSize;

  struct K5VMPrivate* privateData;
};

/* ---- Internal functions ------------------------------------------------------------------------ */
/* The VM thread of the calling host thread, or NULL. */
K5VMThread* k5vm_currentThread(K5JavaVM* vm);

/* VM access: a thread with VM access may touch objects; the collector waits for it. */
void k5vm_acquireVMAccess(K5VMThread* thread);
void k5vm_releaseVMAccess(K5VMThread* thread);
/* Exclusive access: every other thread is without VM access (or halted) until it is released.
 * Nested acquisitions by the same thread count. */
void k5vm_acquireExclusiveVMAccess(K5VMThread* thread);
void k5vm_releaseExclusiveVMAccess(K5VMThread* thread);
/* A thread checks its halt request here (the VM's suspension points call it). */
void k5vm_checkHalt(K5VMThread* thread);
/* Thread control. Halt: under the thread's flag lock, request its suspension; it stops at
 * its next suspension point (when it next acquires VM access or checks). Resume: under the
 * flag lock, set the not-run-since-resumed flag unless the thread runs with VM access now,
 * clear the request and wake it. */
void k5vm_haltThreadForSuspend(K5VMThread* thread);
void k5vm_resumeThread(K5VMThread* thread);

/* VM arguments: the first argument that starts with prefix (consume != 0 marks it used), or
 * NULL. */
const char* k5vm_findArgument(K5JavaVM* vm, const char* prefix, int consume);
/* An agent names its library to the VM. */
void k5vm_setAgentLibraryName(K5JavaVM* vm, const char* name);

/* Threads: the thread-list lock guards walks over mainThread->linkNext. */
void k5vm_lockThreadList(K5JavaVM* vm);
void k5vm_unlockThreadList(K5JavaVM* vm);
/* Attaches the calling host thread as a named (system) daemon thread; JNI_OK or an error. */
jint k5vm_attachSystemDaemonThread(K5JavaVM* vm, K5VMThread** thread, const char* name);
jint k5vm_detachCurrentThread(K5JavaVM* vm);
/* The object a thread is blocked entering, NULL when none. */
K5Object* k5vm_blockingObject(K5VMThread* thread);
/* The VM thread running on an OS thread of the thread library, NULL when none. Hold the
 * thread-list lock. */
K5VMThread* k5vm_threadFromOSThread(K5JavaVM* vm, k5thread_t osThread);
/* The monitor of an object (K5THREAD_MONITOR_OBJECT; its user data is the object), NULL when
 * the object has never been locked. */
k5thread_monitor_t k5vm_objectMonitor(K5JavaVM* vm, K5Object* object);
/* Every JNI global reference in pool order (weak ones flagged). */
void k5vm_iterateGlobalRefs(K5JavaVM* vm,
                            void (*function)(K5JavaVM* vm, jobject reference, K5Object* object, int isWeak,
                                             void* userData),
                            void* userData);

/* Thread objects and strings: the name (a String), the group (a ThreadGroup) of a thread
 * object, the name and parent of a group; NULL when missing. */
K5Object* k5vm_threadObjectName(K5JavaVM* vm, K5Object* threadObject);
K5Object* k5vm_threadObjectGroup(K5JavaVM* vm, K5Object* threadObject);
K5Object* k5vm_threadGroupName(K5JavaVM* vm, K5Object* group);
K5Object* k5vm_threadGroupParent(K5JavaVM* vm, K5Object* group);
/* A String's length and UTF-16 characters. */
uint32_t k5vm_stringLength(K5JavaVM* vm, K5Object* string);
const uint16_t* k5vm_stringChars(K5JavaVM* vm, K5Object* string);

/* Classes. */
K5Class* k5vm_firstClass(K5JavaVM* vm); /* the class list, under the class-table lock */
K5Class* k5vm_nextClass(K5JavaVM* vm, K5Class* clazz);
void k5vm_lockClassTable(K5JavaVM* vm);
void k5vm_unlockClassTable(K5JavaVM* vm);
/* By internal name and loader (NULL: system loader); NULL when not loaded. */
K5Class* k5vm_findClass(K5JavaVM* vm, const char* name, K5Object* classLoader);
/* The class an object is the class object of, or NULL. */
K5Class* k5vm_classFromClassObject(K5JavaVM* vm, K5Object* object);
/* The boolean-array class ("[Z"), the primitive class of a signature character. */
K5Class* k5vm_booleanArrayClass(K5JavaVM* vm);
K5Class* k5vm_primitiveClass(K5JavaVM* vm, char signatureChar);

/* JNI method IDs (NULL when one cannot be made) and back. */
jmethodID k5vm_getMethodID(K5VMThread* thread, K5Method* method);
K5Method* k5vm_methodFromID(jmethodID id);

/* JNI local references and frames of a thread (the thread holds VM access). */
jobject k5vm_newLocalRef(K5VMThread* thread, K5Object* object);
K5Object* k5vm_objectFromRef(jobject reference);
jint k5vm_pushLocalFrame(K5VMThread* thread, jint capacity);
void k5vm_popLocalFrame(K5VMThread* thread);
/* A slot on the thread's Java stack that the collector keeps current. */
void k5vm_pushObjectSlot(K5VMThread* thread, K5Object* object);
K5Object* k5vm_popObjectSlot(K5VMThread* thread);

/* Stack walking: frames top first. */
typedef struct K5StackWalkState K5StackWalkState;
#define K5_STACKWALK_KEEP_ITERATING 1
#define K5_STACKWALK_STOP_ITERATING 0
struct K5StackWalkState {
  K5VMThread* walkThread;
  uintptr_t maxFrames; /* 0: no limit */
  /* Called per frame; answers K5_STACKWALK_*. */
  uintptr_t (*frameWalkFunction)(K5VMThread* currentThread, K5StackWalkState* walkState);
  void* userData1;
  void* userData2;
  /* The frame being visited. */
  K5Method* method;
  uintptr_t pc;            /* bytecode position; 0 in native frames */
  uintptr_t isJNIFrame;    /* a native method's frame */
  uintptr_t framesWalked;  /* frames visited so far, this one included */
  K5Object** objectSlots;  /* the frame's object slots */
  uintptr_t objectSlotCount;
  jobject* localRefs;      /* JNI frames: the frame's local references */
  uintptr_t localRefCount;
};
/* Walks the thread's stack; answers the number of frames visited. */
uintptr_t k5vm_walkStack(K5VMThread* currentThread, K5StackWalkState* walkState);
/* The source line of a bytecode position: the entry with the largest pc not above it; 0 when
 * there is none. */
uint32_t k5vm_lineNumberForPC(K5Method* method, uintptr_t pc);

/* Collector services. */
uintptr_t k5gc_objectSize(K5JavaVM* vm, K5Object* object);
/* A full collection (explicit). The caller holds VM access; it is given up during it. */
void k5gc_fullCollect(K5VMThread* thread);
/* Every live object, segment by segment, base to allocation pointer; holes skipped. */
void k5gc_iterateHeap(K5JavaVM* vm, void (*function)(K5JavaVM* vm, K5MemorySegment* segment, K5Object* object,
                                                     void* userData),
                      void* userData);
/* The segment that holds an object, NULL when none. Takes the segment-list lock. */
K5MemorySegment* k5gc_segmentOfObject(K5JavaVM* vm, K5Object* object);
void k5gc_lockSegmentList(K5JavaVM* vm);
void k5gc_unlockSegmentList(K5JavaVM* vm);
/* Memory spaces: a space is a set of segments with a name. */
typedef struct K5MemorySpaceInfo {
  const char* name;
  uintptr_t totalBytes;
  uintptr_t freeBytes;
  uintptr_t segmentCount;
} K5MemorySpaceInfo;
/* Fills up to max entries and answers the number of spaces. */
uintptr_t k5gc_memorySpaces(K5JavaVM* vm, K5MemorySpaceInfo* spaces, uintptr_t max);
void k5gc_usage(K5JavaVM* vm, uintptr_t* totalBytes, uintptr_t* freeBytes);

/* Messages: the VM's message service (the port library's nls_printf). */

/* ---- Agent entry points (exported by agent libraries) ---------------------------------------- */
typedef jint (*K5AgentOnLoad)(JavaVM* vm, char* options, void* reserved);
typedef jint (*K5AgentOnUnload)(JavaVM* vm);
typedef jint (*K5VMDllMainFunction)(JavaVM* vm, jint stage, void* reserved);
#define K5VM_STAGE_AGENTS_STARTED 2

#ifdef __cplusplus
}
#endif

#endif

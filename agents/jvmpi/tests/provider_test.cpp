// The provider inside the substitute VM: a test profiler obtains the interface through the
// VM's GetEnv, enables events, and checks what arrives while workloads are played. One VM and
// one provider serve the whole program (the provider loads once per process).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "k5jvmpi.h"
#include "k5sim.h"
#include "k5vm.h"

namespace {

struct Seen {
  jint type = 0;
  K5VMThread* env = nullptr;
  bool hadAccess = false;
  JVMPI_Event event{};
  std::vector<std::string> texts;  // copies of the event's strings
  std::vector<JVMPI_Method> methods;
  std::vector<std::pair<std::string, std::string>> methodTexts, statics, instances;
  uint32_t gcDisableCount = 0;
};

K5JavaVM* vm = nullptr;
JVMPI_Interface* jvmpi = nullptr;
std::mutex seenLock;
std::vector<Seen> seen;
std::function<void(JVMPI_Event*)> inCallback;

std::string text(const char* value) { return value ? value : "(null)"; }

void record(JVMPI_Event* event) {
  Seen entry;
  entry.type = event->event_type;
  entry.env = reinterpret_cast<K5VMThread*>(event->env_id);
  entry.hadAccess = entry.env && (entry.env->publicFlags & K5_PUBLIC_FLAGS_VM_ACCESS);
  entry.gcDisableCount = entry.env ? entry.env->gcDisableCount : 0;
  entry.event = *event;
  jint type = event->event_type & ~JVMPI_REQUESTED_EVENT;
  if (type == JVMPI_EVENT_THREAD_START) {
    entry.texts = {text(event->u.thread_start.thread_name), text(event->u.thread_start.group_name),
                   text(event->u.thread_start.parent_name)};
  } else if (type == JVMPI_EVENT_CLASS_LOAD) {
    entry.texts = {text(event->u.class_load.class_name), text(event->u.class_load.source_name)};
    for (jint i = 0; i < event->u.class_load.num_methods; i++) {
      entry.methods.push_back(event->u.class_load.methods[i]);
      entry.methodTexts.push_back(
          {event->u.class_load.methods[i].method_name, event->u.class_load.methods[i].method_signature});
    }
    for (jint i = 0; i < event->u.class_load.num_static_fields; i++)
      entry.statics.push_back({event->u.class_load.statics[i].field_name, event->u.class_load.statics[i].field_signature});
    for (jint i = 0; i < event->u.class_load.num_instance_fields; i++)
      entry.instances.push_back(
          {event->u.class_load.instances[i].field_name, event->u.class_load.instances[i].field_signature});
  } else if (type == JVMPI_EVENT_RAW_MONITOR_CONTENDED_ENTER || type == JVMPI_EVENT_RAW_MONITOR_CONTENDED_ENTERED ||
             type == JVMPI_EVENT_RAW_MONITOR_CONTENDED_EXIT) {
    entry.texts = {text(event->u.raw_monitor.name)};
  }
  if (inCallback) inCallback(event);
  std::lock_guard<std::mutex> guard(seenLock);
  seen.push_back(std::move(entry));
}

std::vector<Seen> events(jint type = 0) {
  std::lock_guard<std::mutex> guard(seenLock);
  std::vector<Seen> result;
  for (const Seen& entry : seen)
    if (type == 0 || entry.type == type) result.push_back(entry);
  return result;
}

void play(const std::string& workload) {
  std::string error;
  ASSERT_EQ(k5sim_playText(vm, workload, &error), 0) << error;
}

class VmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string build = getenv("VORK_BUILD_DIR") ? getenv("VORK_BUILD_DIR") : "build";
    std::string error;
    vm = k5sim_createVM({"-Xlibpath:" + build + "/lib", "-Xtrace:k5jvmpi"}, &error);
    ASSERT_NE(vm, nullptr) << error;
    ASSERT_EQ(k5sim_loadAgent(vm, "K5JPI24", "", &error), 0) << error;
    JavaVM* javaVM = reinterpret_cast<JavaVM*>(vm);
    ASSERT_EQ(javaVM->functions->GetEnv(javaVM, reinterpret_cast<void**>(&jvmpi), JVMPI_VERSION_1), JNI_OK);
    jvmpi->NotifyEvent = record;
    k5sim_initialized(vm);
  }
  void TearDown() override {
    jvmpi->EnableEvent(JVMPI_EVENT_JVM_SHUT_DOWN, nullptr);
    {
      std::lock_guard<std::mutex> guard(seenLock);
      seen.clear();
    }
    k5sim_shutdown(vm, 0);
    // Shutdown: the event, then every hook of the provider is gone; unloading cleared the slots.
    EXPECT_EQ(events(JVMPI_EVENT_JVM_SHUT_DOWN).size(), 1u);
    for (uintptr_t event : {K5HOOK_VM_THREAD_STARTED, K5HOOK_VM_CLASS_LOAD, K5HOOK_VM_SHUTTING_DOWN})
      EXPECT_FALSE(k5hook_isHooked(vm->vmHooks, event)) << event;
    EXPECT_FALSE(k5hook_isHooked(vm->gcHooks, K5HOOK_GC_GLOBAL_START));
    EXPECT_EQ(vm->jvmpiInterface, nullptr);
    EXPECT_EQ(vm->jvmpiMonitor, nullptr);
    k5sim_destroyVM(vm);
  }
};

class Provider : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> guard(seenLock);
    seen.clear();
    inCallback = nullptr;
  }
  void TearDown() override {
    inCallback = nullptr;
    for (jint type = 1; type <= 61; type++) jvmpi->DisableEvent(type, nullptr);
    for (jint type = 2000; type <= 2026; type++) jvmpi->DisableEvent(type, nullptr);
  }
  static void enable(std::initializer_list<jint> types) {
    for (jint type : types) ASSERT_EQ(jvmpi->EnableEvent(type, nullptr), JVMPI_SUCCESS) << type;
  }
};

TEST_F(Provider, TableComesFromTheVmWithTheJvmpi12Layout) {
  EXPECT_EQ(jvmpi->version, JVMPI_VERSION_1_2);
  EXPECT_EQ(static_cast<void*>(jvmpi), vm->jvmpiInterface);
  EXPECT_NE(vm->jvmpiMonitor, nullptr);
  // 29 pointers after the version word, as in the published table.
  EXPECT_EQ(sizeof(JVMPI_Interface), sizeof(void*) * 30);
  ASSERT_NE(vm->jitConfig, nullptr);
  EXPECT_EQ(vm->jitConfig->jitReportFlags, 0x27u);
  // The VM reserved the events the provider registers later.
  for (uintptr_t event : {20, 22, 23, 24, 31, 32}) EXPECT_TRUE(k5hook_isReserved(vm->vmHooks, event)) << event;
}

TEST_F(Provider, EventEnablingAcceptsTheListedTypesOnly) {
  struct Case {
    jint type;
    jint result;
  } cases[] = {{37, JVMPI_NOT_AVAILABLE}, {50, JVMPI_NOT_AVAILABLE},   {59, JVMPI_NOT_AVAILABLE},
               {2021, JVMPI_NOT_AVAILABLE}, {2024, JVMPI_NOT_AVAILABLE}, {62, JVMPI_NOT_AVAILABLE},
               {1999, JVMPI_NOT_AVAILABLE}, {0, JVMPI_NOT_AVAILABLE},    {2027, JVMPI_NOT_AVAILABLE},
               {2026, JVMPI_SUCCESS},       {1, JVMPI_SUCCESS},          {61, JVMPI_SUCCESS},
               {2000, JVMPI_SUCCESS}};
  for (const Case& c : cases) {
    EXPECT_EQ(jvmpi->EnableEvent(c.type, nullptr), c.result) << c.type;
    EXPECT_EQ(jvmpi->DisableEvent(c.type, nullptr), c.result) << c.type;
  }
  // Dumps are not offered yet; 2021 and unknown types never are.
  for (jint type : {37, 50, 59, 2021, 9999}) EXPECT_EQ(jvmpi->RequestEvent(type, nullptr), JVMPI_NOT_AVAILABLE) << type;
}

TEST_F(Provider, MasksFollowEnablingAndTheJitReportFlagsFollowExtensions) {
  vm->jitConfig->jitReportFlags = 0x27;  // as at load (earlier tests changed it)
  enable({1, 33, 2001});
  EXPECT_EQ(vm->jvmpiEventMaskLow, 1u);
  EXPECT_EQ(vm->jvmpiEventMaskHigh, 1u);
  EXPECT_EQ(vm->jvmpiExtensionEventMask, 2u);
  EXPECT_EQ(vm->jitConfig->jitReportFlags, 0x27u);  // bit 0x1 already set
  enable({2003, 2025});
  EXPECT_EQ(vm->jitConfig->jitReportFlags, 0x2Fu);
  jvmpi->DisableEvent(2001, nullptr);
  jvmpi->DisableEvent(2003, nullptr);
  EXPECT_EQ(vm->jitConfig->jitReportFlags, 0x24u);
  enable({2000});
  EXPECT_EQ(vm->jitConfig->jitReportFlags, 0u);
  jvmpi->DisableEvent(2000, nullptr);
  EXPECT_EQ(vm->jitConfig->jitReportFlags, 0x27u);
  jvmpi->DisableEvent(2025, nullptr);
  jvmpi->DisableEvent(2002, nullptr);
  vm->jitConfig->jitReportFlags = 0x27;
}

const char* kCallClasses = R"(
class t/Calls source=Calls.java
  method run ()V lines=0:10,4:11,9:12
  method helper (I)I static lines=0:20
  method fast ()I native
end
load t/Calls
start caller
caller alloc callee t/Calls
)";

TEST_F(Provider, MethodEntryTypesAndReceivers) {
  static bool loaded = false;
  if (!loaded) play(kCallClasses);
  loaded = true;
  K5Object* receiver = k5sim_namedObject(vm, "callee");
  ASSERT_NE(receiver, nullptr);

  // Only ENTRY2: a static method's entry has obj_id 0, an instance method's its receiver.
  enable({JVMPI_EVENT_METHOD_ENTRY2});
  play("caller call t/Calls.helper(I)I\ncaller call t/Calls.run()V this=callee\ncaller return\ncaller return\n");
  auto entries = events(JVMPI_EVENT_METHOD_ENTRY2);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].event.u.method_entry2.obj_id, nullptr);
  EXPECT_EQ(entries[1].event.u.method_entry2.obj_id, reinterpret_cast<jobjectID>(receiver));
  EXPECT_STREQ(k5vm_methodFromID(entries[1].event.u.method_entry2.method_id)->name, "run");
  EXPECT_TRUE(events(JVMPI_EVENT_METHOD_ENTRY).empty());

  // Only ENTRY: nothing is reported as ENTRY2, and each entry is reported once.
  SetUp();
  jvmpi->DisableEvent(JVMPI_EVENT_METHOD_ENTRY2, nullptr);
  enable({JVMPI_EVENT_METHOD_ENTRY});
  play("caller call t/Calls.run()V this=callee\ncaller return\n");
  EXPECT_EQ(events(JVMPI_EVENT_METHOD_ENTRY).size(), 1u);
  EXPECT_TRUE(events(JVMPI_EVENT_METHOD_ENTRY2).empty());

  // Both, then ENTRY disabled: ENTRY2 goes on (the shared hooks stay while a type needs them).
  SetUp();
  enable({JVMPI_EVENT_METHOD_ENTRY2});
  play("caller call t/Calls.run()V this=callee\ncaller return\n");
  EXPECT_EQ(events(JVMPI_EVENT_METHOD_ENTRY).size(), 1u);
  EXPECT_EQ(events(JVMPI_EVENT_METHOD_ENTRY2).size(), 1u);
  jvmpi->DisableEvent(JVMPI_EVENT_METHOD_ENTRY, nullptr);
  play("caller call t/Calls.run()V this=callee\ncaller return\n");
  EXPECT_EQ(events(JVMPI_EVENT_METHOD_ENTRY).size(), 1u);
  EXPECT_EQ(events(JVMPI_EVENT_METHOD_ENTRY2).size(), 2u);
  jvmpi->DisableEvent(JVMPI_EVENT_METHOD_ENTRY2, nullptr);
  EXPECT_FALSE(k5hook_isHooked(vm->vmHooks, K5HOOK_VM_METHOD_ENTER));
}

TEST_F(Provider, SecondKindsOfEntryUseTheExtensionTypes) {
  static bool loaded = false;
  if (!loaded && !k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  loaded = true;
  enable({1, 2, 3, 2000, 2004, 2005, 2003, 2011, 2012});
  play("caller call t/Calls.run()V this=callee second\n"   // VM 20, second kind
       "caller call t/Calls.fast()I\n"                       // native: VM 23
       "caller return\ncaller return\n");
  std::vector<jint> types;
  for (const Seen& entry : events()) types.push_back(entry.type);
  EXPECT_EQ(types, (std::vector<jint>{2004, 2005, 2011, 2012, 3, 3}));
  // Types 2007 to 2010 register the entry hooks but are never reported.
  SetUp();
  for (jint type : {1, 2, 3, 2000, 2004, 2005, 2003, 2011, 2012}) jvmpi->DisableEvent(type, nullptr);
  enable({2007});
  EXPECT_TRUE(k5hook_isHooked(vm->vmHooks, K5HOOK_VM_METHOD_ENTER));
  play("caller call t/Calls.run()V this=callee\ncaller return\n");
  EXPECT_TRUE(events().empty());
}

TEST_F(Provider, CallbackContextsHoldOrReleaseVmAccess) {
  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  enable({JVMPI_EVENT_METHOD_ENTRY, JVMPI_EVENT_METHOD_ENTRY2, JVMPI_EVENT_METHOD_EXIT});
  size_t localsDuring = 0;
  inCallback = [&](JVMPI_Event* event) {
    // A reference made in the callback lives in the frame the provider pushed.
    if (event->event_type == JVMPI_EVENT_METHOD_ENTRY2) {
      jobject reference = jvmpi->jobjectID2jobject(event->u.method_entry2.obj_id);
      EXPECT_EQ(jvmpi->jobject2jobjectID(reference), event->u.method_entry2.obj_id);
      localsDuring++;
    }
  };
  play("caller call t/Calls.run()V this=callee\ncaller return\n");
  auto all = events();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_FALSE(all[0].hadAccess);  // ENTRY: without VM access
  EXPECT_TRUE(all[1].hadAccess);   // ENTRY2: with VM access
  EXPECT_FALSE(all[2].hadAccess);  // EXIT: without
  EXPECT_EQ(localsDuring, 1u);
  EXPECT_EQ(jvmpi->jobjectID2jobject(nullptr), nullptr);
  EXPECT_EQ(jvmpi->jobject2jobjectID(nullptr), nullptr);
}

TEST_F(Provider, ClassLoadRecordsNamesLinesAndFields) {
  enable({JVMPI_EVENT_CLASS_LOAD});
  play(R"(
class t/Record source=Record.java interfaces=java/io/Serializable,java/lang/Runnable
  method <init> ()V lines=4:7,0:5,9:12
  method bare ()V
  field a I
  field B Ljava/lang/String; static
  field c [J
  field D Z static
end
class t/NoSource
end
load t/Record
load t/NoSource
)");
  auto loads = events(JVMPI_EVENT_CLASS_LOAD);
  ASSERT_EQ(loads.size(), 2u);
  const Seen& record = loads[0];
  EXPECT_EQ(record.texts[0], "t/Record");
  EXPECT_EQ(record.texts[1], "Record.java");
  EXPECT_EQ(record.event.u.class_load.num_interfaces, 2);
  ASSERT_EQ(record.methods.size(), 2u);
  EXPECT_EQ(record.methodTexts[0], (std::pair<std::string, std::string>{"<init>", "()V"}));
  EXPECT_EQ(record.methods[0].start_lineno, 5);
  EXPECT_EQ(record.methods[0].end_lineno, 12);
  EXPECT_EQ(record.methods[1].start_lineno, 0);
  EXPECT_EQ(record.methods[1].end_lineno, 0);
  EXPECT_EQ(record.statics, (std::vector<std::pair<std::string, std::string>>{{"B", "Ljava/lang/String;"}, {"D", "Z"}}));
  EXPECT_EQ(record.instances, (std::vector<std::pair<std::string, std::string>>{{"a", "I"}, {"c", "[J"}}));
  K5Class* clazz = k5vm_findClass(vm, "t/Record", nullptr);
  EXPECT_EQ(record.event.u.class_load.class_id, reinterpret_cast<jobjectID>(clazz->classObject));
  EXPECT_EQ(loads[1].texts[1], "(null)");
  EXPECT_EQ(loads[1].event.u.class_load.methods, nullptr);
  EXPECT_TRUE(record.hadAccess);

  // Requested class loads, array classes among them.
  SetUp();
  K5Class* string = k5vm_findClass(vm, "java/lang/String", nullptr);
  struct Case {
    K5Class* element;
    uint32_t dims;
    const char* name;
  } cases[] = {{k5vm_primitiveClass(vm, 'I'), 1, "[I"},
               {k5vm_primitiveClass(vm, 'I'), 2, "[[I"},
               {string, 1, "[Ljava/lang/String;"},
               {string, 3, "[[[Ljava/lang/String;"},
               {clazz, 1, "[Lt/Record;"}};
  for (const Case& c : cases) {
    K5Class* arrayClass = k5sim_arrayClassOf(vm, c.element, c.dims);
    ASSERT_EQ(jvmpi->RequestEvent(JVMPI_EVENT_CLASS_LOAD, arrayClass->classObject), JVMPI_SUCCESS);
  }
  auto requested = events(JVMPI_EVENT_CLASS_LOAD | JVMPI_REQUESTED_EVENT);
  ASSERT_EQ(requested.size(), 5u);
  for (size_t i = 0; i < 5; i++) EXPECT_EQ(requested[i].texts[0], cases[i].name);
  // Not a class object: an assertion is recorded and nothing is sent.
  EXPECT_EQ(jvmpi->RequestEvent(JVMPI_EVENT_CLASS_LOAD, k5sim_namedObject(vm, "callee")), JVMPI_SUCCESS);
  EXPECT_EQ(events().size(), 5u);
}

TEST_F(Provider, ClassLoadHookGuardsK5VMInternals) {
  enable({JVMPI_EVENT_CLASS_LOAD_HOOK});
  std::string mode;
  inCallback = [&](JVMPI_Event* event) {
    auto& hook = event->u.class_load_hook;
    if (mode.empty()) return;
    if (mode == "null") {
      hook.new_class_data = nullptr;
      hook.new_class_data_len = 0;
      return;
    }
    std::string bytes = mode == "same" ? std::string(reinterpret_cast<char*>(hook.class_data), hook.class_data_len)
                                       : std::string("CHANGED");
    auto* fresh = static_cast<unsigned char*>(hook.malloc_f(static_cast<unsigned>(bytes.size())));
    memcpy(fresh, bytes.data(), bytes.size());
    hook.new_class_data = fresh;
    hook.new_class_data_len = static_cast<jint>(bytes.size());
  };
  auto defined = [&](const std::string& name) {
    std::string last;
    for (const std::string& line : k5sim_log(vm))
      if (line.rfind("define " + name + " ", 0) == 0) last = line.substr(8 + name.size());
    return last;
  };
  struct Case {
    const char* name;
    const char* mode;
    const char* defined;
    bool warning;
  } cases[] = {
      {"java/lang/K5VMInternals", "change", "9 INTERNALS", true},
      {"java/lang/K5VMInternals", "same", "9 INTERNALS", false},
      {"java/lang/k5vminternals", "change", "7 CHANGED", false},  // exact, case-sensitive name
      {"t/Other", "change", "7 CHANGED", false},
      {"t/Nulled", "null", "9 INTERNALS", false},  // no bytes back: the given bytes stay
  };
  int round = 0;
  for (const Case& c : cases) {
    // Each round loads a fresh class of the name (unloading the previous one).
    if (k5vm_findClass(vm, c.name, nullptr)) play(std::string("unload ") + c.name + "\n");
    mode = c.mode;
    testing::internal::CaptureStderr();
    play(std::string("class ") + c.name + " bytes=INTERNALS\nend\nload " + c.name + "\n");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(defined(c.name), c.defined) << c.name << " " << c.mode;
    EXPECT_EQ(err.find(c.name) != std::string::npos, c.warning) << err;
    round++;
  }
  EXPECT_EQ(events(JVMPI_EVENT_CLASS_LOAD_HOOK).size(), 5u);
  EXPECT_FALSE(events(JVMPI_EVENT_CLASS_LOAD_HOOK)[0].hadAccess);
}

TEST_F(Provider, ObjectAllocationShapes) {
  enable({JVMPI_EVENT_OBJECT_ALLOC});
  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  play("main alloc plain t/Calls\n"
       "main newarray az Z 3\nmain newarray ab B 3\nmain newarray ac C 3\nmain newarray as S 3\n"
       "main newarray ai I 3\nmain newarray af F 3\nmain newarray aj J 3\nmain newarray ad D 3\n"
       "main newarray astr java/lang/String 2\nmain newarray agrid I 2 dims=2\n");
  auto allocs = events(JVMPI_EVENT_OBJECT_ALLOC);
  ASSERT_EQ(allocs.size(), 11u);
  jint expected[] = {JVMPI_NORMAL_OBJECT, JVMPI_BOOLEAN, JVMPI_BYTE,   JVMPI_CHAR,  JVMPI_SHORT, JVMPI_INT,
                     JVMPI_FLOAT,         JVMPI_LONG,    JVMPI_DOUBLE, JVMPI_CLASS, JVMPI_CLASS};
  for (size_t i = 0; i < allocs.size(); i++) EXPECT_EQ(allocs[i].event.u.obj_alloc.is_array, expected[i]) << i;
  K5Class* calls = k5vm_findClass(vm, "t/Calls", nullptr);
  EXPECT_EQ(allocs[0].event.u.obj_alloc.class_id, reinterpret_cast<jobjectID>(calls->classObject));
  EXPECT_EQ(allocs[1].event.u.obj_alloc.class_id, nullptr);
  EXPECT_EQ(allocs[9].event.u.obj_alloc.class_id,
            reinterpret_cast<jobjectID>(k5vm_findClass(vm, "java/lang/String", nullptr)->classObject));
  EXPECT_EQ(allocs[10].event.u.obj_alloc.class_id,
            reinterpret_cast<jobjectID>(k5sim_arrayClassOf(vm, k5vm_primitiveClass(vm, 'I'), 1)->classObject));
  K5Object* plain = k5sim_namedObject(vm, "plain");
  EXPECT_EQ(allocs[0].event.u.obj_alloc.obj_id, reinterpret_cast<jobjectID>(plain));
  EXPECT_EQ(allocs[0].event.u.obj_alloc.size, static_cast<jint>(plain->size));
  EXPECT_EQ(allocs[0].event.u.obj_alloc.arena_id,
            static_cast<jint>(reinterpret_cast<uintptr_t>(k5gc_segmentOfObject(vm, plain))));
  EXPECT_EQ(allocs[0].gcDisableCount, 1u);
  EXPECT_TRUE(allocs[0].hadAccess);
  // The requested form.
  ASSERT_EQ(jvmpi->RequestEvent(JVMPI_EVENT_OBJECT_ALLOC, plain), JVMPI_SUCCESS);
  auto requested = events(JVMPI_EVENT_OBJECT_ALLOC | JVMPI_REQUESTED_EVENT);
  ASSERT_EQ(requested.size(), 1u);
  EXPECT_EQ(requested[0].event.u.obj_alloc.obj_id, reinterpret_cast<jobjectID>(plain));
}

TEST_F(Provider, GcStatisticsCountTheWalkedSegmentsWithoutHoles) {
  enable({JVMPI_EVENT_GC_START, JVMPI_EVENT_GC_FINISH, JVMPI_EVENT_OBJECT_FREE, JVMPI_EVENT_OBJECT_MOVE});
  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  play("main alloc gone t/Calls\nmain alloc mover t/Calls\n");
  K5Object* gone = k5sim_namedObject(vm, "gone");
  K5Object* mover = k5sim_namedObject(vm, "mover");
  play("gc move=mover free=gone\n");
  // Expected: every object between base and allocation pointer of the object segments.
  uint64_t counts[2] = {0, 0}, total = 0;
  for (K5MemorySegment* segment = vm->objectSegments; segment; segment = segment->nextSegment) {
    if (!(segment->type & K5_MEMORY_TYPE_OBJECT)) continue;
    total += segment->heapTop - segment->heapBase;
  }
  k5gc_iterateHeap(
      vm,
      [](K5JavaVM*, K5MemorySegment*, K5Object* object, void* data) {
        auto* sums = static_cast<uint64_t*>(data);
        sums[0]++;
        sums[1] += (object->size + 3) & ~3u;
      },
      counts);
  uint64_t objects = counts[0], space = counts[1];
  auto all = events();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].type, JVMPI_EVENT_GC_START);
  EXPECT_TRUE(all[0].hadAccess);
  EXPECT_EQ(all[1].type, JVMPI_EVENT_OBJECT_MOVE);
  EXPECT_EQ(all[1].event.u.obj_move.obj_id, reinterpret_cast<jobjectID>(mover));
  EXPECT_EQ(all[1].event.u.obj_move.new_obj_id, reinterpret_cast<jobjectID>(k5sim_namedObject(vm, "mover")));
  EXPECT_NE(all[1].event.u.obj_move.arena_id, all[1].event.u.obj_move.new_arena_id);
  EXPECT_EQ(all[2].type, JVMPI_EVENT_OBJECT_FREE);
  EXPECT_EQ(all[2].event.u.obj_free.obj_id, reinterpret_cast<jobjectID>(gone));
  ASSERT_EQ(all[3].type, JVMPI_EVENT_GC_FINISH);
  EXPECT_EQ(static_cast<uint64_t>(all[3].event.u.gc_info.used_objects), objects);
  EXPECT_EQ(static_cast<uint64_t>(all[3].event.u.gc_info.used_object_space), space);
  EXPECT_EQ(static_cast<uint64_t>(all[3].event.u.gc_info.total_object_space), total);
  // Two holes now lie in the heap (the freed object and the old place of the moved one).
  SetUp();
  play("gc\n");
  EXPECT_EQ(events(JVMPI_EVENT_GC_FINISH)[0].event.u.gc_info.used_objects, static_cast<jlong>(objects));
}

TEST_F(Provider, AnObjectMovedAndFreedInOneCollectionIsFreedAtItsNewPlace) {
  enable({JVMPI_EVENT_OBJECT_FREE, JVMPI_EVENT_OBJECT_MOVE});
  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  play("main alloc twice t/Calls\ngc move=twice free=twice,twice\n");
  auto all = events();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].type, JVMPI_EVENT_OBJECT_MOVE);
  EXPECT_EQ(all[1].type, JVMPI_EVENT_OBJECT_FREE);
  EXPECT_EQ(all[1].event.u.obj_free.obj_id, all[0].event.u.obj_move.new_obj_id);
  EXPECT_EQ(k5sim_namedObject(vm, "twice"), nullptr);
}

TEST_F(Provider, ThreadStartNamesAreModifiedUtf8) {
  enable({JVMPI_EVENT_THREAD_START, JVMPI_EVENT_THREAD_END});
  play("start u1 name=W\xC3\xB6rker-\xE2\x82\xAC group=gr\xC3\xBCppe parent=main\n"
       "start u2 noobject\n"
       "start u3 group=-\n"
       "u1 end\nu2 end\nu3 end\n");
  auto starts = events(JVMPI_EVENT_THREAD_START);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0].texts, (std::vector<std::string>{"W\xC3\xB6rker-\xE2\x82\xAC", "gr\xC3\xBCppe", "main"}));
  EXPECT_EQ(reinterpret_cast<JNIEnv*>(starts[0].env), starts[0].event.u.thread_start.thread_env_id);
  EXPECT_TRUE(starts[0].hadAccess);
  EXPECT_EQ(starts[1].texts, (std::vector<std::string>{"(null)", "(null)", "(null)"}));
  EXPECT_EQ(starts[1].event.u.thread_start.thread_id, nullptr);
  EXPECT_EQ(starts[2].texts, (std::vector<std::string>{"u3", "(null)", "(null)"}));
  auto ends = events(JVMPI_EVENT_THREAD_END);
  ASSERT_EQ(ends.size(), 3u);
  EXPECT_EQ(ends[0].env, starts[0].env);
  // Requested thread starts: by thread object, or a failure for another object.
  SetUp();
  ASSERT_EQ(jvmpi->RequestEvent(JVMPI_EVENT_THREAD_START, vm->mainThread->threadObject), JVMPI_SUCCESS);
  auto requested = events(JVMPI_EVENT_THREAD_START | JVMPI_REQUESTED_EVENT);
  ASSERT_EQ(requested.size(), 1u);
  EXPECT_EQ(requested[0].texts, (std::vector<std::string>{"main", "main", "system"}));
  EXPECT_EQ(jvmpi->RequestEvent(JVMPI_EVENT_THREAD_START, k5vm_findClass(vm, "java/lang/Object", nullptr)->classObject),
            JVMPI_FAIL);
}

TEST_F(Provider, SuppressedThreadStillReportsItsEnd) {
  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  enable({JVMPI_EVENT_METHOD_ENTRY, JVMPI_EVENT_THREAD_END});
  play("start quiet\nquiet suppress on\nquiet call t/Calls.helper(I)I\n");
  K5VMThread* quiet = k5sim_namedThread(vm, "quiet");
  ASSERT_NE(quiet, nullptr);
  play("quiet end\n");
  EXPECT_TRUE(events(JVMPI_EVENT_METHOD_ENTRY).empty());
  auto ends = events(JVMPI_EVENT_THREAD_END);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].env, quiet);
  EXPECT_FALSE(ends[0].hadAccess);
}

TEST_F(Provider, RawMonitorWaitClampsLongTimeouts) {
  JVMPI_RawMonitor monitor = jvmpi->RawMonitorCreate(const_cast<char*>("ignored"));
  ASSERT_NE(monitor, nullptr);
  auto* raw = reinterpret_cast<k5thread_monitor_t>(monitor);
  EXPECT_EQ(k5thread_monitor_get_name(raw), nullptr);  // the name is not passed on
  struct Case {
    jlong requested;
    int64_t passed;
  } cases[] = {{0x100000000LL, 2147483647LL}, {2147483648LL, 2147483647LL}, {2147483647LL, 2147483647LL},
               {-5, -5}};
  for (const Case& c : cases) {
    jvmpi->RawMonitorEnter(monitor);
    std::thread waker;
    if (c.requested > 0) {
      waker = std::thread([&] {
        // Wait until the waiter is inside the wait, then wake it.
        while (!(k5thread_get_flags(vm->mainThread->osThread, nullptr) &
                 (K5THREAD_FLAG_WAITING | K5THREAD_FLAG_TIMED_WAIT)))
          std::this_thread::yield();
        k5thread_monitor_enter(raw);
        k5thread_monitor_notify_all(raw);
        k5thread_monitor_exit(raw);
      });
    }
    jvmpi->RawMonitorWait(monitor, c.requested);
    jvmpi->RawMonitorExit(monitor);
    if (waker.joinable()) waker.join();
    int64_t millis = 0;
    intptr_t nanos = 1;
    k5thread_monitor_get_last_wait(raw, &millis, &nanos);
    EXPECT_EQ(millis, c.passed) << c.requested;
    EXPECT_EQ(nanos, 0);
  }
  jvmpi->RawMonitorDestroy(monitor);
  EXPECT_TRUE(events().empty());  // unnamed monitors never report contention
}

TEST_F(Provider, NamedRawMonitorsReportContention) {
  enable({51, 52, 53});
  k5thread_monitor_t named = nullptr, quiet = nullptr;
  k5thread_monitor_init_with_name(&named, 0, "shared");
  k5thread_monitor_init_with_name(&quiet, 0, "_private");
  for (k5thread_monitor_t monitor : {named, quiet}) {
    auto id = reinterpret_cast<JVMPI_RawMonitor>(monitor);
    jvmpi->RawMonitorEnter(id);
    std::thread other([&] {
      JavaVM* javaVM = reinterpret_cast<JavaVM*>(vm);
      void* env = nullptr;
      javaVM->functions->AttachCurrentThread(javaVM, &env, nullptr);
      jvmpi->RawMonitorEnter(id);
      jvmpi->RawMonitorExit(id);
      javaVM->functions->DetachCurrentThread(javaVM);
    });
    // Wait until the other thread is blocked on the monitor.
    while (k5thread_monitor_get_owner(monitor) == k5thread_self() && events(51).empty() && monitor == named)
      std::this_thread::yield();
    while (monitor == quiet && !k5vm_currentThread(vm)) std::this_thread::yield();
    if (monitor == quiet) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    jvmpi->RawMonitorExit(id);
    other.join();
  }
  std::vector<jint> types;
  for (const Seen& entry : events()) {
    types.push_back(entry.type);
    EXPECT_EQ(entry.texts[0], "shared");
  }
  // Main's exit while the other waits, then the other's entered and exit.
  EXPECT_EQ(types, (std::vector<jint>{51, 53, 52, 53}));
  k5thread_monitor_destroy(named);
  k5thread_monitor_destroy(quiet);
}

void recordPriority(void* threadObject) {
  std::lock_guard<std::mutex> guard(seenLock);
  Seen entry;
  entry.type = static_cast<jint>(k5thread_get_priority(k5thread_self()));
  entry.env = k5vm_currentThread(vm);
  // f gets the thread object of the attached system thread (the record is gone after f).
  entry.hadAccess = entry.env && threadObject && threadObject == entry.env->threadObject &&
                    (entry.env->privateFlags & K5_PRIVATE_FLAGS_SYSTEM_THREAD);
  seen.push_back(entry);
}

TEST_F(Provider, SystemThreadsRunAtNormalisedPriorities) {
  struct Case {
    jint requested, actual;
  } cases[] = {{7, 5}, {1, 1}, {10, 10}, {0, 5}, {11, 5}, {5, 5}};
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(jvmpi->CreateSystemThread(const_cast<char*>("sys"), c.requested, recordPriority), JVMPI_SUCCESS);
    std::vector<Seen> ran;
    for (int i = 0; i < 2000 && ran.empty(); i++) {
      ran = events();
      if (ran.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0].type, c.actual) << c.requested;
    EXPECT_TRUE(ran[0].hadAccess);
  }
}

TEST_F(Provider, SecondLoadFailsAndKeepsTheFirstState) {
  enable({JVMPI_EVENT_GC_START});
  void* handle = dlopen((std::string(getenv("VORK_BUILD_DIR") ? getenv("VORK_BUILD_DIR") : "build") + "/lib/libK5JPI24.so").c_str(),
                        RTLD_NOW);
  ASSERT_NE(handle, nullptr);
  auto onLoad = reinterpret_cast<K5AgentOnLoad>(dlsym(handle, "JVM_OnLoad"));
  ASSERT_NE(onLoad, nullptr);
  void* table = vm->jvmpiInterface;
  k5thread_monitor_t monitor = vm->jvmpiMonitor;
  EXPECT_EQ(onLoad(reinterpret_cast<JavaVM*>(vm), nullptr, nullptr), -1);
  EXPECT_EQ(vm->jvmpiInterface, table);
  EXPECT_EQ(vm->jvmpiMonitor, monitor);
  EXPECT_EQ(jvmpi->NotifyEvent, &record);
  EXPECT_EQ(vm->jvmpiEventMaskHigh, 1u << (JVMPI_EVENT_GC_START - 33));
  play("gc\n");
  EXPECT_EQ(events(JVMPI_EVENT_GC_START).size(), 1u);  // hooks are not doubled
  dlclose(handle);
}

TEST_F(Provider, CallTracesAndThreadControlFollowTheRunnersStacks) {
  play(R"(
class t/Stack source=Stack.java
  method outer ()V lines=0:100,10:101,20:102
  method inner ()V lines=0:200,5:205
  method nat ()V native
end
load t/Stack
start walker
walker call t/Stack.outer()V pc=20
walker call t/Stack.inner()V pc=7
walker call t/Stack.nat()V
)");
  K5VMThread* walker = k5sim_namedThread(vm, "walker");
  ASSERT_NE(walker, nullptr);
  JVMPI_CallFrame frames[8];
  JVMPI_CallTrace trace{reinterpret_cast<JNIEnv*>(walker), 0, frames};
  jvmpi->GetCallTrace(&trace, 8);
  ASSERT_EQ(trace.num_frames, 3);
  EXPECT_STREQ(k5vm_methodFromID(frames[0].method_id)->name, "nat");
  EXPECT_EQ(frames[0].lineno, 0);  // native: no line table
  EXPECT_STREQ(k5vm_methodFromID(frames[1].method_id)->name, "inner");
  EXPECT_EQ(frames[1].lineno, 205);
  EXPECT_EQ(frames[2].lineno, 102);
  jvmpi->GetCallTrace(&trace, 2);
  EXPECT_EQ(trace.num_frames, 2);
  K5Class* stack = k5vm_findClass(vm, "t/Stack", nullptr);
  EXPECT_EQ(jvmpi->GetMethodClass(frames[0].method_id), reinterpret_cast<jobjectID>(stack->classObject));
  EXPECT_EQ(jvmpi->GetThreadObject(reinterpret_cast<JNIEnv*>(walker)),
            reinterpret_cast<jobjectID>(walker->threadObject));

  // Suspend: the walker stops at its next step; resume lets it go on.
  JNIEnv* env = reinterpret_cast<JNIEnv*>(walker);
  EXPECT_EQ(jvmpi->GetThreadStatus(env), JVMPI_THREAD_RUNNABLE);
  k5vm_acquireVMAccess(vm->mainThread);
  jvmpi->SuspendThread(env);
  k5vm_releaseVMAccess(vm->mainThread);
  play("walker return\n");
  EXPECT_EQ(jvmpi->GetThreadStatus(env), JVMPI_THREAD_RUNNABLE | JVMPI_THREAD_SUSPENDED);
  EXPECT_TRUE(jvmpi->ThreadHasRun(env));
  // Resumed while every other thread is held: it has not run since.
  k5vm_acquireVMAccess(vm->mainThread);
  k5vm_acquireExclusiveVMAccess(vm->mainThread);
  jvmpi->ResumeThread(env);
  EXPECT_FALSE(jvmpi->ThreadHasRun(env));
  k5vm_releaseExclusiveVMAccess(vm->mainThread);
  k5vm_releaseVMAccess(vm->mainThread);
  for (int i = 0; i < 5000 && !jvmpi->ThreadHasRun(env); i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(jvmpi->ThreadHasRun(env));
  jvmpi->ResumeThread(nullptr);  // nothing happens
  play("walker return\n");  // waits for the resumed step first
  jvmpi->GetCallTrace(&trace, 8);
  EXPECT_EQ(trace.num_frames, 1);

  // A thread blocked on an object monitor, and one waiting on it.
  play("main alloc lockobj t/Stack\nmain lock lockobj\nwalker lock lockobj\n");
  EXPECT_EQ(jvmpi->GetThreadStatus(env), JVMPI_THREAD_MONITOR_WAIT);
  play("main unlock lockobj\nwalker wait lockobj 0\n");
  EXPECT_EQ(jvmpi->GetThreadStatus(env), JVMPI_THREAD_CONDVAR_WAIT);
  play("main lock lockobj\nmain notifyall lockobj\nmain unlock lockobj\nwalker unlock lockobj\nwalker end\n");

  // Inside a compiled-code report the thread's own trace is empty.
  enable({JVMPI_EVENT_COMPILED_METHOD_LOAD});
  jint ownFrames = -1;
  inCallback = [&](JVMPI_Event* event) {
    JVMPI_CallFrame own[4];
    JVMPI_CallTrace mine{event->env_id, 0, own};
    jvmpi->GetCallTrace(&mine, 4);
    ownFrames = mine.num_frames;
  };
  play("main call t/Stack.outer()V\nmain jitload t/Stack.inner()V addr=0x100 size=8\nmain return\n");
  EXPECT_EQ(ownFrames, 0);
}

TEST_F(Provider, CompiledCodeNotificationsAndDataDumps) {
  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  enable({7, 8, 2018, 2013, 2014, 44, 45});
  play("main jitload t/Calls.run()V addr=0x4000 size=64\n"
       "main jitload - addr=0x5000 size=32 data=9\n"
       "main jitunload t/Calls.run()V\n"
       "main jitunload - addr=0x5000\n"
       "main jitevent t/Calls.run()V\nmain jitevent t/Calls.run()V second\n"
       "datadump\n");
  auto all = events();
  std::vector<jint> types;
  for (const Seen& entry : all) types.push_back(entry.type);
  EXPECT_EQ(types, (std::vector<jint>{7, 2018, 8, 2018, 2013, 2014, 44, 45}));
  EXPECT_EQ(all[0].event.u.compiled_method_load.code_size, 64);
  EXPECT_EQ(all[0].event.u.compiled_method_load.lineno_table, nullptr);
  EXPECT_TRUE(all[0].hadAccess);
  const jint* load = all[1].event.u.code_event.words;
  EXPECT_EQ(std::vector<jint>(load, load + 10), (std::vector<jint>{0, 0, 0, 9, 0, 1, 0x5000, 32, 0, 0}));
  const jint* unload = all[3].event.u.code_event.words;
  EXPECT_EQ(std::vector<jint>(unload, unload + 10), (std::vector<jint>{0, 0, 0, 0, 0, 2, 0x5000, 0, 0, 0}));
  EXPECT_FALSE(all[4].hadAccess);
  // The dump pair comes on a freshly attached daemon thread that is gone afterwards.
  ASSERT_NE(all[6].env, nullptr);
  EXPECT_EQ(all[6].env, all[7].env);
  EXPECT_NE(all[6].env, vm->mainThread);
  // The VM's notification word gets 0x100000 unless 2026 is enabled.
  EXPECT_EQ(k5sim_notificationFlags(vm->mainThread, 1), 0x100001u);
  enable({2026});
  EXPECT_EQ(k5sim_notificationFlags(vm->mainThread, 1), 1u);
}

TEST_F(Provider, GcControlAndGlobalReferences) {
  enable({JVMPI_EVENT_GC_START, 38, 39, 40, 41});
  K5VMThread* main = vm->mainThread;
  jvmpi->DisableGC();
  EXPECT_EQ(main->gcDisableCount, 1u);
  EXPECT_TRUE(main->publicFlags & K5_PUBLIC_FLAGS_VM_ACCESS);
  jvmpi->DisableGC();
  EXPECT_EQ(main->gcDisableCount, 2u);
  jvmpi->RunGC();  // holds VM access: nothing
  jvmpi->EnableGC();
  jvmpi->EnableGC();
  jvmpi->EnableGC();  // at 0: nothing
  EXPECT_EQ(main->gcDisableCount, 0u);
  EXPECT_FALSE(main->publicFlags & K5_PUBLIC_FLAGS_VM_ACCESS);
  EXPECT_TRUE(events(JVMPI_EVENT_GC_START).empty());
  vm->suppressExplicitGC = 1;
  jvmpi->RunGC();
  EXPECT_TRUE(events(JVMPI_EVENT_GC_START).empty());
  vm->suppressExplicitGC = 0;
  jvmpi->RunGC();
  EXPECT_EQ(events(JVMPI_EVENT_GC_START).size(), 1u);

  if (!k5vm_findClass(vm, "t/Calls", nullptr)) play(kCallClasses);
  play("main alloc refd t/Calls\nmain globalref r1 refd\nmain globalref r2 refd weak\nmain deleteref r1\nmain deleteref r2\n");
  auto alloc = events(38), weakAlloc = events(40), freed = events(39), weakFreed = events(41);
  ASSERT_EQ(alloc.size(), 1u);
  ASSERT_EQ(weakAlloc.size(), 1u);
  ASSERT_EQ(freed.size(), 1u);
  ASSERT_EQ(weakFreed.size(), 1u);
  EXPECT_EQ(alloc[0].event.u.jni_globalref_alloc.obj_id, reinterpret_cast<jobjectID>(k5sim_namedObject(vm, "refd")));
  EXPECT_EQ(freed[0].event.u.jni_globalref_free.ref_id, alloc[0].event.u.jni_globalref_alloc.ref_id);
  EXPECT_EQ(weakFreed[0].event.u.jni_globalref_free.ref_id, weakAlloc[0].event.u.jni_globalref_alloc.ref_id);
}

TEST_F(Provider, AssertionsAreTracePointsOfTheModule) {
  EXPECT_EQ(jvmpi->jobject2jobjectID(nullptr), nullptr);
  jvmpi->GetCallTrace(nullptr, 3);
  bool objFound = false, traceFound = false;
  for (const std::string& line : k5sim_traceRecords(vm)) {
    if (line.find("k5jvmpi.") == 0 && line.find("jvmpi/jvmpisup") != std::string::npos) {
      objFound = objFound || line.find("((obj) != NULL)") != std::string::npos;
      traceFound = traceFound || line.find("((trace) != NULL)") != std::string::npos;
    }
  }
  EXPECT_TRUE(objFound);
  EXPECT_TRUE(traceFound);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new VmEnvironment);
  return RUN_ALL_TESTS();
}

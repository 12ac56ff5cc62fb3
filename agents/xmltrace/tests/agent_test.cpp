// The agent's start, printers and event handling against a stand-in JVMPI table and port
// services on the host.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "agent_fixture.h"
#include "xml_check.h"

namespace {

using fake::Element;
using fake::idOf;

class XmlTraceAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::world = &world_;
    table_ = fake::makeInterface();
    xt::agent.jvmpi = &table_;
    xt::agent.port = fake::makePort();
    char dir[] = "/tmp/xmltrace-agent-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (auto& entry : world_.tls) std::free(entry.second);
    xt::agentReset();
    fake::world = nullptr;
    std::string command = "rm -rf '" + dir_ + "'";
    (void)std::system(command.c_str());
  }

  std::string path(const char* name) const { return dir_ + "/" + name; }
  void writeFile(const char* name, const std::string& text) const { std::ofstream(path(name)) << text; }
  std::string readFile(const char* name) const {
    std::ifstream in(path(name));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  jint start(const std::string& options) { return xt::agentStart(options.c_str()); }
  // Starts with a file printer and the given filters text.
  void startToFile(const std::string& extra = "", const char* filters = nullptr) {
    std::string options = "file=" + path("trace.xml");
    if (filters != nullptr) {
      writeFile("filters.txt", filters);
      options += ",filters=" + path("filters.txt");
    } else {
      options += ",filters=" + path("none.txt");
    }
    if (!extra.empty()) options += "," + extra;
    ASSERT_EQ(start(options), 0) << world_.errors;
  }
  std::vector<Element> finishTrace() {
    send(JVMPI_EVENT_JVM_SHUT_DOWN, env(1));
    std::string text = readFile("trace.xml");
    EXPECT_EQ(xmlcheck::wellFormed(text), "") << text;
    return fake::elements(text);
  }

  static JNIEnv* env(int n) { return idOf<JNIEnv*>(0x7f1200000000ull + static_cast<uintptr_t>(n) * 0x100); }
  static JVMPI_Event event(jint type, JNIEnv* e) {
    JVMPI_Event ev;
    std::memset(&ev, 0, sizeof(ev));
    ev.event_type = type;
    ev.env_id = e;
    return ev;
  }
  static void send(jint type, JNIEnv* e) {
    JVMPI_Event ev = event(type, e);
    xt::agentNotifyEvent(&ev);
  }
  static void entry(JNIEnv* e, uintptr_t method, uintptr_t receiver = 0) {
    JVMPI_Event ev = event(JVMPI_EVENT_METHOD_ENTRY2, e);
    ev.u.method_entry2.method_id = idOf<jmethodID>(method);
    ev.u.method_entry2.obj_id = idOf<jobjectID>(receiver);
    xt::agentNotifyEvent(&ev);
  }
  static void exitMethod(JNIEnv* e, uintptr_t method) {
    JVMPI_Event ev = event(JVMPI_EVENT_METHOD_EXIT, e);
    ev.u.method.method_id = idOf<jmethodID>(method);
    xt::agentNotifyEvent(&ev);
  }
  static void alloc(JNIEnv* e, uintptr_t object, uintptr_t klass, jint isArray = 0, jint size = 24) {
    JVMPI_Event ev = event(JVMPI_EVENT_OBJECT_ALLOC, e);
    ev.u.obj_alloc.obj_id = idOf<jobjectID>(object);
    ev.u.obj_alloc.class_id = idOf<jobjectID>(klass);
    ev.u.obj_alloc.is_array = isArray;
    ev.u.obj_alloc.size = size;
    xt::agentNotifyEvent(&ev);
  }
  static void freeObject(JNIEnv* e, uintptr_t object) {
    JVMPI_Event ev = event(JVMPI_EVENT_OBJECT_FREE, e);
    ev.u.obj_free.obj_id = idOf<jobjectID>(object);
    xt::agentNotifyEvent(&ev);
  }
  static void moveObject(JNIEnv* e, uintptr_t from, uintptr_t to) {
    JVMPI_Event ev = event(JVMPI_EVENT_OBJECT_MOVE, e);
    ev.u.obj_move.obj_id = idOf<jobjectID>(from);
    ev.u.obj_move.new_obj_id = idOf<jobjectID>(to);
    xt::agentNotifyEvent(&ev);
  }
  // A class with two methods: <init> (id klass+1) and run (id klass+2).
  static void loadClass(JNIEnv* e, const char* name, uintptr_t klass, const char* source = "Some.java") {
    JVMPI_Method methods[2] = {
        {const_cast<char*>("<init>"), const_cast<char*>("()V"), 0, 0, idOf<jmethodID>(klass + 1)},
        {const_cast<char*>("run"), const_cast<char*>("(Ljava/lang/String;)V"), 3, 9, idOf<jmethodID>(klass + 2)}};
    JVMPI_Event ev = event(JVMPI_EVENT_CLASS_LOAD, e);
    ev.u.class_load.class_name = name;
    ev.u.class_load.source_name = const_cast<char*>(source);
    ev.u.class_load.num_methods = 2;
    ev.u.class_load.methods = methods;
    ev.u.class_load.class_id = idOf<jobjectID>(klass);
    xt::agentNotifyEvent(&ev);
    world()->methodClass[idOf<jmethodID>(klass + 1)] = idOf<jobjectID>(klass);
    world()->methodClass[idOf<jmethodID>(klass + 2)] = idOf<jobjectID>(klass);
  }
  static fake::World* world() { return fake::world; }
  static std::string id(uintptr_t value) { return std::to_string(static_cast<long long>(value)); }
  static std::string threadId(int n) { return id(reinterpret_cast<uintptr_t>(env(n)) + 0x10000); }
  static std::vector<const Element*> named(const std::vector<Element>& all, const std::string& name) {
    std::vector<const Element*> out;
    for (const Element& e : all)
      if (e.name == name) out.push_back(&e);
    return out;
  }

  fake::World world_;
  JVMPI_Interface table_;
  std::string dir_;
};

TEST_F(XmlTraceAgent, HelpAndBadOptionsPrintTextAndExitZero) {
  struct Case { const char* options; const char* text; };
  Case cases[] = {{"help,stderr", xt::kOptionsText},
                  {"mode=execution", xt::kOptionsText},  // no output option
                  {"stderr,bogus", xt::kOptionsText},
                  {"filters-help,stderr", xt::kFiltersText}};
  for (const Case& c : cases) {
    world_.errors.clear();
    world_.exits.clear();
    EXPECT_EQ(start(c.options), -1);
    EXPECT_EQ(world_.errors, c.text) << c.options;
    EXPECT_EQ(world_.exits, std::vector<jint>{0}) << c.options;
    EXPECT_TRUE(world_.enabled.empty());
    xt::agentReset();
    xt::agent.jvmpi = &table_;
  }
}

TEST_F(XmlTraceAgent, EnablesEventsPerMode) {
  struct Case { const char* mode; std::vector<jint> events; };
  Case cases[] = {
      {"mode=all", {47, 42, 33, 34, 60, 61, 4, 5, 6, 2, 3}},
      {"mode=memory", {47, 42, 33, 34, 60, 61, 4, 5, 6}},
      {"mode=execution", {47, 42, 33, 34, 60, 61, 2, 3}},
  };
  for (const Case& c : cases) {
    world_.enabled.clear();
    ASSERT_EQ(start(std::string("quiet,") + c.mode), 0);
    EXPECT_EQ(world_.enabled, c.events) << c.mode;
    EXPECT_EQ(world_.monitorName, "JVMPI Agent -- FilterSetMonitor");
    EXPECT_NE(table_.NotifyEvent, nullptr);
    EXPECT_EQ(world_.errors, "");
    xt::agentReset();
    xt::agent.jvmpi = &table_;
  }
}

TEST_F(XmlTraceAgent, StartFailures) {
  world_.failEnable = JVMPI_EVENT_OBJECT_FREE;
  EXPECT_EQ(start("quiet"), -1);
  EXPECT_EQ(world_.errors, "k5profile: Enable event failed: 5 ((nil))\n");
  EXPECT_EQ(world_.enabled, (std::vector<jint>{47, 42, 33, 34, 60, 61, 4, 5}));  // stops at the failure
  xt::agentReset();
  xt::agent.jvmpi = &table_;

  world_.failEnable = 0;
  world_.errors.clear();
  world_.failMonitor = true;
  EXPECT_EQ(start("quiet"), -1);
  EXPECT_EQ(world_.errors, "k5profile: Failed to setup filters\n");
  xt::agentReset();
  xt::agent.jvmpi = &table_;

  world_.failMonitor = false;
  world_.errors.clear();
  EXPECT_EQ(start("file=" + path("no/such/dir/trace.xml")), -1);  // cannot be created
  EXPECT_TRUE(world_.enabled.size() == 8u);                       // nothing enabled since
  xt::agentReset();
  xt::agent.jvmpi = &table_;

  world_.failAlloc = true;  // the option copy
  EXPECT_EQ(start("stderr"), -1);
  EXPECT_EQ(world_.errors, std::string("k5profile.parseOptions: Failed to allocate buffer, out of memory\n") +
                               xt::kOptionsText);
  EXPECT_EQ(world_.exits, std::vector<jint>{0});
}

TEST_F(XmlTraceAgent, WritesEveryRecordWithItsAttributesInOrder) {
  startToFile();
  JNIEnv* t = env(1);
  JVMPI_Event ts = event(JVMPI_EVENT_THREAD_START | JVMPI_REQUESTED_EVENT, t);  // requested form
  ts.u.thread_start.thread_name = const_cast<char*>("main \"worker\" <1>");
  ts.u.thread_start.group_name = const_cast<char*>("main");
  ts.u.thread_start.parent_name = nullptr;  // absent: an empty value
  ts.u.thread_start.thread_id = fake::threadObject(t);
  xt::agentNotifyEvent(&ts);
  loadClass(t, "com/zel/Demo", 0x5000, nullptr);
  entry(t, 0x5001, 0x9000);
  entry(t, 0x5002, 0);
  exitMethod(t, 0x5002);
  exitMethod(t, 0x5001);
  alloc(t, 0x9100, 0x5000, 0, 32);
  send(JVMPI_EVENT_GC_START, t);
  moveObject(t, 0x9100, 0x9200);
  freeObject(t, 0x9200);
  JVMPI_Event gf = event(JVMPI_EVENT_GC_FINISH, t);
  gf.u.gc_info.total_object_space = 0x100000000ll + 4096;  // only the low 32 bits are written
  gf.u.gc_info.used_object_space = 0xFFFFFFFFll;           // as a signed value
  gf.u.gc_info.used_objects = 12;
  xt::agentNotifyEvent(&gf);
  send(JVMPI_EVENT_THREAD_END, t);
  EXPECT_TRUE(world_.tls[t] == nullptr);  // released at the thread's end
  std::vector<Element> all = finishTrace();
  EXPECT_TRUE(world_.tls[env(1)] == nullptr);  // the shutting-down thread's stack is released
  send(JVMPI_EVENT_THREAD_START, env(2));  // after shut-down: nothing
  EXPECT_EQ(fake::elements(readFile("trace.xml")).size(), all.size());

  std::vector<std::string> want = {
      "threadStart:threadId,time,threadName,groupName,parentName,objIdRef",
      "classDef:threadIdRef,name,sourceName,classId,time",
      "methodDef:name,signature,classIdRef,methodId",
      "methodDef:name,signature,classIdRef,methodId",
      "methodEntry:threadIdRef,methodIdRef,objIdRef,classIdRef,stackDepth,time,threadCpuTime",
      "methodEntry:threadIdRef,methodIdRef,objIdRef,classIdRef,stackDepth,time,threadCpuTime",
      "methodExit:threadIdRef,time,threadCpuTime,methodIdRef",
      "methodExit:threadIdRef,time,threadCpuTime,methodIdRef",
      "objAlloc:threadIdRef,isArray,objId,size,classIdRef,time",
      "gcStart:threadIdRef,time",
      "objMove:time,objIdRef,newObjId",
      "objFree:time,objIdRef",
      "gcFinish:threadIdRef,time,totalObjectSpace,usedObjectSpace,usedObjects",
      "threadEnd:threadIdRef,time",
  };
  ASSERT_EQ(all.size(), want.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].name + ":" + all[i].keys(), want[i]);

  EXPECT_EQ(all[0].get("threadId"), threadId(1));
  EXPECT_EQ(all[0].get("threadName"), "main &quot;worker&quot; &lt;1&gt;");
  EXPECT_EQ(all[0].get("parentName"), "");
  EXPECT_EQ(all[0].get("objIdRef"), "0");
  EXPECT_EQ(all[1].get("threadIdRef"), threadId(1));
  EXPECT_EQ(all[1].get("sourceName"), "");
  EXPECT_EQ(all[1].get("classId"), id(0x5000));
  EXPECT_EQ(all[2].get("name"), "&lt;init&gt;");
  EXPECT_EQ(all[3].get("signature"), "(Ljava/lang/String;)V");
  EXPECT_EQ(all[3].get("methodId"), id(0x5002));
  EXPECT_EQ(all[4].get("objIdRef"), id(0x9000));
  EXPECT_EQ(all[4].get("classIdRef"), id(0x5000));
  EXPECT_EQ(all[4].get("stackDepth"), "0");
  EXPECT_EQ(all[4].get("threadCpuTime"), "777");
  EXPECT_EQ(all[5].get("stackDepth"), "1");
  EXPECT_EQ(all[5].get("objIdRef"), "0");
  EXPECT_EQ(all[6].get("methodIdRef"), id(0x5002));
  EXPECT_EQ(all[8].get("size"), "32");
  EXPECT_EQ(all[8].get("objId"), id(0x9100));
  EXPECT_EQ(all[10].get("objIdRef"), id(0x9100));
  EXPECT_EQ(all[10].get("newObjId"), id(0x9200));
  EXPECT_EQ(all[12].get("totalObjectSpace"), "4096");
  EXPECT_EQ(all[12].get("usedObjectSpace"), "-1");
  EXPECT_EQ(all[12].get("usedObjects"), "12");
  // Time texts: seconds from the wall clock at start, nine digits after the point.
  std::string last;
  for (const Element& e : all) {
    std::string time = e.get("time");
    if (time == "<absent>") continue;
    ASSERT_EQ(time.size(), 20u) << time;
    EXPECT_EQ(time.substr(0, 11), "1700000000.");
    EXPECT_GE(time, last);  // never backwards
    last = time;
  }
  EXPECT_EQ(world_.errors, "");
}

TEST_F(XmlTraceAgent, FiltersExcludeClassesTheirMethodsAndObjects) {
  startToFile("", "+ java/lang/String\n- java/lang/Str*\n- *Impl\n");
  JNIEnv* t = env(1);
  loadClass(t, "java/lang/String", 0x1000);
  loadClass(t, "java/lang/StringBuilder", 0x2000);
  loadClass(t, "com/zel/ListImpl", 0x3000);
  loadClass(t, "com/zel/Main", 0x4000);
  entry(t, 0x2001);  // excluded, still counted in the depth
  entry(t, 0x1002);
  exitMethod(t, 0x1002);
  exitMethod(t, 0x2001);
  alloc(t, 0xA000, 0x2000);  // excluded class
  alloc(t, 0xA100, 0);       // class 0
  alloc(t, 0xA200, 0x1000);
  alloc(t, 0xA300, 0x4000);
  send(JVMPI_EVENT_GC_START, t);
  moveObject(t, 0xA000, 0xB000);  // excluded: follows the object
  moveObject(t, 0xA100, 0xB100);
  moveObject(t, 0xA200, 0xB200);
  freeObject(t, 0xB000);
  freeObject(t, 0xB100);
  freeObject(t, 0xB000);  // was removed: now written
  freeObject(t, 0xB200);
  freeObject(t, 0);  // never written
  send(JVMPI_EVENT_GC_FINISH, t);
  std::vector<Element> all = finishTrace();

  std::vector<std::string> classes;
  for (const Element* e : named(all, "classDef")) classes.push_back(e->get("name"));
  EXPECT_EQ(classes, (std::vector<std::string>{"java/lang/String", "com/zel/Main"}));
  EXPECT_EQ(named(all, "methodDef").size(), 4u);
  auto entries = named(all, "methodEntry");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->get("methodIdRef"), id(0x1002));
  EXPECT_EQ(entries[0]->get("stackDepth"), "1");
  EXPECT_EQ(named(all, "methodExit").size(), 1u);
  std::vector<std::string> allocs;
  for (const Element* e : named(all, "objAlloc")) allocs.push_back(e->get("objId"));
  EXPECT_EQ(allocs, (std::vector<std::string>{id(0xA200), id(0xA300)}));
  auto moves = named(all, "objMove");
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0]->get("objIdRef"), id(0xA200));
  std::vector<std::string> frees;
  for (const Element* e : named(all, "objFree")) frees.push_back(e->get("objIdRef"));
  EXPECT_EQ(frees, (std::vector<std::string>{id(0xB000), id(0xB200)}));
  EXPECT_EQ(named(all, "gcStart").size(), 1u);
  EXPECT_EQ(named(all, "gcFinish").size(), 1u);
}

TEST_F(XmlTraceAgent, MethodStackUnderflowMismatchAndDepthBeyondItsSlots) {
  startToFile("mode=execution");
  JNIEnv* t = env(1);
  exitMethod(t, 0x77);  // no entry
  EXPECT_EQ(world_.errors, "k5profile: Error: apparent stack underflow in JVMPI_EVENT_METHOD_EXIT\n");
  world_.errors.clear();
  entry(t, 0x10);
  exitMethod(t, 0x20);  // depth 0 again, but the wrong method
  EXPECT_EQ(world_.errors,
            "k5profile: Error: mismatched ENTER and EXIT in JVMPI_EVENT_METHOD_EXIT.Expecting method 0x10 but got "
            "0x20.\n");
  world_.errors.clear();
  const int deep = 1030;
  for (int i = 0; i < deep; ++i) entry(t, 0x1000 + static_cast<uintptr_t>(i));
  // Beyond the slots the method is counted but not recorded, so a wrong exit goes unnoticed.
  exitMethod(t, 0xdead);
  for (int i = deep - 2; i >= 0; --i) exitMethod(t, 0x1000 + static_cast<uintptr_t>(i));
  EXPECT_EQ(world_.errors, "");
  exitMethod(t, 0x1);  // one too many
  EXPECT_EQ(world_.errors, "k5profile: Error: apparent stack underflow in JVMPI_EVENT_METHOD_EXIT\n");
  std::vector<Element> all = finishTrace();
  auto exits = named(all, "methodExit");
  EXPECT_EQ(exits.size(), static_cast<size_t>(deep + 3));  // written even when unbalanced
  EXPECT_EQ(exits[0]->get("methodIdRef"), id(0x77));
  auto entries = named(all, "methodEntry");
  ASSERT_EQ(entries.size(), static_cast<size_t>(deep + 1));
  EXPECT_EQ(entries[1]->get("stackDepth"), "0");  // after the underflow the depth is 0
  EXPECT_EQ(entries.back()->get("stackDepth"), std::to_string(deep - 1));
}

TEST_F(XmlTraceAgent, StderrQuietAndUnrequestedEvents) {
  ASSERT_EQ(start("stderr,filters=" + path("none.txt")), 0);
  loadClass(env(1), "A", 0x100);
  send(JVMPI_EVENT_COMPILED_METHOD_LOAD | JVMPI_REQUESTED_EVENT, env(1));
  EXPECT_EQ(fake::elements(world_.errors).size(), 3u);
  EXPECT_NE(world_.errors.find("Received unrequested event(7)\n"), std::string::npos);
  send(JVMPI_EVENT_JVM_SHUT_DOWN, env(1));
  xt::agentReset();
  xt::agent.jvmpi = &table_;

  world_.errors.clear();
  ASSERT_EQ(start("quiet,stderr,file=" + path("q.xml")), 0);  // quiet wins
  loadClass(env(1), "A", 0x100);
  entry(env(1), 0x101);
  exitMethod(env(1), 0x101);
  send(JVMPI_EVENT_GC_START, env(1));
  send(JVMPI_EVENT_GC_FINISH, env(1));
  EXPECT_EQ(world_.errors, "");
  EXPECT_FALSE(std::ifstream(path("q.xml")).good());
}

TEST_F(XmlTraceAgent, ClockAndMemoryFailuresEndTheProcess) {
  startToFile();
  world_.zeroDelta = true;
  send(JVMPI_EVENT_GC_START, env(1));
  EXPECT_EQ(world_.errors, "k5time_hires_delta failed... RuntimeError (k5profile.c)\n");
  EXPECT_EQ(world_.exits, std::vector<jint>{-3});
  send(JVMPI_EVENT_GC_FINISH, env(1));
  world_.zeroDelta = false;
  world_.errors.clear();
  world_.exits.clear();
  world_.failAlloc = true;
  send(JVMPI_EVENT_THREAD_START, env(5));  // a thread's first event needs its method stack
  EXPECT_EQ(world_.errors, "k5profile: Error allocating thread local storage\n");
  EXPECT_EQ(world_.exits, std::vector<jint>{-2});
  world_.failAlloc = false;
}

// A local TCP server that collects what one client sends.
struct Server {
  int listener = -1;
  uint16_t port = 0;
  std::thread thread;
  std::string received;
  Server() {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t length = sizeof(a);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    ::listen(listener, 1);
    thread = std::thread([this] {
      int client = ::accept(listener, nullptr, nullptr);
      char buffer[4096];
      ssize_t n;
      while (client >= 0 && (n = ::read(client, buffer, sizeof(buffer))) > 0) received.append(buffer, static_cast<size_t>(n));
      if (client >= 0) ::close(client);
    });
  }
  std::string finish() {
    thread.join();
    ::close(listener);
    return received;
  }
};

TEST_F(XmlTraceAgent, SocketPrinterByAddressAndByName) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    Server server;
    ASSERT_EQ(start(std::string("server=") + host + ":" + std::to_string(server.port) + ",filters=" + path("x")), 0)
        << world_.errors;
    loadClass(env(1), "pkg/<Odd>&\"Name\"", 0x100);
    entry(env(1), 0x101, 0x55);
    exitMethod(env(1), 0x101);
    send(JVMPI_EVENT_JVM_SHUT_DOWN, env(1));  // closes the connection
    std::string text = server.finish();
    EXPECT_EQ(xmlcheck::wellFormed(text), "") << text;
    std::vector<Element> all = fake::elements(text);
    ASSERT_EQ(all.size(), 5u) << host;
    EXPECT_EQ(all[0].get("name"), "pkg/&lt;Odd&gt;&amp;&quot;Name&quot;");
    EXPECT_EQ(all[4].name, "methodExit");
    xt::agentReset();
    xt::agent.jvmpi = &table_;
  }
}

TEST_F(XmlTraceAgent, SocketPrinterFailures) {
  int unused = ::socket(AF_INET, SOCK_STREAM, 0);  // a port that nobody listens on
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(unused, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  socklen_t length = sizeof(a);
  ::getsockname(unused, reinterpret_cast<sockaddr*>(&a), &length);
  std::string closedPort = std::to_string(ntohs(a.sin_port));
  struct Case { std::string options; std::string message; };
  Case cases[] = {
      {"server=no-such-host.invalid:80", "Invalid hostname: no-such-host.invalid\n"},
      {"server=300.1.1.1:80", "Invalid hostname: 300.1.1.1\n"},
      {"server=127.0.0.1:http", "Failed to allocate remote Address/Port: -1\n"},
      {"server=127.0.0.1:" + closedPort, "Failed to connect to server: -214\n"},
  };
  for (const Case& c : cases) {
    world_.errors.clear();
    EXPECT_EQ(start(c.options), -1) << c.options;
    EXPECT_EQ(world_.errors, c.message) << c.options;
    xt::agentReset();
    xt::agent.jvmpi = &table_;
  }
  ::close(unused);
}

// Many threads trace at once while another runs collections; run under the thread sanitizer
// this shows the sets and the method stacks are used safely.
TEST_F(XmlTraceAgent, ThreadsTraceConcurrentlyWithCollections) {
  startToFile("", "- java/util/*\n");
  loadClass(env(100), "java/util/Vector", 0x1000);
  loadClass(env(100), "app/Main", 0x2000);
  std::vector<std::thread> threads;
  for (int n = 1; n <= 4; ++n) {
    threads.emplace_back([n] {
      JNIEnv* t = env(n);
      for (int i = 0; i < 300; ++i) {
        entry(t, 0x2002);
        entry(t, 0x1002);
        alloc(t, 0x100000u * static_cast<uintptr_t>(n) + static_cast<uintptr_t>(i) * 16, i % 2 ? 0x1000 : 0x2000);
        exitMethod(t, 0x1002);
        exitMethod(t, 0x2002);
      }
      send(JVMPI_EVENT_THREAD_END, t);
    });
  }
  for (int gc = 0; gc < 20; ++gc) {
    send(JVMPI_EVENT_GC_START, env(9));
    for (int i = 0; i < 50; ++i) moveObject(env(9), 0x100000u + static_cast<uintptr_t>(i) * 16, 0x900000u + static_cast<uintptr_t>(gc * 64 + i));
    send(JVMPI_EVENT_GC_FINISH, env(9));
  }
  for (auto& th : threads) th.join();
  std::vector<Element> all = finishTrace();
  EXPECT_EQ(named(all, "methodEntry").size(), 4u * 300u);
  EXPECT_EQ(named(all, "objAlloc").size(), 4u * 150u);
  EXPECT_EQ(named(all, "gcFinish").size(), 20u);
  EXPECT_EQ(world_.errors, "");
}

}  // namespace

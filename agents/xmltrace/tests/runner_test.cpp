// libK5PROFILE.so in the substitute VM: the runner k5sim loads it with -XrunK5PROFILE and
// plays workloads; every trace is checked with a real XML parser.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "agent_fixture.h"
#include "xml_check.h"
#include "xt_core.h"

namespace {

using fake::Element;

// Classes of the workloads: two methods each, the first a constructor.
const char* const kClasses = R"(class java/lang/StringBuilder source=StringBuilder.java
  method <init> ()V lines=0:5
  method append (Ljava/lang/String;)Ljava/lang/StringBuilder; lines=0:7
end
class app/Main source=Main.java
  method <init> ()V lines=0:3
  method run ()V lines=0:12
  method deep (I)V static lines=0:30
end
class app/MainHelper source=MainHelper.java
  method help ()I static lines=0:8
end
load java/lang/StringBuilder
load app/Main
load app/MainHelper
start worker name=Worker-1 group=workers parent=main
)";

// A workload touching every kind of record. java/lang/String is one of the VM's boot
// classes: it is loaded before any agent and never reported as loaded. The int array has
// class ID 0: it is moved in the first collection and freed in the second.
const char* const kEveryRecord = R"(worker alloc m app/Main
worker call app/Main.<init>()V this=m
worker return
worker call app/Main.run()V this=m
worker alloc s java/lang/String
worker call app/MainHelper.help()I
worker return
worker alloc b java/lang/StringBuilder
worker call java/lang/StringBuilder.append(Ljava/lang/String;)Ljava/lang/StringBuilder; this=b
worker return
worker newarray nums I 16
worker return
gc move=s,nums free=b
gc free=nums
worker end
shutdown 0
)";

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class XmlTraceRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/xmltrace-runner-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    const char* build = std::getenv("VORK_BUILD_DIR");
    runner_ = std::string(build != nullptr ? build : "build") + "/bin/k5sim";
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    (void)std::system(command.c_str());
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void writeFile(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string readFile(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Plays the workload with the agent and its options (filters default to a missing file).
  RunResult run(const std::string& options, const std::string& workload) {
    writeFile("workload.k5w", workload);
    std::string agentOptions = options;
    if (options.find("filters=") == std::string::npos) agentOptions += ",filters=" + path("no-filters.txt");
    std::string command = "cd '" + dir_ + "' && '" + runner_ + "' '-XrunK5PROFILE:" + agentOptions + "' '" +
                          path("workload.k5w") + "' > '" + path("out.txt") + "' 2> '" + path("err.txt") + "'";
    int status = std::system(command.c_str());
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile("out.txt");
    r.err = readFile("err.txt");
    return r;
  }
  // Runs with the trace in a file and answers its records (checked to be well-formed XML).
  std::vector<Element> trace(const std::string& options, const std::string& workload, RunResult* result = nullptr) {
    RunResult r = run("file=" + path("trace.xml") + (options.empty() ? "" : "," + options), workload);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string text = readFile("trace.xml");
    EXPECT_EQ(xmlcheck::wellFormed(text), "") << text;
    if (result != nullptr) *result = r;
    return fake::elements(text);
  }
  // The record lines of a text that also holds other output.
  static std::string recordLines(const std::string& text) {
    std::string lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty() && line[0] == '<') lines += line + "\n";
    return lines;
  }
  static std::vector<const Element*> named(const std::vector<Element>& all, const std::string& name) {
    std::vector<const Element*> out;
    for (const Element& e : all)
      if (e.name == name) out.push_back(&e);
    return out;
  }
  static std::vector<std::string> values(const std::vector<Element>& all, const std::string& name,
                                         const std::string& attribute) {
    std::vector<std::string> out;
    for (const Element* e : named(all, name)) out.push_back(e->get(attribute));
    return out;
  }
  std::string filters(const std::string& text) {
    writeFile("filters.txt", text);
    return "filters=" + path("filters.txt");
  }

  std::string dir_;
  std::string runner_;
};

// The records of the workload's own objects: allocations with their classes' names.
std::vector<std::string> allocatedClasses(const std::vector<Element>& all) {
  std::map<std::string, std::string> classNames;
  for (const Element& e : all)
    if (e.name == "classDef") classNames[e.get("classId")] = e.get("name");
  std::vector<std::string> out;
  for (const Element& e : all)
    if (e.name == "objAlloc") out.push_back(classNames.count(e.get("classIdRef")) ? classNames[e.get("classIdRef")] : "?");
  return out;
}

TEST_F(XmlTraceRunner, TracesEveryRecordToAFile) {
  std::vector<Element> all = trace("", std::string(kClasses) + kEveryRecord);
  EXPECT_EQ(values(all, "classDef", "name"),
            (std::vector<std::string>{"java/lang/StringBuilder", "app/Main", "app/MainHelper"}));
  EXPECT_EQ(values(all, "classDef", "sourceName"),
            (std::vector<std::string>{"StringBuilder.java", "Main.java", "MainHelper.java"}));
  std::vector<std::string> methods = values(all, "methodDef", "name");
  EXPECT_EQ(methods, (std::vector<std::string>{"&lt;init&gt;", "append", "&lt;init&gt;", "run", "deep", "help"}));
  auto threads = named(all, "threadStart");
  ASSERT_GE(threads.size(), 1u);
  EXPECT_EQ(threads.back()->get("threadName"), "Worker-1");
  EXPECT_EQ(threads.back()->get("groupName"), "workers");
  EXPECT_EQ(threads.back()->get("parentName"), "main");
  EXPECT_EQ(threads.back()->get("objIdRef"), "0");
  EXPECT_EQ(named(all, "methodEntry").size(), 4u);
  EXPECT_EQ(named(all, "methodExit").size(), 4u);
  EXPECT_EQ(values(all, "methodEntry", "stackDepth"), (std::vector<std::string>{"0", "0", "1", "1"}));
  // Every record of the worker names the worker's thread object.
  for (const Element* e : named(all, "methodEntry")) EXPECT_EQ(e->get("threadIdRef"), threads.back()->get("threadId"));
  // Method IDs are addresses beyond 32 bits: entries and exits name them whole, as the
  // methodDef records do.
  std::vector<std::string> ids = values(all, "methodDef", "methodId");
  for (const char* kind : {"methodEntry", "methodExit"}) {
    for (const std::string& id : values(all, kind, "methodIdRef")) {
      EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << kind << " " << id;
    }
  }
  // The array of ints has class ID 0: its allocation, move and free are not written.
  auto allocs = named(all, "objAlloc");
  ASSERT_EQ(allocs.size(), 3u);
  EXPECT_EQ(allocatedClasses(all)[0], "app/Main");
  EXPECT_EQ(allocatedClasses(all)[2], "java/lang/StringBuilder");
  ASSERT_EQ(named(all, "objMove").size(), 1u);
  ASSERT_EQ(named(all, "objFree").size(), 1u);
  EXPECT_EQ(named(all, "gcStart").size(), 2u);
  EXPECT_EQ(named(all, "gcFinish").size(), 2u);
  EXPECT_GE(named(all, "threadEnd").size(), 1u);
  // The receiver of an instance method is the allocated object; its class is the method's.
  auto entries = named(all, "methodEntry");
  EXPECT_EQ(entries[0]->get("objIdRef"), allocs[0]->get("objId"));
  EXPECT_EQ(entries[0]->get("classIdRef"), allocs[0]->get("classIdRef"));
  EXPECT_EQ(entries[2]->get("objIdRef"), "0");  // a static method
  // The moved String is the allocated one; the freed builder is written whole.
  EXPECT_EQ(named(all, "objMove")[0]->get("objIdRef"), allocs[1]->get("objId"));
  EXPECT_EQ(named(all, "objFree")[0]->get("objIdRef"), allocs[2]->get("objId"));
  // Time texts: seconds, a point and exactly nine digits.
  std::regex timeText("[0-9]+\\.[0-9]{9}");
  for (const Element& e : all) {
    if (e.get("time") != "<absent>") {
      EXPECT_TRUE(std::regex_match(e.get("time"), timeText)) << e.get("time");
    }
  }
}

TEST_F(XmlTraceRunner, StderrMemoryModeHasNoMethodRecords) {
  RunResult r = run("stderr,mode=memory", std::string(kClasses) + kEveryRecord);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string records = recordLines(r.err);
  EXPECT_EQ(xmlcheck::wellFormed(records), "") << records;
  std::vector<Element> all = fake::elements(records);
  EXPECT_EQ(named(all, "classDef").size(), 3u);
  EXPECT_GE(named(all, "threadStart").size(), 1u);
  EXPECT_EQ(named(all, "gcStart").size(), 2u);
  EXPECT_EQ(named(all, "objAlloc").size(), 3u);
  EXPECT_EQ(named(all, "methodEntry").size(), 0u);
  EXPECT_EQ(named(all, "methodExit").size(), 0u);
}

TEST_F(XmlTraceRunner, HelpAndOptionsWithoutOutputEndTheProcess) {
  struct Case { const char* options; const char* text; };
  Case cases[] = {{"mode=execution", xt::kOptionsText},
                  {"help", xt::kOptionsText},
                  {"stderr,verbose", xt::kOptionsText},
                  {"filters-help", xt::kFiltersText}};
  for (const Case& c : cases) {
    writeFile("workload.k5w", std::string(kClasses) + kEveryRecord);
    std::string command = "'" + runner_ + "' '-XrunK5PROFILE:" + c.options + "' '" + path("workload.k5w") +
                          "' > '" + path("out.txt") + "' 2> '" + path("err.txt") + "'";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.options;
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.options;
    std::string err = readFile("err.txt");
    EXPECT_NE(err.find(c.text), std::string::npos) << c.options << ":\n" << err;
    EXPECT_EQ(recordLines(err), "") << c.options;  // no workload was played
  }
}

TEST_F(XmlTraceRunner, QuietWinsOverStderr) {
  RunResult r = run("quiet,stderr", std::string(kClasses) + kEveryRecord);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(recordLines(r.err), "");
  EXPECT_EQ(r.err.find("k5profile"), std::string::npos) << r.err;
}

TEST_F(XmlTraceRunner, FiltersFiles) {
  struct Case {
    const char* filters;
    std::vector<std::string> classes;  // classDef records
    std::vector<std::string> allocs;   // classes of the objAlloc records
    size_t entries;                    // methodEntry records
  };
  Case cases[] = {
      {"- *\n", {}, {"?"}, 0},  // the String belongs to a boot class, loaded before any filter
      // java/lang/String is traced; java/lang/StringBuilder is no exact match and goes.
      {"+ java/lang/String\n- *\n", {}, {"?"}, 0},
      {"+ app/Main\n- *\n", {"app/Main"}, {"app/Main", "?"}, 2},
      // No blank after the sign: the list ends there, so nothing is excluded.
      {"+java/lang/String\n- *\n",
       {"java/lang/StringBuilder", "app/Main", "app/MainHelper"},
       {"app/Main", "?", "java/lang/StringBuilder"},
       4},
      {"- java/lang/*\n", {"app/Main", "app/MainHelper"}, {"app/Main", "?"}, 3},
      {"- *Helper\n+ app*\n- *\n", {"app/Main"}, {"app/Main", "?"}, 2},
      {"+ *Str*\n- *\n", {"java/lang/StringBuilder"}, {"?", "java/lang/StringBuilder"}, 1},
  };
  for (const Case& c : cases) {
    std::vector<Element> all = trace(filters(c.filters), std::string(kClasses) + kEveryRecord);
    EXPECT_EQ(values(all, "classDef", "name"), c.classes) << c.filters;
    EXPECT_EQ(allocatedClasses(all), c.allocs) << c.filters;
    EXPECT_EQ(named(all, "methodEntry").size(), c.entries) << c.filters;
    EXPECT_EQ(named(all, "methodExit").size(), c.entries) << c.filters;
    // Thread and collection records are always written.
    EXPECT_GE(named(all, "threadStart").size(), 1u) << c.filters;
    EXPECT_GE(named(all, "threadEnd").size(), 1u) << c.filters;
    EXPECT_EQ(named(all, "gcStart").size(), 2u) << c.filters;
    EXPECT_EQ(named(all, "gcFinish").size(), 2u) << c.filters;
    // The String (boot class, never excluded) moves; the builder's free goes with its class.
    EXPECT_EQ(named(all, "objMove").size(), 1u) << c.filters;
    bool builderTraced = std::find(c.allocs.begin(), c.allocs.end(), "java/lang/StringBuilder") != c.allocs.end();
    EXPECT_EQ(named(all, "objFree").size(), builderTraced ? 1u : 0u) << c.filters;
  }
}

TEST_F(XmlTraceRunner, ExitWithoutEntryAndDepthBeyond1024) {
  // The entry happens while the thread's events are suppressed, so only its exit is seen.
  std::string workload = std::string(kClasses) +
                         "worker suppress on\n"
                         "worker call app/Main.run()V this=null\n"
                         "worker suppress off\n"
                         "worker return\n";
  const int deep = 1030;
  for (int i = 0; i < deep; ++i) workload += "worker call app/Main.deep(I)V\n";
  for (int i = 0; i < deep; ++i) workload += "worker return\n";
  workload += "worker end\nshutdown 0\n";
  RunResult r;
  std::vector<Element> all = trace("mode=execution", workload, &r);
  EXPECT_NE(r.err.find("k5profile: Error: apparent stack underflow in JVMPI_EVENT_METHOD_EXIT\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("mismatched"), std::string::npos) << r.err;
  auto exits = named(all, "methodExit");
  auto entries = named(all, "methodEntry");
  ASSERT_EQ(entries.size(), static_cast<size_t>(deep));
  EXPECT_EQ(exits.size(), static_cast<size_t>(deep + 1));  // the unbalanced exit is written
  EXPECT_EQ(entries.front()->get("stackDepth"), "0");      // the depth was put back to 0
  EXPECT_EQ(entries.back()->get("stackDepth"), std::to_string(deep - 1));
}

TEST_F(XmlTraceRunner, SocketPrinterToALocalServer) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  socklen_t length = sizeof(a);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
  ::listen(listener, 1);
  std::string received;
  std::thread server([&] {
    int client = ::accept(listener, nullptr, nullptr);
    char buffer[4096];
    ssize_t n;
    while (client >= 0 && (n = ::read(client, buffer, sizeof(buffer))) > 0) received.append(buffer, static_cast<size_t>(n));
    if (client >= 0) ::close(client);
  });
  RunResult r = run("server=127.0.0.1:" + std::to_string(ntohs(a.sin_port)), std::string(kClasses) + kEveryRecord);
  server.join();
  ::close(listener);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(xmlcheck::wellFormed(received), "") << received;
  std::vector<Element> all = fake::elements(received);
  EXPECT_EQ(named(all, "classDef").size(), 3u);
  EXPECT_EQ(named(all, "methodEntry").size(), 4u);
  EXPECT_EQ(named(all, "gcFinish").size(), 2u);

  // A server that hangs up at once: the records are lost, the program runs to its end.
  listener = ::socket(AF_INET, SOCK_STREAM, 0);
  a.sin_port = 0;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  length = sizeof(a);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
  ::listen(listener, 1);
  std::thread rude([&] {
    int client = ::accept(listener, nullptr, nullptr);
    if (client >= 0) ::close(client);
  });
  r = run("server=127.0.0.1:" + std::to_string(ntohs(a.sin_port)), std::string(kClasses) + kEveryRecord);
  rude.join();
  ::close(listener);
  EXPECT_EQ(r.exitCode, 0) << r.err;

  // Nobody listens any more: the agent cannot start and the runner reports it.
  r = run("server=127.0.0.1:" + std::to_string(ntohs(a.sin_port)), std::string(kClasses) + kEveryRecord);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Failed to connect to server: "), std::string::npos) << r.err;
}

TEST_F(XmlTraceRunner, NamesThatNeedEscapingStayWellFormed) {
  std::string workload = R"(class pkg/Odd&"Name" source=<gen>.java
  method <clinit> ()V static
  method a<b>&"c" (Ljava/util/List<*>;)V static
end
load pkg/Odd&"Name"
start w name=<w>&"1" group=- parent=-
w call pkg/Odd&"Name".<clinit>()V
w return
w end
shutdown 0
)";
  std::vector<Element> all = trace("", workload);
  EXPECT_EQ(values(all, "classDef", "name"), std::vector<std::string>{"pkg/Odd&amp;&quot;Name&quot;"});
  EXPECT_EQ(values(all, "classDef", "sourceName"), std::vector<std::string>{"&lt;gen&gt;.java"});
  EXPECT_EQ(values(all, "methodDef", "name"), (std::vector<std::string>{"&lt;clinit&gt;", "a&lt;b&gt;&amp;&quot;c&quot;"}));
  auto threads = named(all, "threadStart");
  ASSERT_GE(threads.size(), 1u);
  EXPECT_EQ(threads.back()->get("threadName"), "&lt;w&gt;&amp;&quot;1&quot;");
  EXPECT_EQ(threads.back()->get("groupName"), "");  // no group: an empty value
  EXPECT_EQ(threads.back()->get("parentName"), "");
}

}  // namespace

namespace {

// The examples the notes point to produce well-formed trace files.
TEST_F(XmlTraceRunner, DocumentedExamplesProduceTraceFiles) {
  const char* source = std::getenv("VORK_SOURCE_DIR");
  std::string top = source != nullptr ? source : ".";
  std::string example = top + "/agents/xmltrace/examples/";
  std::ifstream workload(example + "trace.k5w");
  std::stringstream text;
  text << workload.rdbuf();
  std::vector<Element> all = trace("filters=" + example + "filters.txt", text.str());
  EXPECT_EQ(values(all, "classDef", "name"), std::vector<std::string>{"com/zel/k5/k5profiled/test/Meter"});
  EXPECT_EQ(named(all, "methodEntry").size(), 3u);  // the builder's methods are left out
  EXPECT_EQ(named(all, "gcFinish").size(), 1u);

  std::ifstream tour(top + "/platform/k5vm/examples/tour.k5w");
  std::stringstream tourText;
  tourText << tour.rdbuf();
  all = trace("", tourText.str());
  EXPECT_FALSE(named(all, "classDef").empty());
  EXPECT_FALSE(named(all, "methodEntry").empty());
}

}  // namespace

// Records per second of the XML trace profiler for a method entry and exit workload, written
// to a file and to the quiet printer, and the cost of an excluded method.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "../tests/agent_fixture.h"

namespace {

struct Session {
  fake::World world;
  JVMPI_Interface table;
  std::string file;
  Session(const std::string& options, const char* filters = nullptr) {
    fake::world = &world;
    table = fake::makeInterface();
    xt::agent.jvmpi = &table;
    xt::agent.port = fake::makePort();
    char path[] = "/tmp/xmltrace-bench-XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    file = path;
    std::string filterFile = file + ".filters";
    if (filters != nullptr) {
      FILE* f = std::fopen(filterFile.c_str(), "w");
      std::fputs(filters, f);
      std::fclose(f);
    }
    std::string all = options + ",filters=" + filterFile;
    if (options == "file") all = "file=" + file + ",filters=" + filterFile;
    xt::agentStart(all.c_str());
    // One class whose two methods the workload calls.
    JVMPI_Method methods[2] = {
        {const_cast<char*>("<init>"), const_cast<char*>("()V"), 0, 0, fake::idOf<jmethodID>(0x5001)},
        {const_cast<char*>("run"), const_cast<char*>("()V"), 0, 0, fake::idOf<jmethodID>(0x5002)}};
    JVMPI_Event ev{};
    ev.event_type = JVMPI_EVENT_CLASS_LOAD;
    ev.env_id = env();
    ev.u.class_load.class_name = "app/Worker";
    ev.u.class_load.num_methods = 2;
    ev.u.class_load.methods = methods;
    ev.u.class_load.class_id = fake::idOf<jobjectID>(0x5000);
    xt::agentNotifyEvent(&ev);
    std::remove(filterFile.c_str());
  }
  ~Session() {
    for (auto& entry : world.tls) std::free(entry.second);
    xt::agentReset();
    std::remove(file.c_str());
    fake::world = nullptr;
  }
  static JNIEnv* env() { return fake::idOf<JNIEnv*>(0x7f0012340000ull); }
};

void runEntryExit(benchmark::State& state, Session& session) {
  (void)session;
  JVMPI_Event entry{};
  entry.event_type = JVMPI_EVENT_METHOD_ENTRY2;
  entry.env_id = Session::env();
  entry.u.method_entry2.method_id = fake::idOf<jmethodID>(0x5002);
  entry.u.method_entry2.obj_id = fake::idOf<jobjectID>(0x9000);
  JVMPI_Event exit{};
  exit.event_type = JVMPI_EVENT_METHOD_EXIT;
  exit.env_id = Session::env();
  exit.u.method.method_id = fake::idOf<jmethodID>(0x5002);
  for (auto _ : state) {
    xt::agentNotifyEvent(&entry);
    xt::agentNotifyEvent(&exit);
  }
  state.SetItemsProcessed(state.iterations() * 2);  // events (records when traced)
}

void BM_EntryExitToFile(benchmark::State& state) {
  Session session("file");
  runEntryExit(state, session);
}
BENCHMARK(BM_EntryExitToFile);

void BM_EntryExitQuiet(benchmark::State& state) {
  Session session("quiet");
  runEntryExit(state, session);
}
BENCHMARK(BM_EntryExitQuiet);

void BM_EntryExitExcluded(benchmark::State& state) {
  Session session("file", "- app/*\n");
  runEntryExit(state, session);
}
BENCHMARK(BM_EntryExitExcluded);

void BM_RecordFormat(benchmark::State& state) {
  for (auto _ : state) {
    xt::Record r;
    xt::recordBegin(&r, "methodDef");
    xt::recordText(&r, "name", "<init>");
    xt::recordText(&r, "signature", "(Ljava/lang/String;I)V");
    xt::recordInt(&r, "classIdRef", 0x7f0012345678);
    xt::recordInt(&r, "methodId", 0x7f0012345699);
    xt::recordEnd(&r);
    benchmark::DoNotOptimize(r.data);
    xt::recordFree(&r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordFormat);

}  // namespace

BENCHMARK_MAIN();

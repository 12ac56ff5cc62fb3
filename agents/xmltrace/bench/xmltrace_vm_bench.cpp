// The XML trace profiler in the substitute VM: cost per event of method entries and exits
// with the records going to a file, to the quiet printer, and (for comparison) the provider
// alone delivering the same events to a handler that does nothing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "k5sim.h"
#include "xt_agent.h"
#include "xt_port.h"

namespace {

struct Vm {
  K5JavaVM* vm = nullptr;
  JVMPI_Interface* jvmpi = nullptr;
  K5VMThread* thread = nullptr;
  K5Method* method = nullptr;
  std::string file = "/tmp/xmltrace-vm-bench.xml";
};

void ignoreEvent(JVMPI_Event*) {}

// One VM per process, made on the benchmark thread (which becomes its main thread), with
// the provider loaded and a class whose method the workload calls.
Vm* theVm() {
  static Vm* made = [] {
    auto* v = new Vm;
    std::string error;
    v->vm = k5sim_createVM({}, &error);
    if (v->vm == nullptr || k5sim_loadAgent(v->vm, "K5JPI24", "", &error) != 0) {
      std::fprintf(stderr, "no VM: %s\n", error.c_str());
      std::abort();
    }
    void* table = nullptr;
    reinterpret_cast<JavaVM*>(v->vm)->GetEnv(&table, JVMPI_VERSION_1);
    v->jvmpi = static_cast<JVMPI_Interface*>(table);
    k5sim_initialized(v->vm);
    K5Class* clazz = k5sim_defineClass(v->vm, "class bench/Worker source=Worker.java\n  method run ()V static lines=0:1\nend\n", &error);
    v->thread = v->vm->mainThread;
    if (clazz == nullptr || k5sim_loadClass(v->thread, "bench/Worker", &error) == nullptr) {
      std::fprintf(stderr, "no class: %s\n", error.c_str());
      std::abort();
    }
    v->method = k5sim_findMethod(clazz, "run", "()V");
    return v;
  }();
  return made;
}

void startAgent(Vm* v, const std::string& options) {
  xt::agentReset();
  xt::agent.vm = reinterpret_cast<JavaVM*>(v->vm);
  xt::agent.port = xt::portOpsOf(v->vm->portLibrary);
  xt::agent.jvmpi = v->jvmpi;
  if (xt::agentStart(options.c_str()) != 0) std::abort();
}

void entryExit(benchmark::State& state, Vm* v) {
  for (auto _ : state) {
    k5sim_enterMethod(v->thread, v->method, nullptr, 0, false);
    k5sim_returnMethod(v->thread);
  }
  state.SetItemsProcessed(state.iterations() * 2);  // events, one record each when traced
}

void BM_VmEntryExitToFile(benchmark::State& state) {
  Vm* v = theVm();
  startAgent(v, "file=" + v->file + ",filters=/nonexistent");
  entryExit(state, v);
  xt::closePrinter();
  std::remove(v->file.c_str());
}
BENCHMARK(BM_VmEntryExitToFile);

void BM_VmEntryExitQuiet(benchmark::State& state) {
  Vm* v = theVm();
  startAgent(v, "quiet,filters=/nonexistent");
  entryExit(state, v);
}
BENCHMARK(BM_VmEntryExitQuiet);

void BM_VmEntryExitProviderOnly(benchmark::State& state) {
  Vm* v = theVm();
  startAgent(v, "quiet,filters=/nonexistent");  // the same events enabled
  v->jvmpi->NotifyEvent = ignoreEvent;
  entryExit(state, v);
}
BENCHMARK(BM_VmEntryExitProviderOnly);

}  // namespace

BENCHMARK_MAIN();

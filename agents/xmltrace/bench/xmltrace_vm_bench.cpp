// The XML trace profiler in the substitute VM: cost per event of method entries and exits
// with the records going to a file, to the quiet printer, and (for comparison) the provider
// alone delivering the same events to a handler that does nothing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
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
  K5Object* receiver = nullptr;
  std::string file = "/tmp/xmltrace-vm-bench.xml";
};

void ignoreEvent(JVMPI_Event*) {}

// One VM per process, made on the benchmark thread (which becomes its main thread), with
// the provider loaded and a class whose method the workload calls.
Vm* theVm() {
  static Vm* made = [] {
    auto* v = new Vm;
    std::string error;
    std::vector<std::string> options;
    if (std::getenv("VORK_BUILD_DIR") != nullptr) options.push_back(std::string("-Xlibpath:") + std::getenv("VORK_BUILD_DIR") + "/lib");
    v->vm = k5sim_createVM(options, &error);
    if (v->vm == nullptr || k5sim_loadAgent(v->vm, "K5JPI24", "", &error) != 0) {
      std::fprintf(stderr, "no VM: %s\n", error.c_str());
      std::abort();
    }
    void* table = nullptr;
    reinterpret_cast<JavaVM*>(v->vm)->GetEnv(&table, JVMPI_VERSION_1);
    v->jvmpi = static_cast<JVMPI_Interface*>(table);
    k5sim_initialized(v->vm);
    if (k5sim_playText(v->vm, "class bench/Worker source=Worker.java\n  method run ()V lines=0:1\nend\n"
                              "load bench/Worker\nmain alloc self bench/Worker\n", &error) != 0) {
      std::fprintf(stderr, "no class: %s\n", error.c_str());
      std::abort();
    }
    v->thread = v->vm->mainThread;
    K5Class* clazz = k5vm_findClass(v->vm, "bench/Worker", nullptr);
    v->receiver = k5sim_namedObject(v->vm, "self");
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
  k5vm_acquireVMAccess(v->thread);
  for (auto _ : state) {
    k5sim_enterMethod(v->thread, v->method, v->receiver, 0, false);
    k5sim_returnMethod(v->thread);
  }
  k5vm_releaseVMAccess(v->thread);
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

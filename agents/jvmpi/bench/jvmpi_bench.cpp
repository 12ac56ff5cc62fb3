// Cost of a method entry as the provider reports it: delivered to a profiler that does
// nothing, not delivered because the type is disabled (no hook registered), and not delivered
// although the hook runs (the thread's events are suppressed).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "k5jvmpi.h"
#include "k5sim.h"

namespace {

struct Fixture {
  K5JavaVM* vm = nullptr;
  JVMPI_Interface* jvmpi = nullptr;
  K5Method* method = nullptr;
  K5Object* receiver = nullptr;
};

void ignore(JVMPI_Event*) {}

Fixture& fixture() {
  static Fixture* made = [] {
    auto* f = new Fixture;
    std::string lib = getenv("VORK_BUILD_DIR") ? std::string(getenv("VORK_BUILD_DIR")) + "/lib" : "";
    std::string error;
    std::vector<std::string> options;
    if (!lib.empty()) options.push_back("-Xlibpath:" + lib);
    f->vm = k5sim_createVM(options, &error);
    if (!f->vm || k5sim_loadAgent(f->vm, "K5JPI24", "", &error) != 0) {
      fprintf(stderr, "%s\n", error.c_str());
      exit(1);
    }
    JavaVM* javaVM = reinterpret_cast<JavaVM*>(f->vm);
    javaVM->functions->GetEnv(javaVM, reinterpret_cast<void**>(&f->jvmpi), JVMPI_VERSION_1);
    f->jvmpi->NotifyEvent = ignore;
    if (k5sim_playText(f->vm, "class b/Bench\n method run ()V\nend\nload b/Bench\nmain alloc self b/Bench\n", &error) != 0) {
      fprintf(stderr, "%s\n", error.c_str());
      exit(1);
    }
    f->method = k5sim_findMethod(k5vm_findClass(f->vm, "b/Bench", nullptr), "run", "()V");
    f->receiver = k5sim_namedObject(f->vm, "self");
    return f;
  }();
  return *made;
}

void loop(benchmark::State& state) {
  Fixture& f = fixture();
  K5VMThread* thread = f.vm->mainThread;
  k5vm_acquireVMAccess(thread);
  for (auto _ : state) {
    k5sim_enterMethod(thread, f.method, f.receiver, 0, false);
    k5sim_returnMethod(thread);
  }
  k5vm_releaseVMAccess(thread);
  state.SetItemsProcessed(state.iterations());
}

void BM_MethodEntryDelivered(benchmark::State& state) {
  Fixture& f = fixture();
  f.jvmpi->EnableEvent(JVMPI_EVENT_METHOD_ENTRY, nullptr);
  loop(state);
  f.jvmpi->DisableEvent(JVMPI_EVENT_METHOD_ENTRY, nullptr);
}

void BM_MethodEntryDisabled(benchmark::State& state) { loop(state); }

void BM_MethodEntrySuppressed(benchmark::State& state) {
  Fixture& f = fixture();
  f.jvmpi->EnableEvent(JVMPI_EVENT_METHOD_ENTRY, nullptr);
  f.vm->mainThread->privateFlags |= K5_PRIVATE_FLAGS_EVENT_SUPPRESSED;
  loop(state);
  f.vm->mainThread->privateFlags &= ~static_cast<uint32_t>(K5_PRIVATE_FLAGS_EVENT_SUPPRESSED);
  f.jvmpi->DisableEvent(JVMPI_EVENT_METHOD_ENTRY, nullptr);
}

BENCHMARK(BM_MethodEntryDelivered);
BENCHMARK(BM_MethodEntryDisabled);
BENCHMARK(BM_MethodEntrySuppressed);

}  // namespace

BENCHMARK_MAIN();

// A stand-in analyzer for the runner's tests: started through K5VMDllMain at stage 2, it takes
// its options from the VM arguments and reports what the VM shows it on standard output.
#include <stdio.h>
#include <string.h>

#include "k5vm.h"

namespace {

void onInitialized(K5HookInterface*, uintptr_t, void* data, void*) {
  auto* event = static_cast<K5VMThreadEvent*>(data);
  printf("analyzer: VM initialised on %s\n", event->currentThread ? "a VM thread" : "no thread");
  fflush(stdout);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) jint JNICALL K5VMDllMain(JavaVM* javaVM, jint stage, void*) {
  auto* vm = reinterpret_cast<K5JavaVM*>(javaVM);
  printf("analyzer: stage %d\n", static_cast<int>(stage));
  if (stage != K5VM_STAGE_AGENTS_STARTED) return 0;
  k5vm_setAgentLibraryName(vm, "k5prf24");
  if (vm->analyzerOptions) return 0;
  const char* argument = k5vm_findArgument(vm, "-Xanalyze:", 1);
  const char* options = argument ? strchr(argument, ':') + 1 : "NULL";
  vm->analyzerOptions = const_cast<char*>(options);
  vm->extendedRuntimeFlags |= K5_VM_FLAG_ANALYZER_INSTALLED;
  k5hook_register(vm->vmHooks, K5HOOK_VM_INITIALIZED, onInitialized, nullptr);
  printf("analyzer: options %s, library %s\n", vm->analyzerOptions, vm->agentLibraryName);
  fflush(stdout);
  return 0;
}

extern "C" __attribute__((visibility("default"))) jint JNICALL JVM_OnLoad(JavaVM*, char*, void*) { return 0; }

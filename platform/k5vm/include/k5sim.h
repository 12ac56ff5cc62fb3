// Creating, driving and ending a substitute K5 VM: what the runner (k5sim) and the tests use.
// Agents never include this; they see the VM through k5vm.h.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "k5vm.h"

// VM options (argument order is kept; agents find theirs with k5vm_findArgument):
//   -Xrun<library>[:<options>]  load lib<library>.so and call its JVM_OnLoad(vm, options)
//   -Xanalyze:<options>         load libK5PRF24.so and call its K5VMDllMain(vm, 2, NULL)
//   -Xlibpath:<folder>          where agent libraries are looked for (default: the folder
//                               of libk5vm.so, that is build/lib)
//   -Xtrace:<module>[,<module>] record the trace points of these modules ("all": every one)
//   -Xnojit                     a VM without a JIT (no JIT configuration, no JIT hooks)
//   -Xsuppressgc                set the word that suppresses explicit collections
// Other options are kept as VM arguments.

struct K5SimAgent {
  std::string library;  // "K5JPI24"
  std::string options;  // text after the colon (empty when none)
  bool analyzer = false;
  void* handle = nullptr;
};

// Creates a VM from its options; the calling thread becomes the main thread. On a bad option
// answers NULL with a message in *error.
K5JavaVM* k5sim_createVM(const std::vector<std::string>& options, std::string* error);
// Loads the agents the options named, in option order (a profiler's JVMPI provider, when a
// -Xrun library asks for it, is loaded first: -XrunK5JPI24 is moved to the front). Answers 0,
// or the failing agent's result with a message in *error.
int k5sim_loadAgents(K5JavaVM* vm, std::string* error);
// Loads one agent library now; answers its JVM_OnLoad result (or -1 when it cannot be loaded).
int k5sim_loadAgent(K5JavaVM* vm, const std::string& library, const std::string& options, std::string* error);
// Fires VM initialised (VM 2) and heap ready (VM 21).
void k5sim_initialized(K5JavaVM* vm);
// Plays a workload text (format in docs/k5vm.md). Answers 0, or -1 with a message (and the
// line number) in *error. Threads a workload started live on into the next workload played on
// the same VM, until their "end" step or k5sim_endThreads.
int k5sim_playText(K5JavaVM* vm, const std::string& text, std::string* error);
int k5sim_playFile(K5JavaVM* vm, const std::string& path, std::string* error);
// Ends every thread the workloads started (k5sim_shutdown does this first).
void k5sim_endThreads(K5JavaVM* vm);
// The built-in workload: drives every event the provider maps.
const char* k5sim_builtinWorkload();
// Shuts down: VM 3 with the exit code, then JVM_OnUnload of every agent that has one.
void k5sim_shutdown(K5JavaVM* vm, int exitCode);
// Frees the VM (after k5sim_shutdown). Agent libraries stay loaded.
void k5sim_destroyVM(K5JavaVM* vm);

// ---- Direct operations (tests and the benchmark) ----
// Loads a declared class on the thread (class-load hook, then class load).
K5Class* k5sim_loadClass(K5VMThread* thread, const std::string& name, std::string* error);
K5Method* k5sim_findMethod(K5Class* clazz, const std::string& name, const std::string& signature);
// Enters a method (pushes a frame, fires VM 20, or 23 for a native method) and returns from
// the top frame (fires VM 22 or 24, pops it).
void k5sim_enterMethod(K5VMThread* thread, K5Method* method, K5Object* receiver, uintptr_t pc, bool second);
void k5sim_returnMethod(K5VMThread* thread);
K5Object* k5sim_allocate(K5VMThread* thread, K5Class* clazz);
K5Object* k5sim_allocateArray(K5VMThread* thread, K5Class* arrayClass, uint32_t length);
K5Class* k5sim_arrayClassOf(K5JavaVM* vm, K5Class* elementClass, uint32_t dimensions);
// The object a workload named, NULL when none.
K5Object* k5sim_namedObject(K5JavaVM* vm, const std::string& name);
// The VM thread a workload started under that name (main: the main thread).
K5VMThread* k5sim_namedThread(K5JavaVM* vm, const std::string& name);
// VM 38 with the flag word; answers the word after the hooks ran.
uint32_t k5sim_notificationFlags(K5VMThread* thread, uint32_t flags);
// Recorded trace points, one text per record: "<module>.<point> <text>".
std::vector<std::string> k5sim_traceRecords(K5JavaVM* vm);
// Text the workload's "print" steps and the VM's reports wrote (also on standard output).
std::vector<std::string> k5sim_log(K5JavaVM* vm);

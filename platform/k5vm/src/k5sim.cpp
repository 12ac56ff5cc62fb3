// The runner: creates a substitute K5 VM from VM options, loads the agents they name, plays a
// workload (a file, or the built-in one) and shuts the VM down.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "k5sim.h"

int main(int argc, char** argv) {
  std::vector<std::string> options;
  std::string workload;
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      printf("usage: k5sim [-Xrun<library>[:<options>]] [-Xanalyze:<options>] [-Xlibpath:<folder>]\n"
             "             [-Xtrace:<module>[,...]] [-Xnojit] [-Xsuppressgc] [-X...] [workload file]\n");
      return 0;
    }
    if (argument.size() > 1 && argument[0] == '-') {
      options.push_back(argument);
    } else if (workload.empty()) {
      workload = argument;
    } else {
      fprintf(stderr, "k5sim: only one workload file may be given\n");
      return 1;
    }
  }
  std::string error;
  K5JavaVM* vm = k5sim_createVM(options, &error);
  if (!vm) {
    fprintf(stderr, "k5sim: %s\n", error.c_str());
    return 1;
  }
  if (k5sim_loadAgents(vm, &error) != 0) {
    fprintf(stderr, "k5sim: %s\n", error.c_str());
    return 1;
  }
  k5sim_initialized(vm);
  int code = workload.empty() ? k5sim_playText(vm, k5sim_builtinWorkload(), &error)
                              : k5sim_playFile(vm, workload, &error);
  if (code < 0) {
    fprintf(stderr, "k5sim: %s\n", error.c_str());
    code = 1;
  }
  k5sim_shutdown(vm, code);
  for (const std::string& record : k5sim_traceRecords(vm)) fprintf(stderr, "trace %s\n", record.c_str());
  k5sim_destroyVM(vm);
  return code;
}

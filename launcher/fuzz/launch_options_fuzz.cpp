// Any option string, and the command line built from it, stays within its buffers.
#include <cstdint>
#include <cstring>
#include <vector>

#include "launch_options.h"
#include "vm_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<WCHAR> letters(size / 2 + 1, 0);
  std::memcpy(letters.data(), data, size / 2 * 2);
  LaunchOptions options;
  initLaunchOptions(options);
  parseLaunchOptions(letters.data(), true, options);
  WCHAR exe[EXE_PATH_SIZE];
  WCHAR line[COMMAND_LINE_SIZE];
  buildExecutablePath(letters.data(), options.debugMode, exe);
  buildCommandLine(options, letters.data(), exe, u"config\\gps.properties", line);
  return 0;
}

// Any parameter file gives a terminated line of at most 1023 characters.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crt.h"
#include "vm_command_line.h"
#include "vork/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = "/tmp/vork-param-fuzz-" + std::to_string(getpid());
  FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  WCHAR line[COMMAND_LINE_SIZE];
  if (readParamFile(vork::utf16FromUtf8(file).c_str(), line) && crt::wcslen(line) > COMMAND_LINE_SIZE - 1) std::abort();
  return 0;
}

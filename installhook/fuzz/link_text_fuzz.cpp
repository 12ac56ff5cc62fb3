// Any link text yields a terminated installation directory inside the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crt.h"
#include "handheld_prep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WCHAR text[TEXT_BUFFER_SIZE] = {0};
  size_t count = size / 2 < TEXT_BUFFER_SIZE - 1 ? size / 2 : TEXT_BUFFER_SIZE - 1;
  std::memcpy(text, data, count * 2);
  WCHAR directory[TEXT_BUFFER_SIZE];
  installDirectoryFromLink(text, directory);
  if (crt::wcslen(directory) >= TEXT_BUFFER_SIZE) std::abort();
  return 0;
}

// Fuzzes the filters reader, the filter check and the record writer with arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "xt_core.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t position;
};

intptr_t readInput(void* context, char* buffer, intptr_t size) {
  auto* in = static_cast<Input*>(context);
  if (in->position >= in->size) return -1;
  size_t n = in->size - in->position;
  if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
  if (n > 7) n = 7;  // small blocks: tokens cross block ends
  std::memcpy(buffer, in->data + in->position, n);
  in->position += n;
  return static_cast<intptr_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size, 0};
  xt::FilterList list;
  xt::readFilters(&list, readInput, &in);
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();  // up to the first NUL, as a class name
  xt::classIncluded(list, text.c_str());
  xt::freeFilters(&list);

  xt::Record r;
  xt::recordBegin(&r, "classDef");
  xt::recordText(&r, "name", text.c_str());
  xt::recordEnd(&r);
  // The value never carries a raw quote, '<', '&' or line break.
  const char* value = std::strchr(r.data, '"') + 1;
  const char* end = r.data + r.length - 5;  // '"' " />\n"
  for (const char* p = value; p < end; ++p) {
    if (*p == '"' || *p == '<' || *p == '>' || *p == '\n' || *p == '\r') __builtin_trap();
  }
  xt::recordFree(&r);
  return 0;
}

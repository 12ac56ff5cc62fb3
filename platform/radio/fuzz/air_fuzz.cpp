// The air's text form comes from a file anyone on the device may write: no text may crash the
// parser, and whatever it keeps must be well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vork/radio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> problems;
  vork::radio::Air air = vork::radio::parseAir(text, &problems);
  for (const auto& device : air.devices)
    for (const auto& record : device.records)
      for (size_t i = 1; i < record->attributes.size(); ++i)
        if (record->attributes[i - 1].id >= record->attributes[i].id) std::abort();
  return 0;
}

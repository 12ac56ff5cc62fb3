// Address texts from Java and names from the stack are outside input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bluez/common.h"
#include "bluez/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  uint8_t address[6];
  if (bluez::parseAddress(text.c_str(), address)) {
    char again[18];
    bluez::formatAddress(address, again);
    uint8_t round[6];
    if (!bluez::parseAddress(again, round) || std::string(reinterpret_cast<char*>(round), 6) !=
                                                  std::string(reinterpret_cast<char*>(address), 6))
      std::abort();
  }
  std::u16string decoded = bluez::textFromDeviceBytes(text.data(), size);
  if (decoded.size() > size) std::abort();
  return 0;
}

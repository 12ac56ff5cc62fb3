// Device text (names as the stack reports them) as UTF-16: valid UTF-8 is decoded, every other
// byte is taken as Latin-1. Reads at most `max` bytes, up to the first NUL.
#pragma once

#include <cstddef>
#include <string>

namespace bluez {
std::u16string textFromDeviceBytes(const char* bytes, size_t max);
}

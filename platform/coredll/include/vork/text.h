// Text conversions shared by the substitute platform's libraries (not the device's API).
#pragma once

#include <string>

namespace vork {

std::string utf8FromUtf16(const char16_t* text);
std::string utf8FromUtf16(const std::u16string& text);
std::u16string utf16FromUtf8(const std::string& text);
// The device's 8-bit code page is Latin-1.
std::string utf8FromLatin1(const char* text);
std::u16string utf16FromLatin1(const char* text);

// Host path for a device or host path: "\a\b" is <device root>/a/b, any other path keeps its
// characters with backslashes turned into slashes.
std::string hostPath(const std::u16string& path);
// The device root (VORK_DEVICE_ROOT, default /tmp/vork-device), created on first use.
const std::string& deviceRoot();

}  // namespace vork

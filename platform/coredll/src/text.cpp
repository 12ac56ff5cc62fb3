// Text conversions and the mapping of device paths onto the host.
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "vork/control.h"
#include "vork/text.h"

namespace vork {

static void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string utf8FromUtf16(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    appendUtf8(out, c);
  }
  return out;
}

std::string utf8FromUtf16(const char16_t* text) {
  return text ? utf8FromUtf16(std::u16string(text)) : std::string();
}

std::u16string utf16FromUtf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    if (i + len > text.size()) {
      out += u'\xFFFD';
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cb = static_cast<unsigned char>(text[i + k]);
      if ((cb & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cb & 0x3F);
    }
    if (!ok) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string utf8FromLatin1(const char* text) {
  std::string out;
  for (; text && *text; ++text) appendUtf8(out, static_cast<unsigned char>(*text));
  return out;
}

std::u16string utf16FromLatin1(const char* text) {
  std::u16string out;
  for (; text && *text; ++text) out += static_cast<char16_t>(static_cast<unsigned char>(*text));
  return out;
}

// ---- Device root -----------------------------------------------------------------------------

static std::mutex rootLock;
static std::string rootPath;

static void makeDirectories(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
  }
}

const std::string& deviceRoot() {
  std::lock_guard<std::mutex> guard(rootLock);
  if (rootPath.empty()) {
    const char* env = std::getenv("VORK_DEVICE_ROOT");
    rootPath = env && *env ? env : "/tmp/vork-device";
    while (rootPath.size() > 1 && rootPath.back() == '/') rootPath.pop_back();
    makeDirectories(rootPath);
  }
  return rootPath;
}

void setDeviceRoot(const char* path) {
  std::lock_guard<std::mutex> guard(rootLock);
  rootPath = path ? path : "";
  while (rootPath.size() > 1 && rootPath.back() == '/') rootPath.pop_back();
  if (!rootPath.empty()) makeDirectories(rootPath);
}

std::string hostPath(const std::u16string& path) {
  std::string mapped = utf8FromUtf16(path);
  for (char& c : mapped) {
    if (c == '\\') c = '/';
  }
  bool devicePath = path.size() >= 1 && path[0] == u'\\' && (path.size() == 1 || path[1] != u'\\');
  if (devicePath) return deviceRoot() + mapped;
  return mapped;
}

}  // namespace vork

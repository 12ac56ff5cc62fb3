// The parts of the device's C runtime that differ from the host's.
#include <cstdio>
#include <cstring>
#include <string>

#include "crt.h"
#include "vork/text.h"

namespace crt {

FILE* fopen(const char* path, const char* mode) {
  if (!path || !mode) return nullptr;
  return std::fopen(vork::hostPath(vork::utf16FromLatin1(path)).c_str(), mode);
}

FILE* wfopen(const WCHAR* path, const WCHAR* mode) {
  if (!path || !mode) return nullptr;
  return std::fopen(vork::hostPath(path).c_str(), vork::utf8FromUtf16(mode).c_str());
}

int fclose(FILE* file) { return file ? std::fclose(file) : -1; }

int fgetwc(FILE* file) {
  int c = std::fgetc(file);
  return c == EOF ? WEOF16 : c;
}

size_t wcslen(const WCHAR* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i] || !a[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  }
  return 0;
}

WCHAR* wcscpy(WCHAR* target, const WCHAR* source) {
  WCHAR* out = target;
  while ((*out++ = *source++)) {
  }
  return target;
}

WCHAR* wcsncpy(WCHAR* target, const WCHAR* source, size_t count) {
  size_t i = 0;
  for (; i < count && source[i]; ++i) target[i] = source[i];
  for (; i < count; ++i) target[i] = 0;
  return target;
}

const WCHAR* wcschr(const WCHAR* text, WCHAR c) {
  for (;; ++text) {
    if (*text == c) return text;
    if (!*text) return nullptr;
  }
}

namespace {

struct Output {
  WCHAR* buffer;
  size_t count;  // room including the NUL
  size_t length;
  bool cut;
  void put(WCHAR c) {
    if (length + 1 < count) {
      buffer[length++] = c;
    } else {
      cut = true;
    }
  }
};

void putPadded(Output& out, const std::u16string& text, int width, bool left, WCHAR fill) {
  int pad = width > static_cast<int>(text.size()) ? width - static_cast<int>(text.size()) : 0;
  if (!left) for (int i = 0; i < pad; ++i) out.put(fill);
  for (char16_t c : text) out.put(c);
  if (left) for (int i = 0; i < pad; ++i) out.put(u' ');
}

std::u16string digits(unsigned long long value, unsigned base, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(set[value % base]));
    value /= base;
  } while (value);
  return text;
}

}  // namespace

int vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  if (!buffer || count == 0) return -1;
  Output out{buffer, count, 0, false};
  for (const WCHAR* p = format; *p; ++p) {
    if (*p != u'%') {
      out.put(*p);
      continue;
    }
    ++p;
    bool left = false;
    WCHAR fill = u' ';
    for (; *p == u'-' || *p == u'0'; ++p) {
      if (*p == u'-') left = true; else fill = u'0';
    }
    int width = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) width = width * 10 + (*p - u'0');
    int longs = 0;
    bool shortText = false;
    for (; *p == u'l' || *p == u'h'; ++p) {
      if (*p == u'l') ++longs; else shortText = true;
    }
    switch (*p) {
      case u's': {
        if (shortText) {
          const char* text = va_arg(args, const char*);
          putPadded(out, vork::utf16FromLatin1(text ? text : "(null)"), width, left, u' ');
        } else {
          const WCHAR* text = va_arg(args, const WCHAR*);
          putPadded(out, text ? text : u"(null)", width, left, u' ');
        }
        break;
      }
      case u'c': putPadded(out, std::u16string(1, static_cast<WCHAR>(va_arg(args, int))), width, left, u' '); break;
      case u'd':
      case u'i': {
        long long value = longs >= 2 ? va_arg(args, long long) : longs == 1 ? va_arg(args, long) : va_arg(args, int);
        std::u16string text = digits(value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                               : static_cast<unsigned long long>(value), 10, false);
        if (value < 0) {
          if (fill == u'0') {
            out.put(u'-');
            putPadded(out, text, width - 1, left, fill);
          } else {
            putPadded(out, u"-" + text, width, left, fill);
          }
        } else {
          putPadded(out, text, width, left, fill);
        }
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        unsigned long long value = longs >= 2 ? va_arg(args, unsigned long long)
                                   : longs == 1 ? va_arg(args, unsigned long) : va_arg(args, unsigned);
        putPadded(out, digits(value, *p == u'u' ? 10 : 16, *p == u'X'), width, left, fill);
        break;
      }
      case u'%': out.put(u'%'); break;
      case 0: --p; break;  // a lone % at the end
      default: out.put(u'%'); out.put(*p); break;
    }
  }
  out.buffer[out.length] = 0;
  return out.cut ? -1 : static_cast<int>(out.length);
}

int snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  int result = vsnwprintf(buffer, count, format, args);
  va_end(args);
  return result;
}

int wprintf(const WCHAR* format, ...) {
  std::u16string buffer(256, u'\0');
  for (;;) {
    va_list args;
    va_start(args, format);
    int length = vsnwprintf(&buffer[0], buffer.size(), format, args);
    va_end(args);
    if (length >= 0) {
      buffer.resize(static_cast<size_t>(length));
      break;
    }
    buffer.assign(buffer.size() * 2, u'\0');
  }
  std::string text = vork::utf8FromUtf16(buffer);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return static_cast<int>(buffer.size());
}

}  // namespace crt

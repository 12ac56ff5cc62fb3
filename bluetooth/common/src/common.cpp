// Class lookup, failure reporting, address texts and the stack-opened rule.
#include "bluez/common.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "bluez/text.h"

namespace bluez {

namespace {
const char kExceptionClass[] = "de/brelna/bluetooth/stack/BlueZException";
std::mutex keepLock;
}  // namespace

Shared& shared() {
  static Shared state;
  return state;
}

void keepResolver(JNIEnv* env, jobject classResolver) {
  std::lock_guard<std::mutex> guard(keepLock);
  Shared& state = shared();
  if (!state.vm) env->GetJavaVM(&state.vm);
  if (!state.classResolver && classResolver) state.classResolver = env->NewGlobalRef(classResolver);
}

bool describeAndClear(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

jclass resolveClass(JNIEnv* env, const char* name) {
  jobject resolver = shared().classResolver;
  if (!resolver) return env->FindClass(name);
  jclass resolverClass = env->GetObjectClass(resolver);
  jmethodID createClass =
      resolverClass ? env->GetMethodID(resolverClass, "createClass", "(Ljava/lang/String;)Ljava/lang/Class;") : nullptr;
  describeAndClear(env);
  jclass result = nullptr;
  jstring text = env->NewStringUTF(name);
  if (createClass && text) result = static_cast<jclass>(env->CallObjectMethod(resolver, createClass, text));
  if (text) env->DeleteLocalRef(text);
  if (resolverClass) env->DeleteLocalRef(resolverClass);
  return result;
}

void throwBlueZ(JNIEnv* env, const char* message) {
  jclass type = resolveClass(env, kExceptionClass);
  if (!type) {
    // The resolver gave nothing (or failed): the VM's own lookup still knows the class.
    describeAndClear(env);
    type = env->FindClass(kExceptionClass);
  }
  if (!type || env->ThrowNew(type, message) < 0) {
    std::fputs("** Error throwing BlueZ exception - exiting **\n", stdout);
    std::printf("Message:\n%s\n", message);
    std::fflush(stdout);
  }
  if (type) env->DeleteLocalRef(type);
}

bool requireOpen(JNIEnv* env, bool open, const char* method) {
  if (open) return true;
  std::string message = std::string("Stack not initialized (") + method + ")";
  throwBlueZ(env, message.c_str());
  return false;
}

std::u16string textFromDeviceBytes(const char* bytes, size_t max) {
  std::u16string text;
  size_t length = 0;
  while (length < max && bytes[length]) ++length;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < length;) {
    unsigned c = p[i];
    size_t extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
    if (extra > 0) {
      unsigned code = c & (0x3F >> extra);
      bool ok = true;
      for (size_t k = 1; ok && k <= extra; ++k) {
        if (i + k >= length || (p[i + k] & 0xC0) != 0x80) ok = false;
        else code = code << 6 | (p[i + k] & 0x3F);
      }
      // No overlong forms, surrogates or values beyond U+10FFFF.
      if (ok && ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
                 (code >= 0xD800 && code <= 0xDFFF)))
        ok = false;
      if (ok) {
        if (code >= 0x10000) {
          code -= 0x10000;
          text += static_cast<char16_t>(0xD800 + (code >> 10));
          text += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
          text += static_cast<char16_t>(code);
        }
        i += extra + 1;
        continue;
      }
    }
    text += static_cast<char16_t>(c);  // ASCII, or a byte that is no part of valid UTF-8: Latin-1
    ++i;
  }
  return text;
}

jstring newStringFromDeviceText(JNIEnv* env, const char* bytes, size_t max) {
  std::u16string text = textFromDeviceBytes(bytes, max);
  return env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

void formatAddress(const uint8_t a[6], char text[18]) {
  std::snprintf(text, 18, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
}

void formatAddressPlain(const uint8_t a[6], char text[13]) {
  std::snprintf(text, 13, "%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
}

namespace {
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool parseAddress(const char* text, uint8_t address[6]) {
  if (!text) return false;
  size_t length = std::strlen(text);
  if (length < 17) return false;
  for (int pair = 0; pair < 6; ++pair) {
    size_t at = static_cast<size_t>(pair) * 3;
    if (hexDigit(text[at]) < 0) return false;
    unsigned value = 0;
    for (size_t i = at; i < length && hexDigit(text[i]) >= 0; ++i) value = value << 4 | hexDigit(text[i]);
    address[pair] = static_cast<uint8_t>(value);
  }
  return true;
}

bool parseAddress(JNIEnv* env, jstring text, uint8_t address[6]) {
  if (!text) return false;
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) return false;
  bool ok = parseAddress(chars, address);
  env->ReleaseStringUTFChars(text, chars);
  return ok;
}

}  // namespace bluez

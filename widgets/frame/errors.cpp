// Failure reporting: filling an ErrorState from an operating-system error or a toolkit code,
// and handing it to the Java error handler.
#include <cstdlib>
#include <cstring>
#include <string>

#include "hvl.h"

namespace {

size_t textLength(const WCHAR* text) { return text ? std::char_traits<char16_t>::length(text) : 0; }

void releaseMessage(ErrorState* error) {
  if (error->ownsMessage) std::free(const_cast<WCHAR*>(error->message));
  error->message = nullptr;
  error->ownsMessage = 0;
}

}  // namespace

HVL_EXPORT jint HVL_GetError(ErrorState* error) { return error ? error->code : 0; }

HVL_EXPORT void Win32Error_SetError(ErrorState* error, jint code, const WCHAR* text) {
  if (!error) return;
  releaseMessage(error);
  if (code < 0) {
    error->code = code;
    error->message = text;
    return;
  }
  error->code = (code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY) ? HVL_ERROR_NO_MEMORY
                                                                                  : HVL_ERROR_FAILED;
  WCHAR* system = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPWSTR>(&system), 0, nullptr);
  const WCHAR* tail = length && system ? system : u"FormatMessage failed";
  size_t first = textLength(text), second = textLength(tail);
  auto* message = static_cast<WCHAR*>(std::malloc((first + 2 + second + 1) * sizeof(WCHAR)));
  if (message) {
    if (first) std::memcpy(message, text, first * sizeof(WCHAR));
    message[first] = u':';
    message[first + 1] = u':';
    std::memcpy(message + first + 2, tail, second * sizeof(WCHAR));
    message[first + 2 + second] = 0;
    error->message = message;
    error->ownsMessage = 1;
  }
  if (system) LocalFree(system);
}

HVL_EXPORT void HVL_ErrorHandler(JNIEnv* env, const char* nativeName, ErrorState* error) {
  jclass os = env->FindClass("com/zel/hvl/r7tx/OS");
  if (!os) {
    releaseMessage(error);
    return;
  }
  jfieldID field = env->GetStaticFieldID(os, "hvlErrorHandler", "Lcom/zel/hvl/HVLErrorHandler;");
  if (!field) {
    releaseMessage(error);
    return;
  }
  jobject handler = env->GetStaticObjectField(os, field);
  if (!handler) env->FatalError("Error occured and no error handler has been set");
  jstring name = env->NewStringUTF(nativeName);
  const WCHAR* messageText = error->message;
  jstring message = convertToJavaString(env, messageText);
  releaseMessage(error);
  if (!name) return;
  if (messageText && !message) return;
  jclass handlerClass = env->GetObjectClass(handler);
  jmethodID respond = env->GetMethodID(handlerClass, "respond", "(Ljava/lang/String;ILjava/lang/String;)V");
  if (!respond) return;
  env->CallVoidMethod(handler, respond, name, static_cast<jint>(error->code), message);
  env->DeleteLocalRef(handlerClass);
  env->DeleteLocalRef(name);
  if (message) env->DeleteLocalRef(message);
  env->DeleteLocalRef(handler);
  env->DeleteLocalRef(os);
}

void hvlThrowOutOfMemory(JNIEnv* env, const char* message) {
  jclass error = env->FindClass("java/lang/OutOfMemoryError");
  if (error) {
    env->ThrowNew(error, message);
    env->DeleteLocalRef(error);
    return;
  }
  if (!env->ExceptionCheck()) env->FatalError(message);
}

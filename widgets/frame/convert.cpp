// Text and small arrays across the VM boundary.
#include <cstdlib>
#include <cstring>
#include <string>

#include "hvl.h"

HVL_EXPORT jstring convertToJavaString(JNIEnv* env, const WCHAR* text) {
  if (!text) return nullptr;
  size_t length = std::char_traits<char16_t>::length(text);
  return env->NewString(reinterpret_cast<const jchar*>(text), static_cast<jsize>(length));
}

HVL_EXPORT jintArray createJavaRect(JNIEnv* env, jint x, jint y, jint width, jint height) {
  jintArray array = env->NewIntArray(4);
  if (!array || env->ExceptionCheck()) return nullptr;
  jint values[4] = {x, y, width, height};
  env->SetIntArrayRegion(array, 0, 4, values);
  return array;
}

HVL_EXPORT jintArray createJavaPoint(JNIEnv* env, jint x, jint y) {
  jintArray array = env->NewIntArray(2);
  if (!array || env->ExceptionCheck()) return nullptr;
  jint values[2] = {x, y};
  env->SetIntArrayRegion(array, 0, 2, values);
  return array;
}

HVL_EXPORT jobjectArray convertToJavaStringArray(JNIEnv* env, const WCHAR* const* texts) {
  jsize count = 0;
  while (texts && texts[count]) ++count;
  jclass stringClass = env->FindClass("java/lang/String");
  if (!stringClass) return nullptr;
  jobjectArray array = env->NewObjectArray(count, stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (!array || env->ExceptionCheck()) return nullptr;
  if (count && env->PushLocalFrame(count) == 0) {
    for (jsize i = 0; i < count; ++i) env->SetObjectArrayElement(array, i, convertToJavaString(env, texts[i]));
    env->PopLocalFrame(nullptr);
  }
  return array;
}

// The VM's characters are not promised to be terminated: the operation gets a terminated copy.
void javaTextOpen(JavaText& text, JNIEnv* env, jstring string) {
  text = JavaText{env, string, nullptr, nullptr, nullptr, false};
  if (!string) return;
  jsize length = env->GetStringLength(string);
  text.characters = env->GetStringChars(string, nullptr);
  if (!text.characters || env->ExceptionCheck()) {
    text.failed = true;
    return;
  }
  text.copy = static_cast<WCHAR*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(WCHAR)));
  if (!text.copy) {
    env->ReleaseStringChars(string, text.characters);
    text.characters = nullptr;
    hvlThrowOutOfMemory(env, "Failed to copy a string");
    text.failed = true;
    return;
  }
  std::memcpy(text.copy, text.characters, static_cast<size_t>(length) * sizeof(WCHAR));
  text.copy[length] = 0;
  text.text = text.copy;
}

void javaTextClose(JavaText& text) {
  if (text.characters) text.env->ReleaseStringChars(text.string, text.characters);
  std::free(text.copy);
  text = JavaText{};
}

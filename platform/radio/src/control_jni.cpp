// The air's control interface for Java tests and the demo: class vork.radio.AirControl.
#include <jni.h>

#include <string>

#include "vork/control.h"
#include "vork/radio_control.h"

namespace {
std::string utf8(JNIEnv* env, jstring text) {
  if (!text) return std::string();
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) return std::string();
  std::string result(chars);
  env->ReleaseStringUTFChars(text, chars);
  return result;
}
}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_vork_radio_AirControl_configure(JNIEnv* env, jclass, jstring text) {
  return VorkRadio_Configure(utf8(env, text).c_str());
}

JNIEXPORT void JNICALL Java_vork_radio_AirControl_useFile(JNIEnv*, jclass) { VorkRadio_UseFile(); }

JNIEXPORT void JNICALL Java_vork_radio_AirControl_stackStatus(JNIEnv*, jclass, jint status) {
  VorkRadio_StackStatus(status);
}

JNIEXPORT jlong JNICALL Java_vork_radio_AirControl_counter(JNIEnv* env, jclass, jstring what) {
  return VorkRadio_Counter(utf8(env, what).c_str());
}

JNIEXPORT void JNICALL Java_vork_radio_AirControl_resetCounters(JNIEnv*, jclass) { VorkRadio_ResetCounters(); }

JNIEXPORT jint JNICALL Java_vork_radio_AirControl_clockScale(JNIEnv*, jclass, jint scale) {
  jint previous = static_cast<jint>(VorkControl_ClockScale());
  VorkControl_SetClockScale(scale > 0 ? static_cast<unsigned>(scale) : 1);
  return previous;
}
}

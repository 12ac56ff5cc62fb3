// Test-only natives of com.zel.hvl.test.Probe: they reach the frame's C-level functions and
// the simulated device from Java tests.
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hvl.h"
#include "vork/window_control.h"

extern "C" {

// Reports a failure from an operating-system error number (code >= 0) or a toolkit code through
// the error handler, as a native named `name` would; answers the code the state carried.
JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_reportError(JNIEnv* env, jclass, jstring name, jint code,
                                                              jstring text) {
  const jchar* chars = env->GetStringChars(text, nullptr);
  jsize length = env->GetStringLength(text);
  std::u16string copy(reinterpret_cast<const char16_t*>(chars), length);
  env->ReleaseStringChars(text, chars);
  const char* nameChars = env->GetStringUTFChars(name, nullptr);
  std::string nativeName = nameChars;
  env->ReleaseStringUTFChars(name, nameChars);
  ErrorState error{};
  Win32Error_SetError(&error, code, copy.c_str());
  jint carried = HVL_GetError(&error);
  HVL_ErrorHandler(env, nativeName.c_str(), &error);
  return carried;
}

// A bare widget record on the display (what a control would be, without a window).
JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_newWidget(JNIEnv*, jclass, jint display) {
  auto* widget = static_cast<WidgetHead*>(hvlAllocate(sizeof(Control)));
  widget->display = hvlRecord<Display>(display);
  return hvlHandle(widget);
}

JNIEXPORT void JNICALL Java_com_zel_hvl_test_Probe_raise(JNIEnv*, jclass, jint widget, jint id, jint a, jint b) {
  CallbackTarget* target = hvlRecord<WidgetHead>(widget)->target;
  switch (id) {
    case 0: hvlCallbackButtonClick(target); break;
    case 1: hvlCallbackListSelection(target, a, b); break;
    case 2: hvlCallbackWindowEvent(target, a); break;
    case 3: hvlCallbackScroll(target, a, b); break;
    case 23: vaCallback(23, "(II)V", target, a, b); break;
    case 4: hvlCallbackComboSelection(target, a); break;
    case 6: hvlCallbackTextChanged(target); break;
    case 7: hvlCallbackPointer(target, a, b, a + 1, b + 1, 0); break;
    case 8: hvlCallbackMenuItem(target); break;
    case 9: hvlCallbackFocus(target, a); break;
    case 10: hvlCallbackPaint(target, a, b, a + 10, b + 10); break;
    case 11: hvlCallbackShellResized(target, a, b); break;
    case 12: hvlCallbackShellMoved(target, a, b); break;
    case 17: hvlCallbackWheel(target, 9, a, b, 0, 3, -1); break;
  }
}

JNIEXPORT jboolean JNICALL Java_com_zel_hvl_test_Probe_raiseKey(JNIEnv*, jclass, jint widget, jchar character) {
  return hvlCallbackKey(hvlRecord<WidgetHead>(widget)->target, 1, character, 0x41, 0);
}

JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_raisePointerPressed(JNIEnv*, jclass, jint widget, jint x, jint y) {
  return hvlCallbackPointerPressed(hvlRecord<WidgetHead>(widget)->target, x, y);
}

// Raises a key event on a new native thread that the VM does not know yet.
JNIEXPORT jboolean JNICALL Java_com_zel_hvl_test_Probe_raiseKeyOnNativeThread(JNIEnv*, jclass, jint widget,
                                                                             jchar character) {
  jboolean result = JNI_FALSE;
  CallbackTarget* target = hvlRecord<WidgetHead>(widget)->target;
  std::thread([&] { result = hvlCallbackKey(target, 1, character, 0x41, 0); }).join();
  return result;
}

JNIEXPORT void JNICALL Java_com_zel_hvl_test_Probe_freeWidget(JNIEnv*, jclass, jint widget) {
  hvlFree(hvlRecord<WidgetHead>(widget));
}

JNIEXPORT jstring JNICALL Java_com_zel_hvl_test_Probe_takeInputLog(JNIEnv* env, jclass) {
  char* log = VorkControl_TakeInputLog();
  jstring result = env->NewStringUTF(log ? log : "");
  std::free(log);
  return result;
}

JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_colourReference(JNIEnv*, jclass, jint colour) {
  return static_cast<jint>(hvlRecord<Color>(colour)->colour);
}

JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_fontHeight(JNIEnv*, jclass, jint font) {
  return hvlRecord<Font>(font)->metrics.tmHeight;
}

JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_fontPitchAndFamily(JNIEnv*, jclass, jint font) {
  return hvlRecord<Font>(font)->metrics.tmPitchAndFamily;
}

// Starts a thread that sends `message` to the display's message window and waits for the
// answer; finishSender joins it and tells whether the answer was 1.
static std::thread* sender = nullptr;
static LRESULT senderResult = 0;

JNIEXPORT void JNICALL Java_com_zel_hvl_test_Probe_startSender(JNIEnv*, jclass, jint display, jint message) {
  HWND window = hvlRecord<Display>(display)->messageWindow;
  senderResult = 0;
  sender = new std::thread([window, message] { senderResult = SendMessageW(window, static_cast<UINT>(message), 0, 0); });
}

JNIEXPORT jboolean JNICALL Java_com_zel_hvl_test_Probe_finishSender(JNIEnv*, jclass) {
  sender->join();
  delete sender;
  sender = nullptr;
  return senderResult == 1 ? JNI_TRUE : JNI_FALSE;
}

// The texts of `joined` split at '|' (an empty string gives no texts), as a native list.
JNIEXPORT jobjectArray JNICALL Java_com_zel_hvl_test_Probe_stringArray(JNIEnv* env, jclass, jstring joined) {
  if (!joined) return convertToJavaStringArray(env, nullptr);
  const jchar* chars = env->GetStringChars(joined, nullptr);
  std::u16string all(reinterpret_cast<const char16_t*>(chars), env->GetStringLength(joined));
  env->ReleaseStringChars(joined, chars);
  std::vector<std::u16string> parts;
  if (!all.empty()) {
    size_t start = 0;
    for (size_t bar; (bar = all.find(u'|', start)) != std::u16string::npos; start = bar + 1)
      parts.push_back(all.substr(start, bar - start));
    parts.push_back(all.substr(start));
  }
  std::vector<const WCHAR*> list;
  for (auto& part : parts) list.push_back(part.c_str());
  list.push_back(nullptr);
  return convertToJavaStringArray(env, list.data());
}

JNIEXPORT jintArray JNICALL Java_com_zel_hvl_test_Probe_rect(JNIEnv* env, jclass, jint x, jint y, jint w, jint h) {
  return createJavaRect(env, x, y, w, h);
}

JNIEXPORT jintArray JNICALL Java_com_zel_hvl_test_Probe_point(JNIEnv* env, jclass, jint x, jint y) {
  return createJavaPoint(env, x, y);
}

JNIEXPORT jint JNICALL Java_com_zel_hvl_test_Probe_setScreen(JNIEnv*, jclass, jint w, jint h, jint bits, jint dpi) {
  return VorkControl_SetScreen(w, h, bits, dpi);
}
}

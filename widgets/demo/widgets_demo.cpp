// Natives of the widgets demo (com.q7vk.mobile.launcher.demo.WidgetsDemo): drawing with the
// toolkit's colour and font records on the simulated screen, and saving the screen as a PNG.
// The toolkit's own drawing natives come with the graphics context; until then the demo
// draws through the device's GDI directly.
#include <string>

#include "hvl.h"
#include "vork/window_control.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_q7vk_mobile_launcher_demo_WidgetsDemo_fillRect(JNIEnv*, jclass, jint colour, jint x,
                                                                             jint y, jint width, jint height) {
  HDC dc = GetDC(nullptr);
  HBRUSH brush = CreateSolidBrush(hvlRecord<Color>(colour)->colour);
  RECT area{x, y, x + width, y + height};
  FillRect(dc, &area, brush);
  DeleteObject(brush);
  ReleaseDC(nullptr, dc);
}

JNIEXPORT void JNICALL Java_com_q7vk_mobile_launcher_demo_WidgetsDemo_drawText(JNIEnv* env, jclass, jint font,
                                                                             jint colour, jint x, jint y,
                                                                             jstring text) {
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (!chars) return;
  jsize length = env->GetStringLength(text);
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, hvlRecord<Font>(font)->font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, hvlRecord<Color>(colour)->colour);
  ExtTextOutW(dc, x, y, 0, nullptr, reinterpret_cast<const WCHAR*>(chars), static_cast<UINT>(length), nullptr);
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  env->ReleaseStringChars(text, chars);
}

JNIEXPORT jboolean JNICALL Java_com_q7vk_mobile_launcher_demo_WidgetsDemo_saveScreen(JNIEnv* env, jclass,
                                                                                   jstring hostPath) {
  const char* path = env->GetStringUTFChars(hostPath, nullptr);
  if (!path) return JNI_FALSE;
  bool saved = VorkControl_SaveScreenPng(path) == 1;
  env->ReleaseStringUTFChars(hostPath, path);
  return saved ? JNI_TRUE : JNI_FALSE;
}
}

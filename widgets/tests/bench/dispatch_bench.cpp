// Costs of the event path: a plain JNI call to a peer method (the floor), a window message
// dispatched through the callback registry to the same Java method and back, and a message
// sent to a window of another thread and answered there.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "hvl.h"

extern "C" {
JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Display_1New(JNIEnv*, jclass);
JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Display_1InitCallbacks(JNIEnv*, jclass, jint, jobject);
JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Display_1RegisterCallback(JNIEnv*, jclass, jint, jint, jstring,
                                                                         jstring);
}

namespace {

JavaVM* vm = nullptr;
JNIEnv* env = nullptr;
jobject peer = nullptr;
jmethodID scrolled = nullptr;
Display* display = nullptr;
CallbackTarget* target = nullptr;

LRESULT peerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) {
    hvlCallbackScroll(target, static_cast<jint>(wParam), static_cast<jint>(lParam));
    return 1;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool startVm() {
  if (vm) return true;
  std::string classPath = std::string("-Djava.class.path=") + VORK_HVL_CLASSES;
  JavaVMOption options[] = {{const_cast<char*>(classPath.c_str()), nullptr}, {const_cast<char*>("-Xrs"), nullptr}};
  JavaVMInitArgs args{JNI_VERSION_1_8, 2, options, JNI_FALSE};
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return false;
  jclass peerClass = env->FindClass("com/zel/hvl/r7tx/CallbackPeer");
  if (!peerClass) return false;
  peer = env->NewGlobalRef(env->AllocObject(peerClass));
  scrolled = env->GetMethodID(peerClass, "scrolled", "(II)V");
  display = hvlRecord<Display>(Java_com_zel_hvl_r7tx_OS_Display_1New(env, nullptr));
  Java_com_zel_hvl_r7tx_OS_Display_1InitCallbacks(env, nullptr, hvlHandle(display), peer);
  Java_com_zel_hvl_r7tx_OS_Display_1RegisterCallback(env, nullptr, hvlHandle(display), HVL_CB_SCROLL,
                                                     env->NewStringUTF("com/zel/hvl/r7tx/CallbackPeer"),
                                                     env->NewStringUTF("scrolled"));
  auto* widget = static_cast<WidgetHead*>(hvlAllocate(sizeof(Control)));
  widget->display = display;
  target = static_cast<CallbackTarget*>(std::calloc(1, sizeof(CallbackTarget)));
  target->peer = peer;
  target->widget = widget;
  widget->target = target;
  WNDCLASSW c{};
  c.lpfnWndProc = peerProc;
  c.lpszClassName = u"BenchPeer";
  RegisterClassW(&c);
  return true;
}

void JniCallToPeer(benchmark::State& state) {
  if (!startVm()) return state.SkipWithError("no VM");
  for (auto _ : state) env->CallVoidMethod(peer, scrolled, 1, 2);
}
BENCHMARK(JniCallToPeer);

void MessageDispatchedToJava(benchmark::State& state) {
  if (!startVm()) return state.SkipWithError("no VM");
  HWND window = CreateWindowExW(0, u"BenchPeer", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(SendMessageW(window, WM_USER, 1, 2));
  DestroyWindow(window);
}
BENCHMARK(MessageDispatchedToJava);

void PostedMessageThroughTheEventLoop(benchmark::State& state) {
  if (!startVm()) return state.SkipWithError("no VM");
  HWND window = CreateWindowExW(0, u"BenchPeer", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  MSG message;
  for (auto _ : state) {
    PostMessageW(window, WM_USER, 1, 2);
    PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(window);
}
BENCHMARK(PostedMessageThroughTheEventLoop);

void CrossThreadSendRoundTrip(benchmark::State& state) {
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> done{false};
  std::thread ui([&] {
    WNDCLASSW c{};
    c.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      return m == WM_USER ? static_cast<LRESULT>(wp + 1) : DefWindowProcW(w, m, wp, lp);
    };
    c.lpszClassName = u"BenchEcho";
    RegisterClassW(&c);
    window = CreateWindowExW(0, u"BenchEcho", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    MSG m;
    while (!done) {
      MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    DestroyWindow(window);
    UnregisterClassW(u"BenchEcho", nullptr);
  });
  while (!window) std::this_thread::yield();
  for (auto _ : state) benchmark::DoNotOptimize(SendMessageW(window, WM_USER, 1, 0));
  done = true;
  PostMessageW(window, WM_NULL, 0, 0);
  ui.join();
}
BENCHMARK(CrossThreadSendRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

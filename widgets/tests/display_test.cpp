// The display's event loop with accelerator translation, the modal shell stack, callbacks on
// a VM that refuses to attach the thread, and the frame's C-level functions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hvl.h"
#include "vork/control.h"
#include "vork/window_control.h"

extern "C" {
JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Display_1New(JNIEnv*, jclass);
JNIEXPORT jboolean JNICALL Java_com_zel_hvl_r7tx_OS_Display_1ReadAndDispatch(JNIEnv*, jclass, jint);
JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Device_1Dispose(JNIEnv*, jclass, jint);
JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Widget_1Dispose(JNIEnv*, jclass, jint);
JNIEXPORT jboolean JNICALL Java_com_zel_hvl_eswt_OS_Display_1PostPointerMoveEvent(JNIEnv*, jclass, jint, jint, jint);
JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Widget_1SetData(JNIEnv*, jclass, jint, jobject);
}

namespace {

std::vector<MSG> received;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  received.push_back(MSG{window, message, wParam, lParam, 0, {}});
  return DefWindowProcW(window, message, wParam, lParam);
}

struct DisplayLoop : ::testing::Test {
  Display* display = nullptr;
  std::vector<HWND> windows;
  std::vector<Shell*> shells;

  static void SetUpTestSuite() {
    static char root[] = "/tmp/vork-uxappro11-test-XXXXXX";
    static bool made = mkdtemp(root) != nullptr;
    ASSERT_TRUE(made);
    VorkControl_SetDeviceRoot(root);
    WNDCLASSW c{};
    c.lpfnWndProc = recordingProc;
    c.lpszClassName = u"TestShell";
    RegisterClassW(&c);
  }
  void SetUp() override {
    display = hvlRecord<Display>(Java_com_zel_hvl_r7tx_OS_Display_1New(nullptr, nullptr));
    ASSERT_NE(nullptr, display);
    received.clear();
  }
  void TearDown() override {
    for (HWND w : windows) DestroyWindow(w);
    loop();
    for (Shell* s : shells) {
      hvlRemoveEnabledShell(display, s);
      std::free(s->accelerators);
      if (s->acceleratorTable) DestroyAcceleratorTable(s->acceleratorTable);
      hvlFree(s);
    }
    Java_com_zel_hvl_r7tx_OS_Device_1Dispose(nullptr, nullptr, hvlHandle(display));
  }
  // A shell record behind a top-level window, as shell creation would make it.
  Shell* shell(Shell* parent = nullptr) {
    auto* s = static_cast<Shell*>(hvlAllocate(sizeof(Shell)));
    HWND window = CreateWindowExW(0, u"TestShell", nullptr, WS_VISIBLE, 0, 26, 240, 294,
                                  parent ? parent->scrollable.control.window : nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(s));
    s->scrollable.control.head.display = display;
    s->scrollable.control.window = window;
    s->scrollable.control.parent = parent ? &parent->scrollable.control : nullptr;
    windows.insert(windows.begin(), window);
    shells.push_back(s);
    ErrorState error{};
    EXPECT_TRUE(hvlAddEnabledShell(display, s, &error));
    return s;
  }
  HWND child(Shell* s) {
    HWND window = CreateWindowExW(0, u"TestShell", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 100, 20,
                                  s->scrollable.control.window, nullptr, nullptr, nullptr);
    windows.insert(windows.begin(), window);
    return window;
  }
  void accelerators(Shell* s, std::vector<AcceleratorEntry> entries) {
    s->accelerators = static_cast<AcceleratorEntry*>(std::calloc(entries.size() + 1, sizeof(AcceleratorEntry)));
    for (size_t i = 0; i < entries.size(); ++i) s->accelerators[i] = entries[i];
    s->acceleratorCount = static_cast<int32_t>(entries.size());
    s->acceleratorCapacity = static_cast<int32_t>(entries.size() + 1);
  }
  void key(BYTE vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
  }
  void chord(std::vector<BYTE> held, BYTE vk) {
    for (BYTE k : held) key(k, false);
    key(vk, false);
    key(vk, true);
    for (auto it = held.rbegin(); it != held.rend(); ++it) key(*it, true);
  }
  void loop() {
    while (Java_com_zel_hvl_r7tx_OS_Display_1ReadAndDispatch(nullptr, nullptr, hvlHandle(display))) {
    }
  }
  std::vector<MSG> commands() {
    std::vector<MSG> out;
    for (const MSG& m : received) {
      if (m.message == WM_COMMAND) out.push_back(m);
    }
    return out;
  }
};

TEST_F(DisplayLoop, ControlShiftAcceleratorsFireOnceAtTheFocusedWindow) {
  Shell* s = shell();
  HWND focus = child(s);
  SetFocus(focus);
  accelerators(s, {{1 | 8, 'S', 101}, {1 | 8 | 4, 'O', 102}});
  loop();
  received.clear();
  chord({VK_CONTROL, VK_SHIFT}, 'O');
  loop();
  auto fired = commands();
  ASSERT_EQ(1u, fired.size());
  EXPECT_EQ(focus, fired[0].hwnd);
  EXPECT_EQ(static_cast<WPARAM>(0x10000 | 102), fired[0].wParam);
  EXPECT_EQ(0, s->shiftDown);

  // Control alone goes through the system's translation, to the shell.
  received.clear();
  chord({VK_CONTROL}, 'S');
  loop();
  fired = commands();
  ASSERT_EQ(1u, fired.size());
  EXPECT_EQ(s->scrollable.control.window, fired[0].hwnd);
  EXPECT_EQ(MAKEWPARAM(101, 1), fired[0].wParam);
  EXPECT_NE(nullptr, s->acceleratorTable);
}

TEST_F(DisplayLoop, WithoutAcceleratorsKeysReachTheControls) {
  Shell* s = shell();
  HWND focus = child(s);
  SetFocus(focus);
  loop();
  received.clear();
  chord({VK_CONTROL}, 'S');
  chord({}, 'Q');
  loop();
  EXPECT_TRUE(commands().empty());
  std::u16string typed;
  int keyDowns = 0;
  for (const MSG& m : received) {
    if (m.hwnd != focus) continue;
    if (m.message == WM_CHAR) typed += static_cast<char16_t>(m.wParam);
    keyDowns += m.message == WM_KEYDOWN;
  }
  EXPECT_EQ(u"\x13q", typed);
  EXPECT_EQ(3, keyDowns);
  EXPECT_EQ(nullptr, s->acceleratorTable);
}

TEST_F(DisplayLoop, KeysAtTheMessageWindowAreNoShellsKeys) {
  EXPECT_EQ(nullptr, hvlShellOfWindow(display->messageWindow));
  Shell* s = shell();
  EXPECT_EQ(s, hvlShellOfWindow(child(s)));
}

TEST_F(DisplayLoop, ModalShellsDisableEveryOtherShellButTheirChildren) {
  Shell* a = shell();
  Shell* b = shell(a);
  Shell* c = shell();
  Shell* d = shell(b);
  auto enabled = [&] {
    std::string out;
    for (Shell* s : {a, b, c, d}) out += IsWindowEnabled(s->scrollable.control.window) ? '1' : '0';
    return out;
  };
  EXPECT_EQ("1111", enabled());
  Display_UpdateModalShellVisibility(display, b, TRUE);
  EXPECT_EQ("0101", enabled());
  Display_UpdateModalShellVisibility(display, b, TRUE);  // already there: nothing changes
  Shell* e = shell();  // joins while b is on top: disabled at once
  EXPECT_FALSE(IsWindowEnabled(e->scrollable.control.window));
  Display_UpdateModalShellVisibility(display, c, TRUE);  // now c is on top
  EXPECT_EQ("0010", enabled());
  Display_UpdateModalShellVisibility(display, c, FALSE);
  EXPECT_EQ("0101", enabled());
  Display_UpdateModalShellVisibility(display, b, FALSE);  // one clear undoes the double push
  EXPECT_EQ(nullptr, display->modalShells);
  EXPECT_EQ("1111", enabled());
  EXPECT_TRUE(IsWindowEnabled(e->scrollable.control.window));
}

TEST_F(DisplayLoop, TheMessageWindowCarriesWorkFromOtherThreads) {
  WidgetHead widget{display, nullptr, 0, nullptr};
  CallbackTarget first{nullptr, &widget, nullptr};
  LRESULT previous = 0;
  HWND window = display->messageWindow;
  std::thread other([&] {
    previous = SendMessageW(window, WMX_SET_DATA, reinterpret_cast<WPARAM>(&widget), reinterpret_cast<LPARAM>(&first));
  });
  while (widget.target != &first) {
    MsgWaitForMultipleObjectsEx(0, nullptr, 1000, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    loop();
  }
  other.join();
  EXPECT_EQ(0, previous);
  EXPECT_EQ(reinterpret_cast<LRESULT>(&first), SendMessageW(window, WMX_SET_DATA, reinterpret_cast<WPARAM>(&widget), 0));
  EXPECT_EQ(1, SendMessageW(window, 0x8050, 0, 0));  // other private messages answer 1
  HWND doomed = CreateWindowExW(0, u"TestShell", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(TRUE, SendMessageW(window, WMX_DESTROY_WINDOW, reinterpret_cast<WPARAM>(doomed), 0));
  EXPECT_FALSE(IsWindow(doomed));
}

TEST_F(DisplayLoop, ControlsTakeTheirDisplayFromTheirParent) {
  Control parent{};
  parent.head.display = display;
  Control middle{};
  middle.parent = &parent;
  Control leaf{};
  leaf.parent = &middle;
  EXPECT_EQ(display, Control_GetDisplay(&leaf));
  EXPECT_EQ(display, middle.head.display);  // stored on the way
  EXPECT_EQ(nullptr, Control_GetDisplay(nullptr));
}

TEST_F(DisplayLoop, TheCommonControlsVersionIsAskedOnce) {
  ErrorState error{};
  EXPECT_EQ(5, _Display_GetComCtrlMajorVersion(display, &error));
  EXPECT_EQ(80, display->comctlMinor);
  display->comctlMajor = 9;  // cached from now on
  EXPECT_EQ(9, _Display_GetComCtrlMajorVersion(display, &error));
  EXPECT_EQ(0, error.code);
}

// ---- A VM that knows no thread and refuses to attach one -----------------------------------------

jint refusingGetEnv(JavaVM*, void** env, jint) {
  *env = nullptr;
  return JNI_EDETACHED;
}
jint refusingAttach(JavaVM*, void**, void*) { return JNI_ERR; }

TEST(Callbacks, AThreadTheVmRefusesCountsAKeyAsConsumed) {
  JNIInvokeInterface_ functions{};
  functions.GetEnv = refusingGetEnv;
  functions.AttachCurrentThread = refusingAttach;
  JavaVM vm{&functions};
  CallbackEntry* buckets[HVL_CALLBACK_CHAINS] = {};
  CallbackEntry key{"Peer", "keyEvent", nullptr, HVL_CB_KEY, nullptr};
  CallbackEntry pointer{"Peer", "pointerPressed", nullptr, HVL_CB_POINTER_PRESSED, nullptr};
  buckets[HVL_CB_KEY % HVL_CALLBACK_CHAINS] = &key;
  buckets[HVL_CB_POINTER_PRESSED % HVL_CALLBACK_CHAINS] = &pointer;
  CallbackLookup lookup{buckets, &vm, nullptr};
  Display display{};
  display.callbackLookup = &lookup;
  WidgetHead widget{&display, nullptr, 0, nullptr};
  CallbackTarget target{nullptr, &widget, nullptr};
  EXPECT_TRUE(hvlCallbackKey(&target, 1, u'a', 0x41, 0));
  EXPECT_EQ(&display, target.display);  // cached on first use
  EXPECT_EQ(0, hvlCallbackPointerPressed(&target, 1, 2));
  EXPECT_FALSE(hvlCallbackKey(nullptr, 1, u'a', 0x41, 0));
  buckets[HVL_CB_KEY % HVL_CALLBACK_CHAINS] = nullptr;  // unregistered: not consumed
  EXPECT_FALSE(hvlCallbackKey(&target, 1, u'a', 0x41, 0));
  JNIEnv* env;
  BOOL attached = TRUE;
  EXPECT_EQ(JNI_ERR, getEnv(&lookup, &env, &attached));
  EXPECT_FALSE(attached);
}

// ---- A VM that attaches the thread but cannot find the callback's class ----------------------

int detached = 0;
JNINativeInterface_ lostFunctions{};
JNIEnv_ lostEnv{&lostFunctions};
jint attachingGetEnv(JavaVM*, void** env, jint) {
  *env = nullptr;
  return JNI_EDETACHED;
}
jint attach(JavaVM*, void** env, void*) {
  *env = &lostEnv;
  return JNI_OK;
}
jint detach(JavaVM*) {
  ++detached;
  return JNI_OK;
}

TEST(Callbacks, AThreadAttachedForADroppedEventIsDetachedAgain) {
  lostFunctions.FindClass = [](JNIEnv*, const char*) -> jclass { return nullptr; };
  lostFunctions.ExceptionDescribe = [](JNIEnv*) {};
  JNIInvokeInterface_ functions{};
  functions.GetEnv = attachingGetEnv;
  functions.AttachCurrentThread = attach;
  functions.DetachCurrentThread = detach;
  JavaVM vm{&functions};
  CallbackEntry* buckets[HVL_CALLBACK_CHAINS] = {};
  CallbackEntry scroll{"Gone", "scrolled", nullptr, HVL_CB_SCROLL, nullptr};
  buckets[HVL_CB_SCROLL] = &scroll;
  CallbackLookup lookup{buckets, &vm, nullptr};
  Display display{};
  display.callbackLookup = &lookup;
  WidgetHead widget{&display, nullptr, 0, nullptr};
  CallbackTarget target{nullptr, &widget, nullptr};
  detached = 0;
  hvlCallbackScroll(&target, 1, 2);
  EXPECT_EQ(1, detached);
  EXPECT_EQ(nullptr, scroll.methodId);
}

TEST(Callbacks, AWidgetWithoutADisplayTakesItsPeerDirectly) {
  static int released;
  released = 0;
  JNINativeInterface_ functions{};
  functions.NewGlobalRef = [](JNIEnv*, jobject object) -> jobject { return object; };
  functions.DeleteGlobalRef = [](JNIEnv*, jobject) { ++released; };
  JNIEnv_ env{&functions};
  auto* widget = static_cast<WidgetHead*>(hvlAllocate(sizeof(WidgetHead)));
  jobject peer = reinterpret_cast<jobject>(&functions);
  Java_com_zel_hvl_r7tx_OS_Widget_1SetData(&env, nullptr, hvlHandle(widget), peer);
  ASSERT_NE(nullptr, widget->target);
  EXPECT_EQ(peer, widget->target->peer);
  EXPECT_EQ(widget, widget->target->widget);
  Java_com_zel_hvl_r7tx_OS_Widget_1SetData(&env, nullptr, hvlHandle(widget), nullptr);
  EXPECT_EQ(nullptr, widget->target);
  EXPECT_EQ(1, released);
  hvlFree(widget);
}

TEST(Frame, ErrorStatesAreReplacedAndCountedRight) {
  ErrorState error{};
  EXPECT_EQ(0, HVL_GetError(nullptr));
  Win32Error_SetError(&error, ERROR_OUTOFMEMORY, u"First");
  EXPECT_EQ(-4, HVL_GetError(&error));
  EXPECT_TRUE(error.ownsMessage);
  Win32Error_SetError(&error, ERROR_ACCESS_DENIED, u"Second");
  EXPECT_EQ(-3, error.code);
  EXPECT_EQ(u"Second::Access is denied.\r\n", std::u16string(error.message));
  Win32Error_SetError(&error, -5, u"Depth");
  EXPECT_EQ(-5, error.code);
  EXPECT_FALSE(error.ownsMessage);
  EXPECT_EQ(u"Depth", std::u16string(error.message));
}

TEST(Frame, LogicalFontsAreFilledFromPointsAndStyle) {
  VorkControl_SetClockScale(1);
  struct Case {
    int size, style;
    LONG height, weight;
    BYTE italic, underline, strike;
  } cases[] = {
      {10, 0, 13, 400, 0, 0, 0}, {8, 2, 10, 700, 0, 0, 0}, {12, 4 | 8 | 16, 16, 400, 1, 1, 1}, {0, 0, 0, 400, 0, 0, 0},
  };
  for (const Case& c : cases) {
    LOGFONTW font{};
    _Font_FillInFont(&font, c.size, c.style);
    EXPECT_EQ(c.height, font.lfHeight) << c.size;
    EXPECT_EQ(c.weight, font.lfWeight);
    EXPECT_EQ(c.italic, font.lfItalic);
    EXPECT_EQ(c.underline, font.lfUnderline);
    EXPECT_EQ(c.strike, font.lfStrikeOut);
    EXPECT_EQ(DEFAULT_CHARSET, font.lfCharSet);
  }
}

TEST(Frame, RecordsAreZeroedAndFitInAJavaInt) {
  std::vector<void*> records;
  for (size_t size : {1u, 16u, 100u, 4000u}) {
    auto* record = static_cast<unsigned char*>(hvlAllocate(size));
    ASSERT_NE(nullptr, record);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(0, record[i]);
    std::memset(record, 0xAB, size);
    EXPECT_EQ(record, hvlRecord<unsigned char>(hvlHandle(record)));
    EXPECT_GT(hvlHandle(record), 0);
    records.push_back(record);
  }
  for (void* r : records) hvlFree(r);
  auto* again = static_cast<unsigned char*>(hvlAllocate(100));  // reused, and zeroed again
  EXPECT_EQ(0, again[50]);
  hvlFree(again);
  EXPECT_EQ(nullptr, convertToJavaString(nullptr, nullptr));
}

TEST(Frame, PointerMovesFarOffOrOnATinyScreenAreSafe) {
  std::free(VorkControl_TakeInputLog());
  ASSERT_EQ(1, VorkControl_SetScreen(240, 320, 16, 96));
  EXPECT_TRUE(Java_com_zel_hvl_eswt_OS_Display_1PostPointerMoveEvent(nullptr, nullptr, 0, 100000, -5));
  ASSERT_EQ(1, VorkControl_SetScreen(1, 1, 16, 96));
  EXPECT_TRUE(Java_com_zel_hvl_eswt_OS_Display_1PostPointerMoveEvent(nullptr, nullptr, 0, 7, 7));
  char* log = VorkControl_TakeInputLog();
  EXPECT_STREQ("mouse dx=27420502 dy=-1027 data=0 flags=0x8001\n"
               "mouse dx=0 dy=0 data=0 flags=0x8001\n", log);
  std::free(log);
  VorkControl_SetScreen(240, 320, 16, 96);
  POINT cursor;
  GetCursorPos(&cursor);
  EXPECT_EQ(0, cursor.x);
}

TEST(Frame, TheKeyTableAnswersTheFirstRow) {
  EXPECT_EQ(0x23, hvlVirtualKeyOfCode(1008));  // End, not Cancel
  EXPECT_EQ(0x0D, hvlVirtualKeyOfCode(1082));
  EXPECT_EQ(1002, hvlCodeOfVirtualKey(0x0D));  // Enter, not keypad Enter
  EXPECT_EQ(1037, hvlCodeOfVirtualKey(0x7E));
  EXPECT_EQ(0, hvlVirtualKeyOfCode(0x41));
  EXPECT_EQ(0, hvlCodeOfVirtualKey(0x6C));
}

}  // namespace

namespace {

int disposed = 0;

TEST(Frame, DisposingAWidgetClearsItsTargetFirst) {
  auto* widget = static_cast<WidgetHead*>(hvlAllocate(sizeof(WidgetHead)));
  static CallbackTarget target{};
  widget->target = &target;
  widget->dispose = [](void* record) {
    EXPECT_EQ(nullptr, static_cast<WidgetHead*>(record)->target);
    ++disposed;
  };
  Java_com_zel_hvl_r7tx_OS_Widget_1Dispose(nullptr, nullptr, hvlHandle(widget));
  EXPECT_EQ(1, disposed);
}

}  // namespace

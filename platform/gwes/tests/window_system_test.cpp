// The simulated window system: classes, windows, queues, cross-thread sends, waiting, timers,
// keyboard translation, pointer input, accelerators, focus, GDI fonts, the framebuffer and
// the message texts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vork/control.h"
#include "vork/window_control.h"
#include "winuser.h"

namespace {

// Every message a test window receives, in order.
thread_local std::vector<MSG>* journal = nullptr;
LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (journal) journal->push_back(MSG{window, message, wParam, lParam, 0, {}});
  if (message == WM_USER + 1) return static_cast<LRESULT>(wParam) * 2;
  return DefWindowProcW(window, message, wParam, lParam);
}

struct WindowSystem : ::testing::Test {
  std::vector<MSG> seen;
  std::vector<HWND> created;

  static void SetUpTestSuite() {
    static char root[] = "/tmp/vork-gwes-test-XXXXXX";
    static bool made = mkdtemp(root) != nullptr;
    ASSERT_TRUE(made);
    VorkControl_SetDeviceRoot(root);
    WNDCLASSW c{};
    c.style = CS_DBLCLKS;
    c.lpfnWndProc = recordingProc;
    c.lpszClassName = u"Recorder";
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&c);
  }
  void SetUp() override {
    journal = &seen;
    VorkControl_SetScreen(240, 320, 16, 96);
  }
  void TearDown() override {
    for (HWND w : created) {
      if (IsWindow(w)) DestroyWindow(w);
    }
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    journal = nullptr;
  }
  HWND make(DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    HWND window = CreateWindowExW(0, u"Recorder", u"t", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
    created.push_back(window);
    return window;
  }
  bool received(UINT message) const {
    for (const MSG& m : seen) {
      if (m.message == message) return true;
    }
    return false;
  }
  // Takes and dispatches everything queued; answers the messages taken.
  std::vector<MSG> pump(bool translate = true) {
    std::vector<MSG> taken;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      taken.push_back(m);
      if (translate) TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    return taken;
  }
  void key(BYTE vk, bool up = false) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ASSERT_EQ(1u, SendInput(1, &input, sizeof input));
  }
  void tap(BYTE vk) {
    key(vk);
    key(vk, true);
  }
  std::u16string typed(const std::vector<MSG>& taken) {
    std::u16string out;
    for (const MSG& m : taken) {
      if (m.message == WM_CHAR) out += static_cast<char16_t>(m.wParam);
    }
    return out;
  }
  void pointer(DWORD flags, int x = 0, int y = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    if (flags & MOUSEEVENTF_MOVE) {
      input.mi.dwFlags |= MOUSEEVENTF_ABSOLUTE;
      input.mi.dx = x * 65535 / 239;
      input.mi.dy = y * 65535 / 319;
    }
    ASSERT_EQ(1u, SendInput(1, &input, sizeof input));
  }
};

TEST_F(WindowSystem, ClassesRegisterOnceAndStayWhileTheyHaveWindows) {
  WNDCLASSW c{};
  c.lpfnWndProc = DefWindowProcW;
  c.lpszClassName = u"Once";
  ASSERT_NE(0, RegisterClassW(&c));
  EXPECT_EQ(0, RegisterClassW(&c));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());
  HWND w = CreateWindowExW(0, u"once", nullptr, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);  // class names ignore case
  EXPECT_FALSE(UnregisterClassW(u"Once", nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS), GetLastError());
  DestroyWindow(w);
  EXPECT_TRUE(UnregisterClassW(u"Once", nullptr));
  WNDCLASSW info;
  EXPECT_FALSE(GetClassInfoW(nullptr, u"Once", &info));
  for (const char16_t* system : {u"STATIC", u"BUTTON", u"EDIT", u"LISTBOX", u"COMBOBOX", u"SCROLLBAR", u"Dialog"}) {
    ASSERT_TRUE(GetClassInfoW(nullptr, system, &info)) << std::string(system, system + 3);
    EXPECT_NE(nullptr, info.lpfnWndProc);
    EXPECT_NE(nullptr, info.hCursor);
  }
  EXPECT_EQ(nullptr, CreateWindowExW(0, u"NoSuchClass", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());
}

TEST_F(WindowSystem, WindowsHaveGeometrySlotsAndZOrder) {
  HWND top = make(WS_VISIBLE | WS_CAPTION, 10, 30, 200, 150);
  HWND a = make(WS_CHILD | WS_VISIBLE, 5, 5, 50, 20, top);
  HWND b = make(WS_CHILD | WS_VISIBLE | WS_BORDER, 60, 5, 50, 20, top);
  EXPECT_EQ(top, GetParent(a));
  EXPECT_TRUE(IsChild(top, b));
  EXPECT_EQ(b, GetWindow(top, GW_CHILD));  // the newest child is on top
  EXPECT_EQ(a, GetWindow(b, GW_HWNDNEXT));
  ASSERT_TRUE(SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_EQ(a, GetWindow(top, GW_CHILD));

  RECT r;
  GetClientRect(top, &r);
  EXPECT_EQ(198, r.right);  // one-pixel frame on both sides
  EXPECT_EQ(150 - 2 - GetSystemMetrics(SM_CYCAPTION), r.bottom);
  GetWindowRect(b, &r);
  EXPECT_EQ(10 + 1 + 60, r.left);
  EXPECT_EQ(30 + 1 + GetSystemMetrics(SM_CYCAPTION) + 5, r.top);
  POINT p{0, 0};
  ClientToScreen(b, &p);
  EXPECT_EQ(r.left + 1, p.x);  // b's own border

  EXPECT_EQ(0, SetWindowLongPtrW(a, GWL_USERDATA, 0x12345678));
  EXPECT_EQ(0x12345678, GetWindowLongPtrW(a, GWL_USERDATA));
  auto old = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(a, GWL_WNDPROC));
  EXPECT_EQ(recordingProc, old);
  SetWindowLongPtrW(a, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
  EXPECT_EQ(0, SendMessageW(a, WM_USER + 1, 21, 0));
  EXPECT_EQ(42, CallWindowProcW(old, a, WM_USER + 1, 21, 0));
  SetWindowLongPtrW(a, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(old));
  EXPECT_EQ(0, GetWindowLongPtrW(a, 4096));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());

  ASSERT_TRUE(SetWindowTextW(top, u"Title"));
  WCHAR text[8];
  EXPECT_EQ(5, GetWindowTextW(top, text, 8));
  EXPECT_EQ(std::u16string(u"Title"), text);
  EXPECT_EQ(top, FindWindowW(u"Recorder", u"Title"));

  DestroyWindow(top);
  EXPECT_FALSE(IsWindow(a));
  EXPECT_FALSE(IsWindow(b));
  int destroyed = 0;
  for (const MSG& m : seen) destroyed += m.message == WM_DESTROY;
  EXPECT_EQ(3, destroyed);
}

TEST_F(WindowSystem, CreationRunsCreateAndCanBeRefused) {
  WNDCLASSW c{};
  c.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_CREATE) return reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams ? -1 : 0;
    return DefWindowProcW(w, m, wp, lp);
  };
  c.lpszClassName = u"Refuser";
  RegisterClassW(&c);
  int token = 1;
  EXPECT_EQ(nullptr, CreateWindowExW(0, u"Refuser", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, &token));
  HWND ok = CreateWindowExW(0, u"Refuser", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(nullptr, ok);
  DestroyWindow(ok);
  EXPECT_TRUE(UnregisterClassW(u"Refuser", nullptr));  // the refused window left nothing behind
}

TEST_F(WindowSystem, PostedMessagesComeInOrderAndAnEmptyQueueAnswersAtOnce) {
  HWND w = make(0, 0, 0, 10, 10);
  pump();
  MSG m;
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  PostMessageW(w, WM_USER + 5, 1, 0);
  PostMessageW(w, WM_USER + 6, 2, 0);
  PostMessageW(nullptr, WM_USER + 7, 3, 0);  // a thread message
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(WM_USER + 5, m.message);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_USER + 6, WM_USER + 7, PM_REMOVE));
  EXPECT_EQ(WM_USER + 6, m.message);  // the filter skips the first
  ASSERT_TRUE(PeekMessageW(&m, HWND_MESSAGE_ONLY_THREAD, 0, 0, PM_REMOVE));
  EXPECT_EQ(WM_USER + 7, m.message);
  EXPECT_EQ(nullptr, m.hwnd);
  PostQuitMessage(3);
  ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_USER + 5, m.message);  // the quit comes after what was posted
  EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));
  EXPECT_EQ(3u, m.wParam);
  EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x7777), WM_USER, 0, 0));
}

TEST_F(WindowSystem, ASendToAnotherThreadWaitsForItsMessageLoop) {
  HWND w = make(0, 0, 0, 10, 10);
  pump();
  std::atomic<bool> answered{false};
  LRESULT result = 0;
  std::thread sender([&] {
    result = SendMessageW(w, WM_USER + 1, 21, 0);
    answered = true;
  });
  // The sender waits until this thread looks at its queue; meanwhile the wait says so.
  EXPECT_EQ(WAIT_OBJECT_0, MsgWaitForMultipleObjectsEx(0, nullptr, 5000, QS_ALLINPUT, MWMO_INPUTAVAILABLE));
  EXPECT_FALSE(answered);
  MSG m;
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));  // handles the send; nothing is posted
  sender.join();
  EXPECT_EQ(42, result);
  EXPECT_TRUE(received(WM_USER + 1));
}

TEST_F(WindowSystem, ASenderHandlesSendsToItsOwnWindowsWhileItWaits) {
  HWND mine = make(0, 0, 0, 10, 10);
  pump();
  HWND theirs = nullptr;
  std::atomic<bool> ready{false}, done{false};
  static HWND back;
  back = mine;
  std::thread other([&] {
    WNDCLASSW c{};
    c.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      // Asks the sender's thread before answering it.
      if (m == WM_USER + 2) return SendMessageW(back, WM_USER + 1, wp, 0) + 1;
      return DefWindowProcW(w, m, wp, lp);
    };
    c.lpszClassName = u"Echo";
    RegisterClassW(&c);
    theirs = CreateWindowExW(0, u"Echo", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ready = true;
    MSG m;
    while (!done) {
      MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    DestroyWindow(theirs);
  });
  while (!ready) std::this_thread::yield();
  EXPECT_EQ(11, SendMessageW(theirs, WM_USER + 2, 5, 0));
  EXPECT_TRUE(received(WM_USER + 1));
  done = true;
  other.join();
  EXPECT_TRUE(UnregisterClassW(u"Echo", nullptr));
}

TEST_F(WindowSystem, ASendToAWindowOfAnEndedThreadFailsInsteadOfHanging) {
  HWND theirs = nullptr;
  std::thread([&] { theirs = make(0, 0, 0, 1, 1); }).join();
  EXPECT_FALSE(IsWindow(theirs));
  EXPECT_EQ(0, SendMessageW(theirs, WM_USER + 1, 1, 0));
}

TEST_F(WindowSystem, WaitingWakesForPostsObjectsAndTimeouts) {
  HWND w = make(0, 0, 0, 10, 10);
  pump();
  VorkControl_SetClockScale(50);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), MsgWaitForMultipleObjectsEx(0, nullptr, 500, QS_ALLINPUT, 0));
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread setter([&] { SetEvent(event); });
  EXPECT_EQ(WAIT_OBJECT_0, MsgWaitForMultipleObjectsEx(1, &event, 100000, QS_ALLINPUT, 0));
  setter.join();
  std::thread poster([&] { PostMessageW(w, WM_USER + 3, 0, 0); });
  EXPECT_EQ(WAIT_OBJECT_0 + 1, MsgWaitForMultipleObjectsEx(1, &event, 100000, QS_POSTMESSAGE, 0));
  poster.join();
  // Without MWMO_INPUTAVAILABLE only news counts: the message was seen by the last wait's peek.
  MSG m;
  PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_POSTMESSAGE, 0));
  EXPECT_EQ(WAIT_OBJECT_0, MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_POSTMESSAGE, MWMO_INPUTAVAILABLE));
  CloseHandle(event);
  VorkControl_SetClockScale(1);
}

TEST_F(WindowSystem, TimersFireByTheDeviceClockUntilKilled) {
  VorkControl_SetClockScale(100);
  HWND w = make(0, 0, 0, 10, 10);
  pump();
  ASSERT_NE(0u, SetTimer(w, 7, 1000, nullptr));
  DWORD start = GetTickCount();
  MSG m;
  ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_TIMER, m.message);
  EXPECT_EQ(7u, m.wParam);
  EXPECT_GE(GetTickCount() - start, 1000u);
  static int calls;
  calls = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++calls; });
  while (calls == 0 && GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  EXPECT_TRUE(KillTimer(nullptr, id));
  EXPECT_TRUE(KillTimer(w, 7));
  EXPECT_FALSE(KillTimer(w, 7));
  VorkControl_SetClockScale(1);
}

TEST_F(WindowSystem, KeysBecomeCharactersWithShiftCapsAndDeadKeys) {
  HWND w = make(WS_VISIBLE, 0, 30, 100, 100);
  SetFocus(w);
  pump();
  struct Case {
    std::vector<BYTE> taps;
    std::u16string expected;
  } cases[] = {
      {{'A', 'B', VK_SPACE, '1'}, u"ab 1"},
      {{VK_OEM_7, 'E'}, u"\u00E9"},           // ' then e: é
      {{VK_OEM_3, 'A'}, u"\u00E0"},           // ` then a: à
      {{VK_OEM_7, VK_SPACE}, u"'"},           // the dead key itself
      {{VK_OEM_7, 'X'}, u"'x"},               // no composition: both
      {{VK_RETURN, VK_BACK, VK_OEM_2}, u"\r\b/"},
  };
  for (const Case& c : cases) {
    for (BYTE vk : c.taps) tap(vk);
    EXPECT_EQ(c.expected, typed(pump()));
  }
  key(VK_SHIFT);
  tap('Q');
  tap(VK_OEM_7);  // shifted: the dead diaeresis
  tap('U');
  key(VK_SHIFT, true);
  EXPECT_EQ(u"Q\u00DC", typed(pump()));
  tap(VK_CAPITAL);
  tap('Z');
  tap(VK_CAPITAL);
  EXPECT_EQ(u"Z", typed(pump()));
  key(VK_CONTROL);
  tap('C');
  key(VK_CONTROL, true);
  EXPECT_EQ(u"\x03", typed(pump()));
  EXPECT_TRUE(received(WM_DEADCHAR));
  key(VK_LSHIFT);  // the left Shift key is reported as Shift
  tap('R');
  key(VK_LSHIFT, true);
  auto taken = pump();
  EXPECT_EQ(u"R", typed(taken));
  EXPECT_EQ(static_cast<WPARAM>(VK_SHIFT), taken.front().wParam);
  EXPECT_FALSE(GetKeyState(VK_SHIFT) < 0);
}

TEST_F(WindowSystem, KeyMessagesCarryTheKeyStateInLParam) {
  HWND w = make(WS_VISIBLE, 0, 30, 100, 100);
  SetFocus(w);
  pump();
  key('K');
  key('K');  // auto-repeat
  key('K', true);
  key(VK_MENU);
  tap('F');
  key(VK_MENU, true);
  std::vector<MSG> keys;
  for (const MSG& m : pump(false)) {
    if (m.message >= WM_KEYFIRST && m.message <= WM_KEYLAST) keys.push_back(m);
  }
  ASSERT_EQ(7u, keys.size());
  EXPECT_EQ(WM_KEYDOWN, keys[0].message);
  EXPECT_EQ(0, keys[0].lParam & (1L << 30));
  EXPECT_NE(0, keys[1].lParam & (1L << 30));  // was down before
  EXPECT_EQ(WM_KEYUP, keys[2].message);
  EXPECT_NE(0, keys[2].lParam & (1L << 31));
  EXPECT_EQ(WM_SYSKEYDOWN, keys[4].message);  // F with Alt held
  EXPECT_EQ(static_cast<WPARAM>('F'), keys[4].wParam);
  EXPECT_NE(0, keys[4].lParam & (1L << 29));
  EXPECT_EQ(w, keys[0].hwnd);
}

TEST_F(WindowSystem, PointerInputIsHitTestedAndMakesDoubleClicks) {
  HWND top = make(WS_VISIBLE, 0, 40, 240, 200);
  HWND child = make(WS_CHILD | WS_VISIBLE, 20, 20, 50, 50, top);
  HWND off = make(WS_CHILD | WS_VISIBLE | WS_DISABLED, 100, 20, 50, 50, top);
  (void)off;
  pump();
  VorkControl_SetClockScale(1);
  pointer(MOUSEEVENTF_MOVE, 30, 70);
  pointer(MOUSEEVENTF_LEFTDOWN);
  pointer(MOUSEEVENTF_LEFTUP);
  pointer(MOUSEEVENTF_LEFTDOWN);
  pointer(MOUSEEVENTF_LEFTUP);
  pointer(MOUSEEVENTF_MOVE, 120, 70);  // over the disabled child: its parent gets it
  pointer(MOUSEEVENTF_RIGHTDOWN);
  std::vector<MSG> mouse;
  for (const MSG& m : pump()) {
    if (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) mouse.push_back(m);
  }
  ASSERT_EQ(7u, mouse.size());
  EXPECT_EQ(child, mouse[0].hwnd);
  EXPECT_EQ(MAKELPARAM(10, 10), mouse[0].lParam);
  EXPECT_EQ(WM_LBUTTONDOWN, mouse[1].message);
  EXPECT_EQ(static_cast<WPARAM>(MK_LBUTTON), mouse[1].wParam);
  EXPECT_EQ(WM_LBUTTONDBLCLK, mouse[3].message);
  EXPECT_EQ(top, mouse[5].hwnd);
  EXPECT_EQ(MAKELPARAM(120, 30), mouse[5].lParam);
  EXPECT_EQ(WM_RBUTTONDOWN, mouse[6].message);
  pointer(MOUSEEVENTF_RIGHTUP);

  // Far apart, or too late, two presses are two presses.
  pointer(MOUSEEVENTF_MOVE, 30, 70);
  pointer(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
  pointer(MOUSEEVENTF_MOVE, 60, 100);
  pointer(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
  VorkControl_SetClockScale(100);
  Sleep(GetDoubleClickTime() + 100);
  pointer(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
  VorkControl_SetClockScale(1);
  int doubles = 0, singles = 0;
  for (const MSG& m : pump()) {
    doubles += m.message == WM_LBUTTONDBLCLK;
    singles += m.message == WM_LBUTTONDOWN;
  }
  EXPECT_EQ(0, doubles);
  EXPECT_EQ(3, singles);

  // Normalised coordinates: 65535 is the last pixel.
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi = MOUSEINPUT{65535, 0, 0, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0, 0};
  SendInput(1, &input, sizeof input);
  POINT p;
  GetCursorPos(&p);
  EXPECT_EQ(239, p.x);
  EXPECT_EQ(0u, SendInput(1, &input, sizeof input - 1));
  pump();
}

TEST_F(WindowSystem, CaptureTakesThePointerAnywhere) {
  HWND top = make(WS_VISIBLE, 0, 40, 240, 200);
  HWND child = make(WS_CHILD | WS_VISIBLE, 20, 20, 50, 50, top);
  pump();
  SetCapture(child);
  pointer(MOUSEEVENTF_MOVE, 200, 200);
  auto taken = pump();
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(child, taken.back().hwnd);
  EXPECT_EQ(MAKELPARAM(200 - 20, 200 - 60), taken.back().lParam);
  ReleaseCapture();
  EXPECT_EQ(nullptr, GetCapture());
}

TEST_F(WindowSystem, AcceleratorsMatchKeysWithExactModifiers) {
  HWND w = make(WS_VISIBLE, 0, 30, 100, 100);
  SetFocus(w);
  pump();
  ACCEL entries[] = {{FVIRTKEY | FCONTROL, 'O', 101}, {FVIRTKEY | FCONTROL | FSHIFT, 'O', 102}};
  HACCEL table = CreateAcceleratorTableW(entries, 2);
  ASSERT_NE(nullptr, table);
  auto run = [&](std::vector<BYTE> held) {
    for (BYTE k : held) key(k);
    key('O');
    key('O', true);
    for (BYTE k : held) key(k, true);
    std::vector<WPARAM> commands;
    MSG m;
    seen.clear();
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (!TranslateAcceleratorW(w, table, &m)) DispatchMessageW(&m);
    }
    for (const MSG& r : seen) {
      if (r.message == WM_COMMAND) commands.push_back(r.wParam);
    }
    return commands;
  };
  EXPECT_EQ(std::vector<WPARAM>{MAKEWPARAM(101, 1)}, run({VK_CONTROL}));
  EXPECT_EQ(std::vector<WPARAM>{MAKEWPARAM(102, 1)}, run({VK_CONTROL, VK_SHIFT}));
  EXPECT_TRUE(run({}).empty());
  EXPECT_TRUE(DestroyAcceleratorTable(table));
  EXPECT_FALSE(DestroyAcceleratorTable(table));
}

TEST_F(WindowSystem, FocusMovesWithNoticesAndLeavesDisabledWindows) {
  HWND top = make(WS_VISIBLE, 0, 30, 100, 100);
  HWND a = make(WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, top);
  HWND b = make(WS_CHILD | WS_VISIBLE, 20, 0, 10, 10, top);
  SetFocus(a);
  seen.clear();
  EXPECT_EQ(a, SetFocus(b));
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(WM_KILLFOCUS, seen[0].message);
  EXPECT_EQ(a, seen[0].hwnd);
  EXPECT_EQ(WM_SETFOCUS, seen[1].message);
  EXPECT_EQ(b, GetFocus());
  EXPECT_EQ(top, GetActiveWindow());
  EXPECT_FALSE(EnableWindow(b, FALSE));
  EXPECT_EQ(nullptr, GetFocus());
  EXPECT_FALSE(IsWindowEnabled(b));
  EXPECT_EQ(nullptr, SetFocus(b));  // a disabled window takes no focus
  EXPECT_TRUE(EnableWindow(b, TRUE));
  HWND other = make(WS_VISIBLE, 0, 30, 50, 50);
  EXPECT_EQ(other, GetActiveWindow());
  ShowWindow(other, SW_HIDE);  // the window under it takes over
  EXPECT_EQ(top, GetActiveWindow());
  EXPECT_EQ(top, GetForegroundWindow());
  std::thread([&] { EXPECT_EQ(nullptr, SetFocus(a)); }).join();  // not that thread's window
}

TEST_F(WindowSystem, PaintingComesLastAndDrawsIntoTheFramebuffer) {
  HWND w = make(WS_VISIBLE, 10, 40, 50, 30);
  auto taken = pump();
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(WM_PAINT, taken.back().message);
  EXPECT_TRUE(received(WM_ERASEBKGND));
  EXPECT_EQ(0xFFFFFF, VorkControl_ScreenPixel(10, 40));  // the class brush
  EXPECT_NE(0xFFFFFF, VorkControl_ScreenPixel(9, 40));   // the desktop beside it
  HDC dc = GetDC(w);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  RECT inside{0, 0, 5, 5}, outside{45, 25, 200, 200};
  FillRect(dc, &inside, red);
  FillRect(dc, &outside, red);  // clipped to the client area
  EXPECT_EQ(RGB(255, 0, 0), GetPixel(dc, 1, 1));
  SetPixel(dc, 2, 2, RGB(0x13, 0x57, 0x9B));
  EXPECT_EQ(RGB(0x10, 0x55, 0x9C), GetPixel(dc, 2, 2));  // stored at 16 bits per pixel
  ReleaseDC(w, dc);
  EXPECT_TRUE(DeleteObject(red));
  EXPECT_EQ(0xFF0000, VorkControl_ScreenPixel(10, 40));
  EXPECT_EQ(0xFF0000, VorkControl_ScreenPixel(59, 69));
  EXPECT_NE(0xFF0000, VorkControl_ScreenPixel(60, 70));

  std::string path = std::string(VorkControl_DeviceRoot()) + "/screen.png";
  ASSERT_EQ(1, VorkControl_SaveScreenPng(path.c_str()));
  FILE* png = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, png);
  unsigned char head[24];
  ASSERT_EQ(24u, std::fread(head, 1, 24, png));
  std::fclose(png);
  EXPECT_EQ(0, std::memcmp(head, "\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(240, head[18] << 8 | head[19]);  // width in the header
  EXPECT_EQ(320, head[22] << 8 | head[23]);
  EXPECT_EQ(0, VorkControl_SaveScreenPng("/nonexistent/dir/x.png"));
}

TEST_F(WindowSystem, UpdateAreasGrowShrinkAndPaintOnDemand) {
  HWND top = make(WS_VISIBLE, 0, 40, 200, 200);
  HWND kid = make(WS_CHILD | WS_VISIBLE, 10, 10, 20, 20, top);
  pump();
  RECT r;
  EXPECT_FALSE(GetUpdateRect(top, &r, FALSE));
  RECT a{0, 0, 5, 5}, b{15, 15, 70, 80};
  InvalidateRect(top, &a, FALSE);
  InvalidateRect(top, &b, FALSE);
  ASSERT_TRUE(GetUpdateRect(top, &r, FALSE));
  EXPECT_EQ(0, r.left);
  EXPECT_EQ(0, r.top);
  EXPECT_EQ(70, r.right);  // one rectangle around both
  EXPECT_EQ(80, r.bottom);
  EXPECT_TRUE(GetUpdateRect(kid, &r, FALSE));  // the parent does not clip its children
  RECT part{0, 0, 10, 10};
  ValidateRect(top, &part);  // leaves the rest
  EXPECT_TRUE(GetUpdateRect(top, nullptr, FALSE));
  seen.clear();
  UpdateWindow(top);  // paints at once, without the queue
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(WM_PAINT, seen.front().message);
  EXPECT_FALSE(GetUpdateRect(top, nullptr, FALSE));
  ValidateRect(kid, nullptr);
  MSG m;
  EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
  ShowWindow(kid, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(kid));
  EXPECT_TRUE(GetUpdateRect(top, &r, FALSE));  // where the child was
  EXPECT_EQ(10, r.left);
  EXPECT_EQ(-1, GetMessageW(&m, reinterpret_cast<HWND>(0x4444), 0, 0));
  EXPECT_EQ(nullptr, SetParent(top, kid));  // no window becomes its own ancestor
}

TEST_F(WindowSystem, TheSystemDrawsFramesAndCaptions) {
  HWND w = CreateWindowExW(0, u"Recorder", u"Meter", WS_VISIBLE | WS_CAPTION | WS_VSCROLL, 20, 40, 150, 120,
                           nullptr, nullptr, nullptr, nullptr);
  created.push_back(w);
  pump();
  auto rgb = [](int colour) {  // as a 16-bit screen stores it
    DWORD c = GetSysColor(colour);
    int r = GetRValue(c) >> 3, g = GetGValue(c) >> 2, b = GetBValue(c) >> 3;
    return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
  };
  EXPECT_EQ(rgb(COLOR_WINDOWFRAME), VorkControl_ScreenPixel(20, 40));
  EXPECT_EQ(rgb(COLOR_ACTIVECAPTION), VorkControl_ScreenPixel(160, 42));
  int captionText = 0;
  for (int x = 21; x < 80; ++x) {
    for (int y = 41; y < 41 + GetSystemMetrics(SM_CYCAPTION); ++y) captionText += VorkControl_ScreenPixel(x, y) == rgb(COLOR_CAPTIONTEXT);
  }
  EXPECT_GT(captionText, 10);  // the title
  EXPECT_EQ(rgb(COLOR_SCROLLBAR), VorkControl_ScreenPixel(165, 100));
  EXPECT_EQ(0xFFFFFF, VorkControl_ScreenPixel(100, 100));  // the client area, erased
}

TEST_F(WindowSystem, DrawingIsClippedBySiblingsAboveChildrenAndOtherWindows) {
  HWND top = make(WS_VISIBLE | WS_CLIPCHILDREN, 0, 40, 200, 200);
  HWND lower = make(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 10, 10, 50, 50, top);
  HWND upper = make(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 40, 40, 50, 50, top);
  pump();
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  RECT all{0, 0, 200, 200};
  HDC dc = GetDC(upper);
  FillRect(dc, &all, green);
  ReleaseDC(upper, dc);
  dc = GetDC(lower);
  FillRect(dc, &all, blue);
  ReleaseDC(lower, dc);
  EXPECT_EQ(0x0000FF, VorkControl_ScreenPixel(15, 55));   // the lower child
  EXPECT_EQ(0x00FF00, VorkControl_ScreenPixel(45, 85));   // the upper child covers the overlap
  dc = GetDC(top);
  FillRect(dc, &all, blue);
  ReleaseDC(top, dc);
  EXPECT_EQ(0x00FF00, VorkControl_ScreenPixel(80, 120));  // the parent clips its children
  EXPECT_EQ(0x0000FF, VorkControl_ScreenPixel(150, 150));

  HWND cover = make(WS_VISIBLE, 100, 100, 100, 100);
  pump();
  dc = GetDC(top);
  FillRect(dc, &all, green);
  ReleaseDC(top, dc);
  EXPECT_EQ(0xFFFFFF, VorkControl_ScreenPixel(150, 150));  // the window on top keeps its pixels
  int desktop = VorkControl_ScreenPixel(230, 300);
  DestroyWindow(cover);
  EXPECT_EQ(desktop, VorkControl_ScreenPixel(199, 250));   // the desktop shows where it was
  pump();                                                  // and the window under it repaints
  EXPECT_EQ(0xFFFFFF, VorkControl_ScreenPixel(150, 150));
  DeleteObject(blue);
  DeleteObject(green);
}

LOGFONTW logical(const char16_t* face, LONG height, LONG weight = FW_NORMAL, BYTE family = 0) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfPitchAndFamily = family;
  lf.lfCharSet = DEFAULT_CHARSET;
  for (int i = 0; face && face[i]; ++i) lf.lfFaceName[i] = face[i];
  return lf;
}

struct Measured {
  TEXTMETRICW metrics;
  std::u16string face;
  LONG wide, narrow;
};

Measured measure(const LOGFONTW& lf) {
  Measured out{};
  HFONT font = CreateFontIndirectW(&lf);
  EXPECT_NE(nullptr, font);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  GetTextMetricsW(dc, &out.metrics);
  WCHAR face[LF_FACESIZE];
  EXPECT_EQ(GetTextFaceW(dc, 0, nullptr), GetTextFaceW(dc, LF_FACESIZE, face) + 1);
  out.face = face;
  SIZE s;
  GetTextExtentPoint32W(dc, u"WWWW", 4, &s);
  out.wide = s.cx;
  GetTextExtentPoint32W(dc, u"iiii", 4, &s);
  out.narrow = s.cx;
  EXPECT_EQ(out.metrics.tmHeight, s.cy);
  EXPECT_FALSE(DeleteObject(font));  // still selected
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  EXPECT_TRUE(DeleteObject(font));
  return out;
}

TEST_F(WindowSystem, FontsHaveRealMetricsFromTheirFaces) {
  Measured tahoma = measure(logical(u"Tahoma", 13));
  EXPECT_EQ(13, tahoma.metrics.tmHeight);
  EXPECT_EQ(tahoma.metrics.tmHeight, tahoma.metrics.tmAscent + tahoma.metrics.tmDescent);
  EXPECT_GT(tahoma.metrics.tmAscent, tahoma.metrics.tmDescent);
  EXPECT_GT(tahoma.wide, 2 * tahoma.narrow);  // proportional
  EXPECT_EQ(u"Tahoma", tahoma.face);
  EXPECT_EQ(FF_SWISS, tahoma.metrics.tmPitchAndFamily & 0xF0);
  EXPECT_EQ(FW_NORMAL, tahoma.metrics.tmWeight);

  Measured mono = measure(logical(nullptr, 13, FW_NORMAL, FF_MODERN));
  EXPECT_EQ(mono.wide, mono.narrow);  // fixed pitch
  EXPECT_EQ(u"Courier New", mono.face);
  EXPECT_EQ(0, mono.metrics.tmPitchAndFamily & TMPF_FIXED_PITCH);

  Measured serif = measure(logical(u"NoSuchFace", 13, FW_NORMAL, FF_ROMAN));
  EXPECT_EQ(u"Times New Roman", serif.face);

  Measured bold = measure(logical(u"Tahoma", 13, FW_BOLD));
  EXPECT_GT(bold.wide, tahoma.wide);  // the bold face is wider
  Measured semibold = measure(logical(u"Tahoma", 13, 600));
  EXPECT_EQ(600, semibold.metrics.tmWeight);

  Measured em = measure(logical(u"Tahoma", -11));
  EXPECT_EQ(13, em.metrics.tmHeight);  // an 11-pixel em makes a 13-pixel cell
  Measured big = measure(logical(u"Tahoma", 26));
  EXPECT_NEAR(2 * tahoma.wide, big.wide, 4);

  LOGFONTW impossible = logical(u"Tahoma", 100000);
  EXPECT_EQ(nullptr, CreateFontIndirectW(&impossible));
}

TEST_F(WindowSystem, TextIsDrawnWithTheFont) {
  HDC dc = GetDC(nullptr);
  RECT area{0, 100, 100, 120};
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  ExtTextOutW(dc, 2, 102, 0, nullptr, u"Hello", 5, nullptr);
  int dark = 0;
  for (int y = 100; y < 120; ++y) {
    for (int x = 0; x < 100; ++x) dark += (VorkControl_ScreenPixel(x, y) & 0xFF) < 0x80;
  }
  EXPECT_GT(dark, 20);
  RECT calc{0, 0, 0, 0};
  EXPECT_GT(DrawTextW(dc, u"two\nlines", -1, &calc, DT_CALCRECT), 0);
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  EXPECT_EQ(2 * tm.tmHeight, calc.bottom);
  ReleaseDC(nullptr, dc);
}

TEST_F(WindowSystem, ScreenSettingsReachDeviceCapsMetricsAndTheWorkArea) {
  ASSERT_EQ(1, VorkControl_SetScreen(480, 640, 16, 192));
  HDC dc = GetDC(nullptr);
  EXPECT_EQ(480, GetDeviceCaps(dc, HORZRES));
  EXPECT_EQ(640, GetDeviceCaps(dc, VERTRES));
  EXPECT_EQ(192, GetDeviceCaps(dc, LOGPIXELSY));
  EXPECT_EQ(16, GetDeviceCaps(dc, BITSPIXEL));
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(480, GetSystemMetrics(SM_CXSCREEN));
  RECT work;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(52, work.top);  // the task bar scales with the resolution
  EXPECT_EQ(640, work.bottom);
  UINT lines = 0;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0));
  EXPECT_EQ(3u, lines);
  VorkControl_SetWheelScrollLines(WHEEL_PAGESCROLL);
  SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  EXPECT_EQ(WHEEL_PAGESCROLL, lines);
  VorkControl_SetWheelScrollLines(3);
  EXPECT_EQ(0, VorkControl_SetScreen(0, 10, 16, 96));
  EXPECT_EQ(0, VorkControl_SetScreen(240, 320, 8, 96));
}

TEST_F(WindowSystem, SystemColoursAndMessageTexts) {
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOW | SYS_COLOR_INDEX_FLAG));
  EXPECT_EQ(RGB(255, 255, 255), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(0u, GetSysColor(27));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_NE(nullptr, GetSysColorBrush(COLOR_BTNFACE));

  LPWSTR text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(u"The system cannot find the file specified.\r\n", std::u16string(text));
  LocalFree(text);
  EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 99999, 0,
                               reinterpret_cast<LPWSTR>(&text), 0, nullptr));
  EXPECT_EQ(317u, GetLastError());
  WCHAR small[4];
  EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, 4, nullptr));

  MessageBeep(0);
  std::string log = std::string(VorkControl_DeviceRoot()) + "/sound.log";
  FILE* in = std::fopen(log.c_str(), "r");
  ASSERT_NE(nullptr, in);
  char line[32] = {};
  ASSERT_NE(nullptr, std::fgets(line, sizeof line, in));
  std::fclose(in);
  EXPECT_STREQ("beep 0\n", line);
}

TEST_F(WindowSystem, CommonControlsReportTheirVersion) {
  HMODULE library = LoadLibraryW(u"comctl32.dll");
  ASSERT_NE(nullptr, library);
  struct Version {
    DWORD size, major, minor, build, platform;
  } version{20, 0, 0, 0, 0};
  auto get = reinterpret_cast<HRESULT (*)(Version*)>(
      reinterpret_cast<void*>(GetProcAddressW(library, u"DllGetVersion")));
  ASSERT_NE(nullptr, get);
  EXPECT_EQ(0, get(&version));
  EXPECT_EQ(5u, version.major);
  version.size = 16;
  EXPECT_LT(get(&version), 0);
  FreeLibrary(library);
}

TEST_F(WindowSystem, OtherProcessesWindowsStillWorkBesideOwnOnes) {
  std::string folder = std::string(VorkControl_DeviceRoot()) + "/windows";
  std::system(("mkdir -p " + folder).c_str());
  FILE* declared = std::fopen((folder + "/Tray").c_str(), "w");
  ASSERT_NE(nullptr, declared);
  std::fputs("Tray Window\n", declared);
  std::fclose(declared);
  HWND tray = FindWindowW(u"Tray", nullptr);
  ASSERT_NE(nullptr, tray);
  EXPECT_TRUE(IsWindow(tray));
  EXPECT_EQ(0, SendMessageW(tray, WM_USER + 9, 1, 2));
  EXPECT_TRUE(PostMessageW(tray, WM_USER + 9, 3, 4));
  FILE* log = std::fopen((folder + "/Tray.messages").c_str(), "r");
  ASSERT_NE(nullptr, log);
  char line[64];
  ASSERT_NE(nullptr, std::fgets(line, sizeof line, log));
  std::fclose(log);
  EXPECT_STREQ("1033 1 2\n", line);
}

}  // namespace

// Injected input: keys go to the focus window of the foreground thread, pointer input to the
// capture window or the window under the pointer, with double clicks made by the system's
// double-click time and size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gwes_internal.h"
#include "vork/window_control.h"

using namespace vork;
using namespace gwes;

namespace gwes {
HWND windowAtPoint(POINT screen);
}

static const UINT doubleClickTime = 500;

UINT GetDoubleClickTime() { return doubleClickTime; }

static void deliver(HWND target, UINT message, WPARAM wParam, LPARAM lParam, DWORD bits) {
  Window* w = window(target);
  if (!w) return;
  Queue* q = queueFor(w->threadId);
  if (!q->alive) return;
  q->input.push_back(MSG{target, message, wParam, lParam, GetTickCount(), state().cursor});
  q->changed |= bits;
}

static void keyInput(const KEYBDINPUT& key) {
  auto& s = state();
  bool up = key.dwFlags & KEYEVENTF_KEYUP;
  WORD vk = key.wVk;
  WORD scan = key.wScan;
  if (key.dwFlags & KEYEVENTF_UNICODE) vk = 0xE7;
  vk &= 0xFF;
  bool wasDown = s.asyncKeys[vk] & 0x80;
  auto press = [&](int k) {
    if (up) {
      s.asyncKeys[k] &= static_cast<BYTE>(~0x80);
    } else {
      if (!(s.asyncKeys[k] & 0x80)) s.asyncKeys[k] ^= 0x01;
      s.asyncKeys[k] |= 0x80;
    }
  };
  press(vk);
  if (vk == VK_LSHIFT || vk == VK_RSHIFT) press(VK_SHIFT);
  if (vk == VK_LCONTROL || vk == VK_RCONTROL) press(VK_CONTROL);
  if (vk == VK_LMENU || vk == VK_RMENU) press(VK_MENU);
  bool alt = s.asyncKeys[VK_MENU] & 0x80;
  bool control = s.asyncKeys[VK_CONTROL] & 0x80;
  bool system = (alt && !control) || vk == VK_MENU || vk == VK_F1 + 9;
  UINT message = up ? (system ? WM_SYSKEYUP : WM_KEYUP) : (system ? WM_SYSKEYDOWN : WM_KEYDOWN);
  LPARAM lParam = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
  if (key.dwFlags & KEYEVENTF_UNICODE) lParam = 1 | (static_cast<LPARAM>(key.wScan) << 16);
  if (key.dwFlags & KEYEVENTF_EXTENDEDKEY) lParam |= 1L << 24;
  if (alt) lParam |= 1L << 29;
  if (wasDown) lParam |= 1L << 30;
  if (up) lParam |= 1L << 31;
  HWND target = nullptr;
  if (Window* top = s.foreground ? window(s.foreground) : nullptr) {
    Queue* q = queueFor(top->threadId);
    target = q->focus ? q->focus : (q->active ? q->active : s.foreground);
  }
  // Messages name the generic modifier keys, as the device's keyboard driver reports them.
  WPARAM reported = vk;
  if (vk == VK_LSHIFT || vk == VK_RSHIFT) reported = VK_SHIFT;
  if (vk == VK_LCONTROL || vk == VK_RCONTROL) reported = VK_CONTROL;
  if (vk == VK_LMENU || vk == VK_RMENU) reported = VK_MENU;
  if (target) deliver(target, message, reported, lParam, QS_KEY);
}

static WPARAM pointerKeys() {
  auto& s = state();
  WPARAM keys = 0;
  if (s.asyncKeys[VK_LBUTTON] & 0x80) keys |= MK_LBUTTON;
  if (s.asyncKeys[VK_RBUTTON] & 0x80) keys |= MK_RBUTTON;
  if (s.asyncKeys[VK_MBUTTON] & 0x80) keys |= MK_MBUTTON;
  if (s.asyncKeys[VK_SHIFT] & 0x80) keys |= MK_SHIFT;
  if (s.asyncKeys[VK_CONTROL] & 0x80) keys |= MK_CONTROL;
  return keys;
}

// Sends one pointer message to the window it belongs to, in that window's client coordinates.
static void pointerMessage(UINT message) {
  auto& s = state();
  HWND target = s.capture ? s.capture : windowAtPoint(s.cursor);
  if (!target) return;
  Window* w = window(target);
  if (!w || (!s.capture && (w->style & WS_DISABLED))) return;
  RECT client = clientScreenRect(w);
  POINT local{s.cursor.x - client.left, s.cursor.y - client.top};
  if (!s.capture && !PtInRect(&client, s.cursor)) return;  // the frame takes no pointer input
  bool down = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
  if (down) {
    DWORD now = GetTickCount();
    int cx = GetSystemMetrics(SM_CXDOUBLECLK), cy = GetSystemMetrics(SM_CYDOUBLECLK);
    bool twice = s.lastDownWindow == target && s.lastDownMessage == message &&
                 now - s.lastDownTime <= doubleClickTime && std::abs(s.cursor.x - s.lastDownPoint.x) <= cx / 2 &&
                 std::abs(s.cursor.y - s.lastDownPoint.y) <= cy / 2 && (w->cls->info.style & CS_DBLCLKS);
    if (twice) {
      message += 2;  // WM_xBUTTONDBLCLK
      s.lastDownWindow = nullptr;
    } else {
      s.lastDownWindow = target;
      s.lastDownMessage = message;
      s.lastDownTime = now;
      s.lastDownPoint = s.cursor;
    }
  }
  deliver(target, message, pointerKeys(), MAKELPARAM(local.x, local.y),
          message == WM_MOUSEMOVE ? QS_MOUSEMOVE : QS_MOUSEBUTTON);
}

static void mouseInput(const MOUSEINPUT& mouse) {
  auto& s = state();
  if (mouse.dwFlags & MOUSEEVENTF_MOVE) {
    int width = screenWidth(), height = screenHeight();
    LONG x, y;
    if (mouse.dwFlags & MOUSEEVENTF_ABSOLUTE) {
      x = static_cast<LONG>(static_cast<int64_t>(mouse.dx) * width / 65536);
      y = static_cast<LONG>(static_cast<int64_t>(mouse.dy) * height / 65536);
    } else {
      x = s.cursor.x + mouse.dx;
      y = s.cursor.y + mouse.dy;
    }
    s.cursor.x = std::max<LONG>(0, std::min<LONG>(width - 1, x));
    s.cursor.y = std::max<LONG>(0, std::min<LONG>(height - 1, y));
    pointerMessage(WM_MOUSEMOVE);
  }
  struct Button {
    DWORD flag;
    int vk;
    bool down;
    UINT message;
  };
  static const Button buttons[] = {
      {MOUSEEVENTF_LEFTDOWN, VK_LBUTTON, true, WM_LBUTTONDOWN},   {MOUSEEVENTF_LEFTUP, VK_LBUTTON, false, WM_LBUTTONUP},
      {MOUSEEVENTF_RIGHTDOWN, VK_RBUTTON, true, WM_RBUTTONDOWN},  {MOUSEEVENTF_RIGHTUP, VK_RBUTTON, false, WM_RBUTTONUP},
      {MOUSEEVENTF_MIDDLEDOWN, VK_MBUTTON, true, WM_MBUTTONDOWN}, {MOUSEEVENTF_MIDDLEUP, VK_MBUTTON, false, WM_MBUTTONUP},
  };
  for (const Button& b : buttons) {
    if (!(mouse.dwFlags & b.flag)) continue;
    if (b.down) {
      s.asyncKeys[b.vk] |= 0x80;
    } else {
      s.asyncKeys[b.vk] &= static_cast<BYTE>(~0x80);
    }
    pointerMessage(b.message);
  }
  if (mouse.dwFlags & MOUSEEVENTF_WHEEL) {
    if (Window* top = s.foreground ? window(s.foreground) : nullptr) {
      Queue* q = queueFor(top->threadId);
      HWND target = q->focus ? q->focus : s.foreground;
      deliver(target, WM_MOUSEWHEEL, MAKEWPARAM(pointerKeys(), mouse.mouseData), MAKELPARAM(s.cursor.x, s.cursor.y),
              QS_MOUSEBUTTON);
    }
  }
}

UINT SendInput(UINT count, LPINPUT inputs, int size) {
  if (!inputs || size != static_cast<int>(sizeof(INPUT))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT taken = 0;
  {
    auto lock = waitLock();
    for (UINT i = 0; i < count; ++i) {
      char line[128];
      const INPUT& input = inputs[i];
      if (input.type == INPUT_KEYBOARD) {
        std::snprintf(line, sizeof line, "key vk=0x%X scan=%u flags=0x%X", input.ki.wVk, input.ki.wScan,
                      input.ki.dwFlags);
        keyInput(input.ki);
      } else if (input.type == INPUT_MOUSE) {
        std::snprintf(line, sizeof line, "mouse dx=%d dy=%d data=%u flags=0x%X", input.mi.dx, input.mi.dy,
                      input.mi.mouseData, input.mi.dwFlags);
        mouseInput(input.mi);
      } else {
        break;
      }
      state().inputLog.push_back(line);
      ++taken;
    }
  }
  wakeWaiters();
  if (taken < count) SetLastError(ERROR_INVALID_PARAMETER);
  return taken;
}

void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki = KEYBDINPUT{vk, scan, flags, 0, extra};
  SendInput(1, &input, sizeof input);
}

void mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, ULONG_PTR extra) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi = MOUSEINPUT{static_cast<LONG>(dx), static_cast<LONG>(dy), data, flags, 0, extra};
  SendInput(1, &input, sizeof input);
}

SHORT GetAsyncKeyState(int vk) {
  auto lock = waitLock();
  BYTE k = state().asyncKeys[vk & 0xFF];
  return static_cast<SHORT>(((k & 0x80) ? 0x8000 : 0) | (k & 0x01));
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  auto lock = waitLock();
  *point = state().cursor;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  auto lock = waitLock();
  state().cursor = {std::max(0, std::min(screenWidth() - 1, x)), std::max(0, std::min(screenHeight() - 1, y))};
  return TRUE;
}

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  uintptr_t id = reinterpret_cast<uintptr_t>(name);
  if (instance || id < 32512 || id > 32650) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(id);  // system cursors are their own identifiers
}

HCURSOR SetCursor(HCURSOR cursor) {
  auto lock = waitLock();
  HCURSOR old = state().currentCursor;
  state().currentCursor = cursor;
  return old;
}

HCURSOR GetCursor() {
  auto lock = waitLock();
  return state().currentCursor;
}

extern "C" char* VorkControl_TakeInputLog() {
  std::string text;
  {
    auto lock = waitLock();
    for (const std::string& line : state().inputLog) text += line + "\n";
    state().inputLog.clear();
  }
  char* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

// Shared state of the window system: classes, windows, per-thread queues, the screen.
// Everything here is guarded by vork::waitLock(); window procedures are always called with
// the lock released.
#pragma once

#include <deque>
#include <map>
#include <unordered_map>
#include <mutex>
#include <string>
#include <vector>

#include "vork/core_internal.h"
#include "winuser.h"

namespace gwes {

struct Class {
  std::u16string name;
  WNDCLASSW info;  // lpszClassName points into `name`
  ATOM atom;
  bool system;
  int windows;
};

struct Window {
  HWND handle;
  Class* cls;
  std::u16string text;
  DWORD style;
  DWORD exStyle;
  HWND parent;  // for children
  HWND owner;   // for owned top-level windows
  std::vector<HWND> children;  // z-order, top first
  RECT rect;  // window rectangle in the parent's client coordinates (screen for top-level)
  WNDPROC proc;
  LONG_PTR userData;
  LONG_PTR id;
  HINSTANCE instance;
  DWORD threadId;
  std::vector<LONG_PTR> extra;
  bool updatePending;
  RECT update;  // client coordinates
  bool erase;
  bool destroying;
};

struct Send {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result;
  bool done;
};

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC procedure;
  DWORD due;
};

struct Queue {
  DWORD threadId;
  bool alive = true;
  std::deque<MSG> translated;  // characters made by TranslateMessage, taken first
  std::deque<MSG> posted;
  std::deque<MSG> input;
  std::deque<Send*> incoming;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
  DWORD changed = 0;  // wake bits added since the thread last looked
  HWND focus = nullptr;
  HWND active = nullptr;
  BYTE keys[256] = {};  // synchronous key state: 0x80 down, 0x01 toggled
  WCHAR deadChar = 0;   // pending dead key of TranslateMessage
  int inSend = 0;
  MSG last{};  // the message most recently taken
};

struct State {
  std::map<std::u16string, Class*> classes;  // key: upper-case name
  std::unordered_map<HWND, Window*> windows;
  std::vector<HWND> topLevel;  // z-order, top first
  std::map<DWORD, Queue*> queues;
  uintptr_t nextHandle = 0x10010;
  ATOM nextAtom = 0xC000;
  HWND foreground = nullptr;
  HWND capture = nullptr;
  BYTE asyncKeys[256] = {};
  POINT cursor{};
  // Double-click tracking of the pointer input.
  HWND lastDownWindow = nullptr;
  UINT lastDownMessage = 0;
  DWORD lastDownTime = 0;
  POINT lastDownPoint{};
  std::vector<std::string> inputLog;
  HCURSOR currentCursor = nullptr;
};

State& state();  // under vork::waitLock()
Window* window(HWND handle);  // under the lock; null when gone
Queue* queueFor(DWORD threadId);  // under the lock; made on first use
Queue* currentQueue();  // under the lock
std::u16string upper(const std::u16string& text);

// Geometry (under the lock).
RECT screenRect(Window* w);        // the window rectangle in screen coordinates
RECT clientInsets(Window* w);      // non-client strips: left, top, right, bottom
RECT clientScreenRect(Window* w);  // the client area in screen coordinates
bool reallyVisible(Window* w);     // it and all its ancestors are visible

void invalidateLocked(Window* w, const RECT* rect, bool erase, bool children);
// A screen area that a top-level window no longer covers: the desktop shows there again and
// the other top-level windows under it repaint it (under the lock).
void exposeLocked(const RECT& area, HWND except);
void paintDesktop(const RECT& area);  // gdi.cpp; takes only the GDI lock

// Screen and GDI side.
int screenWidth();
int screenHeight();
int screenDpi();
RECT workArea();
void screenChanged();

// Message texts (format.cpp).
const char* systemMessageText(DWORD number);

}  // namespace gwes

// Window classes and windows: creation and destruction, the z-order, styles and slots,
// geometry, visibility, enabling, focus, activation, capture, painting state and the default
// window procedure.
#include <algorithm>
#include <cstring>

#include "gwes_internal.h"
#include "vork/text.h"

using namespace vork;

namespace gwes {

State& state() {
  static State* s = new State;  // never destroyed: threads may outlive static destruction
  return *s;
}

Window* window(HWND handle) {
  auto& s = state();
  auto found = s.windows.find(handle);
  return found == s.windows.end() ? nullptr : found->second;
}

std::u16string upper(const std::u16string& text) {
  std::u16string out = text;
  for (auto& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return out;
}

static bool hasFrame(DWORD style, DWORD exStyle) {
  return (style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) || (exStyle & WS_EX_DLGMODALFRAME);
}

RECT clientInsets(Window* w) {
  RECT in{0, 0, 0, 0};
  int border = 0;
  if (hasFrame(w->style, w->exStyle)) border += 1;
  if (w->exStyle & WS_EX_CLIENTEDGE) border += 2;
  in.left = in.top = in.right = in.bottom = border;
  if ((w->style & WS_CAPTION) == WS_CAPTION) in.top += GetSystemMetrics(SM_CYCAPTION);
  if (w->style & WS_VSCROLL) in.right += GetSystemMetrics(SM_CXVSCROLL);
  if (w->style & WS_HSCROLL) in.bottom += GetSystemMetrics(SM_CYHSCROLL);
  return in;
}

RECT screenRect(Window* w) {
  RECT r = w->rect;
  if (w->parent) {
    if (Window* p = window(w->parent)) {
      RECT pc = clientScreenRect(p);
      OffsetRect(&r, pc.left, pc.top);
    }
  }
  return r;
}

RECT clientScreenRect(Window* w) {
  RECT r = screenRect(w);
  RECT in = clientInsets(w);
  r.left += in.left;
  r.top += in.top;
  r.right = std::max(r.left, r.right - in.right);
  r.bottom = std::max(r.top, r.bottom - in.bottom);
  return r;
}

bool reallyVisible(Window* w) {
  while (w) {
    if (!(w->style & WS_VISIBLE)) return false;
    w = w->parent ? window(w->parent) : nullptr;
  }
  return true;
}

void invalidateLocked(Window* w, const RECT* rect, bool erase, bool children) {
  RECT client = clientScreenRect(w);
  RECT area{0, 0, client.right - client.left, client.bottom - client.top};
  if (rect) IntersectRect(&area, &area, rect);
  if (!IsRectEmpty(&area)) {
    if (w->updatePending) {
      UnionRect(&w->update, &w->update, &area);
    } else {
      w->update = area;
      w->updatePending = true;
    }
    w->erase = w->erase || erase;
    if (Queue* q = queueFor(w->threadId)) q->changed |= QS_PAINT;
  }
  if (!children) return;
  for (HWND childHandle : w->children) {
    Window* child = window(childHandle);
    if (!child) continue;
    RECT childArea = area;
    OffsetRect(&childArea, client.left, client.top);
    RECT childClient = clientScreenRect(child);
    RECT overlap;
    if (!IntersectRect(&overlap, &childArea, &childClient)) continue;
    OffsetRect(&overlap, -childClient.left, -childClient.top);
    invalidateLocked(child, &overlap, erase, true);
  }
}

void exposeLocked(const RECT& area, HWND except) {
  if (IsRectEmpty(&area)) return;
  paintDesktop(area);
  for (HWND top : state().topLevel) {
    Window* w = window(top);
    if (!w || top == except || !(w->style & WS_VISIBLE)) continue;
    RECT client = clientScreenRect(w), overlap;
    if (!IntersectRect(&overlap, &client, &area)) continue;
    OffsetRect(&overlap, -client.left, -client.top);
    invalidateLocked(w, &overlap, true, true);
  }
}

static Class* findClass(const std::u16string& name) {
  auto& s = state();
  auto found = s.classes.find(upper(name));
  return found == s.classes.end() ? nullptr : found->second;
}

static std::vector<HWND>& siblingsOf(Window* w) {
  if (w->parent) {
    if (Window* p = window(w->parent)) return p->children;
  }
  return state().topLevel;
}

static void unlinkFromSiblings(Window* w) {
  auto& list = siblingsOf(w);
  list.erase(std::remove(list.begin(), list.end(), w->handle), list.end());
}

static void linkAfter(Window* w, HWND insertAfter) {
  auto& list = siblingsOf(w);
  list.erase(std::remove(list.begin(), list.end(), w->handle), list.end());
  if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST) {
    list.insert(list.begin(), w->handle);
  } else if (insertAfter == HWND_BOTTOM) {
    list.push_back(w->handle);
  } else {
    auto at = std::find(list.begin(), list.end(), insertAfter);
    list.insert(at == list.end() ? list.begin() : at + 1, w->handle);
  }
}

}  // namespace gwes

using namespace gwes;

// ---- Classes ------------------------------------------------------------------------------------

static LRESULT staticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

static void registerSystemClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  const char16_t* names[] = {u"STATIC", u"BUTTON", u"EDIT", u"LISTBOX", u"COMBOBOX", u"SCROLLBAR", u"Dialog"};
  for (const char16_t* name : names) {
    auto* c = new Class{};
    c->name = name;
    c->info.style = CS_DBLCLKS | CS_PARENTDC | CS_GLOBALCLASS;
    c->info.lpfnWndProc = std::u16string(name) == u"STATIC" ? staticProc : DefWindowProcW;
    c->info.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    c->info.hbrBackground = std::u16string(name) == u"Dialog" ? GetSysColorBrush(COLOR_BTNFACE) : nullptr;
    c->info.lpszClassName = c->name.c_str();
    c->atom = state().nextAtom++;
    c->system = true;
    state().classes[upper(name)] = c;
  }
}

ATOM RegisterClassW(const WNDCLASSW* info) {
  if (!info || !info->lpszClassName || !*info->lpszClassName || !info->lpfnWndProc ||
      info->cbWndExtra < 0 || info->cbClsExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto lock = waitLock();
  registerSystemClasses();
  std::u16string name = info->lpszClassName;
  if (findClass(name)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto* c = new Class{};
  c->name = name;
  c->info = *info;
  c->info.lpszClassName = c->name.c_str();
  c->info.lpszMenuName = nullptr;
  c->atom = state().nextAtom++;
  state().classes[upper(name)] = c;
  return c->atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance) {
  if (!className) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto lock = waitLock();
  Class* c = findClass(className);
  if (!c || c->system || (instance && c->info.hInstance != instance)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (c->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  state().classes.erase(upper(c->name));
  delete c;
  return TRUE;
}

BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR className, LPWNDCLASSW info) {
  if (!className || !info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto lock = waitLock();
  registerSystemClasses();
  Class* c = findClass(className);
  if (!c || (!c->system && instance && c->info.hInstance != instance)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *info = c->info;
  return TRUE;
}

int GetClassNameW(HWND handle, LPWSTR name, int size) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w || !name || size <= 0) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  int n = std::min<int>(size - 1, static_cast<int>(w->cls->name.size()));
  std::memcpy(name, w->cls->name.data(), n * sizeof(WCHAR));
  name[n] = 0;
  return n;
}

// ---- Creation and destruction -------------------------------------------------------------------

static void sendSizeAndMove(HWND handle) {
  RECT client{}, screen{};
  POINT origin{};
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) return;
    client = clientScreenRect(w);
    screen = client;
    if (w->parent) {
      if (Window* p = window(w->parent)) {
        RECT pc = clientScreenRect(p);
        origin = {screen.left - pc.left, screen.top - pc.top};
      }
    } else {
      origin = {screen.left, screen.top};
    }
  }
  SendMessageW(handle, WM_SIZE, 0, MAKELPARAM(client.right - client.left, client.bottom - client.top));
  SendMessageW(handle, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  HWND handle;
  {
    auto lock = waitLock();
    registerSystemClasses();
    Class* c = className ? findClass(className) : nullptr;
    if (!c) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    Window* p = parent ? window(parent) : nullptr;
    if (parent && !p) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if ((style & WS_CHILD) && !p) {
      SetLastError(ERROR_INVALID_PARAMETER);  // a child needs a parent
      return nullptr;
    }
    auto* w = new Window{};
    auto& s = state();
    handle = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 4;
    w->handle = handle;
    w->cls = c;
    w->text = windowName ? windowName : u"";
    w->style = style;
    w->exStyle = exStyle;
    w->proc = c->info.lpfnWndProc;
    w->instance = instance;
    w->threadId = GetCurrentThreadId();
    w->extra.assign((c->info.cbWndExtra + sizeof(LONG_PTR) - 1) / sizeof(LONG_PTR), 0);
    if (style & WS_CHILD) {
      w->parent = parent;
      w->id = reinterpret_cast<LONG_PTR>(menu);
    } else {
      w->owner = parent;
    }
    RECT work = workArea();
    if (x == CW_USEDEFAULT) x = (style & WS_CHILD) ? 0 : work.left;
    if (y == CW_USEDEFAULT) y = (style & WS_CHILD) ? 0 : work.top;
    if (width == CW_USEDEFAULT) width = (style & WS_CHILD) ? 0 : work.right - work.left;
    if (height == CW_USEDEFAULT) height = (style & WS_CHILD) ? 0 : work.bottom - work.top;
    w->rect = {x, y, x + std::max(0, width), y + std::max(0, height)};
    s.windows[handle] = w;
    ++c->windows;
    linkAfter(w, HWND_TOP);
    currentQueue();  // the thread owns a queue from now on, and it goes with the thread
  }
  CREATESTRUCTW create{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                       windowName, className, exStyle};
  if (SendMessageW(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(handle);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  sendSizeAndMove(handle);
  bool activate = false;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) {
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
    if (w->style & WS_VISIBLE) {
      invalidateLocked(w, nullptr, true, true);
      activate = !(w->style & WS_CHILD) && !(w->exStyle & WS_EX_NOACTIVATE);
    }
  }
  if (activate) SetActiveWindow(handle);
  return handle;
}

static void collectForDestroy(HWND handle, std::vector<HWND>& order) {
  Window* w = window(handle);
  if (!w || w->destroying) return;
  w->destroying = true;
  order.push_back(handle);
  // Owned top-level windows go with their owner.
  for (auto& entry : state().windows) {
    if (entry.second->owner == handle) collectForDestroy(entry.first, order);
  }
  for (HWND child : std::vector<HWND>(w->children)) collectForDestroy(child, order);
}

BOOL DestroyWindow(HWND handle) {
  std::vector<HWND> order;
  HWND parentToRepaint = nullptr;
  RECT vacated{0, 0, 0, 0};
  bool dropFocus = false, dropActive = false;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (w->threadId != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->destroying) return TRUE;
    collectForDestroy(handle, order);
    Queue* q = currentQueue();
    for (HWND h : order) {
      if (q->focus == h) dropFocus = true;
      if (q->active == h) dropActive = true;
    }
    if ((w->style & WS_VISIBLE) && w->parent) parentToRepaint = w->parent;
    if ((w->style & WS_VISIBLE) && !w->parent) vacated = screenRect(w);
  }
  if (dropFocus) SetFocus(nullptr);
  if (dropActive) {
    auto lock = waitLock();
    Queue* q = currentQueue();
    q->active = nullptr;
    if (state().foreground && std::find(order.begin(), order.end(), state().foreground) != order.end())
      state().foreground = nullptr;
  }
  {
    auto lock = waitLock();
    if (state().capture && std::find(order.begin(), order.end(), state().capture) != order.end())
      state().capture = nullptr;
  }
  for (HWND h : order) SendMessageW(h, WM_DESTROY, 0, 0);
  {
    auto lock = waitLock();
    auto& s = state();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      Window* w = window(*it);
      if (!w) continue;
      unlinkFromSiblings(w);
      --w->cls->windows;
      s.windows.erase(*it);
      for (auto& entry : s.queues) {
        Queue* q = entry.second;
        auto gone = [&](const MSG& m) { return m.hwnd == *it; };
        q->posted.erase(std::remove_if(q->posted.begin(), q->posted.end(), gone), q->posted.end());
        q->input.erase(std::remove_if(q->input.begin(), q->input.end(), gone), q->input.end());
        q->translated.erase(std::remove_if(q->translated.begin(), q->translated.end(), gone),
                            q->translated.end());
        q->timers.erase(std::remove_if(q->timers.begin(), q->timers.end(),
                                       [&](const Timer& t) { return t.window == *it; }),
                        q->timers.end());
        if (q->focus == *it) q->focus = nullptr;
        if (q->active == *it) q->active = nullptr;
      }
      if (s.lastDownWindow == *it) s.lastDownWindow = nullptr;
      delete w;
    }
    if (parentToRepaint) {
      if (Window* p = window(parentToRepaint)) invalidateLocked(p, nullptr, true, false);
    }
    exposeLocked(vacated, nullptr);
  }
  wakeWaiters();
  return TRUE;
}

BOOL IsWindow(HWND handle);  // windows.cpp: also knows other processes' windows

bool gwesIsLocalWindow(HWND handle) {
  auto lock = waitLock();
  return window(handle) != nullptr;
}

HWND gwesFindWindow(LPCWSTR className, LPCWSTR windowName) {
  auto lock = waitLock();
  std::u16string name = upper(className);
  for (HWND top : state().topLevel) {
    Window* w = window(top);
    if (!w || upper(w->cls->name) != name) continue;
    if (windowName && w->text != windowName) continue;
    return top;
  }
  return nullptr;
}

BOOL IsChild(HWND parent, HWND handle) {
  auto lock = waitLock();
  Window* w = window(handle);
  while (w && w->parent) {
    if (w->parent == parent) return TRUE;
    w = window(w->parent);
  }
  return FALSE;
}

HWND GetParent(HWND handle) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return w->parent ? w->parent : w->owner;
}

HWND SetParent(HWND handle, HWND parent) {
  auto lock = waitLock();
  Window* w = window(handle);
  Window* p = parent ? window(parent) : nullptr;
  if (!w || (parent && !p)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (Window* a = p; a; a = a->parent ? window(a->parent) : nullptr) {
    if (a == w) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  HWND old = w->parent;
  unlinkFromSiblings(w);
  w->parent = parent;
  if (parent) w->style |= WS_CHILD;
  linkAfter(w, HWND_TOP);
  return old;
}

HWND GetWindow(HWND handle, UINT command) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (command == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
  if (command == GW_OWNER) return w->owner;
  auto& list = siblingsOf(w);
  auto at = std::find(list.begin(), list.end(), handle);
  switch (command) {
    case GW_HWNDFIRST: return list.front();
    case GW_HWNDLAST: return list.back();
    case GW_HWNDNEXT: return at + 1 < list.end() ? *(at + 1) : nullptr;
    case GW_HWNDPREV: return at != list.begin() ? *(at - 1) : nullptr;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD processId) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w) return 0;
  if (processId) *processId = GetCurrentProcessId();
  return w->threadId;
}

// ---- Slots ------------------------------------------------------------------------------------

LONG_PTR GetWindowLongPtrW(HWND handle, int index) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT: return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWL_USERDATA: return w->userData;
    case GWL_ID: return w->id;
  }
  if (index >= 0 && index % sizeof(LONG_PTR) == 0 && static_cast<size_t>(index) / sizeof(LONG_PTR) < w->extra.size())
    return w->extra[index / sizeof(LONG_PTR)];
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

LONG_PTR SetWindowLongPtrW(HWND handle, int index, LONG_PTR value) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old;
  switch (index) {
    case GWL_WNDPROC:
      if (!value) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      break;
    case GWL_STYLE:
      old = static_cast<LONG>(w->style);
      w->style = static_cast<DWORD>(value);
      break;
    case GWL_EXSTYLE:
      old = static_cast<LONG>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      break;
    case GWL_USERDATA:
      old = w->userData;
      w->userData = value;
      break;
    case GWL_ID:
      old = w->id;
      w->id = value;
      break;
    default:
      if (index >= 0 && index % sizeof(LONG_PTR) == 0 &&
          static_cast<size_t>(index) / sizeof(LONG_PTR) < w->extra.size()) {
        old = w->extra[index / sizeof(LONG_PTR)];
        w->extra[index / sizeof(LONG_PTR)] = value;
        break;
      }
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return old;
}

LONG GetWindowLongW(HWND handle, int index) { return static_cast<LONG>(GetWindowLongPtrW(handle, index)); }
LONG SetWindowLongW(HWND handle, int index, LONG value) {
  return static_cast<LONG>(SetWindowLongPtrW(handle, index, value));
}

LRESULT CallWindowProcW(WNDPROC procedure, HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!procedure) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return procedure(handle, message, wParam, lParam);
}

// ---- Text -------------------------------------------------------------------------------------

BOOL SetWindowTextW(HWND handle, LPCWSTR text) {
  return SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) != 0;
}
int GetWindowTextW(HWND handle, LPWSTR text, int size) {
  return static_cast<int>(SendMessageW(handle, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text)));
}
int GetWindowTextLengthW(HWND handle) { return static_cast<int>(SendMessageW(handle, WM_GETTEXTLENGTH, 0, 0)); }

// ---- Geometry ---------------------------------------------------------------------------------

BOOL GetWindowRect(HWND handle, LPRECT rect) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w || !rect) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = screenRect(w);
  return TRUE;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w || !rect) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT c = clientScreenRect(w);
  *rect = {0, 0, c.right - c.left, c.bottom - c.top};
  return TRUE;
}

BOOL ClientToScreen(HWND handle, LPPOINT point) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w || !point) return FALSE;
  RECT c = clientScreenRect(w);
  point->x += c.left;
  point->y += c.top;
  return TRUE;
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w || !point) return FALSE;
  RECT c = clientScreenRect(w);
  point->x -= c.left;
  point->y -= c.top;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  auto lock = waitLock();
  POINT a{0, 0}, b{0, 0};
  if (from) {
    Window* w = window(from);
    if (!w) return 0;
    RECT c = clientScreenRect(w);
    a = {c.left, c.top};
  }
  if (to) {
    Window* w = window(to);
    if (!w) return 0;
    RECT c = clientScreenRect(w);
    b = {c.left, c.top};
  }
  for (UINT i = 0; i < count; ++i) {
    points[i].x += a.x - b.x;
    points[i].y += a.y - b.y;
  }
  return MAKELONG(a.x - b.x, a.y - b.y);
}

BOOL SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
  bool moved = false, sized = false, show = false, hide = false;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    RECT old = w->rect;
    RECT oldScreen = screenRect(w);
    bool wasVisibleTop = !w->parent && (w->style & WS_VISIBLE);
    if (w->parent && w->style & WS_VISIBLE) {
      if (Window* p = window(w->parent)) {
        RECT pc = clientScreenRect(p);
        RECT area = screenRect(w);
        OffsetRect(&area, -pc.left, -pc.top);
        invalidateLocked(p, &area, true, false);
      }
    }
    if (!(flags & SWP_NOMOVE)) OffsetRect(&w->rect, x - w->rect.left, y - w->rect.top);
    if (!(flags & SWP_NOSIZE)) {
      w->rect.right = w->rect.left + std::max(0, width);
      w->rect.bottom = w->rect.top + std::max(0, height);
    }
    moved = old.left != w->rect.left || old.top != w->rect.top;
    sized = (old.right - old.left) != (w->rect.right - w->rect.left) ||
            (old.bottom - old.top) != (w->rect.bottom - w->rect.top) || (flags & SWP_FRAMECHANGED);
    if (!(flags & SWP_NOZORDER)) linkAfter(w, insertAfter);
    if ((flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
      w->style |= WS_VISIBLE;
      show = true;
    }
    if ((flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
      w->style &= ~WS_VISIBLE;
      hide = true;
    }
    if (!(flags & SWP_NOREDRAW) && (w->style & WS_VISIBLE)) invalidateLocked(w, nullptr, true, true);
    if (wasVisibleTop && (moved || sized || hide)) {
      // The old place shows the desktop and what is under it; a window still showing repaints
      // itself wherever it is now.
      exposeLocked(oldScreen, nullptr);
      if (!hide) invalidateLocked(w, nullptr, true, true);
    }
  }
  if (show || hide) SendMessageW(handle, WM_SHOWWINDOW, show, 0);
  if (moved || sized) sendSizeAndMove(handle);
  wakeWaiters();
  return TRUE;
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(handle, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

static HWND hitTest(HWND handle, POINT screen) {
  Window* w = window(handle);
  if (!w || !(w->style & WS_VISIBLE)) return nullptr;
  RECT r = screenRect(w);
  if (!PtInRect(&r, screen)) return nullptr;
  RECT c = clientScreenRect(w);
  if (PtInRect(&c, screen)) {
    for (HWND child : w->children) {
      Window* cw = window(child);
      if (!cw || (cw->style & WS_DISABLED)) continue;
      if (HWND found = hitTest(child, screen)) return found;
    }
  }
  return handle;
}

namespace gwes {
// The window that pointer input at the screen point goes to, or null (under the lock).
HWND windowAtPoint(POINT screen) {
  for (HWND top : state().topLevel) {
    if (HWND found = hitTest(top, screen)) return found;
  }
  return nullptr;
}
}  // namespace gwes

HWND WindowFromPoint(POINT point) {
  auto lock = waitLock();
  return windowAtPoint(point);
}

HWND ChildWindowFromPoint(HWND parent, POINT point) {
  auto lock = waitLock();
  Window* p = window(parent);
  if (!p) return nullptr;
  RECT c = clientScreenRect(p);
  POINT screen{point.x + c.left, point.y + c.top};
  for (HWND child : p->children) {
    if (HWND found = hitTest(child, screen)) return found;
  }
  return PtInRect(&c, screen) ? parent : nullptr;
}

// ---- Visibility and enabling --------------------------------------------------------------------

BOOL ShowWindow(HWND handle, int command);  // windows.cpp dispatches here for local windows

BOOL gwesShowWindow(HWND handle, int command) {
  bool wasVisible;
  bool show = command != SW_HIDE && command != SW_MINIMIZE;
  bool topLevel;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    wasVisible = (w->style & WS_VISIBLE) != 0;
    topLevel = !(w->style & WS_CHILD);
    if (show == wasVisible) return wasVisible;
    if (show) {
      w->style |= WS_VISIBLE;
      invalidateLocked(w, nullptr, true, true);
    } else {
      w->style &= ~WS_VISIBLE;
      if (!w->parent) exposeLocked(screenRect(w), handle);
      if (w->parent) {
        if (Window* p = window(w->parent)) {
          RECT pc = clientScreenRect(p);
          RECT area = screenRect(w);
          OffsetRect(&area, -pc.left, -pc.top);
          invalidateLocked(p, &area, true, false);
        }
      }
    }
  }
  SendMessageW(handle, WM_SHOWWINDOW, show, 0);
  if (show && topLevel && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE) SetActiveWindow(handle);
  if (!show) {
    HWND focus = GetFocus();
    if (focus && (focus == handle || IsChild(handle, focus))) SetFocus(nullptr);
    if (topLevel && GetActiveWindow() == handle) {
      // The next visible top-level window of the thread takes over, as when it is closed.
      HWND next = nullptr;
      {
        auto lock = waitLock();
        for (HWND top : state().topLevel) {
          Window* other = window(top);
          if (top != handle && other && other->threadId == GetCurrentThreadId() && (other->style & WS_VISIBLE)) {
            next = top;
            break;
          }
        }
      }
      SetActiveWindow(next);
    }
  }
  wakeWaiters();
  return wasVisible;
}

BOOL IsWindowVisible(HWND handle) {
  auto lock = waitLock();
  Window* w = window(handle);
  return w && reallyVisible(w);
}

BOOL EnableWindow(HWND handle, BOOL enable) {
  bool wasDisabled;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
      if (state().capture == handle) state().capture = nullptr;
    }
  }
  if (!enable) {
    HWND focus = GetFocus();
    if (focus && (focus == handle || IsChild(handle, focus))) SetFocus(nullptr);
  }
  SendMessageW(handle, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND handle) {
  auto lock = waitLock();
  Window* w = window(handle);
  return w && !(w->style & WS_DISABLED);
}

// ---- Focus, activation, capture -----------------------------------------------------------------

static HWND topLevelOf(HWND handle) {
  Window* w = window(handle);
  while (w && w->parent) w = window(w->parent);
  return w ? w->handle : nullptr;
}

HWND SetActiveWindow(HWND handle) {
  HWND old;
  {
    auto lock = waitLock();
    Queue* q = currentQueue();
    old = q->active;
    if (handle) {
      Window* w = window(handle);
      if (!w || w->threadId != q->threadId) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      handle = topLevelOf(handle);
    }
    if (old == handle) return old;
    q->active = handle;
    if (handle) {
      state().foreground = handle;
      linkAfter(window(handle), HWND_TOP);
    }
  }
  if (old) SendMessageW(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(handle));
  if (handle) SendMessageW(handle, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), reinterpret_cast<LPARAM>(old));
  return old;
}

HWND GetActiveWindow() {
  auto lock = waitLock();
  return currentQueue()->active;
}

BOOL SetForegroundWindow(HWND handle) {
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) return FALSE;
    if (w->threadId != GetCurrentThreadId()) {
      state().foreground = topLevelOf(handle);
      queueFor(w->threadId)->active = state().foreground;
      return TRUE;
    }
  }
  SetActiveWindow(handle);
  return TRUE;
}

HWND GetForegroundWindow() {
  auto lock = waitLock();
  return state().foreground;
}

HWND SetFocus(HWND handle) {
  HWND old;
  {
    auto lock = waitLock();
    Queue* q = currentQueue();
    old = q->focus;
    if (handle) {
      Window* w = window(handle);
      if (!w || w->threadId != q->threadId) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (w->style & WS_DISABLED) return nullptr;
    }
    if (old == handle) return old;
    q->focus = handle;
  }
  if (handle) {
    HWND top;
    {
      auto lock = waitLock();
      top = topLevelOf(handle);
    }
    if (top != GetActiveWindow()) SetActiveWindow(top);
  }
  if (old) SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(handle), 0);
  if (handle) SendMessageW(handle, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() {
  auto lock = waitLock();
  return currentQueue()->focus;
}

HWND SetCapture(HWND handle) {
  HWND old;
  {
    auto lock = waitLock();
    if (!window(handle)) return nullptr;
    old = state().capture;
    state().capture = handle;
  }
  if (old && old != handle) SendMessageW(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(handle));
  return old;
}

BOOL ReleaseCapture() {
  HWND old;
  {
    auto lock = waitLock();
    old = state().capture;
    state().capture = nullptr;
  }
  if (old) SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  auto lock = waitLock();
  return state().capture;
}

// ---- Painting state ---------------------------------------------------------------------------

BOOL InvalidateRect(HWND handle, LPCRECT rect, BOOL erase) {
  {
    auto lock = waitLock();
    if (!handle) {
      for (auto& entry : state().windows) invalidateLocked(entry.second, nullptr, erase, false);
    } else {
      Window* w = window(handle);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
      invalidateLocked(w, rect, erase, !(w->style & WS_CLIPCHILDREN));
    }
  }
  wakeWaiters();
  return TRUE;
}

BOOL ValidateRect(HWND handle, LPCRECT rect) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w) return FALSE;
  if (!rect) {
    w->updatePending = false;
    w->erase = false;
    return TRUE;
  }
  // The update area is kept as one rectangle: validating a part that covers it clears it.
  RECT covered;
  UnionRect(&covered, &w->update, rect);
  if (EqualRect(&covered, rect)) w->updatePending = false;
  return TRUE;
}

BOOL GetUpdateRect(HWND handle, LPRECT rect, BOOL) {
  auto lock = waitLock();
  Window* w = window(handle);
  if (!w || !w->updatePending) {
    if (rect) SetRectEmpty(rect);
    return FALSE;
  }
  if (rect) *rect = w->update;
  return TRUE;
}

BOOL UpdateWindow(HWND handle) {
  bool pending;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    if (!w) return FALSE;
    pending = w->updatePending && reallyVisible(w);
  }
  if (pending) SendMessageW(handle, WM_PAINT, 0, 0);
  return TRUE;
}

// ---- The default window procedure -------------------------------------------------------------

LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);
      EndPaint(handle, &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush;
      {
        auto lock = waitLock();
        Window* w = window(handle);
        if (!w) return 0;
        brush = w->cls->info.hbrBackground;
      }
      if (!brush) return 0;
      RECT client;
      GetClientRect(handle, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
      return 1;
    }
    case WM_SETTEXT: {
      auto lock = waitLock();
      Window* w = window(handle);
      if (!w) return FALSE;
      w->text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
      invalidateLocked(w, nullptr, true, false);
      return TRUE;
    }
    case WM_GETTEXT: {
      auto lock = waitLock();
      Window* w = window(handle);
      auto* out = reinterpret_cast<LPWSTR>(lParam);
      if (!w || !out || wParam == 0) return 0;
      size_t n = std::min<size_t>(wParam - 1, w->text.size());
      std::memcpy(out, w->text.data(), n * sizeof(WCHAR));
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: {
      auto lock = waitLock();
      Window* w = window(handle);
      return w ? static_cast<LRESULT>(w->text.size()) : 0;
    }
    case WM_SETCURSOR: {
      HCURSOR cursor;
      {
        auto lock = waitLock();
        Window* w = window(handle);
        cursor = w ? w->cls->info.hCursor : nullptr;
      }
      if (cursor) SetCursor(cursor);
      return TRUE;
    }
    case WM_MOUSEACTIVATE:
      return 1;  // activate
    default:
      return 0;
  }
}

// The "STATIC" class shows its text on its background.
static LRESULT staticProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(handle, &paint);
    RECT client;
    GetClientRect(handle, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_STATIC));
    WCHAR text[256];
    int n = GetWindowTextW(handle, text, 256);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_STATICTEXT));
    DrawTextW(dc, text, n, &client, DT_LEFT | DT_TOP);
    EndPaint(handle, &paint);
    return 0;
  }
  return DefWindowProcW(handle, message, wParam, lParam);
}

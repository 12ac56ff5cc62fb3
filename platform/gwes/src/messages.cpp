// Per-thread message queues: posted and sent messages, cross-thread sends, PeekMessageW and
// GetMessageW, waiting with a wake mask, timers, TranslateMessage with the keyboard layout,
// dispatching and accelerator tables.
#include <algorithm>
#include <cstring>
#include <set>

#include "gwes_internal.h"

using namespace vork;

namespace gwes {

// A thread's queue lives as long as the thread; when it ends, the sends waiting for it are
// answered 0 and its windows disappear without messages.
struct QueueOwner {
  Queue* queue = nullptr;
  ~QueueOwner() {
    if (!queue) return;
    {
      auto lock = waitLock();
      queue->alive = false;
      for (Send* send : queue->incoming) {
        send->result = 0;
        send->done = true;
      }
      queue->incoming.clear();
      auto& s = state();
      for (auto it = s.windows.begin(); it != s.windows.end();) {
        Window* w = it->second;
        if (w->threadId == queue->threadId) {
          auto& list = w->parent && window(w->parent) ? window(w->parent)->children : s.topLevel;
          list.erase(std::remove(list.begin(), list.end(), w->handle), list.end());
          --w->cls->windows;
          if (s.foreground == w->handle) s.foreground = nullptr;
          if (s.capture == w->handle) s.capture = nullptr;
          delete w;
          it = s.windows.erase(it);
        } else {
          ++it;
        }
      }
    }
    wakeWaiters();
  }
};
static thread_local QueueOwner owner;

Queue* queueFor(DWORD threadId) {
  auto& s = state();
  Queue*& q = s.queues[threadId];
  if (!q) {
    q = new Queue;
    q->threadId = threadId;
  }
  return q;
}

Queue* currentQueue() {
  if (owner.queue) return owner.queue;
  owner.queue = queueFor(GetCurrentThreadId());
  return owner.queue;
}

}  // namespace gwes

using namespace gwes;

static DWORD presentBits(Queue* q) {
  DWORD bits = 0;
  if (!q->posted.empty() || !q->translated.empty() || q->quit) bits |= QS_POSTMESSAGE;
  for (const MSG& m : q->input) {
    if (m.message >= WM_KEYFIRST && m.message <= WM_KEYLAST) bits |= QS_KEY;
    else if (m.message == WM_MOUSEMOVE) bits |= QS_MOUSEMOVE;
    else bits |= QS_MOUSEBUTTON;
  }
  if (!q->incoming.empty()) bits |= QS_SENDMESSAGE;
  DWORD now = GetTickCount();
  for (const Timer& t : q->timers) {
    if (static_cast<int32_t>(now - t.due) >= 0) bits |= QS_TIMER;
  }
  for (auto& entry : state().windows) {
    Window* w = entry.second;
    if (w->threadId == q->threadId && w->updatePending && reallyVisible(w)) {
      bits |= QS_PAINT;
      break;
    }
  }
  return bits;
}

// Handles the messages other threads have sent to this thread's windows.
static void handleIncomingSends(Queue* q) {
  for (;;) {
    Send* send;
    WNDPROC proc = nullptr;
    {
      auto lock = waitLock();
      if (q->incoming.empty()) return;
      send = q->incoming.front();
      q->incoming.pop_front();
      Window* w = window(send->window);
      if (w) proc = w->proc;
      ++q->inSend;
    }
    LRESULT result = proc ? proc(send->window, send->message, send->wParam, send->lParam) : 0;
    {
      auto lock = waitLock();
      --q->inSend;
      send->result = result;
      send->done = true;
    }
    wakeWaiters();
  }
}

struct SendWait {
  Send* send;
  Queue* self;
};

static bool sendAnsweredOrIncoming(void* context) {
  auto* wait = static_cast<SendWait*>(context);
  return wait->send->done || !wait->self->incoming.empty();
}

bool gwesIsLocalWindow(HWND handle);

// Sends to one of the process's own windows; `local` says whether the window was one.
LRESULT gwesSendMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, bool& local) {
  Queue* self;
  Queue* target;
  WNDPROC proc;
  {
    auto lock = waitLock();
    Window* w = window(handle);
    local = w != nullptr;
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    self = currentQueue();
    proc = w->proc;
    target = w->threadId == self->threadId ? nullptr : queueFor(w->threadId);
    if (target && !target->alive) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  if (!target) return proc(handle, message, wParam, lParam);
  Send send{handle, message, wParam, lParam, 0, false};
  {
    auto lock = waitLock();
    target->incoming.push_back(&send);
    target->changed |= QS_SENDMESSAGE;
  }
  wakeWaiters();
  SendWait wait{&send, self};
  for (;;) {
    {
      auto lock = waitLock();
      waitUntil(lock, INFINITE, sendAnsweredOrIncoming, &wait);
      if (send.done) return send.result;
    }
    handleIncomingSends(self);
  }
}

BOOL gwesPostMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    auto lock = waitLock();
    Queue* q;
    if (handle) {
      Window* w = window(handle);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
      q = queueFor(w->threadId);
    } else {
      q = currentQueue();
    }
    if (!q->alive) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    q->posted.push_back(MSG{handle, message, wParam, lParam, GetTickCount(), state().cursor});
    q->changed |= QS_POSTMESSAGE;
  }
  wakeWaiters();
  return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    auto lock = waitLock();
    auto found = state().queues.find(threadId);
    if (found == state().queues.end() || !found->second->alive) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    found->second->posted.push_back(MSG{nullptr, message, wParam, lParam, GetTickCount(), state().cursor});
    found->second->changed |= QS_POSTMESSAGE;
  }
  wakeWaiters();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  {
    auto lock = waitLock();
    Queue* q = currentQueue();
    q->quit = true;
    q->quitCode = exitCode;
    q->changed |= QS_POSTMESSAGE;
  }
  wakeWaiters();
}

BOOL InSendMessage() {
  auto lock = waitLock();
  return currentQueue()->inSend > 0;
}

static bool matches(const MSG& m, HWND filter, UINT low, UINT high) {
  if (filter == HWND_MESSAGE_ONLY_THREAD) {
    if (m.hwnd) return false;
  } else if (filter && m.hwnd != filter) {
    return false;
  }
  if (low == 0 && high == 0) return true;
  return m.message >= low && m.message <= high;
}

static bool takeFrom(std::deque<MSG>& list, MSG* out, HWND filter, UINT low, UINT high, bool remove) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (!matches(*it, filter, low, high)) continue;
    *out = *it;
    if (remove) list.erase(it);
    return true;
  }
  return false;
}

// Updates the thread's key state for a message it takes from its queue.
static void noteTaken(Queue* q, const MSG& m) {
  q->last = m;
  auto press = [&](int vk, bool down) {
    if (down) {
      if (!(q->keys[vk] & 0x80)) q->keys[vk] ^= 0x01;
      q->keys[vk] |= 0x80;
    } else {
      q->keys[vk] &= static_cast<BYTE>(~0x80);
    }
  };
  switch (m.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      bool down = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
      int vk = static_cast<int>(m.wParam & 0xFF);
      press(vk, down);
      if (vk == VK_LSHIFT || vk == VK_RSHIFT) press(VK_SHIFT, down);
      if (vk == VK_LCONTROL || vk == VK_RCONTROL) press(VK_CONTROL, down);
      if (vk == VK_LMENU || vk == VK_RMENU) press(VK_MENU, down);
      break;
    }
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: press(VK_LBUTTON, true); break;
    case WM_LBUTTONUP: press(VK_LBUTTON, false); break;
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: press(VK_RBUTTON, true); break;
    case WM_RBUTTONUP: press(VK_RBUTTON, false); break;
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: press(VK_MBUTTON, true); break;
    case WM_MBUTTONUP: press(VK_MBUTTON, false); break;
  }
}

static bool takeMessage(Queue* q, MSG* out, HWND filter, UINT low, UINT high, bool remove) {
  if (takeFrom(q->translated, out, filter, low, high, remove)) return true;
  if (takeFrom(q->posted, out, filter, low, high, remove)) return true;
  if (takeFrom(q->input, out, filter, low, high, remove)) {
    if (remove) noteTaken(q, *out);
    return true;
  }
  if (q->quit && (filter == nullptr || filter == HWND_MESSAGE_ONLY_THREAD) &&
      ((low == 0 && high == 0) || (WM_QUIT >= low && WM_QUIT <= high))) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, GetTickCount(), state().cursor};
    if (remove) q->quit = false;
    return true;
  }
  bool wantPaint = (low == 0 && high == 0) || (WM_PAINT >= low && WM_PAINT <= high);
  if (wantPaint && filter != HWND_MESSAGE_ONLY_THREAD) {
    // Parents paint before their children: top-level windows first, then down the tree.
    std::vector<HWND> order(state().topLevel);
    for (size_t i = 0; i < order.size(); ++i) {
      Window* w = window(order[i]);
      if (!w) continue;
      order.insert(order.end(), w->children.begin(), w->children.end());
      if (w->threadId != q->threadId || !w->updatePending || !reallyVisible(w)) continue;
      if (filter && filter != w->handle) continue;
      *out = MSG{w->handle, WM_PAINT, 0, 0, GetTickCount(), state().cursor};
      return true;
    }
  }
  bool wantTimer = (low == 0 && high == 0) || (WM_TIMER >= low && WM_TIMER <= high);
  if (wantTimer && filter != HWND_MESSAGE_ONLY_THREAD) {
    DWORD now = GetTickCount();
    for (Timer& t : q->timers) {
      if (static_cast<int32_t>(now - t.due) < 0) continue;
      if (filter && filter != t.window) continue;
      *out = MSG{t.window, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.procedure), now, state().cursor};
      if (remove) t.due = now + t.elapse;
      return true;
    }
  }
  return false;
}

static void activateForClick(const MSG& m) {
  if (m.message != WM_LBUTTONDOWN && m.message != WM_RBUTTONDOWN && m.message != WM_MBUTTONDOWN) return;
  HWND top = m.hwnd;
  {
    auto lock = waitLock();
    Window* w = window(top);
    while (w && w->parent) w = window(w->parent);
    if (!w) return;
    top = w->handle;
    if (currentQueue()->active == top) return;
  }
  SetActiveWindow(top);
}

BOOL PeekMessageW(LPMSG message, HWND filter, UINT low, UINT high, UINT remove) {
  Queue* q;
  {
    auto lock = waitLock();
    q = currentQueue();
  }
  handleIncomingSends(q);
  MSG m;
  {
    auto lock = waitLock();
    q->changed = 0;
    if (!takeMessage(q, &m, filter, low, high, (remove & PM_REMOVE) != 0)) return FALSE;
  }
  if (remove & PM_REMOVE) activateForClick(m);
  if (message) *message = m;
  return TRUE;
}

static bool queueHasAny(void* context) {
  auto* q = static_cast<Queue*>(context);
  return presentBits(q) != 0;
}

BOOL GetMessageW(LPMSG message, HWND filter, UINT low, UINT high) {
  if (filter && filter != HWND_MESSAGE_ONLY_THREAD && !gwesIsLocalWindow(filter)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  for (;;) {
    MSG m;
    if (PeekMessageW(&m, filter, low, high, PM_REMOVE)) {
      if (message) *message = m;
      return m.message != WM_QUIT;
    }
    auto lock = waitLock();
    Queue* q = currentQueue();
    waitUntil(lock, INFINITE, queueHasAny, q);
  }
}

BOOL WaitMessage() {
  return MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, 0) != WAIT_FAILED;
}

DWORD GetQueueStatus(UINT flags) {
  auto lock = waitLock();
  Queue* q = currentQueue();
  DWORD present = presentBits(q) & flags;
  DWORD changed = q->changed & flags;
  q->changed &= ~flags;
  return (changed << 16) | present;
}

struct MsgWait {
  DWORD count;
  const HANDLE* handles;
  bool waitAll;
  DWORD mask;
  bool available;
  Queue* queue;
  DWORD result;
};

static bool msgWaitReady(void* context) {
  auto* wait = static_cast<MsgWait*>(context);
  DWORD present = presentBits(wait->queue) & wait->mask;
  DWORD bits = wait->available ? present : (wait->queue->changed & present);
  if (present & QS_TIMER) bits |= QS_TIMER;  // a due timer always counts
  if (bits) {
    wait->result = WAIT_OBJECT_0 + wait->count;
    return true;
  }
  return objectsSignaled(wait->count, wait->handles, wait->waitAll, wait->result);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask,
                                  DWORD flags) {
  if (count > MAXIMUM_WAIT_OBJECTS - 1 || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (!waitableHandles(count, handles)) return WAIT_FAILED;
  auto lock = waitLock();
  MsgWait wait{count, handles, (flags & MWMO_WAITALL) != 0, wakeMask, (flags & MWMO_INPUTAVAILABLE) != 0,
               currentQueue(), WAIT_FAILED};
  if (!waitUntil(lock, milliseconds, msgWaitReady, &wait)) return WAIT_TIMEOUT;
  return wait.result;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask) {
  return MsgWaitForMultipleObjectsEx(count, handles, milliseconds, wakeMask, waitAll ? MWMO_WAITALL : 0);
}

DWORD GetMessagePos() {
  auto lock = waitLock();
  POINT p = currentQueue()->last.pt;
  return static_cast<DWORD>(MAKELONG(p.x, p.y));
}

LONG GetMessageTime() {
  auto lock = waitLock();
  return static_cast<LONG>(currentQueue()->last.time);
}

// ---- Timers -------------------------------------------------------------------------------------

UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
  {
    auto lock = waitLock();
    Queue* q;
    if (handle) {
      Window* w = window(handle);
      if (!w || w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
      q = queueFor(w->threadId);
    } else {
      q = currentQueue();
      static UINT_PTR nextId = 0x7FFF;
      id = ++nextId;
    }
    if (elapse == 0) elapse = 1;
    DWORD due = GetTickCount() + elapse;
    for (Timer& t : q->timers) {
      if (t.window == handle && t.id == id) {
        t = Timer{handle, id, elapse, procedure, due};
        return handle ? 1 : id;
      }
    }
    q->timers.push_back(Timer{handle, id, elapse, procedure, due});
  }
  wakeWaiters();
  return handle ? 1 : id;
}

BOOL KillTimer(HWND handle, UINT_PTR id) {
  auto lock = waitLock();
  Queue* q = currentQueue();
  auto it = std::find_if(q->timers.begin(), q->timers.end(),
                         [&](const Timer& t) { return t.window == handle && t.id == id; });
  if (it == q->timers.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  q->timers.erase(it);
  return TRUE;
}

// ---- Dispatching --------------------------------------------------------------------------------

LRESULT DispatchMessageW(const MSG* message) {
  if (!message) return 0;
  if (message->message == WM_TIMER && message->lParam) {
    auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
    procedure(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
    return 0;
  }
  if (!message->hwnd) return 0;
  WNDPROC proc;
  {
    auto lock = waitLock();
    Window* w = window(message->hwnd);
    if (!w || w->threadId != GetCurrentThreadId()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    proc = w->proc;
  }
  if (message->message >= WM_MOUSEFIRST && message->message <= WM_MOUSELAST && message->message != WM_MOUSEWHEEL)
    SendMessageW(message->hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(message->hwnd), 1);
  return proc(message->hwnd, message->message, message->wParam, message->lParam);
}

// ---- Keyboard layout (US international) ------------------------------------------------------------

namespace {

struct KeyChars {
  WCHAR plain;
  WCHAR shifted;
  bool deadPlain;
  bool deadShifted;
};

bool keyChars(UINT vk, KeyChars& out) {
  if (vk >= 'A' && vk <= 'Z') {
    out = {static_cast<WCHAR>(vk + 32), static_cast<WCHAR>(vk), false, false};
    return true;
  }
  static const char16_t shiftedDigits[] = u")!@#$%^&*(";
  if (vk >= '0' && vk <= '9') {
    out = {static_cast<WCHAR>(vk), shiftedDigits[vk - '0'], false, vk == '6'};
    return true;
  }
  if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) {
    out = {static_cast<WCHAR>(u'0' + vk - VK_NUMPAD0), static_cast<WCHAR>(u'0' + vk - VK_NUMPAD0), false, false};
    return true;
  }
  switch (vk) {
    case VK_SPACE: out = {u' ', u' ', false, false}; return true;
    case VK_RETURN: out = {u'\r', u'\r', false, false}; return true;
    case VK_BACK: out = {8, 8, false, false}; return true;
    case VK_TAB: out = {9, 9, false, false}; return true;
    case VK_ESCAPE: out = {0x1B, 0x1B, false, false}; return true;
    case VK_MULTIPLY: out = {u'*', u'*', false, false}; return true;
    case VK_ADD: out = {u'+', u'+', false, false}; return true;
    case VK_SUBTRACT: out = {u'-', u'-', false, false}; return true;
    case VK_DECIMAL: out = {u'.', u'.', false, false}; return true;
    case VK_DIVIDE: out = {u'/', u'/', false, false}; return true;
    case VK_OEM_1: out = {u';', u':', false, false}; return true;
    case VK_OEM_PLUS: out = {u'=', u'+', false, false}; return true;
    case VK_OEM_COMMA: out = {u',', u'<', false, false}; return true;
    case VK_OEM_MINUS: out = {u'-', u'_', false, false}; return true;
    case VK_OEM_PERIOD: out = {u'.', u'>', false, false}; return true;
    case VK_OEM_2: out = {u'/', u'?', false, false}; return true;
    case VK_OEM_3: out = {u'`', u'~', true, true}; return true;
    case VK_OEM_4: out = {u'[', u'{', false, false}; return true;
    case VK_OEM_5: out = {u'\\', u'|', false, false}; return true;
    case VK_OEM_6: out = {u']', u'}', false, false}; return true;
    case VK_OEM_7: out = {u'\'', u'"', true, true}; return true;
  }
  return false;
}

// The character a dead key and a following character make, or 0.
WCHAR compose(WCHAR dead, WCHAR c) {
  static const struct {
    char16_t dead;
    const char16_t* base;
    const char16_t* composed;
  } table[] = {
      {u'`', u"aeiouAEIOU", u"àèìòùÀÈÌÒÙ"},
      {u'\'', u"aeiouyAEIOUYcC", u"áéíóúýÁÉÍÓÚÝçÇ"},
      {u'^', u"aeiouAEIOU", u"âêîôûÂÊÎÔÛ"},
      {u'"', u"aeiouyAEIOU", u"äëïöüÿÄËÏÖÜ"},
      {u'~', u"aonAON", u"ãõñÃÕÑ"},
  };
  for (const auto& row : table) {
    if (row.dead != dead) continue;
    for (size_t i = 0; row.base[i]; ++i) {
      if (row.base[i] == c) return row.composed[i];
    }
  }
  return 0;
}

// The character of a key with the given key state: 0 for none; `dead` says it is a dead key.
WCHAR keyCharacter(UINT vk, const BYTE* keys, bool& dead) {
  dead = false;
  bool shift = keys[VK_SHIFT] & 0x80;
  bool control = keys[VK_CONTROL] & 0x80;
  bool alt = keys[VK_MENU] & 0x80;
  bool caps = keys[VK_CAPITAL] & 0x01;
  if (control && !alt) {
    if (vk >= 'A' && vk <= 'Z') return static_cast<WCHAR>(vk - 'A' + 1);
    if (vk == VK_RETURN) return 0x0A;
    if (vk == VK_BACK) return 0x7F;
    if (vk == VK_ESCAPE) return 0x1B;
    if (vk == VK_OEM_4) return 0x1B;
    if (vk == VK_OEM_5) return 0x1C;
    if (vk == VK_OEM_6) return 0x1D;
    if (vk == VK_SPACE) return u' ';
    return 0;
  }
  KeyChars chars;
  if (!keyChars(vk, chars)) return 0;
  bool upper = shift;
  if (vk >= 'A' && vk <= 'Z' && caps) upper = !upper;
  dead = upper ? chars.deadShifted : chars.deadPlain;
  return upper ? chars.shifted : chars.plain;
}

}  // namespace

int ToUnicode(UINT vk, UINT, const BYTE* keys, LPWSTR buffer, int size, UINT) {
  if (!keys || !buffer || size <= 0) return 0;
  bool dead;
  WCHAR c = keyCharacter(vk, keys, dead);
  if (!c) return 0;
  buffer[0] = c;
  return dead ? -1 : 1;
}

UINT MapVirtualKeyW(UINT code, UINT mapType) {
  static const char scanOfLetter[] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                      0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  switch (mapType) {
    case MAPVK_VK_TO_CHAR: {
      BYTE keys[256] = {};
      bool dead;
      WCHAR c = keyCharacter(code, keys, dead);
      if (code >= 'A' && code <= 'Z') c = static_cast<WCHAR>(code);
      return dead ? (0x80000000u | c) : c;
    }
    case MAPVK_VK_TO_VSC:
      if (code >= 'A' && code <= 'Z') return static_cast<UINT>(scanOfLetter[code - 'A']);
      if (code >= '1' && code <= '9') return code - '1' + 2;
      if (code == '0') return 0x0B;
      if (code == VK_RETURN) return 0x1C;
      if (code == VK_SPACE) return 0x39;
      if (code == VK_ESCAPE) return 0x01;
      if (code == VK_BACK) return 0x0E;
      if (code == VK_TAB) return 0x0F;
      if (code == VK_SHIFT || code == VK_LSHIFT) return 0x2A;
      if (code == VK_CONTROL) return 0x1D;
      if (code == VK_MENU) return 0x38;
      return 0;
    case MAPVK_VSC_TO_VK:
      for (UINT vk = 1; vk < 256; ++vk) {
        if (MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) == code && code) return vk;
      }
      return 0;
  }
  return 0;
}

BOOL TranslateMessage(const MSG* message) {
  if (!message) return FALSE;
  UINT kind = message->message;
  if (kind != WM_KEYDOWN && kind != WM_SYSKEYDOWN) return FALSE;
  bool system = kind == WM_SYSKEYDOWN;
  std::vector<MSG> out;
  auto emit = [&](UINT m, WCHAR c) {
    out.push_back(MSG{message->hwnd, m, c, message->lParam, message->time, message->pt});
  };
  {
    auto lock = waitLock();
    Queue* q = currentQueue();
    UINT vk = static_cast<UINT>(message->wParam & 0xFF);
    if (vk == 0xE7) {  // a character typed as such (KEYEVENTF_UNICODE): it is in the scan field
      emit(system ? WM_SYSCHAR : WM_CHAR, static_cast<WCHAR>((message->lParam >> 16) & 0xFFFF));
    } else {
      bool dead;
      WCHAR c = keyCharacter(vk, q->keys, dead);
      if (!c) return FALSE;
      if (q->deadChar) {
        WCHAR pending = q->deadChar;
        q->deadChar = 0;
        if (c == u' ') {
          emit(system ? WM_SYSCHAR : WM_CHAR, pending);
        } else if (WCHAR composed = compose(pending, c)) {
          emit(system ? WM_SYSCHAR : WM_CHAR, composed);
        } else {
          emit(system ? WM_SYSCHAR : WM_CHAR, pending);
          emit(system ? WM_SYSCHAR : WM_CHAR, c);
        }
      } else if (dead) {
        q->deadChar = c;
        emit(system ? WM_SYSDEADCHAR : WM_DEADCHAR, c);
      } else {
        emit(system ? WM_SYSCHAR : WM_CHAR, c);
      }
    }
    for (const MSG& m : out) q->translated.push_back(m);
    q->changed |= QS_POSTMESSAGE;
  }
  return TRUE;
}

// ---- Accelerators ---------------------------------------------------------------------------------

namespace {
struct AcceleratorTable {
  std::vector<ACCEL> entries;
};
std::set<AcceleratorTable*> acceleratorTables;  // under the wait lock
}  // namespace

HACCEL CreateAcceleratorTableW(LPACCEL entries, int count) {
  if (!entries || count <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* table = new AcceleratorTable{std::vector<ACCEL>(entries, entries + count)};
  auto lock = waitLock();
  acceleratorTables.insert(table);
  return reinterpret_cast<HACCEL>(table);
}

BOOL DestroyAcceleratorTable(HACCEL handle) {
  auto lock = waitLock();
  auto* table = reinterpret_cast<AcceleratorTable*>(handle);
  if (!acceleratorTables.erase(table)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete table;
  return TRUE;
}

int TranslateAcceleratorW(HWND handle, HACCEL accelerators, LPMSG message) {
  if (!message) return 0;
  UINT kind = message->message;
  bool key = kind == WM_KEYDOWN || kind == WM_SYSKEYDOWN;
  bool character = kind == WM_CHAR || kind == WM_SYSCHAR;
  if (!key && !character) return 0;
  WORD command = 0;
  bool found = false;
  {
    auto lock = waitLock();
    auto* table = reinterpret_cast<AcceleratorTable*>(accelerators);
    if (!acceleratorTables.count(table)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    Queue* q = currentQueue();
    BYTE held = 0;
    if (q->keys[VK_SHIFT] & 0x80) held |= FSHIFT;
    if (q->keys[VK_CONTROL] & 0x80) held |= FCONTROL;
    if (q->keys[VK_MENU] & 0x80) held |= FALT;
    for (const ACCEL& entry : table->entries) {
      if (entry.fVirt & FVIRTKEY) {
        if (!key || entry.key != (message->wParam & 0xFFFF)) continue;
        if ((entry.fVirt & (FSHIFT | FCONTROL | FALT)) != held) continue;
      } else {
        if (!character || entry.key != (message->wParam & 0xFFFF)) continue;
        if ((entry.fVirt & FALT) != (held & FALT)) continue;
      }
      command = entry.cmd;
      found = true;
      break;
    }
  }
  if (!found) return 0;
  SendMessageW(handle, WM_COMMAND, MAKEWPARAM(command, 1), 0);
  return 1;
}

SHORT GetKeyState(int vk) {
  auto lock = waitLock();
  BYTE k = currentQueue()->keys[vk & 0xFF];
  return static_cast<SHORT>(((k & 0x80) ? 0x8000 : 0) | (k & 0x01));
}

BOOL GetKeyboardState(PBYTE keys) {
  if (!keys) return FALSE;
  auto lock = waitLock();
  std::memcpy(keys, currentQueue()->keys, 256);
  return TRUE;
}

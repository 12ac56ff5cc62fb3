// The display: its record and message window, the event loop with accelerator translation,
// input injection, system queries and the enabling of shells under modal shells.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "../frame/hvl.h"

namespace {

HINSTANCE moduleInstance = nullptr;

// The library's module handle is recorded once, when the library is loaded.
__attribute__((constructor)) void attachLibrary() {
  if (moduleInstance) return;
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&attachLibrary), &info) && info.dli_fname) {
    void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (self) {
      moduleInstance = static_cast<HINSTANCE>(self);
      dlclose(self);  // the handle names the loaded library; no reference is kept
    }
  }
}

const WCHAR windowClassName[] = u"Window Class Name";

LRESULT messageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WMX_DESTROY_WINDOW:
      return DestroyWindow(reinterpret_cast<HWND>(wParam));
    case WMX_SET_FOCUS:
      SetFocus(reinterpret_cast<HWND>(wParam));
      return 1;
    case WMX_SET_DATA: {
      auto* widget = reinterpret_cast<WidgetHead*>(wParam);
      CallbackTarget* previous = widget->target;
      widget->target = reinterpret_cast<CallbackTarget*>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
  }
  if (message >= WM_USER) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

void freeShellList(ShellNode*& list) {
  while (list) {
    ShellNode* next = list->next;
    std::free(list);
    list = next;
  }
}

void disposeDisplay(void* record) {
  auto* display = static_cast<Display*>(record);
  if (display->defaultFont) {
    DeleteObject(display->defaultFont->font);
    hvlFree(display->defaultFont);
    display->defaultFont = nullptr;
  }
  DestroyWindow(display->messageWindow);
  if (UnregisterClassW(windowClassName, display->moduleInstance)) {
    display->callbackLookup = nullptr;
    std::free(display->commandItems);
    display->commandItems = nullptr;
  }
  freeShellList(display->modalShells);
  freeShellList(display->enabledShells);
  hvlFree(display);
}

Display* newDisplay(ErrorState* error) {
  WNDCLASSW staticClass;
  if (!GetClassInfoW(nullptr, u"STATIC", &staticClass)) {
    Win32Error_SetError(error, static_cast<jint>(GetLastError()), u"Unable get \"STATIC\" class data");
    return nullptr;
  }
  WNDCLASSW windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = moduleInstance;
  windowClass.hCursor = staticClass.hCursor;
  windowClass.lpszClassName = windowClassName;
  RegisterClassW(&windowClass);  // may already exist
  auto* display = static_cast<Display*>(hvlAllocate(sizeof(Display)));
  if (!display) {
    Win32Error_SetError(error, HVL_ERROR_NO_MEMORY, u"Not enough memory to allocate display");
    return nullptr;
  }
  display->dispose = disposeDisplay;
  HWND window = CreateWindowExW(0, windowClassName, nullptr, WS_CAPTION, 0, 0, 0, 0, nullptr, nullptr,
                                moduleInstance, nullptr);
  if (!window) {
    hvlFree(display);
    Win32Error_SetError(error, static_cast<jint>(GetLastError()), u"Unable to create message/creation window");
    return nullptr;
  }
  SetWindowLongPtrW(window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(messageWindowProc));
  SetWindowLongPtrW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(display));
  display->messageWindow = window;
  display->uiThreadId = GetCurrentThreadId();
  display->processId = GetCurrentProcessId();
  display->moduleInstance = moduleInstance;
  return display;
}

// Accelerator translation of a message taken by the event loop; true when it was handled.
bool translateAccelerator(MSG& message) {
  if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  Shell* shell = hvlShellOfWindow(message.hwnd);
  if (!shell) return false;
  if (!shell->acceleratorTable) {
    if (shell->acceleratorCount <= 0 || !shell->accelerators) return false;
    auto* entries = static_cast<ACCEL*>(std::calloc(shell->acceleratorCount, sizeof(ACCEL)));
    if (!entries) return false;
    for (int i = 0; i < shell->acceleratorCount; ++i) {
      entries[i].fVirt = shell->accelerators[i].flags;
      entries[i].key = shell->accelerators[i].key;
      entries[i].cmd = shell->accelerators[i].commandId;
    }
    shell->acceleratorTable = CreateAcceleratorTableW(entries, shell->acceleratorCount);
    std::free(entries);
    if (!shell->acceleratorTable) return false;
  }
  bool keyDown = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
  if (message.wParam == VK_SHIFT) shell->shiftDown = keyDown ? 1 : 0;
  if (keyDown && GetKeyState(VK_CONTROL) < 0 && shell->shiftDown && message.wParam != VK_SHIFT &&
      message.wParam != VK_CONTROL) {
    for (int i = 0; i < shell->acceleratorCount; ++i) {
      const AcceleratorEntry& entry = shell->accelerators[i];
      if (entry.key == message.wParam && (entry.flags & FSHIFT)) {
        SendMessageW(message.hwnd, WM_COMMAND, 0x10000 | entry.commandId, 0);
        return true;
      }
    }
  }
  Control& control = shell->scrollable.control;
  return TranslateAcceleratorW(control.window, shell->acceleratorTable, &message) != 0;
}

bool isAncestorOrSelf(Shell* candidate, Shell* shell) {
  for (Control* c = &shell->scrollable.control; c; c = c->parent) {
    if (c == &candidate->scrollable.control) return true;
  }
  return false;
}

}  // namespace

HINSTANCE hvlModuleInstance() { return moduleInstance; }

Shell* hvlShellOfWindow(HWND window) {
  while (window && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD)) window = GetParent(window);
  if (!window) return nullptr;
  // The display's message window holds the display record, not a shell.
  WCHAR className[32];
  int length = GetClassNameW(window, className, 32);
  if (length == 17 && std::char_traits<char16_t>::compare(className, windowClassName, 17) == 0) return nullptr;
  return reinterpret_cast<Shell*>(GetWindowLongPtrW(window, GWL_USERDATA));
}

HVL_EXPORT Display* Control_GetDisplay(Control* control) {
  if (!control) return nullptr;
  if (!control->head.display && control->parent) control->head.display = Control_GetDisplay(control->parent);
  return control->head.display;
}

static void applyModalState(Display* display) {
  Shell* top = display->modalShells ? display->modalShells->shell : nullptr;
  for (ShellNode* node = display->enabledShells; node; node = node->next) {
    bool enable = !top || isAncestorOrSelf(top, node->shell);
    EnableWindow(node->shell->scrollable.control.window, enable);
  }
}

HVL_EXPORT void Display_UpdateModalShellVisibility(Display* display, Shell* shell, BOOL modal) {
  ShellNode** link = &display->modalShells;
  while (*link && (*link)->shell != shell) link = &(*link)->next;
  if (modal) {
    if (!*link) {
      auto* node = static_cast<ShellNode*>(std::calloc(1, sizeof(ShellNode)));
      if (node) {
        node->shell = shell;
        node->next = display->modalShells;
        display->modalShells = node;
      }
    }
  } else if (*link) {
    ShellNode* gone = *link;
    *link = gone->next;
    std::free(gone);
  }
  applyModalState(display);
}

BOOL hvlAddEnabledShell(Display* display, Shell* shell, ErrorState* error) {
  for (ShellNode* node = display->enabledShells; node; node = node->next) {
    if (node->shell == shell) return TRUE;
  }
  auto* node = static_cast<ShellNode*>(std::calloc(1, sizeof(ShellNode)));
  if (!node) {
    Win32Error_SetError(error, HVL_ERROR_FAILED, u"Could not add control to control list");
    return FALSE;
  }
  node->shell = shell;
  node->next = display->enabledShells;
  display->enabledShells = node;
  Shell* top = display->modalShells ? display->modalShells->shell : nullptr;
  if (top && !isAncestorOrSelf(top, shell)) EnableWindow(shell->scrollable.control.window, FALSE);
  return TRUE;
}

void hvlRemoveEnabledShell(Display* display, Shell* shell) {
  for (ShellNode** link = &display->enabledShells; *link; link = &(*link)->next) {
    if ((*link)->shell == shell) {
      ShellNode* gone = *link;
      *link = gone->next;
      std::free(gone);
      return;
    }
  }
}

struct DllVersionInfo {
  DWORD cbSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformID;
};

HVL_EXPORT jint _Display_GetComCtrlMajorVersion(Display* display, ErrorState* error) {
  if (display->comctlMajor) return display->comctlMajor;
  HMODULE library = LoadLibraryW(u"comctl32.dll");
  if (!library) {
    Win32Error_SetError(error, HVL_ERROR_FAILED, u"Failed to load comctl32.dll");
    return 0;
  }
  typedef HRESULT (*GetVersion)(DllVersionInfo*);
  auto getVersion = reinterpret_cast<GetVersion>(reinterpret_cast<void*>(GetProcAddressW(library, u"DllGetVersion")));
  DllVersionInfo version{};
  version.cbSize = sizeof version;
  if (!getVersion || getVersion(&version) < 0) {
    Win32Error_SetError(error, static_cast<jint>(GetLastError()), u"Unable to get comctrl version");
    FreeLibrary(library);
    return 0;
  }
  display->comctlMajor = static_cast<int32_t>(version.dwMajorVersion);
  display->comctlMinor = static_cast<int32_t>(version.dwMinorVersion);
  FreeLibrary(library);
  return display->comctlMajor;
}

// ---- Natives of com.zel.hvl.r7tx.OS ------------------------------------------------------------

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_r7tx_OS_Display_1New(JNIEnv* env, jclass) {
  ErrorState error{};
  Display* display = newDisplay(&error);
  if (error.code) {
    HVL_ErrorHandler(env, "Display_New", &error);
    return 0;
  }
  return hvlHandle(display);
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_zel_hvl_r7tx_OS_Display_1ReadAndDispatch(JNIEnv*, jclass, jint) {
  MSG message;
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return JNI_FALSE;
  if (translateAccelerator(message)) return JNI_TRUE;
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return JNI_TRUE;
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Display_1Sleep(JNIEnv*, jclass, jint) {
  MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_r7tx_OS_Display_1Wake(JNIEnv*, jclass, jint handle) {
  PostMessageW(hvlRecord<Display>(handle)->messageWindow, WM_NULL, 0, 0);
}

// ---- Natives of com.zel.hvl.eswt.OS ------------------------------------------------------------

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_eswt_OS_Display_1Beep(JNIEnv*, jclass, jint) { MessageBeep(0); }

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Display_1GetSystemColor(JNIEnv* env, jclass, jint,
                                                                                  jint id) {
  static const int indices[] = {
      COLOR_BACKGROUND,  COLOR_ACTIVECAPTION, COLOR_CAPTIONTEXT,   COLOR_ACTIVEBORDER,     COLOR_INACTIVECAPTION,
      COLOR_INACTIVECAPTIONTEXT, COLOR_INACTIVEBORDER, COLOR_WINDOW, COLOR_WINDOWFRAME,     COLOR_WINDOWTEXT,
      COLOR_MENU,        COLOR_MENUTEXT,      COLOR_WINDOW,        COLOR_WINDOWTEXT,       COLOR_HIGHLIGHT,
      COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT,    COLOR_BTNFACE,       COLOR_WINDOWTEXT,       COLOR_3DLIGHT,
      COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW,    COLOR_3DDKSHADOW,    COLOR_SCROLLBAR,        COLOR_INFOBK,
      COLOR_INFOTEXT,
  };
  ErrorState error{};
  if (id < 0 || id >= static_cast<jint>(sizeof indices / sizeof indices[0])) {
    Win32Error_SetError(&error, HVL_ERROR_FAILED, u"Unrecognized color ID");
    HVL_ErrorHandler(env, "Display_GetSystemColor", &error);
    return 0;
  }
  DWORD colour = GetSysColor(indices[id] | SYS_COLOR_INDEX_FLAG);
  Color* record = hvlColorNew(GetRValue(colour), GetGValue(colour), GetBValue(colour), &error);
  if (error.code) {
    HVL_ErrorHandler(env, "Display_GetSystemColor", &error);
    return 0;
  }
  return hvlHandle(record);
}

extern "C" JNIEXPORT jintArray JNICALL Java_com_zel_hvl_eswt_OS_Display_1GetInsets(JNIEnv* env, jclass, jint) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HDC dc = GetDC(nullptr);
  int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
  ReleaseDC(nullptr, dc);
  return createJavaRect(env, work.left, work.top, width - work.right, height - work.bottom);
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_zel_hvl_eswt_OS_Display_1PostKeyEvent(JNIEnv*, jclass, jint,
                                                                                    jint kind, jint keyCode,
                                                                                    jchar) {
  int virtualKey;
  if (keyCode >= 0x61 && keyCode <= 0x7A) {
    virtualKey = keyCode - 0x20;
  } else if (int fromTable = hvlVirtualKeyOfCode(keyCode)) {
    virtualKey = fromTable;
  } else {
    // Any other code is a character; its upper-case form is the key.
    virtualKey = keyCode;
    if (keyCode >= 0 && keyCode <= 0xFFFF) {
      WCHAR c = static_cast<WCHAR>(keyCode);
      if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<WCHAR>(c - 0x20);
      virtualKey = c;
    }
  }
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = static_cast<WORD>(virtualKey & 0xFF);
  input.ki.dwFlags = kind == 1 ? KEYEVENTF_EXTENDEDKEY : (KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
  SendInput(1, &input, sizeof input);
  return JNI_TRUE;
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_zel_hvl_eswt_OS_Display_1PostPointerEvent(JNIEnv*, jclass, jint,
                                                                                        jint kind, jint button) {
  DWORD down, up;
  switch (button) {
    case 8: down = MOUSEEVENTF_LEFTDOWN; up = MOUSEEVENTF_LEFTUP; break;
    case 16: down = MOUSEEVENTF_MIDDLEDOWN; up = MOUSEEVENTF_MIDDLEUP; break;
    case 32: down = MOUSEEVENTF_RIGHTDOWN; up = MOUSEEVENTF_RIGHTUP; break;
    default: return JNI_FALSE;
  }
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = kind == 1 ? down : up;
  return SendInput(1, &input, sizeof input) == 1 ? JNI_TRUE : JNI_FALSE;
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_zel_hvl_eswt_OS_Display_1PostPointerMoveEvent(JNIEnv*, jclass, jint,
                                                                                            jint x, jint y) {
  HDC dc = GetDC(nullptr);
  int32_t width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
  ReleaseDC(nullptr, dc);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  // A one-pixel-wide or -high screen has no span to spread over.
  input.mi.dx = width > 1 ? static_cast<LONG>(static_cast<int64_t>(x) * 65535 / (width - 1)) : 0;
  input.mi.dy = height > 1 ? static_cast<LONG>(static_cast<int64_t>(y) * 65535 / (height - 1)) : 0;
  return SendInput(1, &input, sizeof input) == 1 ? JNI_TRUE : JNI_FALSE;
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_eswt_OS_Display_1ClearFocus(JNIEnv*, jclass, jint handle) {
  SendMessageW(hvlRecord<Display>(handle)->messageWindow, WMX_SET_FOCUS, 0, 0);
}

extern "C" JNIEXPORT void JNICALL Java_com_zel_hvl_eswt_OS_Display_1SetFullScreenShell(JNIEnv*, jclass, jint, jint) {}

extern "C" JNIEXPORT jint JNICALL Java_com_zel_hvl_eswt_OS_Platform_1GetCapability(JNIEnv*, jclass, jint id) {
  switch (id) {
    case 2: return 1;
    case 4: return 4158;
  }
  return 0;
}

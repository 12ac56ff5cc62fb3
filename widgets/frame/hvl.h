// The toolkit's shared frame: records, handles, errors, conversions, callbacks and the
// private window messages. Every part of libuxappro11 includes this.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "winuser.h"

#define HVL_EXPORT extern "C" __attribute__((visibility("default")))

// ---- Toolkit error codes ---------------------------------------------------------------------
#define HVL_ERROR_NOT_AVAILABLE (-1)
#define HVL_ERROR_FAILED (-3)
#define HVL_ERROR_NO_MEMORY (-4)
#define HVL_ERROR_COLOUR_DEPTH (-5)
#define HVL_ERROR_IMAGE_FORMAT (-6)
#define HVL_ERROR_IMAGE_DATA (-8)

// ---- Private window messages -------------------------------------------------------------------
#define WMX_CREATE_SHELL 0x8001u
#define WMX_CREATE_CONTROL 0x8002u
#define WMX_DESTROY_WINDOW 0x8003u
#define WMX_SET_FOCUS 0x8004u
#define WMX_MOVE_ABOVE 0x8005u
#define WMX_SET_VISIBLE 0x8006u
#define WMX_COMMAND 0x8007u
#define WMX_GET_MINIMUM_SIZE 0x8008u
#define WMX_SET_BOUNDS 0x8009u
#define WMX_SET_ORIENTATION 0x800Bu
#define WMX_GET_INSETS 0x800Cu
#define WMX_CHILD_BOUNDS 0x800Du
#define WMX_CREATE_MENU_BAR 0x800Eu
#define WMX_GET_DEFAULT_BACKGROUND 0x800Fu
#define WMX_SET_ENABLED 0x8010u
#define WMX_SET_MULTIPLE_MODE 0x8011u
#define WMX_DRAW_ITEM 0x8012u
#define WMX_CREATE_POPUP_MENU 0x8013u
#define WMX_SHOW_POPUP_MENU 0x8014u
#define WMX_GET_DC 0x8016u
#define WMX_NOTIFY 0x8017u
#define WMX_GET_DEFAULT_FOREGROUND 0x8018u
#define WMX_SET_BACKGROUND 0x8019u
#define WMX_SET_FOREGROUND 0x801Au
#define WMX_SET_FONT 0x801Bu
#define WMX_SET_DATA 0x801Cu

// ---- Callback ids ------------------------------------------------------------------------------
#define HVL_CB_BUTTON_CLICK 0u
#define HVL_CB_LIST_SELECTION 1u
#define HVL_CB_WINDOW_EVENT 2u
#define HVL_CB_SCROLL 3u
#define HVL_CB_COMBO_SELECTION 4u
#define HVL_CB_KEY 5u
#define HVL_CB_TEXT_CHANGED 6u
#define HVL_CB_POINTER 7u
#define HVL_CB_MENU_ITEM 8u
#define HVL_CB_FOCUS 9u
#define HVL_CB_PAINT 10u
#define HVL_CB_SHELL_RESIZED 11u
#define HVL_CB_SHELL_MOVED 12u
#define HVL_CB_WHEEL 17u
#define HVL_CB_POINTER_PRESSED 1458260670u

#define HVL_CALLBACK_CHAINS 20

// ---- Records -----------------------------------------------------------------------------------

struct ErrorState {
  int32_t code;
  const WCHAR* message;
  int32_t ownsMessage;
};

struct Display;
struct WidgetHead;
struct Control;
struct Shell;
struct Font;
struct Color;
struct MenuItem;

typedef void (*DisposeOperation)(void* record);

struct CallbackTarget {
  jobject peer;
  WidgetHead* widget;
  Display* display;
};

struct WidgetHead {
  Display* display;
  CallbackTarget* target;
  uint32_t style;
  DisposeOperation dispose;
};

// Device records (the display) begin with their dispose operation.
struct Device {
  DisposeOperation dispose;
};

struct CallbackEntry {
  const char* className;
  const char* methodName;
  jmethodID methodId;
  uint32_t id;
  CallbackEntry* next;
};

struct CallbackLookup {
  CallbackEntry** buckets;
  JavaVM* vm;
  jobject displayObject;
};

// Key translation state shared between the key messages of all controls.
struct KeyState {
  int32_t keyCode;
  WCHAR character;
  BOOL special;
  BOOL nulCharacter;
  BOOL deadKey;
};

struct ShellNode {
  Shell* shell;
  ShellNode* next;
};

struct Display {
  DisposeOperation dispose;
  CallbackLookup* callbackLookup;
  DWORD uiThreadId;
  DWORD processId;
  HINSTANCE moduleInstance;
  HWND messageWindow;
  MenuItem** commandItems;
  int32_t commandItemCapacity;
  Font* defaultFont;
  KeyState keyState;
  HWND pressWindow;
  RECT clickRect;
  DWORD clickDeadline;
  BOOL dragStarted;
  HWND pointerWindow;
  ShellNode* modalShells;
  ShellNode* enabledShells;
  int32_t comctlMajor;
  int32_t comctlMinor;
  Control* longPressControl;
  DWORD longPressTick;
  int32_t longPressX;
  int32_t longPressY;
};

struct Color {
  COLORREF colour;
  HBRUSH brush;
};

struct Font {
  HFONT font;
  TEXTMETRICW metrics;
};

typedef jboolean (*KeyEventHandler)(Control* control, jint kind, jchar character, jint keyCode, jint modifiers);

struct Control {
  WidgetHead head;
  HWND window;
  WNDPROC classProc;
  Control* parent;
  BOOL redrawEnabled;
  Color* background;
  Color* foreground;
  BOOL inheritsBackground;
  HCURSOR cursor;
  UINT colourQueryMessage;
  KeyEventHandler keyEventHandler;
};

struct Adjustable;

struct Scrollable {
  Control control;
  Adjustable* horizontalBar;
  Adjustable* verticalBar;
};

// Accelerator entry flags: 1 virtual key (always), 4 Shift, 8 Control, 0x10 Alt.
struct AcceleratorEntry {
  BYTE flags;
  WORD key;
  WORD commandId;
};

struct Menu;

struct Shell {
  Scrollable scrollable;
  Menu* menuBar;
  AcceleratorEntry* accelerators;
  int32_t acceleratorCount;
  int32_t acceleratorCapacity;
  HACCEL acceleratorTable;
  BYTE shiftDown;
};

// ---- Handles -------------------------------------------------------------------------------------
// Records live in a low part of the address space, so that a record's address is the 32-bit
// handle Java keeps. Allocation answers zero-filled memory or null.
HVL_EXPORT void* hvlAllocate(size_t size);
HVL_EXPORT void hvlFree(void* record);
inline jint hvlHandle(const void* record) { return static_cast<jint>(reinterpret_cast<uintptr_t>(record)); }
template <typename T>
inline T* hvlRecord(jint handle) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
}

// ---- Errors -------------------------------------------------------------------------------------
HVL_EXPORT void HVL_ErrorHandler(JNIEnv* env, const char* nativeName, ErrorState* error);
HVL_EXPORT jint HVL_GetError(ErrorState* error);
HVL_EXPORT void Win32Error_SetError(ErrorState* error, jint code, const WCHAR* text);
// Throws java.lang.OutOfMemoryError with the message (or ends the VM when the class is missing
// and nothing is pending).
void hvlThrowOutOfMemory(JNIEnv* env, const char* message);

// ---- Conversions ----------------------------------------------------------------------------------
HVL_EXPORT jstring convertToJavaString(JNIEnv* env, const WCHAR* text);
HVL_EXPORT jintArray createJavaRect(JNIEnv* env, jint x, jint y, jint width, jint height);
HVL_EXPORT jintArray createJavaPoint(JNIEnv* env, jint x, jint y);
HVL_EXPORT jobjectArray convertToJavaStringArray(JNIEnv* env, const WCHAR* const* texts);

// A Java string's characters as terminated UTF-16 text for the length of a native call.
struct JavaText {
  JNIEnv* env;
  jstring string;
  const jchar* characters;  // from the VM
  WCHAR* copy;              // a terminated copy, when one was needed
  const WCHAR* text;        // what the operation receives; null for a null string
  bool failed;              // the VM could not hand out the characters (exception pending)
};
void javaTextOpen(JavaText& text, JNIEnv* env, jstring string);
void javaTextClose(JavaText& text);

// ---- Callbacks ------------------------------------------------------------------------------------
HVL_EXPORT CallbackLookup* getCallbackLookup(CallbackTarget* target);
HVL_EXPORT jint getEnv(CallbackLookup* lookup, JNIEnv** env, BOOL* attached);
HVL_EXPORT void vaCallback(uint32_t id, const char* signature, CallbackTarget* target, ...);
HVL_EXPORT jboolean vaCallbackBoolean(uint32_t id, const char* signature, CallbackTarget* target, ...);
HVL_EXPORT jint vaCallbackInt(uint32_t id, const char* signature, CallbackTarget* target, ...);

// One caller per callback id.
HVL_EXPORT void hvlCallbackButtonClick(CallbackTarget* target);
HVL_EXPORT void hvlCallbackListSelection(CallbackTarget* target, jint index, jint kind);
HVL_EXPORT void hvlCallbackWindowEvent(CallbackTarget* target, jint event);
HVL_EXPORT void hvlCallbackScroll(CallbackTarget* target, jint value, jint kind);
HVL_EXPORT void hvlCallbackComboSelection(CallbackTarget* target, jint index);
HVL_EXPORT jboolean hvlCallbackKey(CallbackTarget* target, jint kind, jchar character, jint keyCode, jint modifiers);
HVL_EXPORT void hvlCallbackTextChanged(CallbackTarget* target);
HVL_EXPORT void hvlCallbackPointer(CallbackTarget* target, jint kind, jint x, jint y, jint button, jint modifiers);
HVL_EXPORT void hvlCallbackMenuItem(CallbackTarget* target);
HVL_EXPORT void hvlCallbackFocus(CallbackTarget* target, jint kind);
HVL_EXPORT void hvlCallbackPaint(CallbackTarget* target, jint x, jint y, jint width, jint height);
HVL_EXPORT void hvlCallbackShellResized(CallbackTarget* target, jint width, jint height);
HVL_EXPORT void hvlCallbackShellMoved(CallbackTarget* target, jint x, jint y);
HVL_EXPORT void hvlCallbackWheel(CallbackTarget* target, jint kind, jint x, jint y, jint modifiers, jint lines, jint notches);
HVL_EXPORT jint hvlCallbackPointerPressed(CallbackTarget* target, jint x, jint y);

// ---- Display and graphics services used across the parts ------------------------------------------
HVL_EXPORT Display* Control_GetDisplay(Control* control);
HVL_EXPORT void Display_UpdateModalShellVisibility(Display* display, Shell* shell, BOOL modal);
HVL_EXPORT jint _Display_GetComCtrlMajorVersion(Display* display, ErrorState* error);
HVL_EXPORT void _Font_FillInFont(LOGFONTW* font, jint size, jint style);
// The library's module handle, recorded when it was loaded.
HINSTANCE hvlModuleInstance();
// The shell whose window is `window` or holds it (following parents through child windows).
Shell* hvlShellOfWindow(HWND window);
// Adds the shell to the display's enabled shells (creation, or Java enabling it) and removes it.
BOOL hvlAddEnabledShell(Display* display, Shell* shell, ErrorState* error);
void hvlRemoveEnabledShell(Display* display, Shell* shell);
Color* hvlColorNew(jint red, jint green, jint blue, ErrorState* error);
Font* hvlFontFromSystemFont(HFONT font, ErrorState* error);

// Key table shared by key translation and input injection: toolkit code to virtual key (first
// matching row) and back; 0 when the value is not in the table.
int hvlVirtualKeyOfCode(int code);
int hvlCodeOfVirtualKey(int virtualKey);

// ---- The shape of a native -------------------------------------------------------------------------
// Reports a failure and answers the failure value.
#define HVL_REPORT(env, name, error) \
  do {                               \
    if ((error).code != 0) HVL_ErrorHandler(env, name, &(error)); \
  } while (0)

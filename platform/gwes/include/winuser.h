// The device's window manager as this system calls it: windows, messages and message boxes.
#pragma once

#include "windows.h"

typedef struct HWND__* HWND;

#define WM_NULL 0x0000u
#define WM_COMMAND 0x0111u
#define WM_USER 0x0400u

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define MB_OK 0x0u
#define MB_OKCANCEL 0x1u
#define MB_ICONERROR 0x10u
#define IDOK 1
#define IDCANCEL 2

// Finds a top-level window by class and title (a null title matches any). The process's own
// windows are looked at first, then the windows that other processes of the device declare.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindow(HWND window);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Windows of other processes, the entry points shared with the process's own windows, and
// message boxes.
//
// Other processes' top-level windows are declared as files <device root>/windows/<class name>
// whose first line is the window title. A message sent or posted to one is appended to
// <device root>/windows/<class name>.messages as "<message> <wParam> <lParam>" in decimal.
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "vork/text.h"
#include "winuser.h"

using namespace vork;

// The process's own windows (window.cpp, messages.cpp).
bool gwesIsLocalWindow(HWND window);
LRESULT gwesSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& local);
BOOL gwesPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL gwesShowWindow(HWND window, int command);
HWND gwesFindWindow(LPCWSTR className, LPCWSTR windowName);

namespace {

struct ForeignWindow {
  std::string className;  // UTF-8, the declaring file's name
};

std::mutex foreignLock;
std::map<std::string, std::unique_ptr<ForeignWindow>> foreignByClass;

std::string windowsFolder() { return deviceRoot() + "/windows"; }

ForeignWindow* foreignWindow(HWND window) {
  std::lock_guard<std::mutex> guard(foreignLock);
  for (const auto& entry : foreignByClass) {
    if (reinterpret_cast<HWND>(entry.second.get()) == window) return entry.second.get();
  }
  return nullptr;
}

bool declared(const std::string& className, std::string& title) {
  if (className.empty() || className.find('/') != std::string::npos || className[0] == '.') return false;
  std::ifstream in(windowsFolder() + "/" + className);
  if (!in) return false;
  std::getline(in, title);
  if (!title.empty() && title.back() == '\r') title.pop_back();
  return true;
}

void appendMessage(const ForeignWindow* window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::string path = windowsFolder() + "/" + window->className + ".messages";
  if (FILE* log = std::fopen(path.c_str(), "a")) {
    std::fprintf(log, "%u %llu %lld\n", message, static_cast<unsigned long long>(wParam),
                 static_cast<long long>(lParam));
    std::fclose(log);
  }
}

}  // namespace

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  if (!className) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (HWND own = gwesFindWindow(className, windowName)) return own;
  std::string name = utf8FromUtf16(className);
  std::string title;
  if (!declared(name, title) || (windowName && utf8FromUtf16(windowName) != title)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(foreignLock);
  std::unique_ptr<ForeignWindow>& window = foreignByClass[name];
  if (!window) window.reset(new ForeignWindow{name});
  return reinterpret_cast<HWND>(window.get());
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  bool local;
  LRESULT result = gwesSendMessage(window, message, wParam, lParam, local);
  if (local) return result;
  if (ForeignWindow* foreign = foreignWindow(window)) {
    appendMessage(foreign, message, wParam, lParam);
    return 0;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!window || gwesIsLocalWindow(window)) return gwesPostMessage(window, message, wParam, lParam);
  if (ForeignWindow* foreign = foreignWindow(window)) {
    appendMessage(foreign, message, wParam, lParam);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

BOOL ShowWindow(HWND window, int command) {
  if (gwesIsLocalWindow(window)) return gwesShowWindow(window, command);
  return foreignWindow(window) != nullptr;
}

BOOL IsWindow(HWND window) { return gwesIsLocalWindow(window) || foreignWindow(window) != nullptr; }

// A message box is written to the error stream and answered OK at once.
int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  std::fprintf(stderr, "%s: %s\n", utf8FromUtf16(caption ? caption : u"Error").c_str(),
               utf8FromUtf16(text ? text : u"").c_str());
  std::fflush(stderr);
  return IDOK;
}

// System colours and metrics, the message beep and the system's message texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "gwes_internal.h"
#include "vork/text.h"

using namespace vork;

namespace {

std::mutex colourLock;
COLORREF colours[C_SYS_COLOR_TYPES] = {
    RGB(192, 192, 192),  // scroll bar
    RGB(0, 128, 128),    // background (desktop)
    RGB(0, 0, 128),      // active caption
    RGB(128, 128, 128),  // inactive caption
    RGB(255, 255, 255),  // menu
    RGB(255, 255, 255),  // window
    RGB(0, 0, 0),        // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(255, 255, 255),  // caption text
    RGB(192, 192, 192),  // active border
    RGB(192, 192, 192),  // inactive border
    RGB(128, 128, 128),  // application workspace
    RGB(0, 0, 128),      // highlight
    RGB(255, 255, 255),  // highlight text
    RGB(192, 192, 192),  // button face
    RGB(128, 128, 128),  // button shadow
    RGB(128, 128, 128),  // grey text
    RGB(0, 0, 0),        // button text
    RGB(192, 192, 192),  // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(0, 0, 0),        // 3-D dark shadow
    RGB(223, 223, 223),  // 3-D light
    RGB(0, 0, 0),        // info text
    RGB(255, 255, 225),  // info background
    RGB(192, 192, 192),  // static
    RGB(0, 0, 0),        // static text
};
HBRUSH brushes[C_SYS_COLOR_TYPES] = {};

bool colourIndex(int index, int& out) {
  index &= ~SYS_COLOR_INDEX_FLAG;
  if (index < 0 || index >= C_SYS_COLOR_TYPES) return false;
  out = index;
  return true;
}

}  // namespace

DWORD GetSysColor(int index) {
  int i;
  if (!colourIndex(index, i)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> guard(colourLock);
  return colours[i];
}

HBRUSH GetSysColorBrush(int index) {
  int i;
  if (!colourIndex(index, i)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  COLORREF colour;
  {
    std::lock_guard<std::mutex> guard(colourLock);
    if (brushes[i]) return brushes[i];
    colour = colours[i];
  }
  HBRUSH brush = CreateSolidBrush(colour);
  std::lock_guard<std::mutex> guard(colourLock);
  if (!brushes[i]) brushes[i] = brush;
  return brushes[i];
}

BOOL SetSysColors(int count, const int* indices, const DWORD* values) {
  if (count < 0 || (count && (!indices || !values))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> guard(colourLock);
    for (int n = 0; n < count; ++n) {
      int i;
      if (!colourIndex(indices[n], i)) continue;
      colours[i] = values[n] & 0xFFFFFF;
      brushes[i] = nullptr;  // the old brush stays valid for whoever holds it
    }
  }
  return TRUE;
}

int GetSystemMetrics(int index) {
  int dpi = gwes::screenDpi();
  auto scaled = [dpi](int value) { return value * dpi / 96; };
  switch (index) {
    case SM_CXSCREEN: return gwes::screenWidth();
    case SM_CYSCREEN: return gwes::screenHeight();
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB: return scaled(13);
    case SM_CYCAPTION: return scaled(24);
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return scaled(3);
    case SM_CXFRAME:
    case SM_CYFRAME: return scaled(4);
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return scaled(32);
    case SM_CYMENU: return scaled(26);
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK: return scaled(8);
    case SM_CXEDGE:
    case SM_CYEDGE: return 2;
    case SM_CXSMICON:
    case SM_CYSMICON: return scaled(16);
    case SM_DEBUG: return 0;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

BOOL MessageBeep(UINT type) {
  std::string path = deviceRoot() + "/sound.log";
  if (FILE* log = std::fopen(path.c_str(), "a")) {
    std::fprintf(log, "beep %u\n", type);
    std::fclose(log);
  }
  return TRUE;
}

// ---- Message texts ----------------------------------------------------------------------------

namespace gwes {

const char* systemMessageText(DWORD number) {
  switch (number) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_INVALID_FUNCTION: return "Incorrect function.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_TOO_MANY_OPEN_FILES: return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough storage is available to process this command.";
    case ERROR_BAD_FORMAT: return "An attempt was made to load a program with an incorrect format.";
    case ERROR_INVALID_DATA: return "The data is invalid.";
    case ERROR_OUTOFMEMORY: return "Not enough storage is available to complete this operation.";
    case ERROR_NOT_READY: return "The device is not ready.";
    case ERROR_WRITE_FAULT: return "The system cannot write to the specified device.";
    case ERROR_READ_FAULT: return "The system cannot read from the specified device.";
    case ERROR_GEN_FAILURE: return "A device attached to the system is not functioning.";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process.";
    case ERROR_HANDLE_EOF: return "Reached the end of the file.";
    case ERROR_NOT_SUPPORTED: return "The request is not supported.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_BROKEN_PIPE: return "The pipe has been ended.";
    case ERROR_INSUFFICIENT_BUFFER: return "The data area passed to a system call is too small.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_MOD_NOT_FOUND: return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND: return "The specified procedure could not be found.";
    case ERROR_DIR_NOT_EMPTY: return "The directory is not empty.";
    case ERROR_BUSY: return "The requested resource is in use.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_BAD_EXE_FORMAT: return "The specified program is not a valid application.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_OPERATION_ABORTED:
      return "The I/O operation has been aborted because of either a thread exit or an application request.";
    case ERROR_IO_PENDING: return "Overlapped I/O operation is in progress.";
    case ERROR_NOACCESS: return "Invalid access to memory location.";
    case ERROR_INVALID_WINDOW_HANDLE: return "Invalid window handle.";
    case ERROR_CLASS_ALREADY_EXISTS: return "Class already exists.";
    case ERROR_CLASS_DOES_NOT_EXIST: return "Class does not exist.";
    case ERROR_CLASS_HAS_WINDOWS: return "Class still has open windows.";
    case ERROR_INVALID_INDEX: return "Invalid index.";
    case ERROR_DEVICE_NOT_CONNECTED: return "The device is not connected.";
    case ERROR_NOT_FOUND: return "Element not found.";
    case ERROR_TIMEOUT: return "This operation returned because the timeout period expired.";
  }
  return nullptr;
}

}  // namespace gwes

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  void* memory = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!memory) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return memory;
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD number, DWORD, LPWSTR buffer, DWORD size, va_list*) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = gwes::systemMessageText(number);
  if (!text) {
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND: no text for this number
    return 0;
  }
  std::u16string message = utf16FromUtf8(text) + u"\r\n";
  DWORD length = static_cast<DWORD>(message.size());
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    auto* out = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(WCHAR)));
    if (!out) return 0;
    std::memcpy(out, message.c_str(), (length + 1) * sizeof(WCHAR));
    *reinterpret_cast<LPWSTR*>(buffer) = out;
    return length;
  }
  if (size <= length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, message.c_str(), (length + 1) * sizeof(WCHAR));
  return length;
}

// The common-controls library of the simulated device (comctl32.dll): its version export.
#include <cstdint>

#include "windows.h"

struct DLLVERSIONINFO {
  DWORD cbSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformID;
};

#define DLLVER_PLATFORM_WINDOWS 0x00000001u
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define S_OK 0

// Version 5.80, as the handhelds' common controls report it. The caller sets cbSize to the
// size of the record (20 bytes); any other size is refused.
extern "C" __attribute__((visibility("default"))) HRESULT DllGetVersion(DLLVERSIONINFO* info) {
  if (!info || info->cbSize != sizeof(DLLVERSIONINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return E_INVALIDARG;
  }
  info->dwMajorVersion = 5;
  info->dwMinorVersion = 80;
  info->dwBuildNumber = 0;
  info->dwPlatformID = DLLVER_PLATFORM_WINDOWS;
  return S_OK;
}

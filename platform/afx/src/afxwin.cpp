// Initialising the framework succeeds unless the device says otherwise
// (HKLM\Substitute\Framework\FailInit = 1).
#include "afxwin.h"

BOOL AfxWinInit(HINSTANCE, HINSTANCE, LPTSTR, int) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Substitute\\Framework", 0, KEY_READ, &key) != ERROR_SUCCESS) return TRUE;
  DWORD fail = 0, type = 0, size = sizeof fail;
  LONG result = RegQueryValueExW(key, u"FailInit", nullptr, &type, reinterpret_cast<BYTE*>(&fail), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD && fail == 1 ? FALSE : TRUE;
}

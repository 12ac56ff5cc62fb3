// The radio mode is the device's HKLM\Substitute\Bluetooth\RadioMode.
#include "bthutil.h"

static const char16_t* const radioKey = u"Substitute\\Bluetooth";

int BthGetMode(DWORD* mode) {
  if (!mode) return ERROR_INVALID_PARAMETER;
  HKEY key;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, radioKey, 0, KEY_READ, &key);
  if (result != ERROR_SUCCESS) return result;
  DWORD value = 0, type = 0, size = sizeof value;
  result = RegQueryValueExW(key, u"RadioMode", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_DWORD || size != sizeof value || value > BTH_DISCOVERABLE) return ERROR_INVALID_DATA;
  *mode = value;
  return ERROR_SUCCESS;
}

int BthSetMode(DWORD mode) {
  if (mode > BTH_DISCOVERABLE) return ERROR_INVALID_PARAMETER;
  HKEY key;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, radioKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExW(key, u"RadioMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof mode);
  RegCloseKey(key);
  return result;
}

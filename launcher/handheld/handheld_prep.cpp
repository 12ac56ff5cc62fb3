#include "handheld_prep.h"

#include "winuser.h"
#ifdef LAUNCHER_RADIO
#include "bthutil.h"
#endif

HandheldState handheld;

static const WCHAR DATABASE[] = u"\\vork\\database";
static const WCHAR DATABASE_SAVED[] = u"\\vork\\database_saved";
static const WCHAR WIDCOMM_KEY[] = u"SOFTWARE\\Widcomm\\BtConfig\\General";
static const WCHAR POWER_TIMEOUTS_KEY[] = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
static const WCHAR POWER_EVENT[] = u"PowerManager/ReloadActivityTimeouts";
static const UINT TRAY_STACK_OFF = 4097;

void restoreDatabase() {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(DATABASE, &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return;
  }
  search = FindFirstFileW(DATABASE_SAVED, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FindClose(search);
  MoveFileW(DATABASE_SAVED, DATABASE);
}

LONG readWidcommStackMode() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WIDCOMM_KEY, 0, 0xF003F, &key) != ERROR_SUCCESS) return -1;
  DWORD mode = 0, type = 0, size = sizeof mode;
  if (RegQueryValueExW(key, u"StackMode", nullptr, &type, reinterpret_cast<BYTE*>(&mode), &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    mode = 0;
  }
  RegCloseKey(key);
  return mode != 0 ? 1 : 0;
}

void switchWidcommStackOff() {
  if (readWidcommStackMode() != 1) return;
  HWND tray = FindWindowW(u"WCE_BTTRAY", u"Bluetooth Console");
  if (!tray) return;
  SendMessageW(tray, WM_COMMAND, TRAY_STACK_OFF, 0);
}

// Tells the power manager to reload its timeouts after the registry changed.
static void writeSuspendTimeout(DWORD value, DWORD size) {
  HANDLE reload = CreateEventW(nullptr, FALSE, FALSE, POWER_EVENT);
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, POWER_TIMEOUTS_KEY, 0, 0, &key) == ERROR_SUCCESS) {
    RegSetValueExW(key, u"BattSuspendTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), size);
    RegCloseKey(key);
  }
  EventModify(reload, EVENT_SET);
  // The event handle stays open until the launcher exits.
}

void overrideBatterySuspend() {
  SystemParametersInfoW(SPI_GETBATTERYIDLETIMEOUT, 0, &handheld.savedIdleTimeout, 0);
  if (SystemParametersInfoW(SPI_SETBATTERYIDLETIMEOUT, 0, nullptr, 0)) return;
  // Registry fallback.
  HANDLE reload = CreateEventW(nullptr, FALSE, FALSE, POWER_EVENT);
  HKEY key;
  DWORD size = sizeof handheld.savedSuspendTimeout;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, POWER_TIMEOUTS_KEY, 0, 0, &key) == ERROR_SUCCESS) {
    RegQueryValueExW(key, u"BattSuspendTimeout", nullptr, nullptr, reinterpret_cast<BYTE*>(&handheld.savedSuspendTimeout),
                     &size);
    // The length the read reported, but never more than the value holds.
    DWORD never = 0;
    RegSetValueExW(key, u"BattSuspendTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&never),
                   size < sizeof never ? size : sizeof never);
    RegCloseKey(key);
  }
  handheld.suspendTimeoutSaved = true;
  EventModify(reload, EVENT_SET);
}

void restoreBatterySuspend() {
  if (SystemParametersInfoW(SPI_SETBATTERYIDLETIMEOUT, handheld.savedIdleTimeout, nullptr, 0)) return;
  // Registry fallback: only a value that the override read can be put back.
  if (!handheld.suspendTimeoutSaved) return;
  writeSuspendTimeout(handheld.savedSuspendTimeout, sizeof handheld.savedSuspendTimeout);
}

#ifdef LAUNCHER_RADIO
void saveRadioMode() { BthGetMode(&handheld.savedRadioMode); }
void setRadioConnectable() { BthSetMode(BTH_CONNECTABLE); }
void restoreRadioMode() {
  if (handheld.savedRadioMode == BTH_POWER_OFF) BthSetMode(BTH_POWER_OFF);
}
#else
void saveRadioMode() {}
void setRadioConnectable() {}
void restoreRadioMode() {}
#endif

void prepareHandheld(const LaunchOptions& options, bool withRadio) {
  if (options.batteryOverride) overrideBatterySuspend();
  if (withRadio) saveRadioMode();
  handheld.stackModeAtStart = readWidcommStackMode();
  if (withRadio) setRadioConnectable();
}

void restoreHandheld(const LaunchOptions& options, bool withRadio) {
  if (options.batteryOverride) restoreBatterySuspend();
  if (withRadio) restoreRadioMode();
  if (handheld.stackModeAtStart == 0) switchWidcommStackOff();
}

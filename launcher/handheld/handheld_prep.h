// Preparing the handheld for the VM run and putting it back afterwards.
#pragma once

#include "launch_options.h"
#include "windows.h"

struct HandheldState {
  LONG stackModeAtStart;  // -1 no Widcomm configuration, 0 stack off, 1 stack on
  DWORD savedIdleTimeout;
  DWORD savedSuspendTimeout;
  bool suspendTimeoutSaved;  // the registry fallback of overrideBatterySuspend ran
  DWORD savedRadioMode;      // Windows Mobile 6 build
};

extern HandheldState handheld;

void restoreDatabase();
LONG readWidcommStackMode();
void switchWidcommStackOff();
void overrideBatterySuspend();
void restoreBatterySuspend();
void saveRadioMode();
void setRadioConnectable();
void restoreRadioMode();

// The steps around the VM run, in their order; `withRadio` in the Windows Mobile 6 build.
void prepareHandheld(const LaunchOptions& options, bool withRadio);
void restoreHandheld(const LaunchOptions& options, bool withRadio);

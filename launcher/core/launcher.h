// The launcher's run, shared by the desktop and handheld builds.
#pragma once

#include "launch_options.h"
#include "windows.h"

// What a build adds to the run.
struct LauncherBuild {
  // Printed when the application framework cannot be initialised.
  const WCHAR* frameworkFailure;
  // The location file of piece 8.
  const WCHAR* gpsLocation;
  // Whether b sets batteryOverride.
  bool acceptsBattery;
  // Right after the console window is hidden (may be null).
  void (*atStart)();
  // Just before the VM starts, and after it has ended or failed to start (may be null).
  void (*prepare)(const LaunchOptions& options);
  void (*restore)(const LaunchOptions& options);
};

// Creates the VM process and waits for it; on failure shows "Errorcode: %i". Returns the
// wait's result or the error code (the caller ignores it).
DWORD startVmAndWait(const WCHAR* applicationName, WCHAR* commandLine);

// The whole run; returns the exit code.
int runLauncher(int argc, WCHAR** argv, const LauncherBuild& build);

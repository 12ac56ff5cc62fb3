// Q7Launcher_win32: the desktop launcher.
#include "crt.h"
#include "launcher.h"

static int launcherMain(int argc, WCHAR** argv) {
  static const LauncherBuild desktop = {
      u"Serious mistake by the MFC initialization\n",
      u"config\\gps.properties",
      false,
      nullptr,
      nullptr,
      nullptr,
  };
  return runLauncher(argc, argv, desktop);
}

int main(int argc, char** argv) { return crt::runWideMain(argc, argv, launcherMain); }

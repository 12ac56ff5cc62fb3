// Q7Launcher: the handheld launcher, built for Windows CE 5 and, with LAUNCHER_RADIO, for
// Windows Mobile 6.
#include "crt.h"
#include "handheld_prep.h"
#include "launcher.h"

#ifdef LAUNCHER_RADIO
static const bool WITH_RADIO = true;

// The high-resolution-aware marker: resource type "CEUX", name "HI_RES_AWARE", the 16-bit
// value 1. An ELF program carries it as a section of that name.
__attribute__((section(".rsrc.CEUX.HI_RES_AWARE"), used)) static const unsigned short HI_RES_AWARE = 1;
#else
static const bool WITH_RADIO = false;
#endif

static void prepare(const LaunchOptions& options) { prepareHandheld(options, WITH_RADIO); }
static void restore(const LaunchOptions& options) { restoreHandheld(options, WITH_RADIO); }

static int launcherMain(int argc, WCHAR** argv) {
  static const LauncherBuild handheldBuild = {
      u"Schwerwiegender Fehler bei der MFC-Initialisierung\n",
      u"\\vork\\config\\gps.properties",
      true,
      restoreDatabase,
      prepare,
      restore,
  };
  return runLauncher(argc, argv, handheldBuild);
}

int main(int argc, char** argv) { return crt::runWideMain(argc, argv, launcherMain); }

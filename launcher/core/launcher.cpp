#include "launcher.h"

#include <cstdlib>

#include "afxwin.h"
#include "crt.h"
#include "vm_command_line.h"
#include "winuser.h"

DWORD startVmAndWait(const WCHAR* applicationName, WCHAR* commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD result;
  if (CreateProcessW(applicationName, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    result = WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    result = GetLastError();
    WCHAR message[MESSAGE_SIZE];
    crt::snwprintf(message, MESSAGE_SIZE, u"Errorcode: %i", static_cast<int>(result));
    MessageBoxW(nullptr, message, u"Error", MB_OK);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

static void showError(const WCHAR* format, const WCHAR* text) {
  WCHAR message[MESSAGE_SIZE];
  crt::snwprintf(message, MESSAGE_SIZE, format, text);
  MessageBoxW(nullptr, message, u"Error", MB_OK);
}

int runLauncher(int argc, WCHAR** argv, const LauncherBuild& build) {
  // 1. Hide the console window (there may be none).
  HWND console = FindWindowW(u"ConsoleWindowClass", nullptr);
  ShowWindow(console, SW_HIDE);

  // 2. Handheld builds: restore the database.
  if (build.atStart) build.atStart();

  // 3. Initialise the application framework.
  if (!AfxWinInit(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), 0)) {
    crt::wprintf(u"%s", build.frameworkFailure);
    return 1;
  }

  // 4. Check the argument count.
  if (argc < 2) {
    crt::wprintf(u"Wrong parameter count\n\nUsage:\n%s <path-to-installation> <options> <additional parameter> ...",
                 argc > 0 ? argv[0] : u"");
    return 0;
  }
  const WCHAR* installDirectory = argv[1];
  if (crt::wcslen(installDirectory) > MAX_INSTALL_DIRECTORY) {
    showError(u"Installation directory too long:\n%s", installDirectory);
    return 0;
  }

  // 5. Parse the option string.
  LaunchOptions options;
  initLaunchOptions(options);
  if (argc > 2) parseLaunchOptions(argv[2], build.acceptsBattery, options);

  // 6. Choose the executable; with debugMode the console comes back.
  WCHAR exePath[EXE_PATH_SIZE];
  buildExecutablePath(installDirectory, options.debugMode, exePath);
  if (options.debugMode) ShowWindow(console, SW_SHOWNORMAL);

  // 7. Build the command line, or read it from the parameter file.
  auto* commandLine = static_cast<WCHAR*>(std::calloc(COMMAND_LINE_SIZE, sizeof(WCHAR)));
  if (!commandLine) return 0;
  if (options.useParamFile) {
    WCHAR paramFile[EXE_PATH_SIZE];
    buildParamFilePath(installDirectory, paramFile, EXE_PATH_SIZE);
    if (!readParamFile(paramFile, commandLine)) {
      showError(u"Can't open file:\n%s", paramFile);
      std::free(commandLine);
      return 0;
    }
  } else {
    buildCommandLine(options, installDirectory, exePath, build.gpsLocation, commandLine);
    if (argc > 3) {
      auto* spare = static_cast<WCHAR*>(std::calloc(COMMAND_LINE_SIZE, sizeof(WCHAR)));
      if (!spare) {
        std::free(commandLine);
        return 0;
      }
      WCHAR* released = nullptr;
      commandLine = appendAdditionalParameters(commandLine, spare, argc - 3, argv + 3, &released);
      std::free(released);
    }
  }

  // 8. Debug lines.
  if (options.debugMode) {
    crt::wprintf(u"exe: %s\n", exePath);
    crt::wprintf(u"param: %s\n", commandLine);
  }

  // 9. to 11. Prepare the device, run the VM, put the device back.
  if (build.prepare) build.prepare(options);
  startVmAndWait(options.exeInCommandLine ? nullptr : exePath, commandLine);
  if (build.restore) build.restore(options);

  // 12. Release the command buffer.
  std::free(commandLine);
  return 0;
}

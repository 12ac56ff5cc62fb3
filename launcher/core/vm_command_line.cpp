#include "vm_command_line.h"

#include "crt.h"

void buildExecutablePath(const WCHAR* installDirectory, bool debugMode, WCHAR* exePath) {
  crt::snwprintf(exePath, EXE_PATH_SIZE, debugMode ? u"%s\\K5\\bin\\k5.exe" : u"%s\\K5\\bin\\k5w.exe",
                 installDirectory);
}

// One template, sixteen placeholders: the opening quote, the executable path, the closing
// quote and the blank of piece 1; pieces 3 to 8; the installation directory four times
// (pieces 9 and 10); piece 12; and spValue.
static const WCHAR COMMAND_TEMPLATE[] =
    u"%s%s%s%s-jcl:foun11 %s%s%s%s%s%s"
    u"\"-Djava.library.path=%s\\vork\" "
    u"-cp \"%s\\vork\\startup.jar;%s\\vork\\startup2.jar;%s\\vork\\eswt-converged.jar\" "
    u"com.q7vk.mobile.launcher.Main "
    u"%s"
    u"-application org.eclipse.ercp.eworkbench.eWorkbench -sp %s";

void buildCommandLine(const LaunchOptions& options, const WCHAR* installDirectory, const WCHAR* exePath,
                      const WCHAR* gpsLocation, WCHAR* commandLine) {
  WCHAR maxHeapPiece[HEAP_PIECE_SIZE] = {0};
  WCHAR initialHeapPiece[HEAP_PIECE_SIZE] = {0};
  WCHAR gpsPiece[MESSAGE_SIZE] = {0};
  if (options.maxHeap) crt::snwprintf(maxHeapPiece, HEAP_PIECE_SIZE, u"-Xmx%sm ", options.maxHeapDigits.digits);
  if (options.initialHeap) {
    crt::snwprintf(initialHeapPiece, HEAP_PIECE_SIZE, u"-Xms%sm ", options.initialHeapDigits.digits);
  }
  if (options.gpsConfig) {
    crt::snwprintf(gpsPiece, MESSAGE_SIZE, u"\"-Dcom.zel.tosa.location.config.path=%s\" ", gpsLocation);
  }
  bool exe = options.exeInCommandLine;
  crt::snwprintf(commandLine, COMMAND_LINE_SIZE, COMMAND_TEMPLATE,
                 exe ? u"\"" : u"", exe ? exePath : u"", exe ? u"\"" : u"", exe ? u" " : u"",
                 options.highMemory ? u"-Dhimem=true " : u"",
                 options.remoteDebug ? u"-Xdebug -Xrunjdwp:transport=dt_socket,server=y,suspend=y,address=8096 " : u"",
                 maxHeapPiece, initialHeapPiece,
                 options.noShutdown ? u"-Dosgi.noShutdown=true " : u"",
                 gpsPiece,
                 installDirectory, installDirectory, installDirectory, installDirectory,
                 options.osgiConsole ? u"-console " : u"",
                 options.spValue.digits);
}

WCHAR* appendAdditionalParameters(WCHAR* commandLine, WCHAR* spare, int count, WCHAR** parameters,
                                  WCHAR** released) {
  for (int i = 0; i < count; ++i) {
    crt::snwprintf(spare, COMMAND_LINE_SIZE, u"%s %s", commandLine, parameters[i]);
    WCHAR* swapped = commandLine;
    commandLine = spare;
    spare = swapped;
  }
  *released = spare;
  return commandLine;
}

void buildParamFilePath(const WCHAR* installDirectory, WCHAR* path, size_t size) {
  crt::snwprintf(path, size, u"%s\\vork\\param.ini", installDirectory);
}

bool readParamFile(const WCHAR* path, WCHAR* commandLine) {
  FILE* file = crt::wfopen(path, u"r");
  if (!file) return false;
  commandLine[0] = 0;
  size_t stored = 0;
  while (stored < COMMAND_LINE_SIZE - 1) {
    int c = crt::fgetwc(file);
    if (c == crt::WEOF16 || c == 10 || c == 13) break;
    commandLine[stored++] = static_cast<WCHAR>(c);
    commandLine[stored] = 0;
  }
  crt::fclose(file);
  return true;
}

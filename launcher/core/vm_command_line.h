// The VM's executable and command line.
#pragma once

#include "launch_options.h"
#include "windows.h"

constexpr size_t EXE_PATH_SIZE = 256;
constexpr size_t COMMAND_LINE_SIZE = 1024;
constexpr size_t HEAP_PIECE_SIZE = 20;
constexpr size_t MESSAGE_SIZE = 1024;

// The longest installation directory whose executable path fits: the directory plus the 15
// characters of "\K5\bin\k5w.exe" and the NUL.
constexpr size_t MAX_INSTALL_DIRECTORY = EXE_PATH_SIZE - 16;

// "%s\K5\bin\k5.exe" with debugMode, "%s\K5\bin\k5w.exe" otherwise.
void buildExecutablePath(const WCHAR* installDirectory, bool debugMode, WCHAR* exePath);

// The thirteen pieces of the command line from the options, into `commandLine`
// (COMMAND_LINE_SIZE characters). `gpsLocation` is the build's location file.
void buildCommandLine(const LaunchOptions& options, const WCHAR* installDirectory, const WCHAR* exePath,
                      const WCHAR* gpsLocation, WCHAR* commandLine);

// Appends each additional parameter with one blank before it, through a second buffer that is
// swapped with the first after each one. Returns the buffer that holds the result; the other
// one is the one to release.
WCHAR* appendAdditionalParameters(WCHAR* commandLine, WCHAR* spare, int count, WCHAR** parameters,
                                  WCHAR** released);

// "%s\vork\param.ini" for the installation directory.
void buildParamFilePath(const WCHAR* installDirectory, WCHAR* path, size_t size);

// Reads the first line of the parameter file into `commandLine` (at most 1023 characters,
// without its line end). False when the file cannot be opened.
bool readParamFile(const WCHAR* path, WCHAR* commandLine);

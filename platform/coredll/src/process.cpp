// Processes, modules, the command line and system parameters.
#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "crt.h"
#include "vork/core_internal.h"
#include "vork/text.h"
#include "windows.h"

extern char** environ;

using namespace vork;

namespace {

// ---- Processes ----------------------------------------------------------------------------------

struct Process {
  pid_t pid;
  bool exited;
  DWORD exitCode;
  int references;  // the process handle and the primary thread handle
};

// Under waitLock(): reaps the child once it has ended.
bool processSignaled(KernelObject* object, bool) {
  auto* process = static_cast<Process*>(object->data);
  if (!process->exited) {
    int status = 0;
    pid_t result = waitpid(process->pid, &status, WNOHANG);
    if (result == process->pid) {
      process->exited = true;
      process->exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                            : 0x80000000u | static_cast<DWORD>(WTERMSIG(status));
    } else if (result < 0 && errno == ECHILD) {
      process->exited = true;
      process->exitCode = 0;
    }
  }
  return process->exited;
}

void processDestroy(KernelObject* object) {
  auto* process = static_cast<Process*>(object->data);
  if (--process->references == 0) delete process;
}

const ObjectOps processOps{"process", processDestroy, processSignaled, nullptr, nullptr};
const ObjectOps primaryThreadOps{"thread", processDestroy, processSignaled, nullptr, nullptr};

std::string programPath(const std::u16string& program) {
  return program.find_first_of(u"\\/") == std::u16string::npos ? utf8FromUtf16(program) : hostPath(program);
}

// ---- Command line of this process -----------------------------------------------------------------

std::mutex commandLineLock;
std::u16string commandLine;
bool commandLineKnown = false;

// ---- System parameters ----------------------------------------------------------------------------

std::mutex parametersLock;
std::map<UINT, SystemParameterHandler> parameterHandlers;

const char16_t* const powerKey = u"Substitute\\Power";

bool readDword(const char16_t* keyPath, const char16_t* name, DWORD& value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof value;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
}

}  // namespace

namespace vork {

std::vector<std::u16string> splitCommandLine(const std::u16string& line, bool programFirst) {
  std::vector<std::u16string> arguments;
  size_t i = 0, n = line.size();
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  if (programFirst) {
    while (i < n && blank(line[i])) ++i;
    if (i < n) {
      std::u16string program;
      if (line[i] == u'"') {
        size_t close = line.find(u'"', i + 1);
        program = line.substr(i + 1, close == std::u16string::npos ? std::u16string::npos : close - i - 1);
        i = close == std::u16string::npos ? n : close + 1;
      } else {
        while (i < n && !blank(line[i])) program += line[i++];
      }
      arguments.push_back(program);
    }
  }
  while (true) {
    while (i < n && blank(line[i])) ++i;
    if (i >= n) break;
    std::u16string argument;
    bool quoted = false;
    while (i < n && (quoted || !blank(line[i]))) {
      if (line[i] == u'\\') {
        size_t count = 0;
        while (i < n && line[i] == u'\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          argument.append(count / 2, u'\\');
          if (count % 2 == 1) {
            argument += u'"';
            ++i;
          }
        } else {
          argument.append(count, u'\\');
        }
      } else if (line[i] == u'"') {
        if (quoted && i + 1 < n && line[i + 1] == u'"') {
          argument += u'"';  // "" inside quotes is one quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += line[i++];
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

void registerSystemParameter(UINT action, SystemParameterHandler handler) {
  std::lock_guard<std::mutex> guard(parametersLock);
  parameterHandlers[action] = handler;
}

}  // namespace vork

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLineText, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                    LPPROCESS_INFORMATION information) {
  std::u16string line = commandLineText ? commandLineText : u"";
  std::vector<std::u16string> arguments;
  std::u16string program;
  if (applicationName && *applicationName) {
    program = applicationName;
    arguments = splitCommandLine(line, false);
  } else {
    arguments = splitCommandLine(line, true);
    if (arguments.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    program = arguments.front();
    arguments.erase(arguments.begin());
  }
  std::string path = programPath(program);
  std::vector<std::string> argv{path};
  for (const std::u16string& argument : arguments) argv.push_back(utf8FromUtf16(argument));
  std::vector<char*> argvPointers;
  for (std::string& argument : argv) argvPointers.push_back(&argument[0]);
  argvPointers.push_back(nullptr);

  // The child shares this device and learns its raw command line.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::strncmp(*entry, "VORK_COMMAND_LINE=", 18) != 0 && std::strncmp(*entry, "VORK_DEVICE_ROOT=", 17) != 0) {
      environment.push_back(*entry);
    }
  }
  environment.push_back("VORK_COMMAND_LINE=" + utf8FromUtf16(line));
  environment.push_back("VORK_DEVICE_ROOT=" + deviceRoot());
  std::vector<char*> envPointers;
  for (std::string& entry : environment) envPointers.push_back(&entry[0]);
  envPointers.push_back(nullptr);

  pid_t pid = 0;
  int error = path.find('/') == std::string::npos
                  ? posix_spawnp(&pid, path.c_str(), nullptr, nullptr, argvPointers.data(), envPointers.data())
                  : posix_spawn(&pid, path.c_str(), nullptr, nullptr, argvPointers.data(), envPointers.data());
  if (error != 0) {
    SetLastError(error == ENOEXEC ? ERROR_BAD_EXE_FORMAT : errorFromErrno(error));
    return FALSE;
  }
  auto* process = new Process{pid, false, STILL_ACTIVE, 2};
  if (information) {
    information->hProcess = newHandle(&processOps, process);
    information->hThread = newHandle(&primaryThreadOps, process);
    information->dwProcessId = static_cast<DWORD>(pid);
    information->dwThreadId = static_cast<DWORD>(pid);
  } else {
    process->references = 0;  // nobody will wait: leave it unreaped like a detached child
    delete process;
  }
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
  KernelObject* object = objectOf(handle, &processOps);
  if (!object || !exitCode) return FALSE;
  auto lock = waitLock();
  processSignaled(object, false);
  *exitCode = static_cast<Process*>(object->data)->exitCode;
  return TRUE;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

LPWSTR GetCommandLineW() {
  std::lock_guard<std::mutex> guard(commandLineLock);
  if (!commandLineKnown) {
    const char* given = std::getenv("VORK_COMMAND_LINE");
    commandLine = utf16FromUtf8(given ? given : "");
    commandLineKnown = true;
  }
  return &commandLine[0];
}

// ---- Modules -------------------------------------------------------------------------------------

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  void* module = dlopen(moduleName ? utf8FromUtf16(moduleName).c_str() : nullptr, RTLD_LAZY | RTLD_NOLOAD);
  if (!module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(module);  // GetModuleHandle takes no reference
  return static_cast<HMODULE>(module);
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
  std::u16string name = fileName ? fileName : u"";
  std::string path;
  bool plainName = name.find_first_of(u"\\/") == std::u16string::npos;
  if (plainName && name.size() > 4 && crt::wcscmp(name.c_str() + name.size() - 4, u".dll") == 0) {
    path = "lib" + utf8FromUtf16(name.substr(0, name.size() - 4)) + ".so";  // BtSdkCE30.dll: libBtSdkCE30.so
  } else if (plainName) {
    path = utf8FromUtf16(name);
  } else {
    path = hostPath(name);
  }
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(module);
}

FARPROC GetProcAddressA(HMODULE module, LPCSTR procName) {
  void* symbol = module && procName ? dlsym(module, procName) : nullptr;
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  return GetProcAddressA(module, utf8FromUtf16(procName).c_str());
}

BOOL FreeLibrary(HMODULE module) {
  if (!module || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// ---- System parameters ---------------------------------------------------------------------------
// The battery idle timeout is the device's HKLM\Substitute\Power\BatteryIdleTimeout; with
// RefuseSystemParameters set to 1 the device refuses both calls.

BOOL SystemParametersInfoW(UINT action, UINT param, LPVOID data, UINT winIni) {
  {
    std::unique_lock<std::mutex> guard(parametersLock);
    auto found = parameterHandlers.find(action);
    if (found != parameterHandlers.end()) {
      SystemParameterHandler handler = found->second;
      guard.unlock();
      return handler(action, param, data, winIni);
    }
  }
  if (action != SPI_GETBATTERYIDLETIMEOUT && action != SPI_SETBATTERYIDLETIMEOUT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD refuse = 0;
  if (readDword(powerKey, u"RefuseSystemParameters", refuse) && refuse == 1) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (action == SPI_GETBATTERYIDLETIMEOUT) {
    if (!data) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    DWORD timeout = 0;
    readDword(powerKey, u"BatteryIdleTimeout", timeout);
    std::memcpy(data, &timeout, sizeof timeout);
    return TRUE;
  }
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, powerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  DWORD timeout = param;
  RegSetValueExW(key, u"BatteryIdleTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timeout), sizeof timeout);
  RegCloseKey(key);
  return TRUE;
}

// ---- Program entry ------------------------------------------------------------------------------

namespace crt {

int runWideMain(int argc, char** argv, int (*wmain)(int, WCHAR**)) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(utf16FromUtf8(argv[i]));
  std::vector<WCHAR*> pointers;
  for (std::u16string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  {
    // Started by another device process, the raw command line came along; otherwise it is
    // rebuilt from the arguments.
    std::lock_guard<std::mutex> guard(commandLineLock);
    const char* given = std::getenv("VORK_COMMAND_LINE");
    if (given) {
      commandLine = utf16FromUtf8(given);
    } else {
      commandLine.clear();
      for (int i = 0; i < argc; ++i) {
        if (i) commandLine += u' ';
        bool quote = arguments[i].find_first_of(u" \t") != std::u16string::npos;
        commandLine += quote ? u"\"" + arguments[i] + u"\"" : arguments[i];
      }
    }
    commandLineKnown = true;
  }
  return wmain(argc, pointers.data());
}

}  // namespace crt

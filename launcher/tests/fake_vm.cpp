// A stand-in for the K5 VM: notes what it was started with and what the device looked like
// while it ran, in <device root>/vm-run/, and does what <device root>/vm-script/ asks.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "vork/text.h"
#include "windows.h"

int main(int argc, char** argv) {
  std::string root = vork::deviceRoot();
  std::filesystem::create_directories(root + "/vm-run");
  {
    std::ofstream out(root + "/vm-run/argv", std::ios::binary);
    for (int i = 0; i < argc; ++i) out << argv[i] << "\n";
  }
  const char* commandLine = std::getenv("VORK_COMMAND_LINE");
  std::ofstream(root + "/vm-run/command-line", std::ios::binary) << (commandLine ? commandLine : "");
  std::ofstream(root + "/vm-run/count", std::ios::app) << "run\n";
  std::error_code error;
  std::filesystem::copy_file(root + "/registry.reg", root + "/vm-run/registry.reg",
                             std::filesystem::copy_options::overwrite_existing, error);
  if (std::filesystem::exists(root + "/vm-script/stack-on")) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Widcomm\\BtConfig\\General", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
      DWORD on = 1;
      RegSetValueExW(key, u"StackMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
      RegCloseKey(key);
    }
  }
  return 7;  // the launcher never reports the VM's exit code
}

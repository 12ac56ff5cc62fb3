// install-package: the device's package installer, as far as this system meets it. It loads
// the package's setup library, calls Install_Init the way the handheld's installer does
// (before any file is copied), copies the package folder into the installation directory and
// writes the package's start-menu link.
//
//   install-package [--link <device path> <launcher options>] <setup library> <package folder>
//                   <installation directory>
//
// The installation directory is a device path ("\Program Files\VORK") or a host path. The
// link's text is "NN#\"<installation directory>\vork\Q7Launcher.exe\" <installation
// directory> <launcher options>", NN being the number of characters after the '#'.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "vork/text.h"
#include "windows.h"
#include "winuser.h"

typedef int (*InstallInit)(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCTSTR installDirectory);

static int usage() {
  std::fprintf(stderr,
               "usage: install-package [--link <device path> <launcher options>] <setup library> "
               "<package folder> <installation directory>\n");
  return 2;
}

int main(int argc, char** argv) {
  int next = 1;
  std::string linkPath, linkOptions;
  if (argc > 1 && std::strcmp(argv[1], "--link") == 0) {
    if (argc < 4) return usage();
    linkPath = argv[2];
    linkOptions = argv[3];
    next = 4;
  }
  if (argc - next != 3) return usage();
  std::u16string library = vork::utf16FromUtf8(argv[next]);
  std::filesystem::path package = argv[next + 1];
  std::u16string installDirectory = vork::utf16FromUtf8(argv[next + 2]);
  std::filesystem::path target = vork::hostPath(installDirectory);

  HMODULE setup = LoadLibraryW(library.c_str());
  if (!setup) {
    std::fprintf(stderr, "install-package: cannot load the setup library %s\n", argv[next]);
    return 1;
  }
  auto init = reinterpret_cast<InstallInit>(GetProcAddressW(setup, u"Install_Init"));
  if (!init) {
    std::fprintf(stderr, "install-package: %s exports no Install_Init\n", argv[next]);
    return 1;
  }
  std::error_code error;
  bool previouslyInstalled = std::filesystem::exists(target, error);
  int result = init(nullptr, TRUE, previouslyInstalled, installDirectory.c_str());
  FreeLibrary(setup);
  if (result != 0) {
    std::fprintf(stderr, "install-package: the setup library cancelled the installation (%d)\n", result);
    return 1;
  }

  std::filesystem::create_directories(target, error);
  std::filesystem::copy(package, target,
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing,
                        error);
  if (error) {
    std::fprintf(stderr, "install-package: copying %s failed: %s\n", package.c_str(), error.message().c_str());
    return 1;
  }

  if (!linkPath.empty()) {
    std::string directory = argv[next + 2];
    std::string command = "\"" + directory + "\\vork\\Q7Launcher.exe\" " + directory;
    if (!linkOptions.empty()) command += " " + linkOptions;
    std::u16string wideCommand = vork::utf16FromUtf8(command);
    std::filesystem::path link = vork::hostPath(vork::utf16FromUtf8(linkPath));
    std::filesystem::create_directories(link.parent_path(), error);
    // The device's 8-bit code page is Latin-1: the link file holds one byte per character.
    std::string bytes = std::to_string(wideCommand.size()) + "#";
    for (char16_t c : wideCommand) bytes += static_cast<char>(c < 0x100 ? c : '?');
    std::ofstream(link, std::ios::binary) << bytes;
  }
  std::printf("installed %s into %s\n", package.c_str(), target.c_str());
  return 0;
}

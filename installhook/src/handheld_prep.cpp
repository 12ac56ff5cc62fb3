#include "handheld_prep.h"

#include <cstring>

#include "crt.h"

#define EXPORT __attribute__((visibility("default")))

// The four places of a start-menu link of the product, the English and the German names of
// the start menu and its program folder: an 8-bit copy to open them and a wide copy to
// delete them.
static const char LinkNameTable[LINK_COUNT][LINK_SLOT_SIZE] = {
    "\\windows\\Start Menu\\user@example.com",
    "\\windows\\Start Menu\\Programs\\user@example.com",
    "\\windows\\Startmen\xDC\\user@example.com",
    "\\windows\\Startmen\xFC\\Programme\\user@example.com",
};
static const WCHAR LinkNameTableW[LINK_COUNT][LINK_SLOT_SIZE] = {
    u"\\windows\\Start Menu\\user@example.com",
    u"\\windows\\Start Menu\\Programs\\user@example.com",
    u"\\windows\\Startmen\u00DC\\user@example.com",
    u"\\windows\\Startmen\u00FC\\Programme\\user@example.com",
};

static const WCHAR DATABASE[] = u"\\vork\\database";
static const WCHAR DATABASE_SAVED[] = u"\\vork\\database_saved";

// The characters between the installation directory and the closing quote:
// "\vork\" and "Q7Launcher.exe".
static const size_t LAUNCHER_TAIL = 20;
static const size_t LINK_TEXT_START = 4;

void installDirectoryFromLink(const WCHAR* linkText, WCHAR* installDirectory) {
  installDirectory[0] = 0;
  if (crt::wcslen(linkText) < LINK_TEXT_START) return;
  const WCHAR* quote = crt::wcschr(linkText + LINK_TEXT_START, u'"');
  if (!quote) return;
  size_t q = static_cast<size_t>(quote - linkText);
  if (q < LINK_TEXT_START + LAUNCHER_TAIL) return;
  size_t length = q - LINK_TEXT_START - LAUNCHER_TAIL;
  std::memcpy(installDirectory, linkText + LINK_TEXT_START, length * sizeof(WCHAR));
  installDirectory[length] = 0;
}

static void findInstallDirectory(WCHAR* installDirectory) {
  FILE* link = nullptr;
  for (size_t i = 0; i < LINK_COUNT && !link; ++i) link = crt::fopen(LinkNameTable[i], "r");
  if (!link) return;
  WCHAR linkText[TEXT_BUFFER_SIZE] = {0};
  size_t stored = 0;
  for (int c = crt::fgetwc(link); c != crt::WEOF16; c = crt::fgetwc(link)) {
    if (stored >= TEXT_BUFFER_SIZE - 1) break;
    linkText[stored++] = static_cast<WCHAR>(c);
    linkText[stored] = 0;
  }
  crt::fclose(link);
  installDirectoryFromLink(linkText, installDirectory);
}

// "%ls\%ls" into a TREE_PATH_SIZE buffer; false when it does not fit (the entry is skipped).
static bool joinPath(WCHAR* path, const WCHAR* directory, const WCHAR* name) {
  return crt::snwprintf(path, TREE_PATH_SIZE, u"%ls\\%ls", directory, name) >= 0;
}

int deleteTreeContents(const WCHAR* directory) {
  WCHAR pattern[TREE_PATH_SIZE];
  if (crt::snwprintf(pattern, TREE_PATH_SIZE, u"%ls\\*", directory) < 0) return 1;
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW(pattern, &entry);
  if (listing == INVALID_HANDLE_VALUE) return 1;
  do {
    if (crt::wcscmp(entry.cFileName, u".") == 0 || crt::wcscmp(entry.cFileName, u"..") == 0) continue;
    WCHAR path[TREE_PATH_SIZE];
    if (!joinPath(path, directory, entry.cFileName)) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      deleteTreeContents(path);
      RemoveDirectoryW(path);
    } else {
      DeleteFileW(path);
    }
  } while (FindNextFileW(listing, &entry));
  FindClose(listing);
  return 1;
}

static void deleteStartMenuLinks() {
  for (size_t i = 0; i < LINK_COUNT; ++i) DeleteFileW(LinkNameTableW[i]);
}

extern "C" EXPORT codeINSTALL_INIT Install_Init(HWND, BOOL, BOOL, LPCTSTR) {
  MoveFileW(DATABASE, DATABASE_SAVED);
  WCHAR installDirectory[TEXT_BUFFER_SIZE] = {0};
  findInstallDirectory(installDirectory);
  WCHAR configuration[TEXT_BUFFER_SIZE];
  if (crt::snwprintf(configuration, TEXT_BUFFER_SIZE, u"%s\\vork\\configuration", installDirectory) >= 0) {
    deleteTreeContents(configuration);
  }
  deleteStartMenuLinks();
  return codeINSTALL_INIT_CONTINUE;
}

// HandheldPrep: the setup library the handheld's package installer calls before it copies a
// package's files.
#pragma once

#include "windows.h"
#include "winuser.h"

enum codeINSTALL_INIT { codeINSTALL_INIT_CONTINUE = 0, codeINSTALL_INIT_CANCEL = 1 };

extern "C" codeINSTALL_INIT Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled,
                                         LPCTSTR installDirectory);

constexpr size_t LINK_SLOT_SIZE = 50;
constexpr size_t LINK_COUNT = 4;
constexpr size_t TEXT_BUFFER_SIZE = 1024;
constexpr size_t TREE_PATH_SIZE = 256;

// The installation directory inside a link's text ("NN#\"<dir>\vork\Q7Launcher.exe\"..."):
// the characters from index 4 up to 20 before the first double quote at or after index 4.
// Empty when there is no such quote or it lies fewer than 24 characters from the start.
void installDirectoryFromLink(const WCHAR* linkText, WCHAR* installDirectory);

// Deletes everything below the directory, depth first; the directory stays.
int deleteTreeContents(const WCHAR* directory);

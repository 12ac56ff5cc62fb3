// The device's C runtime where it differs from the host's: 8-bit text is the device's code
// page (Latin-1), wide text is UTF-16, and paths are device paths. The functions whose names
// the host's C library already uses live in namespace crt.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "windows.h"

namespace crt {

constexpr int WEOF16 = 0xFFFF;

// Files: device or host paths, modes as fopen's.
FILE* fopen(const char* path, const char* mode);
FILE* wfopen(const WCHAR* path, const WCHAR* mode);
int fclose(FILE* file);
// Text mode: one wide character per byte of the device's code page; WEOF16 at the end.
int fgetwc(FILE* file);

// Wide strings.
size_t wcslen(const WCHAR* text);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count);
WCHAR* wcscpy(WCHAR* target, const WCHAR* source);
WCHAR* wcsncpy(WCHAR* target, const WCHAR* source, size_t count);
const WCHAR* wcschr(const WCHAR* text, WCHAR c);

// Formatted wide text into a buffer of `count` characters: %s and %ls take wide strings,
// %hs an 8-bit string, %i %d %u %x %X %c and %% as usual (with width, zero fill and l/h).
// Text that does not fit is cut and the terminating NUL always fits. Returns the number of
// characters written without the NUL, or -1 when the text was cut.
int snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);

// Formatted wide text written to standard output in UTF-8 (no length limit).
int wprintf(const WCHAR* format, ...);

// Entry of a wide-character program: converts the host's UTF-8 arguments and records the
// process command line before calling wmain.
int runWideMain(int argc, char** argv, int (*wmain)(int argc, WCHAR** argv));

}  // namespace crt

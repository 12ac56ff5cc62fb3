// The launcher's application framework: only its initialisation call.
#pragma once

#include "windows.h"

BOOL AfxWinInit(HINSTANCE instance, HINSTANCE previousInstance, LPTSTR commandLine, int showCommand);

// The Windows Mobile Bluetooth utility: the radio mode of the Microsoft stack.
#pragma once

#include "windows.h"

#define BTH_POWER_OFF 0
#define BTH_CONNECTABLE 1
#define BTH_DISCOVERABLE 2

// Both answer ERROR_SUCCESS or an error number.
int BthGetMode(DWORD* mode);
int BthSetMode(DWORD mode);

// Control interface of the simulated device, for tests and the demo only: the system's own
// code never includes this header.
#pragma once

#include <cstdint>
#include <string>

extern "C" {

// Points the platform at another device root (creates it); forgets cached registry state.
void VorkControl_SetDeviceRoot(const char* hostPath);
const char* VorkControl_DeviceRoot();
// Waits and sleeps run `scale` times faster (and GetTickCount runs that much faster).
// Also taken from the environment variable VORK_CLOCK_SCALE at start.
void VorkControl_SetClockScale(unsigned scale);
unsigned VorkControl_ClockScale();
// Forgets the registry's cached contents so the next call reads registry.reg again.
void VorkControl_ReloadRegistry();
// Raises line error flags (CE_FRAME, CE_OVERRUN, ...) on every open handle of COM port
// `number` in this process, as the driver would on a line fault; the next ClearCommError
// answers and clears them. Answers the number of handles reached.
int VorkControl_RaiseCommError(unsigned number, uint32_t errors);
}

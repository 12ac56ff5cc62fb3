// Control interface: device root and registry cache.
#include "vork/control.h"
#include "vork/text.h"

namespace vork {
void setDeviceRoot(const char* path);
}

extern "C" void VorkControl_SetDeviceRoot(const char* hostPath) {
  vork::setDeviceRoot(hostPath);
  VorkControl_ReloadRegistry();
}

extern "C" const char* VorkControl_DeviceRoot() { return vork::deviceRoot().c_str(); }

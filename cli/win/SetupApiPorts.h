// What Windows' device manager (SetupAPI) knows of the COM ports' devices.
#ifndef VR7_SETUPAPIPORTS_H
#define VR7_SETUPAPIPORTS_H

#include <vector>

#include "PortInfo.h"

// The present devices of the Ports and Modem classes whose PortName is a COMn name, one
// entry a number (a Ports node before a Modem node), with their friendly name (without
// its " (COMn)"), their manufacturer and, on USB, their ids. registry is left true.
std::vector<PortInfo> SetupApiPorts();

#endif

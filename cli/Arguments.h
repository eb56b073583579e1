// What the command line names, checked before any port is touched: ports and a CAD
// program. Bad usage throws CommandError with kExitUsage, a port that is not there
// kExitNoPort.
#ifndef VR7_ARGUMENTS_H
#define VR7_ARGUMENTS_H

#include <optional>
#include <string>
#include <vector>

#include "PortInfo.h"

// A port as --port names it: the system's own name (COMn, a device path), or its adapter
// as "usb:VID:PID" or "usb:VID:PID:SERIAL".
struct PortSelector {
    std::string text;  // as given
    bool usb = false;
    std::string vid, pid;  // four lower-case hex digits each
    std::optional<std::string> serial;
};
PortSelector ParsePortArgument(const std::string& text);

// The one listed port the text names (configure).
PortInfo OnePort(const std::string& text);

// The listed ports the texts name, each once (detect --port): every adapter that fits.
std::vector<PortInfo> PortsNamed(const std::vector<std::string>& texts);

// The catalogue row named by its number or by its label (or the beginning of one).
int SoftwareArgument(const std::string& text);

#endif

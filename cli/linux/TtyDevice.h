// What a port's path names, decided without opening it: an open raises a UART's DTR and RTS
// (which resets Arduino-type boards) and can have effects of its own on other devices.
#ifndef VR7_TTYDEVICE_H
#define VR7_TTYDEVICE_H

#include <string>

#include "PortInfo.h"

struct NamedDevice {
    enum class Kind { Unknown, NotTty, Tty };
    Kind kind = Kind::Unknown;  // Unknown: the path cannot be looked at (missing); its open will say why
    PortInfo port;              // named as given, with its resolved path; described where it is a tty
};

// The device number's sysfs entry says whether it is a tty, or its major that it is a
// pseudo-terminal's slave; sysfs describes it, reading that port's entries only.
NamedDevice DeviceNamed(const std::string& path);

// The N of a pseudo-terminal's slave /dev/pts/N, or -1 for any other device.
long PseudoTerminalIndex(unsigned long long deviceNumber);

// The path with its links resolved (what lock files are named after); the path where it cannot be.
std::string ResolvedPath(const std::string& path);

#endif

// The serial ports of a Linux system as sysfs describes them, found without opening any of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PortInfo.h"

// Every tty in root's sys/class/tty with a device behind it, except serial-core ports of type 0 (a main-board
// ttyS with no UART), in natural name order (ttyUSB2 before ttyUSB10). root holds sys/ and dev/ ("/" on the
// running system) and links are followed as if it were "/". Names are "/dev/NAME". What cannot be read is left
// out; nothing the file system holds makes it throw.
// Each carries its device number and whether it is an active kernel console (console/active).
std::vector<PortInfo> ListSysfsPorts(const std::string& root);

// The port of one character device, as the list describes it (sys/dev/char/MAJ:MIN): reads that
// port's entries only. A tty the list leaves out (no device behind it, no UART) has its name
// alone. Nullopt when sysfs knows no tty of that number (pseudo-terminals have no entry).
std::optional<PortInfo> SysfsPortOf(const std::string& root, unsigned long long deviceNumber);

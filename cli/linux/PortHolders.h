// Who else holds a serial device on Linux, as far as this user can see: processes that
// have it open (their descriptors in /proc), and a live UUCP lock file that names it
// (/var/lock/LCK..ttyUSB0), which programs that lock only that way leave.
#ifndef VR7_PORTHOLDERS_H
#define VR7_PORTHOLDERS_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "Ports.h"

// Other processes with the character device `device` open, and the live owner of a lock
// file for `path` (its resolved /dev path); each process once.
std::vector<Holder> HoldersOf(dev_t device, const std::string& path);

#endif

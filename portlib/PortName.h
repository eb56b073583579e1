// Reading a port number from a serial device name as the system lists it ("COM3").
// Portable: no Windows header, so it is tested and fuzzed on the host too.
#ifndef LINKPORT_PORTNAME_H
#define LINKPORT_PORTNAME_H

#include <cstddef>

constexpr int kHighestListedPort = 255;

// The port number n of a name that is exactly "COM" followed by 1 to 3 decimal digits
// without a leading zero, with n from 1 to 255; 0 for any other name. The name is the
// text before the first NUL within size bytes (registry data need not be terminated).
int ParseComPortName(const char* data, std::size_t size);

#endif

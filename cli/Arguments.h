// What the command line names, checked before any port is touched: a port name and a
// CAD program. Bad usage throws CommandError with kExitUsage, a port that cannot be used
// kExitNoPort.
#ifndef VR7_ARGUMENTS_H
#define VR7_ARGUMENTS_H

#include <string>
#include <vector>

std::string PortName(unsigned port);  // "COM3"

// The port number of "COMn" (Latin letters in any case).
unsigned short PortArgument(const std::string& text);

// The catalogue row named by its number or by its label (or the beginning of one).
int SoftwareArgument(const std::string& text);

// The ports Windows lists, in its order, as the window lists them.
std::vector<unsigned short> ListedPorts();

// True for ports the port library can open at all (COM1 to COM16).
bool InLibraryRange(unsigned port);

// Throws unless the port is listed and in the library's range.
void RequireUsablePort(unsigned short port);

#endif

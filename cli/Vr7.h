// vr7 as a whole, below the system's entry point.
#ifndef VR7_VR7_H
#define VR7_VR7_H

#include <string>
#include <vector>

#include "StopSignal.h"

// Runs the command line (UTF-8, the program's name first) and returns the exit status;
// stop is set by the system's interrupt (Ctrl+C, SIGINT, SIGTERM) and never freed.
int RunVr7(const std::vector<std::string>& arguments, const StopSignal* stop);

#endif

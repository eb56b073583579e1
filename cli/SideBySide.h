// Work on several ports at once, each job on a thread of its own, that Ctrl+C cannot hold
// up: after the stop is set the jobs get kStopGrace in all to end (a run stops at its next
// poll or pause and closes its port within milliseconds), and a job still running then is
// given up. Its thread may still be inside it (blocked in a system call on a port: an
// outgoing Bluetooth port in its open, a wedged driver in its close), so a job given up is
// kept to the process's end (KeptToProcessEnd).
#ifndef VR7_SIDEBYSIDE_H
#define VR7_SIDEBYSIDE_H

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "StopSignal.h"

class SideBySideJob {
public:
    virtual ~SideBySideJob() = default;
    virtual void Run() = 0;  // on the job's own thread
    // What ended Run with an exception (a fault of vr7 itself, such as memory running out),
    // caught on the job's thread so that the other jobs go on and the command still reports.
    // Written by the job's thread; read only once the job has ended.
    std::optional<std::string> fault;
};

constexpr std::chrono::milliseconds kStopGrace{2000};

// Runs every job and waits for them; stop may be null. Returns for each job whether it
// ended; a job that did not is taken from its pointer (which is then null) and kept to the
// process's end.
std::vector<bool> RunSideBySide(std::vector<std::unique_ptr<SideBySideJob>>& jobs, const StopSignal* stop);

#endif

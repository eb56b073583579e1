// The relay: the program under test on one side (a pty, as with the simulator), a real
// serial device on the other. Bytes pass both ways unchanged; the line setting the
// program sets on the pty is put on the device before the bytes that follow it; each
// configuration frame and each burst of bytes that comes back is logged in the
// simulator's words, so a run against a real digitizer shows what crossed the line.
#pragma once

#include "frame.h"
#include "line_setting.h"
#include "pty_link.h"
#include "unique_fd.h"

#include <optional>
#include <string>

namespace digisim {

class Relay {
public:
    Relay(std::string linkPath, std::string devicePath)
        : link_(std::move(linkPath)), devicePath_(std::move(devicePath))
    {
    }

    // Opens the device and plugs the pty. Nothing is left open on failure.
    bool start(std::string& error);
    // Runs until a signal arrives on signalFd or the device fails; false on failure.
    bool run(int signalFd);
    void shutdown() { link_.unplug(); }

private:
    bool toDevice();
    bool fromDevice();
    void followLineSetting();
    void endBurst();

    PtyLink link_;
    std::string devicePath_;
    UniqueFd device_;
    FrameScanner scanner_;
    std::optional<LineSetting> line_;  // last put on the device
    Bytes burst_;                      // device bytes not yet logged
};

} // namespace digisim

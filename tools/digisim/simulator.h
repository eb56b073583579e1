// The simulated digitizer: one single-threaded poll() loop over the pty master,
// the control server and the paced output, plus the state the control commands
// read and change.
#pragma once

#include "control_server.h"
#include "frame.h"
#include "line_setting.h"
#include "paced_output.h"
#include "pty_link.h"

#include <optional>
#include <string>
#include <vector>

namespace digisim {

// How the device answers; the command line sets the start-up values and
// "reset" returns to them.
struct Policy {
    Behaviour behaviour = Behaviour::Reply;
    unsigned onlyBaud = 0;   // answer only at this baud rate; 0 = any
    char onlyParity = '-';   // answer only at this parity ('N', 'E', 'O'); '-' = any
    unsigned delayMs = 0;    // extra wait before answering
    unsigned turnaroundMs = 10;
    bool instant = false;    // answer at once, unpaced, instead of like a device
};

struct Options {
    std::string linkPath;
    std::string relayDevice;  // relay to this device instead of simulating one
    Policy policy;
    bool verbose = false;
};

struct FrameRecord {
    Frame bytes;
    LineSetting line;
    long long receivedMs; // since start-up
};

class Simulator {
public:
    explicit Simulator(Options options);

    // Creates the pty and the link, and starts listening. Nothing is left
    // behind on failure.
    bool start(std::string& error);
    std::uint16_t controlPort() const { return control_.port(); }

    // Runs until a signal arrives on signalFd (a signalfd) or "quit" is received.
    void run(int signalFd);

    // Removes the link; the caller removes the port file.
    void shutdown() { link_.unplug(); }

private:
    void readLine(Clock::time_point now);
    void onFrame(const Frame& frame, Clock::time_point receivedAt);
    bool answersOn(const LineSetting& line) const;
    void hangUp();
    void flushOutput(Clock::time_point now);
    int pollTimeoutMs(Clock::time_point now) const;
    void say(const std::string& text) const;

    // Control commands (commands.cpp).
    std::string handleCommand(const std::string& line);
    std::string setPolicy(const std::string& command, const std::vector<std::string>& args);
    std::string send(const std::vector<std::string>& args);
    std::string lag(const std::vector<std::string>& args);
    std::string report(const std::string& command);
    std::string plugCommand();
    void clearLogs();

    Options options_;
    Policy policy_;
    PtyLink link_;
    ControlServer control_;
    FrameScanner scanner_;
    PacedOutput output_;
    bool outputBlocked_ = false; // the line is full: wait for POLLOUT
    bool quitRequested_ = false;
    std::optional<Clock::time_point> readDue_; // a lag holds the line unread until then
    std::size_t fillerLeft_ = 0;               // our own bytes ahead of the program's
    Clock::time_point startTime_;

    std::vector<FrameRecord> frames_;
    Bytes received_;
    unsigned replies_ = 0;
};

} // namespace digisim

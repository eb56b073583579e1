// The commands of vr7 and what they share: the options, the exit statuses, and the error
// that ends a command with one sentence on standard error.
#ifndef VR7_COMMANDS_H
#define VR7_COMMANDS_H

#include <stdexcept>
#include <string>
#include <vector>

#include "StopSignal.h"

// Exit statuses, for scripts to branch on.
constexpr int kExitOk = 0;         // configured, listed, or (detect) a port answered validly
constexpr int kExitNoReply = 1;    // no valid reply (detect: from no port, though one could be opened)
constexpr int kExitNoPort = 2;     // the port is not there or cannot be opened
constexpr int kExitUsage = 64;     // bad usage; nothing was sent to any port
constexpr int kExitInternal = 70;  // a fault of vr7 itself (not expected to happen)
constexpr int kExitStopped = 130;     // Ctrl+C (SIGINT) stopped a run; its port is closed
constexpr int kExitTerminated = 143;  // SIGTERM stopped a run

struct Options {
    bool json = false;
    bool test = false;           // ports --test
    std::string port;                // configure --port
    std::vector<std::string> ports;  // detect --port, repeatable
    std::string software;        // configure and detect --software
    const StopSignal* stop = nullptr;  // set by Ctrl+C
};

// The status of a command that a stop ended: the stop's own code (130, or 143 after SIGTERM).
inline int StoppedStatus(const Options& options)
{
    const int code = options.stop != nullptr ? options.stop->Code() : 0;
    return code != 0 ? code : kExitStopped;
}

// What stopped it, in words: "Ctrl+C" or "SIGTERM".
inline std::string StopName(const Options& options)
{
    return StoppedStatus(options) == kExitTerminated ? "SIGTERM" : "Ctrl+C";
}

class CommandError : public std::runtime_error {
public:
    CommandError(int status, const std::string& sentence) : std::runtime_error(sentence), m_status(status) {}
    int Status() const { return m_status; }

private:
    int m_status;
};

// Each returns the exit status, or throws CommandError.
int ListPortsCommand(const Options& options);
int ListSoftwareCommand(const Options& options);
int ConfigureCommand(const Options& options);
int DetectCommand(const Options& options);

#endif

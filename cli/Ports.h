// What vr7 needs of the system's serial ports; each system supplies these (on Windows the
// registry's list with what SetupAPI knows, a channel of vr7's own per run), the commands
// are one code for both.
#ifndef VR7_PORTS_H
#define VR7_PORTS_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PortInfo.h"
#include "PortLink.h"
#include "StopSignal.h"

// A process that has a port open.
struct Holder {
    long pid = 0;
    std::string name;
};

// Why a port could not be opened. reason: "busy" (another program holds it), "missing"
// (its device is gone), "denied" (no permission), "console" (the system console: never
// opened), "stopped" (the stop came while vr7 was looking for holders: the run or test
// then ends as stopped, and this is never shown), "other"; code and message: the system's
// (no code where the system gave none).
struct OpenError {
    std::string reason;
    std::optional<long> code;
    std::string message;
    std::vector<Holder> holders;  // who holds a busy port, where that can be seen
    bool hidden = false;          // busy, and some processes could not be looked at
    std::string group;            // denied: the group that owns the device
};

// How the system is named in sentences ("Windows"), and how it names its ports.
extern const char kSystemName[];
extern const char kPortNameForm[];  // "COMn"
extern const char kPortExample[];   // "COM3"

// The ports the system lists, in its order.
std::vector<PortInfo> ListPorts();

// A --port in the system's own form; anything else is bad usage (CommandError).
void CheckPortName(const std::string& text);
// The port such a name gives, described as the list describes it; one that cannot be there
// throws CommandError.
PortInfo PortNamed(const std::string& text);

// Who holds a busy port where none could be named and some processes could not be looked
// at: the words after "is held by" ("another user's process (see: sudo fuser ...)").
std::string UnseenHolderText(const PortInfo& port);

// Whether the port can be opened now; it is closed again either way, its line settings as
// they were. Nothing is sent. Once stop (may be null) is set it gives up within its bounds.
std::optional<OpenError> TryOpen(const PortInfo& port, const StopSignal* stop);

// A configuration run's way to one port.
class RunLink : public PortLink {
public:
    // Why the last Open failed.
    virtual OpenError OpenFailure() const = 0;
};
std::unique_ptr<RunLink> MakeRunLink(const PortInfo& port, const StopSignal* stop);

// Two names of one port: a path and its by-id link (one device number), a COM name given twice.
inline bool SamePort(const PortInfo& a, const PortInfo& b)
{
    if (a.deviceNumber != 0 && b.deviceNumber != 0)
        return a.deviceNumber == b.deviceNumber;
    return a.name == b.name;
}

#endif

// The ports on Linux: the serial devices sysfs lists, named by their /dev paths; any tty
// device can be named by its path (links such as /dev/serial/by-id/... included).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Commands.h"
#include "Ports.h"
#include "SysfsPorts.h"
#include "TtyLink.h"

namespace {

std::string Resolved(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

bool LooksLikeComName(const std::string& text)
{
    return text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
           (text[2] == 'M' || text[2] == 'm') && text.find_first_not_of("0123456789", 3) == std::string::npos;
}

}  // namespace

const char kSystemName[] = "Linux";
const char kPortNameForm[] = "a device path";
const char kPortExample[] = "/dev/ttyUSB0";

std::vector<PortInfo> ListPorts()
{
    std::vector<PortInfo> ports = ListSysfsPorts("/");
    for (PortInfo& port : ports)
        port.device = Resolved(port.name);
    return ports;
}

void CheckPortName(const std::string& text)
{
    if (LooksLikeComName(text))
        throw CommandError(kExitUsage, "\"" + text + "\" is a Windows port name: on Linux give the device's path, "
                                                     "for example --port /dev/ttyUSB0 (vr7 ports lists them).");
    if (text.empty())
        throw CommandError(kExitUsage, "--port is empty: give the device's path, for example --port /dev/ttyUSB0 "
                                       "(vr7 ports lists them).");
}

// Any path: one that does not exist fails at the open (missing); one that is there must
// be a tty.
PortInfo PortNamed(const std::string& text, const std::vector<PortInfo>& listed)
{
    PortInfo port;
    port.name = text;
    port.device = Resolved(text);
    for (const PortInfo& known : listed) {
        if (known.device == port.device) {
            port = known;
            port.name = text;
        }
    }
    const int fd = open(text.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const bool tty = isatty(fd) != 0;
        close(fd);
        if (!tty)
            throw CommandError(kExitUsage, "\"" + text + "\" is not a serial device (a tty): give the port's "
                                                         "device path (vr7 ports lists them).");
    }
    return port;
}

std::string UnseenHolderText(const PortInfo& port)
{
    return "another user's process (see: sudo fuser " + (port.device.empty() ? port.name : port.device) + ")";
}

std::optional<OpenError> TryOpen(const PortInfo& port, const StopSignal*)
{
    TtyLink link(port.name);
    const bool opened = link.Open(0, LineSetting{9600, 'N', 8, 1});
    link.Close();
    return opened ? std::nullopt : std::optional<OpenError>(link.OpenFailure());
}

std::unique_ptr<RunLink> MakeRunLink(const PortInfo& port, const StopSignal*)
{
    return std::make_unique<TtyLink>(port.name);
}

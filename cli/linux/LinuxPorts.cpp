// The ports on Linux: the serial devices sysfs lists, named by their /dev paths; any tty
// device can be named by its path (links such as /dev/serial/by-id/... included). Nothing
// is opened to list or name a port.
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "Commands.h"
#include "Ports.h"
#include "SysfsPorts.h"
#include "TtyDevice.h"
#include "TtyLine.h"
#include "TtyLink.h"

namespace {

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
        port.device = ResolvedPath(port.name);
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

// Any path, decided without opening it: one that cannot be looked at fails at the open
// (missing); one that is there must be a tty.
PortInfo PortNamed(const std::string& text)
{
    const NamedDevice named = DeviceNamed(text);
    if (named.kind == NamedDevice::Kind::NotTty)
        throw CommandError(kExitUsage, "\"" + text + "\" is not a serial device (a tty): give the port's "
                                                     "device path (vr7 ports lists them).");
    return named.port;
}

std::string UnseenHolderText(const PortInfo& port)
{
    return "another user's process (see: sudo fuser " + (port.device.empty() ? port.name : port.device) + ")";
}

// Opened once, as a run opens it (exclusive use, the holders looked for), set to a line
// setting to see that it takes one, and closed with the settings it had.
std::optional<OpenError> TryOpen(const PortInfo& port, const StopSignal* stop)
{
    TtyLink link(port, stop);
    const int fd = link.Acquire();
    if (fd < 0)
        return link.OpenFailure();
    termios found = {};
    const bool kept = tcgetattr(fd, &found) == 0;
    struct stat info = {};
    const bool pty = fstat(fd, &info) == 0 && PseudoTerminalIndex(info.st_rdev) >= 0;
    const bool settable = kept && SetLineSetting(fd, LineSetting{9600, 'N', 8, 1}, pty);
    const int error = errno;
    if (kept)
        tcsetattr(fd, TCSANOW, &found);
    link.Relinquish(fd);
    if (settable)
        return std::nullopt;
    return OpenError{"other", error, std::strerror(error), {}, false, {}};
}

std::unique_ptr<RunLink> MakeRunLink(const PortInfo& port, const StopSignal* stop)
{
    return std::make_unique<TtyLink>(port, stop);
}

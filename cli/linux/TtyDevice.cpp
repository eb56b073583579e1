#include "TtyDevice.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>

#include "SysfsPorts.h"

namespace {

// Unix98 pseudo-terminal slaves: majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR, 8 majors).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;
// The kernel's /dev/console: whatever it is, the console.
constexpr unsigned kConsoleMajor = 5, kConsoleMinor = 1;

}  // namespace

long PseudoTerminalIndex(unsigned long long deviceNumber)
{
    constexpr long kMinors = 256;
    const unsigned number = major(deviceNumber);
    if (number < kFirstPtySlaveMajor || number >= kFirstPtySlaveMajor + kPtySlaveMajors)
        return -1;
    return static_cast<long>(number - kFirstPtySlaveMajor) * kMinors + static_cast<long>(minor(deviceNumber));
}

std::string ResolvedPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

NamedDevice DeviceNamed(const std::string& path)
{
    NamedDevice named;
    named.port.name = path;
    named.port.device = ResolvedPath(path);
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0)
        return named;
    named.kind = NamedDevice::Kind::NotTty;
    if (!S_ISCHR(info.st_mode))
        return named;
    const std::optional<PortInfo> described = SysfsPortOf("/", info.st_rdev);
    if (!described && PseudoTerminalIndex(info.st_rdev) < 0)
        return named;
    named.kind = NamedDevice::Kind::Tty;
    if (described)
        named.port = *described;
    named.port.name = path;
    named.port.device = ResolvedPath(path);
    named.port.deviceNumber = info.st_rdev;
    named.port.console = named.port.console || (major(info.st_rdev) == kConsoleMajor && minor(info.st_rdev) == kConsoleMinor);
    return named;
}

#include "LockFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kMostRead = 64;  // the ASCII form is 11 bytes; nothing longer is a lock
constexpr long kHighestPid = 4194304;  // the kernel's PID_MAX_LIMIT

// At most kMostRead bytes of a regular file that is not a link; nullopt for anything else.
std::optional<std::string> ReadSmallFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info = {};
    std::optional<std::string> contents;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        char buffer[kMostRead + 1];
        std::size_t got = 0;
        ssize_t now = 0;
        while (got < sizeof buffer && (now = read(fd, buffer + got, sizeof buffer - got)) > 0)
            got += static_cast<std::size_t>(now);
        if (now >= 0 && got <= kMostRead)
            contents = std::string(buffer, got);
    }
    close(fd);
    return contents;
}

bool Alive(long pid)
{
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::optional<long> LockFilePid(const std::string& contents)
{
    const std::size_t digits = contents.find_first_not_of(' ');
    const std::size_t end = contents.find_first_not_of("0123456789", digits);
    const std::string tail = end == std::string::npos ? "" : contents.substr(end);
    const bool ascii = digits != std::string::npos && end != digits &&
                       (tail.empty() || tail == "\n") && end - digits <= 10;
    long pid = 0;
    if (ascii) {
        pid = std::strtol(contents.c_str() + digits, nullptr, 10);
    } else if (contents.size() == sizeof(std::int32_t)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, contents.data(), sizeof binary);
        pid = binary;
    }
    return pid > 0 && pid <= kHighestPid ? std::optional<long>(pid) : std::nullopt;
}

std::vector<long> LockFileHolders(const std::string& path)
{
    // The lock's name: the device's name below /dev, its slashes as underscores (LCK..ttyUSB0,
    // LCK..pts_3), or its last part alone, as some programs write it.
    std::string below = path.compare(0, 5, "/dev/") == 0 ? path.substr(5) : path;
    std::replace(below.begin(), below.end(), '/', '_');
    const std::string last = path.substr(path.rfind('/') + 1);
    std::vector<long> holders;
    for (const char* folder : {"/var/lock", "/run/lock"}) {
        for (const std::string& name : {below, last}) {
            const std::optional<std::string> contents = ReadSmallFile(std::string(folder) + "/LCK.." + name);
            const std::optional<long> pid = contents ? LockFilePid(*contents) : std::nullopt;
            if (pid && *pid != getpid() && Alive(*pid) &&
                std::find(holders.begin(), holders.end(), *pid) == holders.end())
                holders.push_back(*pid);
        }
    }
    return holders;
}

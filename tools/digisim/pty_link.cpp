#include "pty_link.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace digisim {

namespace {

std::string failure(const char* step)
{
    return std::string(step) + ": " + std::strerror(errno);
}

// Raw 8-bit line with no echo and no flow control, as a serial port left idle.
bool makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A one-byte message with room for one fd beside it.
struct FdMessage {
    FdMessage()
    {
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    FdMessage(const FdMessage&) = delete;
    FdMessage& operator=(const FdMessage&) = delete;

    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
};

// Sends fd into a socket of its own, where it stays in flight; returns the socket that
// holds it (closing that socket lets the fd go).
UniqueFd holdInFlight(int fd)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0)
        return UniqueFd();
    UniqueFd sender(pair[0]), holder(pair[1]);
    FdMessage one;
    msghdr& message = one.message;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    if (::sendmsg(sender.get(), &message, 0) != 1)
        return UniqueFd();
    return holder;
}

// A copy of the fd in flight to holder (the message stays where it is).
UniqueFd peekInFlight(int holder)
{
    FdMessage one;
    msghdr& message = one.message;
    if (::recvmsg(holder, &message, MSG_PEEK | MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1)
        return UniqueFd();
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS)
        return UniqueFd();
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return UniqueFd(fd);
}

bool isNumber(const char* name)
{
    if (*name == '\0')
        return false;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

bool processHolds(const std::string& pid, const std::string& linkText)
{
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* dir = ::opendir(fdDir.c_str());
    if (dir == nullptr)
        return false;
    bool holds = false;
    while (!holds) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr)
            break;
        if (!isNumber(entry->d_name))
            continue;
        char target[512];
        const std::string fdPath = fdDir + "/" + entry->d_name;
        const ssize_t length = ::readlink(fdPath.c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        holds = std::string_view(target, static_cast<std::size_t>(length)) == linkText;
    }
    ::closedir(dir);
    return holds;
}

} // namespace

bool PtyLink::plug(std::string& error)
{
    UniqueFd newMaster(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!newMaster.valid()) {
        error = failure("posix_openpt");
        return false;
    }
    if (::grantpt(newMaster.get()) != 0 || ::unlockpt(newMaster.get()) != 0) {
        error = failure("grantpt/unlockpt");
        return false;
    }
    char name[128];
    if (::ptsname_r(newMaster.get(), name, sizeof name) != 0) {
        error = failure("ptsname_r");
        return false;
    }
    UniqueFd newSlave(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!newSlave.valid()) {
        error = failure("open slave");
        return false;
    }
    if (!makeRaw(newSlave.get())) {
        error = failure("raw mode");
        return false;
    }
    UniqueFd hold = holdInFlight(newSlave.get());
    if (!hold.valid()) {
        error = failure("holding the slave");
        return false;
    }
    if (!replaceSymlink(name, linkPath_)) {
        error = failure("symlink");
        return false;
    }
    slavePath_ = name;
    master_ = std::move(newMaster);
    slaveHold_ = std::move(hold);
    deadSlaveHold_.reset();
    return true;
}

void PtyLink::unplug()
{
    if (!plugged())
        return;
    master_.reset();
    deadSlaveHold_ = std::move(slaveHold_);
    ::unlink(linkPath_.c_str());
}

long PtyLink::writeToSlave(const void* data, std::size_t size)
{
    const UniqueFd slave = peekInFlight(slaveHold_.get());
    return slave.valid() ? static_cast<long>(::write(slave.get(), data, size)) : -1;
}

bool replaceSymlink(const std::string& target, const std::string& path)
{
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    ::unlink(temporary.c_str()); // left over by a crashed run with our pid
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
        return false;
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

int countOtherHolders(const std::string& devicePath, bool live)
{
    if (devicePath.empty())
        return 0;
    const std::string linkText = live ? devicePath : devicePath + " (deleted)";
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    const std::string self = std::to_string(::getpid());
    int holders = 0;
    while (const dirent* entry = ::readdir(proc)) {
        if (!isNumber(entry->d_name) || self == entry->d_name)
            continue;
        if (processHolds(entry->d_name, linkText))
            ++holders;
    }
    ::closedir(proc);
    return holders;
}

} // namespace digisim

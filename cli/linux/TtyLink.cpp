#include "TtyLink.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "PortHolders.h"

namespace {

constexpr int kPollMs = 100;  // a wait for a byte looks again at least this often
constexpr int kWriteMsPerByte = 50, kWriteMs = 50;  // as the Windows channel's write timeouts

speed_t Speed(int baud)
{
    return baud == 19200 ? B19200 : B9600;
}

// The device's own path, its links resolved: what lock files are named after.
std::string DevicePath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string GroupOf(const std::string& path)
{
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0)
        return "dialout";
    const group* owner = getgrgid(info.st_gid);
    return owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
}

// DTR and RTS together; a pseudo-terminal has neither (ENOTTY, EINVAL), which is no fault.
void ModemLines(int fd, unsigned long request)
{
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, request, &lines);
}

// Undoes the exclusive use; the modem lines are left as they are (another program may use them).
void LetGo(int fd)
{
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

void Release(int fd)
{
    ModemLines(fd, TIOCMBIC);
    LetGo(fd);
}

}  // namespace

TtyLink::TtyLink(std::string path) : m_path(std::move(path))
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;  // then a transfer's polls alone notice a Close, at their next turn
}

TtyLink::~TtyLink()
{
    Close();
    if (m_fd < 0) {  // the device has been let go: nothing still polls the pipe
        for (int& end : m_wake) {
            if (end >= 0)
                close(std::exchange(end, -1));
        }
    }
}

void TtyLink::Close()
{
    int fd = -1;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_closing = true;
        if (m_inTransfer && m_wake[1] >= 0)
            static_cast<void>(write(m_wake[1], "x", 1));
        if (!m_left.wait_for(lock, kLeaveBound, [this] { return !m_inTransfer; }))
            return;  // a waiter that does not leave keeps the device: never closed under it
        fd = std::exchange(m_fd, -1);
    }
    if (fd >= 0)
        Release(fd);
}

bool TtyLink::Fail(const char* reason, int error)
{
    m_failure = {reason, error, std::strerror(error), {}, false, {}};
    if (m_failure.reason == "denied")
        m_failure.group = GroupOf(m_path);
    return false;
}

bool TtyLink::Refuse(int fd, OpenError error)
{
    LetGo(fd);
    m_failure = std::move(error);
    return false;
}

bool TtyLink::Open(unsigned short, const LineSetting& line)
{
    Close();
    m_failure = OpenError();
    char drained[64];
    while (m_wake[0] >= 0 && read(m_wake[0], drained, sizeof drained) > 0) {
    }
    const int fd = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENODEV || error == ENXIO || error == ENOTDIR)
            return Fail("missing", error);
        if (error == EACCES || error == EPERM)
            return Fail("denied", error);
        if (error != EBUSY)
            return Fail("other", error);
        struct stat info = {};
        stat(m_path.c_str(), &info);
        OpenError busy{"busy", error, std::strerror(error), HoldersOf(info.st_rdev, DevicePath(m_path)), false, {}};
        busy.hidden = busy.holders.empty();  // refused by a TIOCEXCL this user cannot see the owner of
        m_failure = busy;
        return false;
    }
    // Exclusive: flock against programs that lock, TIOCEXCL against those that only open
    // (a pseudo-terminal may refuse it: EINVAL, ENOTTY); and no other process may have it
    // open, nor a live lock file name it, or our frame would reach their session.
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    const int lockError = errno;
    if (!locked && lockError != EWOULDBLOCK)
        return Refuse(fd, {"other", lockError, std::strerror(lockError), {}, false, {}});
    if (ioctl(fd, TIOCEXCL) != 0 && errno != EINVAL && errno != ENOTTY)
        return Refuse(fd, {"other", errno, std::strerror(errno), {}, false, {}});
    struct stat info = {};
    fstat(fd, &info);
    std::vector<Holder> holders = HoldersOf(info.st_rdev, DevicePath(m_path));
    if (!locked || !holders.empty()) {
        const int error = locked ? EBUSY : lockError;
        return Refuse(fd, {"busy", error, std::strerror(error), holders, holders.empty(), {}});
    }
    if (!Configure(fd, line))
        return Refuse(fd, {"other", errno, std::strerror(errno), {}, false, {}});
    ModemLines(fd, TIOCMBIS);
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_fd = fd;
    m_closing = false;
    return true;
}

// Raw mode with the line setting, read back to confirm what the device took: the baud
// rate and the stop bits always, the parity where the device keeps PARENB (a
// pseudo-terminal clears it and forces CS8 on every change; INPCK tells the parity there).
bool TtyLink::Configure(int fd, const LineSetting& line)
{
    termios tio = {};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (line.parity == 'E') {
        tio.c_cflag |= PARENB;
        tio.c_iflag |= INPCK;
    }
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK an empty line reads as EAGAIN, so a read of 0 bytes is a hang-up
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, Speed(line.baud));
    cfsetospeed(&tio, Speed(line.baud));
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return false;
    termios taken = {};
    if (tcgetattr(fd, &taken) != 0)
        return false;
    const bool parityKept = (taken.c_cflag & PARENB) == 0 || ((taken.c_cflag & PARODD) == 0) == (line.parity == 'E');
    if (cfgetospeed(&taken) != Speed(line.baud) || (taken.c_cflag & CSTOPB) != 0 || !parityKept ||
        ((taken.c_iflag & INPCK) != 0) != (line.parity == 'E')) {
        errno = EINVAL;  // the device did not take the line setting
        return false;
    }
    return true;
}

bool TtyLink::Enter()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0 || m_closing || m_inTransfer)
        return false;
    m_inTransfer = true;
    return true;
}

void TtyLink::Leave()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_inTransfer = false;
    }
    m_left.notify_all();
}

// False when Close woke it, or the device went away (a hang-up or an error on it).
bool TtyLink::WaitFor(short events, int timeoutMs)
{
    pollfd fds[2] = {{m_fd, events, 0}, {m_wake[0], POLLIN, 0}};
    const int ready = poll(fds, m_wake[0] >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR;
    if ((fds[1].revents & POLLIN) != 0 || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return false;
    const std::lock_guard<std::mutex> lock(m_mutex);
    return !m_closing;
}

// The receive side is flushed just before the frame goes out, and every byte after it is
// kept: a reply that comes the moment the frame has arrived is never thrown away.
bool TtyLink::Send(const unsigned char* data, int length)
{
    if (length < 0 || !Enter())
        return false;
    tcflush(m_fd, TCIFLUSH);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteMsPerByte * length + kWriteMs);
    int done = 0;
    while (done < length) {
        const ssize_t written = write(m_fd, data + done, static_cast<std::size_t>(length - done));
        if (written > 0) {
            done += static_cast<int>(written);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if ((written < 0 && errno != EAGAIN && errno != EINTR) || left.count() <= 0 ||
            !WaitFor(POLLOUT, static_cast<int>(left.count())))
            break;
    }
    Leave();
    return done == length;
}

bool TtyLink::WaitReply(unsigned char* buffer, int capacity, int count, int* received)
{
    *received = 0;
    if (count > capacity || !Enter())
        return false;
    bool gone = false;
    while (*received < count && !gone) {
        const ssize_t got = read(m_fd, buffer + *received, static_cast<std::size_t>(count - *received));
        if (got > 0)
            *received += static_cast<int>(got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            gone = true;  // end of file, EIO, ENODEV: the device went away
        else
            gone = !WaitFor(POLLIN, kPollMs);
    }
    Leave();
    return *received == count;
}

#include "TtyLink.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "KeptToProcessEnd.h"
#include "PortHolders.h"
#include "TtyDevice.h"
#include "TtyLine.h"

namespace {

constexpr int kPollMs = 100;  // a wait for a byte looks again at least this often
constexpr int kWriteMsPerByte = 50, kWriteMs = 50;  // as the Windows channel's write timeouts

OpenError SystemError(const char* reason, int error)
{
    return {reason, error, std::strerror(error), {}, false, {}};
}

// The group that owns the device, which a user needs to join (getgrgid_r: runs side by side
// may ask at once).
std::string GroupOf(const std::string& path)
{
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0)
        return "dialout";
    group entry = {};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->gr_name;
    return std::to_string(info.st_gid);
}

OpenError FailureToOpen(const std::string& path, int error)
{
    if (error == ENOENT || error == ENODEV || error == ENXIO || error == ENOTDIR)
        return SystemError("missing", error);
    if (error == EACCES || error == EPERM) {
        OpenError denied = SystemError("denied", error);
        denied.group = GroupOf(path);
        return denied;
    }
    return SystemError("other", error);
}

// DTR and RTS together; a pseudo-terminal has neither (ENOTTY, EINVAL), which is no fault.
void RaiseModemLines(int fd)
{
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
}

OpenError ConsoleRefusal(const PortInfo& port)
{
    OpenError refusal;
    refusal.reason = "console";
    refusal.message = port.name + " is the system console: vr7 does not write to it";
    return refusal;
}

}  // namespace

TtyLink::TtyLink(const PortInfo& port, const StopSignal* stop)
    : m_port(port), m_stop(stop), m_asked(std::chrono::steady_clock::now())
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;  // then a transfer's polls alone notice a Close, at their next turn
}

TtyLink::~TtyLink()
{
    Close();
    for (int& end : m_wake) {
        if (end < 0)
            continue;
        if (m_fd >= 0)
            KeptToProcessEnd::KeepDescriptor(end);  // a transfer that never left may still poll it
        else
            close(end);
    }
    if (m_fd >= 0)
        KeptToProcessEnd::KeepDescriptor(m_fd);
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
        Relinquish(fd);
}

bool TtyLink::Fail(OpenError error)
{
    m_failure = std::move(error);
    return false;
}

int TtyLink::Acquire()
{
    m_failure = OpenError();
    if (m_port.console) {
        Fail(ConsoleRefusal(m_port));
        return -1;
    }
    // Looked for once per link, beside the open and the lock; judged before the line is set.
    const HolderScan scan = m_judged ? HolderScan() : ScanForHolders(m_asked, m_stop);
    const int fd = open(m_port.name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno != EBUSY) {
        Fail(FailureToOpen(m_port.name, errno));
        return -1;
    }
    // EBUSY: another program set TIOCEXCL, and this user may not pass it.
    ExclusiveUse::Outcome taken = fd < 0 ? ExclusiveUse::Outcome::Exclusive : m_exclusive.Take(fd);
    const int error = fd < 0 ? EBUSY : taken == ExclusiveUse::Outcome::Locked ? EWOULDBLOCK : errno;
    if (taken == ExclusiveUse::Outcome::Failed) {
        Relinquish(fd);
        Fail(SystemError("other", error));
        return -1;
    }
    if (taken == ExclusiveUse::Outcome::Taken && m_judged)
        return fd;
    struct stat info = {};
    const unsigned long long device = fd >= 0 && fstat(fd, &info) == 0 ? info.st_rdev : m_port.deviceNumber;
    HolderVerdict verdict = HoldersOf(m_judged ? ScanForHolders(std::chrono::steady_clock::now(), m_stop) : scan,
                                      device, m_port.device.empty() ? m_port.name : m_port.device);
    if (taken == ExclusiveUse::Outcome::Taken && verdict.complete && verdict.holders.empty()) {
        m_judged = true;
        return fd;
    }
    if (fd >= 0)
        Relinquish(fd);
    if (!verdict.complete) {
        Fail(SystemError("stopped", EINTR));
        return -1;
    }
    const int busy = taken == ExclusiveUse::Outcome::Taken ? EBUSY : error;
    OpenError held = SystemError("busy", busy);
    held.hidden = verdict.holders.empty() && geteuid() != 0;  // held by a process this user cannot see
    held.holders = std::move(verdict.holders);
    Fail(std::move(held));
    return -1;
}

void TtyLink::Relinquish(int fd)
{
    m_exclusive.Release(fd);
    close(fd);
}

bool TtyLink::Open(unsigned short, const LineSetting& line)
{
    Close();
    char drained[64];
    while (m_wake[0] >= 0 && read(m_wake[0], drained, sizeof drained) > 0) {
    }
    const int fd = Acquire();
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool pty = fstat(fd, &info) == 0 && PseudoTerminalIndex(info.st_rdev) >= 0;
    if (!SetLineSetting(fd, line, pty)) {
        const int error = errno;
        Relinquish(fd);
        return Fail(SystemError("other", error));
    }
    RaiseModemLines(fd);
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_fd = fd;
    m_closing = false;
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

#include "relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace digisim {

namespace {

constexpr int kBurstGapMs = 50;  // a pause this long ends a burst of device bytes

void say(const std::string& text)
{
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// Writes all of data to a non-blocking descriptor, waiting while it is full.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EAGAIN) {
            pollfd out{fd, POLLOUT, 0};
            if (::poll(&out, 1, 1000) <= 0)
                return false;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool Relay::start(std::string& error)
{
    device_.reset(::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device_.valid()) {
        error = "cannot open " + devicePath_ + ": " + std::strerror(errno);
        return false;
    }
    if (!link_.plug(error)) {
        device_.reset();
        return false;
    }
    followLineSetting();
    say("relaying " + link_.linkPath() + " to " + devicePath_);
    return true;
}

bool Relay::run(int signalFd)
{
    for (;;) {
        pollfd fds[3] = {{signalFd, POLLIN, 0}, {link_.master(), POLLIN, 0}, {device_.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 3, burst_.empty() ? -1 : kBurstGapMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return false;
        if (ready == 0) {
            endBurst();
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            endBurst();
            return true;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !toDevice())
            return false;
        if ((fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !fromDevice())
            return false;
    }
}

bool Relay::toDevice()
{
    std::uint8_t buffer[256];
    const ssize_t count = ::read(link_.master(), buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (count <= 0) {
        say(std::string("line failed: ") + std::strerror(errno));
        return false;
    }
    endBurst();  // what the program sends next no longer belongs to the last answer
    followLineSetting();
    for (ssize_t i = 0; i < count; ++i) {
        if (const std::optional<Frame> frame = scanner_.push(buffer[i])) {
            const LineSetting line = line_.value_or(LineSetting{});
            say("frame " + toHex(frame->data(), frame->size()) + " at " + std::to_string(line.baud) + " " +
                line.parity + " " + std::to_string(line.stopBits));
        }
    }
    if (writeAll(device_.get(), buffer, static_cast<std::size_t>(count)))
        return true;
    say("device failed: " + devicePath_ + ": " + std::strerror(errno));
    return false;
}

bool Relay::fromDevice()
{
    std::uint8_t buffer[256];
    const ssize_t count = ::read(device_.get(), buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (count <= 0) {
        say("device failed: " + devicePath_ + ": " + (count == 0 ? "hung up" : std::strerror(errno)));
        return false;
    }
    burst_.insert(burst_.end(), buffer, buffer + count);
    return writeAll(link_.master(), buffer, static_cast<std::size_t>(count));
}

// The program sets the line on the pty before it writes; the device gets the same.
void Relay::followLineSetting()
{
    const std::optional<LineSetting> now = readLineSetting(link_.master());
    if (!now || (line_ && now->baud == line_->baud && now->parity == line_->parity &&
                 now->stopBits == line_->stopBits))
        return;
    if (!applyLineSetting(device_.get(), *now))
        say("the device refused " + now->describe() + ": " + std::strerror(errno));
    line_ = now;
}

void Relay::endBurst()
{
    if (burst_.empty())
        return;
    say("reply " + toHex(burst_));
    burst_.clear();
}

} // namespace digisim

#include "simulator.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace digisim {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

} // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)), policy_(options_.policy), link_(options_.linkPath),
      startTime_(Clock::now())
{
}

bool Simulator::start(std::string& error)
{
    startTime_ = Clock::now();
    if (!link_.plug(error))
        return false;
    if (!control_.listen(error)) {
        link_.unplug();
        return false;
    }
    say("plugged " + link_.slavePath() + " as " + link_.linkPath() + ", control port " +
        std::to_string(control_.port()));
    return true;
}

void Simulator::run(int signalFd)
{
    const ControlServer::Handler handler = [this](const std::string& line) {
        return handleCommand(line);
    };
    std::vector<pollfd> fds;
    while (!quitRequested_) {
        fds.clear();
        fds.push_back({signalFd, POLLIN, 0});
        std::size_t masterIndex = kNone;
        if (link_.plugged()) {
            masterIndex = fds.size();
            short events = readDue_ ? short(0) : short(POLLIN);  // a lag leaves the input unread
            if (outputBlocked_)
                events |= POLLOUT;
            fds.push_back({link_.master(), events, 0});
        }
        const std::size_t controlIndex = fds.size();
        control_.addPollFds(fds);

        if (::poll(fds.data(), fds.size(), pollTimeoutMs(Clock::now())) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("digisim: poll");
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) > 0)
                say(std::string("signal ") + ::strsignal(static_cast<int>(info.ssi_signo)));
            return;
        }
        if (masterIndex != kNone) {
            const short revents = fds[masterIndex].revents;
            if ((revents & POLLOUT) != 0)
                outputBlocked_ = false;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                readLine(Clock::now());
        }
        if (readDue_ && *readDue_ <= Clock::now()) {
            readDue_.reset();
            readLine(Clock::now());
        }
        control_.handleEvents(fds, controlIndex, handler);
        flushOutput(Clock::now());
    }
}

void Simulator::readLine(Clock::time_point now)
{
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t count = ::read(link_.master(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return;
        if (count <= 0) {
            // Cannot happen while our own slave fd is open; unplug rather than spin.
            say(std::string("line failed: ") + std::strerror(errno));
            hangUp();
            return;
        }
        ssize_t i = 0;
        for (; i < count && fillerLeft_ > 0; ++i)
            --fillerLeft_;
        for (; i < count; ++i) {
            received_.push_back(buffer[i]);
            if (const std::optional<Frame> frame = scanner_.push(buffer[i])) {
                onFrame(*frame, now);
                if (!link_.plugged())
                    return; // hung up: the rest never reached the device
            }
        }
    }
}

void Simulator::onFrame(const Frame& frame, Clock::time_point receivedAt)
{
    const LineSetting line = readLineSetting(link_.master()).value_or(LineSetting{});
    const auto sinceStart = std::chrono::duration_cast<milliseconds>(receivedAt - startTime_);
    frames_.push_back({frame, line, static_cast<long long>(sinceStart.count())});
    say("frame " + toHex(frame.data(), frame.size()) + " at " + std::to_string(line.baud) + " " +
        line.parity + " " + std::to_string(line.stopBits));

    if (!answersOn(line)) {
        say("no reply (line setting filtered out)");
        return;
    }
    if (policy_.behaviour == Behaviour::Hangup) {
        hangUp();
        return;
    }
    const Bytes answer = answerFor(policy_.behaviour, frame);
    if (answer.empty()) {
        say("no reply (silence)");
        return;
    }
    // A device cannot answer before the frame has crossed the wire; on a pty the
    // frame arrives the instant the program's write completes.
    Clock::time_point first = receivedAt + milliseconds(policy_.delayMs);
    std::chrono::nanoseconds spacing(0);
    if (!policy_.instant) {
        spacing = line.charTime();
        first += spacing * static_cast<int>(kFrameSize) + milliseconds(policy_.turnaroundMs);
    }
    output_.schedule(answer, first, spacing, true);
    say(policy_.behaviour == Behaviour::Flood
            ? "reply " + std::to_string(answer.size()) + " x 55"
            : "reply " + toHex(answer));
}

bool Simulator::answersOn(const LineSetting& line) const
{
    if (policy_.onlyBaud != 0 && line.baud != policy_.onlyBaud)
        return false;
    return policy_.onlyParity == '-' || line.parity == policy_.onlyParity;
}

void Simulator::hangUp()
{
    output_.clear();
    outputBlocked_ = false;
    readDue_.reset();
    fillerLeft_ = 0;
    scanner_.reset();
    link_.unplug();
    say("unplugged");
}

void Simulator::flushOutput(Clock::time_point now)
{
    if (!link_.plugged()) {
        output_.clear();
        return;
    }
    if (!outputBlocked_) {
        switch (output_.flush(link_.master(), now)) {
        case PacedOutput::Flush::Ok:
            break;
        case PacedOutput::Flush::WouldBlock:
            outputBlocked_ = true;
            break;
        case PacedOutput::Flush::Failed:
            say(std::string("write failed: ") + std::strerror(errno) + "; output dropped");
            output_.clear();
            break;
        }
    }
    replies_ += output_.takeCompletedAnswers();
}

int Simulator::pollTimeoutMs(Clock::time_point now) const
{
    std::optional<Clock::time_point> due = outputBlocked_ ? std::nullopt : output_.nextDue();
    if (readDue_ && (!due || *readDue_ < *due))
        due = readDue_;
    if (!due || !link_.plugged())
        return -1;
    if (*due <= now)
        return 0;
    // Rounded up, so the wait never ends before the byte is due: no spinning.
    const auto wait = std::chrono::ceil<milliseconds>(*due - now);
    return static_cast<int>(std::min<long long>(wait.count(), 60 * 60 * 1000));
}

void Simulator::say(const std::string& text) const
{
    if (!options_.verbose)
        return;
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace digisim

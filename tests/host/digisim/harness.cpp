#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace digisim_test {

namespace {

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

speed_t speedCode(unsigned baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 115200: return B115200;
    default: return B0;
    }
}

} // namespace

std::string hex(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", byte);
        text += digits;
    }
    return text;
}

// ---- SimProcess

SimProcess::~SimProcess()
{
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string SimProcess::start(const std::vector<std::string>& extraArgs)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/digisim-test.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return std::string("mkdtemp: ") + std::strerror(errno);
    dir_ = pattern;
    link_ = dir_ + "/com";

    std::vector<std::string> args = {DIGISIM_PATH, "--link", link_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0)
        return std::string("fork: ") + std::strerror(errno);
    if (pid_ == 0) {
        // Should the test process die, the simulator gets SIGTERM and cleans up.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd_ < 0)
        return std::string("pidfd_open: ") + std::strerror(errno);
    return waitForPortFile();
}

// The port file appears (renamed into place) once digisim listens; watch the
// directory rather than polling it, and give up if digisim exits or 5 s pass.
std::string SimProcess::waitForPortFile()
{
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0)
        return std::string("inotify_init1: ") + std::strerror(errno);
    ::inotify_add_watch(watch, dir_.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    const Clock::time_point deadline = Clock::now() + milliseconds(5000);
    std::string error;
    for (;;) {
        unsigned port = 0;
        std::ifstream file(portFile());
        if (file >> port && port > 0 && port < 65536) {
            port_ = static_cast<std::uint16_t>(port);
            break;
        }
        pollfd fds[2] = {{watch, POLLIN, 0}, {pidFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, remainingMs(deadline));
        if (ready == 0) {
            error = "no port file within 5 s";
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            error = "digisim exited at start-up";
            break;
        }
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
    }
    ::close(watch);
    return error;
}

int SimProcess::stop()
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    pollfd exited = {pidFd_, POLLIN, 0};
    if (pidFd_ < 0 || ::poll(&exited, 1, 3000) <= 0)
        ::kill(pid_, SIGKILL); // a stuck simulator; waitpid below then ends at once
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (pidFd_ >= 0)
        ::close(pidFd_);
    pidFd_ = -1;
    if (reaped < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// ---- ControlClient

ControlClient::~ControlClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ControlClient::connect(std::uint16_t port)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

Answer ControlClient::command(const std::string& line)
{
    Answer answer;
    const std::string text = line + "\n";
    if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
        return answer;
    const Clock::time_point deadline = Clock::now() + milliseconds(2000);
    std::string reply;
    while (readLine(reply, deadline)) {
        if (reply == "OK" || reply.rfind("ERR", 0) == 0) {
            answer.status = reply;
            break;
        }
        answer.lines.push_back(reply);
    }
    return answer;
}

std::string ControlClient::query(const std::string& line)
{
    const Answer answer = command(line);
    if (answer.status == "OK" && answer.lines.size() == 1)
        return answer.lines[0];
    return "unexpected answer to '" + line + "': " + std::to_string(answer.lines.size()) +
           " lines, status '" + answer.status + "'";
}

bool ControlClient::readLine(std::string& line, Clock::time_point deadline)
{
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return true;
        }
        pollfd ready = {fd_, POLLIN, 0};
        if (::poll(&ready, 1, remainingMs(deadline)) <= 0)
            return false;
        char chunk[4096];
        const ssize_t count = ::recv(fd_, chunk, sizeof chunk, 0);
        if (count <= 0)
            return false;
        buffer_.append(chunk, static_cast<std::size_t>(count));
    }
}

// ---- SerialEnd

bool SerialEnd::open(const std::string& path, unsigned baud, char parity, unsigned stopBits)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetospeed(&tio, speedCode(baud));
    ::cfsetispeed(&tio, speedCode(baud));
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    if (parity != 'N') {
        tio.c_iflag |= INPCK;
        tio.c_cflag |= PARENB | (parity == 'O' ? PARODD : 0);
    }
    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    return ::tcsetattr(fd_, TCSANOW, &tio) == 0 && ::tcflush(fd_, TCIOFLUSH) == 0;
}

void SerialEnd::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SerialEnd::write(const Bytes& bytes)
{
    return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

Bytes SerialEnd::read(std::size_t count, milliseconds timeout, Clock::time_point* firstByteAt)
{
    Bytes bytes;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (bytes.size() < count) {
        pollfd ready = {fd_, POLLIN, 0};
        if (::poll(&ready, 1, remainingMs(deadline)) <= 0 || (ready.revents & POLLIN) == 0)
            break;
        std::uint8_t chunk[4096];
        const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
        const ssize_t got = ::read(fd_, chunk, wanted);
        if (got <= 0)
            break;
        if (bytes.empty() && firstByteAt != nullptr)
            *firstByteAt = Clock::now();
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

bool SerialEnd::waitForHangup(milliseconds timeout)
{
    pollfd ready = {fd_, POLLIN, 0};
    return ::poll(&ready, 1, static_cast<int>(timeout.count())) > 0 &&
           (ready.revents & POLLHUP) != 0;
}

} // namespace digisim_test

// Test harness: the real digisim binary on a temporary link, its control
// channel, and the test's end of the line opened as a serial port would be.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace digisim_test {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Starts digisim in a fresh temporary directory; the destructor stops it and
// removes the directory, whatever the test did.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Returns an empty string on success, otherwise what went wrong.
    std::string start(const std::vector<std::string>& extraArgs = {});
    // SIGTERM, then a bounded wait (SIGKILL after 3 s). Returns the exit status,
    // or -1 when it did not exit normally.
    int stop();

    const std::string& link() const { return link_; }
    std::string portFile() const { return link_ + ".port"; }
    std::uint16_t port() const { return port_; }

private:
    std::string waitForPortFile();

    std::string dir_;
    std::string link_;
    pid_t pid_ = -1;
    int pidFd_ = -1;
    std::uint16_t port_ = 0;
};

struct Answer {
    std::vector<std::string> lines; // data lines
    std::string status;             // "OK", "ERR ...", or "" when none came in time
};

class ControlClient {
public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    bool connect(std::uint16_t port);
    // Sends one command and reads its answer, waiting at most 2 s.
    Answer command(const std::string& line);
    // A command expected to answer one data line then OK; returns that line,
    // or a description of the unexpected answer.
    std::string query(const std::string& line);

private:
    bool readLine(std::string& line, Clock::time_point deadline);

    int fd_ = -1;
    std::string buffer_;
};

// The program's end of the cable.
class SerialEnd {
public:
    SerialEnd() = default;
    ~SerialEnd() { close(); }
    SerialEnd(const SerialEnd&) = delete;
    SerialEnd& operator=(const SerialEnd&) = delete;

    // Opens path as a serial port and sets a raw line; parity as Wine sets it
    // (INPCK, plus PARODD for odd). Returns false on failure.
    bool open(const std::string& path, unsigned baud, char parity = 'N', unsigned stopBits = 1);
    void close();
    bool write(const Bytes& bytes);
    // Reads until `count` bytes arrived or `timeout` passed; `firstByteAt`, when
    // given, receives the arrival time of the first byte.
    Bytes read(std::size_t count, milliseconds timeout, Clock::time_point* firstByteAt = nullptr);
    // Waits up to `timeout` for the far end to hang up.
    bool waitForHangup(milliseconds timeout);

private:
    int fd_ = -1;
};

std::string hex(const Bytes& bytes);

} // namespace digisim_test

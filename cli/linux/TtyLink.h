// vr7's way to a serial port on Linux: a tty device opened for exclusive use (flock, then
// TIOCEXCL), in raw mode with the run's line setting, DTR and RTS raised while it is open.
// A port another process holds is refused as busy and nothing is sent to it.
//
// Threads: Open and Close come from the run's thread, Send and WaitReply from its reply
// waiter's. Close ends a wait blocked on the waiter's thread within milliseconds (a byte
// on the wake pipe that every poll watches) and closes the device only once the waiter
// has left it; a waiter that does not leave within kLeaveBound keeps the device open.
#ifndef VR7_TTYLINK_H
#define VR7_TTYLINK_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "Ports.h"

class TtyLink final : public RunLink {
public:
    static constexpr std::chrono::milliseconds kLeaveBound{2000};

    explicit TtyLink(std::string path);
    ~TtyLink() override;
    TtyLink(const TtyLink&) = delete;
    TtyLink& operator=(const TtyLink&) = delete;

    void Close() override;
    bool Open(unsigned short port, const LineSetting& line) override;
    bool Send(const unsigned char* data, int length) override;
    bool WaitReply(unsigned char* buffer, int capacity, int count, int* received) override;
    OpenError OpenFailure() const override { return m_failure; }

private:
    bool Enter();  // a transfer may use the device
    void Leave();
    bool Fail(const char* reason, int error);
    bool Refuse(int fd, OpenError error);
    bool Configure(int fd, const LineSetting& line);
    bool WaitFor(short events, int timeoutMs);  // the device is ready, or the wake pipe woke it

    const std::string m_path;
    int m_wake[2] = {-1, -1};  // a pipe: Close writes a byte to end a transfer's poll
    std::mutex m_mutex;        // guards m_fd's admission, m_closing and m_inTransfer
    std::condition_variable m_left;
    int m_fd = -1;
    bool m_closing = false;
    bool m_inTransfer = false;
    OpenError m_failure;  // the run's thread's
};

#endif

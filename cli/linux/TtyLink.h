// vr7's way to a serial port on Linux: a tty device opened for exclusive use (ExclusiveUse),
// judged free of other holders (PortHolders, once per link: between attempts the lock
// keeps them out), then set to the run's line setting whole (TtyLine), DTR and RTS raised
// while it is open. A port another process holds is refused as busy and nothing is sent
// to it; the system console is never opened.
//
// Threads: Open and Close come from the run's thread, Send and WaitReply from its reply
// waiter's. Close ends a wait blocked on the waiter's thread within milliseconds (a byte
// on the wake pipe that every poll watches) and closes the device only once the waiter
// has left it; a waiter that does not leave within kLeaveBound keeps the device open to
// the process's end.
#ifndef VR7_TTYLINK_H
#define VR7_TTYLINK_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "ExclusiveUse.h"
#include "Ports.h"

class TtyLink final : public RunLink {
public:
    static constexpr std::chrono::milliseconds kLeaveBound{2000};

    TtyLink(const PortInfo& port, const StopSignal* stop);
    ~TtyLink() override;
    TtyLink(const TtyLink&) = delete;
    TtyLink& operator=(const TtyLink&) = delete;

    void Close() override;
    bool Open(unsigned short port, const LineSetting& line) override;
    bool Send(const unsigned char* data, int length) override;
    bool WaitReply(unsigned char* buffer, int capacity, int count, int* received) override;
    OpenError OpenFailure() const override { return m_failure; }

    // The device opened for exclusive use and judged free of other holders, its line
    // setting untouched: what Open does before it sets the line, and all that a test of
    // the port does. -1 with OpenFailure set when it cannot be had.
    int Acquire();
    // Closes what Acquire gave, undoing only what it took.
    void Relinquish(int fd);

private:
    bool Enter();  // a transfer may use the device
    void Leave();
    bool Fail(OpenError error);
    bool WaitFor(short events, int timeoutMs);  // the device is ready, or the wake pipe woke it

    const PortInfo m_port;
    const StopSignal* const m_stop;
    // When the link was made: a look for holders that began since then answers it, so links
    // made together (detect's ports) share one.
    const std::chrono::steady_clock::time_point m_asked;
    bool m_judged = false;  // the run's thread's: the holders were looked for once, and none found
    ExclusiveUse m_exclusive;  // the run's thread's; undone by Relinquish
    int m_wake[2] = {-1, -1};  // a pipe: Close writes a byte to end a transfer's poll
    std::mutex m_mutex;        // guards m_fd's admission, m_closing and m_inTransfer
    std::condition_variable m_left;
    int m_fd = -1;
    bool m_closing = false;
    bool m_inTransfer = false;
    OpenError m_failure;  // the run's thread's
};

#endif

// What the configuration run needs of its serial port, so that the window (through the
// port library's entry points) and the console program (through a channel of its own
// per port) run the same configuration.
#ifndef QUILLANE_PORTLINK_H
#define QUILLANE_PORTLINK_H

struct LineSetting {
    int baud;
    int parity;  // the character code: 'N' or 'E'
    int dataBits;
    int stopBits;
};

// Threads: Close and Open come from the run's thread; Send and WaitReply from the reply
// waiter's. A Close while WaitReply is blocked on the waiter's thread ends it with false
// within milliseconds.
class PortLink {
public:
    virtual ~PortLink() = default;
    virtual void Close() = 0;
    virtual bool Open(unsigned short port, const LineSetting& line) = 0;
    virtual bool Send(const unsigned char* data, int length) = 0;
    // Waits without a time limit until count bytes have arrived in buffer (capacity bytes)
    // and returns true; false when refused or stopped. *received tells how many bytes
    // arrived, also when it fails, or -1 where the link cannot tell.
    virtual bool WaitReply(unsigned char* buffer, int capacity, int count, int* received) = 0;
};

#endif

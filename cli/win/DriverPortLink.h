// vr7's way to a port on Windows: a driver and a channel of its own, built from the port
// library's sources, so that several ports can be driven side by side and no library file
// is deployed. Its channel opens every port the system can list (COM1 to COM255) and tells
// why an open failed, naming the programs that hold a busy port.
#ifndef VR7_DRIVERPORTLINK_H
#define VR7_DRIVERPORTLINK_H

#include "DeviceApi.h"
#include "PortDriver.h"
#include "Ports.h"
#include "SerialChannel.h"

class DriverPortLink : public RunLink {
public:
    // stop (may be null) ends the search for a busy port's holders.
    explicit DriverPortLink(const StopSignal* stop) : m_driver(m_channel), m_stop(stop) {}
    DriverPortLink(const DriverPortLink&) = delete;
    DriverPortLink& operator=(const DriverPortLink&) = delete;

    void Close() override;
    bool Open(unsigned short port, const LineSetting& line) override;
    bool Send(const unsigned char* data, int length) override;
    bool WaitReply(unsigned char* buffer, int capacity, int count, int* received) override;
    OpenError OpenFailure() const override;

private:
    // Declared first: constructed before the driver and destroyed after it, so the
    // driver's destructor (which closes the port) still finds it.
    CSerialChannel m_channel{DeviceApi(), CSerialChannel::kLastListedPort};
    CPortDriver m_driver;
    const StopSignal* const m_stop;
    unsigned short m_port = 0;  // the last one opened
};

// What a channel's failure on a port means to a user; for a busy port, who holds it.
OpenError OpenErrorOf(const CSerialChannel::Failure& failure, int port, const StopSignal* stop);

#endif

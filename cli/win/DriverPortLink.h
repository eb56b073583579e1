// vr7's way to a port on Windows: a driver and a channel of its own, built from the port
// library's sources, so that several ports can be driven side by side and no library file
// is deployed. Its channel opens every port the system can list (COM1 to COM255) and tells
// why an open failed.
#ifndef VR7_DRIVERPORTLINK_H
#define VR7_DRIVERPORTLINK_H

#include "DeviceApi.h"
#include "PortDriver.h"
#include "Ports.h"
#include "SerialChannel.h"

class DriverPortLink : public RunLink {
public:
    DriverPortLink() : m_driver(m_channel) {}
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
};

// What a channel's failure means to a user.
OpenError OpenErrorOf(const CSerialChannel::Failure& failure);

#endif

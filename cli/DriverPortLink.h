// The console program's way to a port: a driver and a channel of its own, built from the
// port library's sources, so that several ports can be driven side by side and no
// library file is deployed.
#ifndef VR7_DRIVERPORTLINK_H
#define VR7_DRIVERPORTLINK_H

#include "DeviceApi.h"
#include "PortDriver.h"
#include "PortLink.h"
#include "SerialChannel.h"

class DriverPortLink : public PortLink {
public:
    DriverPortLink() : m_driver(m_channel) {}
    DriverPortLink(const DriverPortLink&) = delete;
    DriverPortLink& operator=(const DriverPortLink&) = delete;

    void Close() override;
    bool Open(unsigned short port, const LineSetting& line) override;
    bool Send(const unsigned char* data, int length) override;
    bool WaitReply(unsigned char* buffer, int capacity, int count, int* received) override;

private:
    // Declared first: constructed before the driver and destroyed after it, so the
    // driver's destructor (which closes the port) still finds it.
    CSerialChannel m_channel{DeviceApi()};
    CPortDriver m_driver;
};

// Whether the port can be opened now; it is closed again either way.
bool CanOpenPort(unsigned short port);

#endif

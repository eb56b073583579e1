#include "DriverPortLink.h"

void DriverPortLink::Close()
{
    m_driver.Close();
}

bool DriverPortLink::Open(unsigned short port, const LineSetting& line)
{
    return m_driver.Open(port, line.baud, line.parity, line.dataBits, line.stopBits) != 0;
}

bool DriverPortLink::Send(const unsigned char* data, int length)
{
    return m_driver.Send(data, length) != 0;
}

bool DriverPortLink::WaitReply(unsigned char* buffer, int capacity, int count, int* received)
{
    return m_driver.WaitReceive(buffer, capacity, count, received) != 0;
}

bool CanOpenPort(unsigned short port)
{
    CSerialChannel channel;
    CPortDriver driver(channel);
    const bool opened = driver.Test(port) != 0;
    driver.Close();  // also after a failed open, which can leave the device held
    return opened;
}

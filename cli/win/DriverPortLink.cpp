#include "DriverPortLink.h"

#include "PortHolders.h"
#include "WinText.h"

void DriverPortLink::Close()
{
    m_driver.Close();
}

bool DriverPortLink::Open(unsigned short port, const LineSetting& line)
{
    m_port = port;
    return m_driver.Open(port, line.baud, line.parity, line.dataBits, line.stopBits) != 0;
}

// The receive side is purged just before the frame goes out, and every byte after it is
// kept: a reply that comes the moment the frame has arrived is never thrown away, as a
// purge at the start of the receive would (the library's receive exports do that, as
// their callers are promised).
bool DriverPortLink::Send(const unsigned char* data, int length)
{
    m_channel.Purge(CSerialChannel::kPurgeInput);
    return m_driver.Send(data, length) != 0;
}

bool DriverPortLink::WaitReply(unsigned char* buffer, int capacity, int count, int* received)
{
    return m_driver.WaitReceiveKept(buffer, capacity, count, received) != 0;
}

OpenError DriverPortLink::OpenFailure() const
{
    return OpenErrorOf(m_channel.LastFailure(), m_port, m_stop);
}

OpenError OpenErrorOf(const CSerialChannel::Failure& failure, int port, const StopSignal* stop)
{
    OpenError error;
    const bool atOpen = failure.step == CSerialChannel::Failure::Step::Open;
    if (atOpen && (failure.code == ERROR_ACCESS_DENIED || failure.code == ERROR_SHARING_VIOLATION))
        error.reason = "busy";
    else if (atOpen && (failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND))
        error.reason = "missing";
    else
        error.reason = "other";
    error.code = static_cast<long>(failure.code);
    error.message = SystemMessage(failure.code);
    NameHolders(error, port, stop);
    return error;
}

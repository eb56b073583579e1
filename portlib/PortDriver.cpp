#include "PortDriver.h"

#include "PortList.h"

namespace {

constexpr UINT kEventMask = EV_RXCHAR;
constexpr UINT kQueueSize = 256;

}  // namespace

CPortDriver::~CPortDriver()
{
    Close();
}

int CPortDriver::Close()
{
    m_channel.Purge();
    m_channel.Close();
    m_openResult = 0;
    return 1;
}

int CPortDriver::Open(UINT port, int baud, int parity, int dataBits, int stopBits)
{
    Close();
    const char parityChar = static_cast<char>(parity & 0xFF);  // only the low byte counts
    m_openResult =
        m_channel.Configure(port, baud, parityChar, dataBits, stopBits, kEventMask, kQueueSize, kQueueSize);
    return m_openResult;
}

int CPortDriver::Test(UINT port)
{
    return Open(port, 9600, 'N', 8, 1);
}

int CPortDriver::Send(const BYTE* data, int length)
{
    return m_channel.Write(data, length) ? 1 : 0;
}

int CPortDriver::ListPorts(unsigned short* ports, int capacity)
{
    return ListSerialPorts(ports, capacity);
}

// The purges before a receive discard what arrived before the call, on the receive side
// only: a frame sent just before may still be on its way out (in an adapter's buffer, or
// on a pty) and must not be thrown away.
int CPortDriver::Receive(BYTE* buffer, int length, DWORD timeoutMs)
{
    m_channel.Purge(CSerialChannel::kPurgeInput);
    return m_channel.Read(buffer, length, timeoutMs) ? 1 : 0;
}

int CPortDriver::WaitReceive(BYTE* buffer, int capacity, int count, int* received)
{
    if (received != nullptr)
        *received = 0;
    if (count > capacity)
        return 0;  // before any port activity
    if (buffer == nullptr && count > 0)
        return 0;
    m_channel.Purge(CSerialChannel::kPurgeInput);
    return WaitReceiveKept(buffer, capacity, count, received);
}

int CPortDriver::WaitReceiveKept(BYTE* buffer, int capacity, int count, int* received)
{
    if (received != nullptr)
        *received = 0;
    if (count > capacity || (buffer == nullptr && count > 0))
        return 0;
    try {
        for (int i = 0; i < count; ++i) {
            if (!m_channel.WaitByte(&buffer[i]))
                return 0;
            if (received != nullptr)
                *received = i + 1;
        }
    } catch (...) {
        return 0;
    }
    return 1;
}

// The program's table of the port library's entry points, and the configuration run's
// port over it. Their types come from the library's own header, so the compiler checks
// both sides against one set of signatures.
#ifndef QUILLANE_PORTENTRYPOINTS_H
#define QUILLANE_PORTENTRYPOINTS_H

#include "PortLink.h"
#include "linkport.h"

struct PortEntryPoints {
    decltype(&::TestPort) TestPort = nullptr;
    decltype(&::OpenPort) OpenPort = nullptr;
    decltype(&::ListSerialComm) ListSerialComm = nullptr;
    decltype(&::recvdata) recvdata = nullptr;  // bound, never called
    decltype(&::WaitRecvdata) WaitRecvdata = nullptr;
    decltype(&::senddata) senddata = nullptr;
    decltype(&::ClosePort) ClosePort = nullptr;

    bool Complete() const
    {
        return TestPort && OpenPort && ListSerialComm && recvdata && WaitRecvdata && senddata && ClosePort;
    }
};

// The window's way to the port: every call through the table.
class EntryPointLink : public PortLink {
public:
    explicit EntryPointLink(const PortEntryPoints& entries) : m_entries(entries) {}
    void Close() override { m_entries.ClosePort(); }
    bool Open(unsigned short port, const LineSetting& line) override
    {
        return m_entries.OpenPort(port, line.baud, line.parity, line.dataBits, line.stopBits) != 0;
    }
    bool Send(const unsigned char* data, int length) override { return m_entries.senddata(data, length) != 0; }
    bool WaitReply(unsigned char* buffer, int capacity, int count, int* received) override
    {
        const bool arrived = m_entries.WaitRecvdata(buffer, capacity, count) != 0;
        *received = arrived ? count : -1;  // the library does not tell how many came before a stop
        return arrived;
    }

private:
    const PortEntryPoints& m_entries;
};

#endif

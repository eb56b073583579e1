// CPortDriver: the export-facing side of the library. Every export calls one operation of
// the library's global driver, which drives the global channel. The console program
// builds a driver over a channel of its own for each port it opens.
#ifndef LINKPORT_PORTDRIVER_H
#define LINKPORT_PORTDRIVER_H

#include <windows.h>

#include "SerialChannel.h"

class CPortDriver {
public:
    explicit CPortDriver(CSerialChannel& channel) : m_channel(channel) {}
    virtual ~CPortDriver();
    CPortDriver(const CPortDriver&) = delete;
    CPortDriver& operator=(const CPortDriver&) = delete;

    int Close();
    int Open(UINT port, int baud, int parity, int dataBits, int stopBits);
    int Test(UINT port);
    int Send(const BYTE* data, int length);
    int ListPorts(unsigned short* ports, int capacity);
    int Receive(BYTE* buffer, int length, DWORD timeoutMs);
    // *received (when given) tells how many bytes arrived, also when it fails.
    int WaitReceive(BYTE* buffer, int capacity, int count, int* received = nullptr);
    // WaitReceive without its purge: every byte that arrived since the caller's own purge
    // counts. For the console program, which purges just before its frame goes out.
    int WaitReceiveKept(BYTE* buffer, int capacity, int count, int* received);

private:
    CSerialChannel& m_channel;  // outlives the driver
    int m_openResult = 0;  // result of the last Open or Test; nothing reads it
};

#endif

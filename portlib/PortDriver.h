// CPortDriver: the export-facing side of the library. Every export calls one operation of
// the global driver, and every operation works on the global channel directly.
#ifndef LINKPORT_PORTDRIVER_H
#define LINKPORT_PORTDRIVER_H

#include <windows.h>

class CPortDriver {
public:
    CPortDriver() = default;
    virtual ~CPortDriver();
    CPortDriver(const CPortDriver&) = delete;
    CPortDriver& operator=(const CPortDriver&) = delete;

    int Close();
    int Open(UINT port, int baud, int parity, int dataBits, int stopBits);
    int Test(UINT port);
    int Send(const BYTE* data, int length);
    int ListPorts(unsigned short* ports, int capacity);
    int Receive(BYTE* buffer, int length, DWORD timeoutMs);
    int WaitReceive(BYTE* buffer, int capacity, int count);

private:
    int m_openResult = 0;  // result of the last Open or Test; nothing reads it
};

#endif

// The program's table of the port library's entry points. Their types come from the
// library's own header, so the compiler checks both sides against one set of signatures.
#ifndef QUILLANE_PORTENTRYPOINTS_H
#define QUILLANE_PORTENTRYPOINTS_H

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

#endif

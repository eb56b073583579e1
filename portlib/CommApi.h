// The platform calls the serial channel makes on its device, gathered in one table so
// that tests can stand in for the device where a pseudo-terminal cannot (DTR and RTS,
// a state write that fails, a write that completes short). The library itself always
// uses Win32CommApi(). Events and waits are not part of the seam: they are real in tests too.
#ifndef LINKPORT_COMMAPI_H
#define LINKPORT_COMMAPI_H

#include <windows.h>

struct CommApi {
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::CloseHandle) CloseHandle;  // the device handle only
    decltype(&::SetupComm) SetupComm;
    decltype(&::SetCommTimeouts) SetCommTimeouts;
    decltype(&::SetCommMask) SetCommMask;
    decltype(&::GetCommState) GetCommState;
    decltype(&::SetCommState) SetCommState;
    decltype(&::BuildCommDCBA) BuildCommDCBA;
    decltype(&::PurgeComm) PurgeComm;
    decltype(&::ClearCommError) ClearCommError;
    decltype(&::WriteFile) WriteFile;
    decltype(&::ReadFile) ReadFile;
    decltype(&::GetOverlappedResult) GetOverlappedResult;
    decltype(&::WaitCommEvent) WaitCommEvent;
    decltype(&::CancelIoEx) CancelIoEx;
};

// The real Win32 functions.
const CommApi& Win32CommApi();

#endif

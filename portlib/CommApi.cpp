#include "CommApi.h"

const CommApi& Win32CommApi()
{
    static const CommApi api = {
        ::CreateFileA,   ::CloseHandle,    ::SetupComm,      ::SetCommTimeouts,
        ::SetCommMask,   ::GetCommState,   ::SetCommState,   ::BuildCommDCBA,
        ::PurgeComm,     ::ClearCommError, ::WriteFile,      ::ReadFile,
        ::GetOverlappedResult, ::WaitCommEvent, ::CancelIoEx,
    };
    return api;
}

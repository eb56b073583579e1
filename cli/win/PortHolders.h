// Who holds a busy COM port on Windows, found the way an administrator's handle tool finds
// it: the port's NT device name, the system's list of every process's handles, each other
// process's File handle duplicated into vr7 and named, and the processes with a handle of
// the device's name. The ntdll functions are bound at run time, so vr7 imports only
// Windows' own DLLs; where one is missing there is no search.
#ifndef VR7_PORTHOLDERS_H
#define VR7_PORTHOLDERS_H

#include <windows.h>

#include <chrono>
#include <string>

#include "Ports.h"

// The system calls of the search that tests stand in for. It must outlive every search
// that uses it: a name query given up may still return later, on its own thread.
struct HolderApi {
    using QuerySystem = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG size, PULONG needed);
    using QueryObject = LONG(NTAPI*)(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG size, PULONG needed);
    QuerySystem querySystemInformation;  // NtQuerySystemInformation
    QueryObject queryObject;             // NtQueryObject: may never return for some handles
    decltype(&::OpenProcess) openProcess;
    DWORD ownProcess;  // the process whose handles are not looked at: vr7's own
};
const HolderApi& SystemHolderApi();

constexpr std::chrono::milliseconds kNameQueryLimit{250};     // naming one handle
constexpr std::chrono::milliseconds kHolderSearchBound{2000};  // the whole search

struct HolderSearch {
    std::vector<Holder> holders;  // each process once
    int refused = 0;              // processes that could not be opened to look at
};

// The processes that hold a handle named `device` ("\Device\Serial4"). Ends within
// kHolderSearchBound, and within kNameQueryLimit of the stop (may be null).
HolderSearch FindHolders(const std::wstring& device, const StopSignal* stop, const HolderApi& api = SystemHolderApi());

// A handle of the device: its name is the device's, whatever the case.
bool IsDeviceName(const std::wstring& handleName, const std::wstring& device);

// For a busy port: who holds it, and whether some processes could not be looked at where
// none was named.
void NameHolders(OpenError& error, int portNumber, const StopSignal* stop);

#endif

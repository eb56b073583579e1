// A stand-in device for a test build of vr7, linked in place of the real Win32 calls
// (DeviceApi): the channel's platform calls, played for the ports QUILLANE_STANDIN names and
// how, for example "COM4=quick COM6=stuck-open", and passed to Win32 for every other one.
//   quick       answers a configuration frame the moment the write completes: the reply
//               is already waiting when the sender starts to receive
//   stuck-open  the open blocks for 60 s, as an outgoing Bluetooth port can
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "DeviceApi.h"

namespace {

enum class Mode { Real, Quick, StuckOpen };
constexpr UINT_PTR kFirstHandle = 0x5100;  // a stand-in device's handle is this plus its port number

struct Port {
    Mode mode = Mode::Real;
    std::deque<BYTE> input;         // what the device has sent and nobody has read yet
    OVERLAPPED* pending = nullptr;  // a read or a comm-event wait for input
};
std::mutex g_mutex;  // guards g_ports
Port g_ports[256];

const CommApi& Real() { return Win32CommApi(); }

Mode ModeOf(unsigned port)
{
    char setting[512] = {};
    GetEnvironmentVariableA("QUILLANE_STANDIN", setting, sizeof setting);
    const std::string text = std::string(" ") + setting, name = " COM" + std::to_string(port) + "=";
    for (const auto& [word, mode] : {std::pair{"quick", Mode::Quick}, std::pair{"stuck-open", Mode::StuckOpen}}) {
        if (text.find(name + word) != std::string::npos)
            return mode;
    }
    return Mode::Real;
}

Port* PortOf(HANDLE device)
{
    const UINT_PTR value = reinterpret_cast<UINT_PTR>(device);
    return value > kFirstHandle && value < kFirstHandle + 256 ? &g_ports[value - kFirstHandle] : nullptr;
}

// No input yet: the operation goes pending, as the system's does.
BOOL Pend(Port& port, OVERLAPPED* record)
{
    record->Internal = 0x103;  // STATUS_PENDING
    port.pending = record;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

// A cancel, a close or a new event mask ends the pending operation.
BOOL EndPending(HANDLE device)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    Port& port = *PortOf(device);
    if (port.pending != nullptr) {
        port.pending->Internal = 0xC0000120L;  // STATUS_CANCELLED
        port.pending->InternalHigh = 0;
        SetEvent(port.pending->hEvent);
        port.pending = nullptr;
    }
    return TRUE;
}

HANDLE WINAPI OpenDevice(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                         DWORD flags, HANDLE model)
{
    unsigned number = 0;
    const Mode mode = std::sscanf(name, "\\\\.\\COM%u", &number) == 1 && number < 256 ? ModeOf(number) : Mode::Real;
    if (mode == Mode::Real)
        return Real().CreateFileA(name, access, share, security, disposition, flags, model);
    if (mode == Mode::StuckOpen) {
        const std::string said = "stand-in: the open of COM" + std::to_string(number) + " blocks for 60 s\r\n";
        DWORD written = 0;  // one write for the whole line: a console shows it as written
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), said.data(), static_cast<DWORD>(said.size()), &written, nullptr);
        Sleep(60000);
        SetLastError(ERROR_SEM_TIMEOUT);
        return INVALID_HANDLE_VALUE;
    }
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_ports[number] = Port{mode};
    return reinterpret_cast<HANDLE>(kFirstHandle + number);
}

BOOL WINAPI CloseDevice(HANDLE device) { return PortOf(device) ? EndPending(device) : Real().CloseHandle(device); }
BOOL WINAPI SetQueues(HANDLE device, DWORD in, DWORD out)
{
    return PortOf(device) || Real().SetupComm(device, in, out);
}
BOOL WINAPI SetTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts)
{
    return PortOf(device) || Real().SetCommTimeouts(device, timeouts);
}
BOOL WINAPI SetMask(HANDLE device, DWORD mask)
{
    return PortOf(device) ? EndPending(device) : Real().SetCommMask(device, mask);
}
BOOL WINAPI GetState(HANDLE device, LPDCB dcb)
{
    if (!PortOf(device))
        return Real().GetCommState(device, dcb);
    *dcb = DCB{};
    dcb->DCBlength = sizeof(DCB);
    return TRUE;
}
BOOL WINAPI SetState(HANDLE device, LPDCB dcb) { return PortOf(device) || Real().SetCommState(device, dcb); }
BOOL WINAPI Cancel(HANDLE device, LPOVERLAPPED record)
{
    return PortOf(device) ? EndPending(device) : Real().CancelIoEx(device, record);
}

BOOL WINAPI Purge(HANDLE device, DWORD flags)
{
    if (!PortOf(device))
        return Real().PurgeComm(device, flags);
    const std::lock_guard<std::mutex> lock(g_mutex);
    if ((flags & PURGE_RXCLEAR) != 0)
        PortOf(device)->input.clear();
    return TRUE;
}

BOOL WINAPI ClearError(HANDLE device, LPDWORD errors, LPCOMSTAT status)
{
    if (!PortOf(device))
        return Real().ClearCommError(device, errors, status);
    const std::lock_guard<std::mutex> lock(g_mutex);
    *errors = 0;
    if (status != nullptr) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(PortOf(device)->input.size());
    }
    return TRUE;
}

// A write completes at once; a quick device's reply to a frame is there by then.
BOOL WINAPI Write(HANDLE device, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED record)
{
    if (!PortOf(device))
        return Real().WriteFile(device, data, length, written, record);
    const std::lock_guard<std::mutex> lock(g_mutex);
    const BYTE* frame = static_cast<const BYTE*>(data);
    if (PortOf(device)->mode == Mode::Quick && length == 6 && frame[0] == 0xDB && frame[5] == 0xDD) {
        for (int byte : {0xEA, int{frame[2]}, 0x5A, (0x100 - frame[2] - 0x5A) & 0xFF, 0xDD})
            PortOf(device)->input.push_back(static_cast<BYTE>(byte));
    }
    *written = length;
    record->Internal = 0;
    record->InternalHigh = length;
    return TRUE;
}

BOOL WINAPI Read(HANDLE device, LPVOID buffer, DWORD length, LPDWORD received, LPOVERLAPPED record)
{
    if (!PortOf(device))
        return Real().ReadFile(device, buffer, length, received, record);
    const std::lock_guard<std::mutex> lock(g_mutex);
    Port& port = *PortOf(device);
    if (port.input.empty() || length == 0)
        return Pend(port, record);
    for (*received = 0; *received < length && !port.input.empty(); port.input.pop_front())
        static_cast<BYTE*>(buffer)[(*received)++] = port.input.front();
    record->Internal = 0;
    record->InternalHigh = *received;
    return TRUE;
}

BOOL WINAPI Result(HANDLE device, LPOVERLAPPED record, LPDWORD count, BOOL wait)
{
    if (!PortOf(device))
        return Real().GetOverlappedResult(device, record, count, wait);
    if (wait)
        WaitForSingleObject(record->hEvent, 5000);
    *count = static_cast<DWORD>(record->InternalHigh);
    return record->Internal == 0;
}

BOOL WINAPI WaitEvent(HANDLE device, LPDWORD eventWord, LPOVERLAPPED record)
{
    if (!PortOf(device))
        return Real().WaitCommEvent(device, eventWord, record);
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (PortOf(device)->input.empty())
        return Pend(*PortOf(device), record);
    *eventWord = EV_RXCHAR;
    return TRUE;
}

}  // namespace

const CommApi& DeviceApi()
{
    static const CommApi api = {OpenDevice, CloseDevice, SetQueues, SetTimeouts, SetMask,
                                GetState,   SetState,    ::BuildCommDCBA, Purge, ClearError,
                                Write,      Read,        Result,      WaitEvent, Cancel};
    return api;
}


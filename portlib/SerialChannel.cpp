// CSerialChannel's device: opening, configuring and closing it. The overlapped
// operations on it are in ChannelIo.cpp; admitting one transfer at a time, and reclaiming
// the channel from a transfer whose thread was killed, in ChannelTransfer.cpp.
#include "SerialChannel.h"

#include <cstdio>
#include <cstdlib>

#include "ChannelLock.h"

namespace {

// Line parameters the mode text does not name are not inherited from whatever program
// used the port before: binary mode, no software or hardware flow control, no character
// handling, so every reply byte (0x11 and 0x13 included) arrives and writes are never held.
void MakeLineClean(DCB& dcb)
{
    dcb.fBinary = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

}  // namespace

CSerialChannel::CSerialChannel(const CommApi& api, UINT lastPort)
    : m_open(0), m_io(new IoBlock), m_device(nullptr), m_givenUp(nullptr), m_timeouts(), m_port(0), m_portBuffer(nullptr),
      m_eventMask(0), m_bufferSize(0), m_api(api), m_lastPort(lastPort), m_guard(CreateMutexA(nullptr, FALSE, nullptr)),
      m_transfer(TransferState::None), m_transferThread(nullptr), m_outstanding(Operation::None), m_stop(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      m_idle(CreateEventA(nullptr, TRUE, TRUE, nullptr))
{
}

CSerialChannel::~CSerialChannel()
{
    std::free(m_portBuffer);
    m_portBuffer = nullptr;
    if (!Release())
        return;  // a transfer still runs on another thread: what it uses stays to the process's end
    delete m_io;
    CloseHandle(m_idle);
    CloseHandle(m_stop);
    CloseHandle(m_guard);
}

int CSerialChannel::OpenDevice(UINT port, UINT eventMask, UINT outputQueueSize, UINT inputQueueSize)
{
    m_failure = Failure();
    if (port < kFirstPort || port > m_lastPort)
        return Fail(Failure::Step::Range, ERROR_FILE_NOT_FOUND);  // no such device
    if (!EndTransfer(0))
        return Fail(Failure::Step::Setup, ERROR_BUSY);  // a transfer still runs on the device
    if (m_io->overlapped.hEvent != nullptr)
        ResetEvent(m_io->overlapped.hEvent);
    else
        m_io->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    // The \\.\ form reaches every COM port; a plain "COMn" reaches only COM1 to COM9.
    char deviceName[16];
    std::snprintf(deviceName, sizeof deviceName, "\\\\.\\COM%u", port);

    std::free(m_portBuffer);
    m_portBuffer = static_cast<BYTE*>(std::malloc(outputQueueSize));
    m_port = port;
    m_eventMask = eventMask;
    m_bufferSize = outputQueueSize;

    m_timeouts.ReadIntervalTimeout = kTimeoutMs;
    m_timeouts.ReadTotalTimeoutMultiplier = kTimeoutMs;
    m_timeouts.ReadTotalTimeoutConstant = kTimeoutMs;
    m_timeouts.WriteTotalTimeoutMultiplier = kTimeoutMs;
    m_timeouts.WriteTotalTimeoutConstant = kTimeoutMs;

    if (m_device != nullptr) {
        const HANDLE held = m_device;
        m_device = nullptr;
        m_api.CloseHandle(held);
    }
    HANDLE device = m_api.CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return Fail(Failure::Step::Open);
    m_device = device;
    if (!m_api.SetupComm(m_device, inputQueueSize, outputQueueSize)) {
        const int failed = Fail(Failure::Step::Setup);
        m_device = nullptr;
        m_api.CloseHandle(device);
        SetLastError(m_failure.code);  // as the failing call left it
        return failed;
    }
    if (!m_api.SetCommTimeouts(m_device, &m_timeouts))
        return Fail(Failure::Step::Setup);
    return m_api.SetCommMask(m_device, eventMask) ? 1 : Fail(Failure::Step::Setup);
}

int CSerialChannel::Configure(UINT port, int baud, char parity, int dataBits, int stopBits, UINT eventMask,
                              UINT outputQueueSize, UINT inputQueueSize)
{
    if (!OpenDevice(port, eventMask, outputQueueSize, inputQueueSize))
        return 0;

    char mode[50];  // at most 49 characters; longer argument values are refused
    const int length =
        std::snprintf(mode, sizeof mode, "baud=%d parity=%c data=%d stop=%d", baud, parity, dataBits, stopBits);
    if (length < 0 || length >= static_cast<int>(sizeof mode))
        return Fail(Failure::Step::Setup, ERROR_INVALID_PARAMETER);

    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!m_api.GetCommState(m_device, &dcb))
        return Fail(Failure::Step::Setup);
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!m_api.BuildCommDCBA(mode, &dcb))
        return Fail(Failure::Step::Setup);
    MakeLineClean(dcb);
    if (!m_api.SetCommState(m_device, &dcb))
        return Fail(Failure::Step::Setup);
    m_api.PurgeComm(m_device, kPurgeAll);

    ChannelLock lock(m_guard);
    ResetEvent(m_stop);
    m_open = 1;
    return 1;
}

int CSerialChannel::Close()
{
    Release();
    return 1;
}

// Close's work; false when a transfer still holds the channel after the bound.
bool CSerialChannel::Release()
{
    {
        ChannelLock lock(m_guard);
        m_open = 0;  // from here on no transfer is admitted
        SetEvent(m_stop);
    }
    // A transfer on another thread sees the stop, cancels and collects its operation and
    // leaves within milliseconds; one whose thread is gone is reclaimed at once. The bound
    // is a safety net for a live transfer that does not react: its handles are then left
    // as they are, never closed under it.
    if (!EndTransfer(kStopBoundMs))
        return false;

    HANDLE device = nullptr;
    HANDLE event = nullptr;
    {
        ChannelLock lock(m_guard);
        device = m_device;
        m_device = nullptr;
        event = m_io->overlapped.hEvent;
        m_io->overlapped.hEvent = nullptr;
    }
    ReleaseDevice(m_api, device);
    if (event != nullptr)
        CloseHandle(event);
    return true;
}

// Purges the device, drops DTR and RTS and closes it, on a handle already taken out of
// the channel (by whoever then owned it), so that nothing else can use or close it again
// and no guard is held while a driver may block. Touches nothing of the channel: it may
// be gone before a blocked call returns.
void CSerialChannel::ReleaseDevice(const CommApi& api, HANDLE device)
{
    if (device == nullptr)
        return;
    api.PurgeComm(device, kPurgeAll);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (api.GetCommState(device, &dcb)) {
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        api.SetCommState(device, &dcb);  // a failed write is ignored
    }
    api.CloseHandle(device);
}

// Records why configuring failed; the system's last error stays as the failing call set it.
int CSerialChannel::Fail(Failure::Step step, DWORD code)
{
    m_failure = {step, code};
    return 0;
}

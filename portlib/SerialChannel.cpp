// CSerialChannel's device: opening, configuring and closing it, and the overlapped
// transfers on it. Admitting one transfer at a time, and reclaiming the channel from a
// transfer whose thread was killed, are in ChannelTransfer.cpp.
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

// Marks the record busy with one operation from just before it starts until it has been
// collected, so that a reclaim knows what a killed transfer may have left outstanding.
class CSerialChannel::Outstanding {
public:
    Outstanding(CSerialChannel& channel, Operation operation) : m_channel(channel)
    {
        m_channel.m_outstanding = operation;
    }
    ~Outstanding() { m_channel.m_outstanding = Operation::None; }
    Outstanding(const Outstanding&) = delete;
    Outstanding& operator=(const Outstanding&) = delete;

private:
    CSerialChannel& m_channel;
};

CSerialChannel::CSerialChannel(const CommApi& api)
    : m_open(0), m_overlapped(), m_device(nullptr), m_timeouts(), m_port(0), m_portBuffer(nullptr),
      m_eventMask(0), m_bufferSize(0), m_api(api), m_eventWord(0), m_byte(0),
      m_guard(CreateMutexA(nullptr, FALSE, nullptr)), m_transfer(TransferState::None), m_transferThread(nullptr),
      m_outstanding(Operation::None), m_stop(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      m_idle(CreateEventA(nullptr, TRUE, TRUE, nullptr))
{
}

CSerialChannel::~CSerialChannel()
{
    std::free(m_portBuffer);
    m_portBuffer = nullptr;
    Close();
    CloseHandle(m_idle);
    CloseHandle(m_stop);
    CloseHandle(m_guard);
}

int CSerialChannel::OpenDevice(UINT port, UINT eventMask, UINT outputQueueSize, UINT inputQueueSize)
{
    if (port < kFirstPort || port > kLastPort)
        return 0;
    if (!EndTransfer(0))
        return 0;  // a transfer still runs on the device
    if (m_overlapped.hEvent != nullptr)
        ResetEvent(m_overlapped.hEvent);
    else
        m_overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

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
        m_api.CloseHandle(m_device);
        m_device = nullptr;
    }
    HANDLE device = m_api.CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return 0;
    m_device = device;
    if (!m_api.SetupComm(m_device, inputQueueSize, outputQueueSize)) {
        m_api.CloseHandle(m_device);
        m_device = nullptr;
        return 0;
    }
    if (!m_api.SetCommTimeouts(m_device, &m_timeouts))
        return 0;
    return m_api.SetCommMask(m_device, eventMask) ? 1 : 0;
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
        return 0;

    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!m_api.GetCommState(m_device, &dcb))
        return 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!m_api.BuildCommDCBA(mode, &dcb))
        return 0;
    MakeLineClean(dcb);
    if (!m_api.SetCommState(m_device, &dcb))
        return 0;
    m_api.PurgeComm(m_device, kPurgeAll);

    ChannelLock lock(m_guard);
    ResetEvent(m_stop);
    m_open = 1;
    return 1;
}

int CSerialChannel::Close()
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
        return 1;

    ChannelLock lock(m_guard);
    ReleaseDevice();
    if (m_overlapped.hEvent != nullptr) {
        CloseHandle(m_overlapped.hEvent);
        m_overlapped.hEvent = nullptr;
    }
    return 1;
}

void CSerialChannel::ReleaseDevice()
{
    if (m_device == nullptr)
        return;
    m_api.PurgeComm(m_device, kPurgeAll);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (m_api.GetCommState(m_device, &dcb)) {
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        m_api.SetCommState(m_device, &dcb);  // a failed write is ignored
    }
    m_api.CloseHandle(m_device);
    m_device = nullptr;
}

int CSerialChannel::Purge(DWORD flags)
{
    ChannelLock lock(m_guard);  // the device handle may be released on another thread
    if (m_device == nullptr)
        return 0;
    return m_api.PurgeComm(m_device, flags) ? 1 : 0;
}


int CSerialChannel::DoWrite(const BYTE* data, int length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return 0;
    m_overlapped.Offset = 0;
    m_overlapped.OffsetHigh = 0;
    DWORD errors = 0;
    if (!m_api.ClearCommError(m_device, &errors, nullptr))
        return 0;
    ResetEvent(m_overlapped.hEvent);
    const Outstanding write(*this, Operation::Io);
    DWORD written = 0;
    if (m_api.WriteFile(m_device, data, static_cast<DWORD>(length), &written, &m_overlapped))
        return 1;
    if (GetLastError() != ERROR_IO_PENDING)
        return 0;
    // No limit of its own: the write timeouts end the transfer within 50 x length + 50 ms.
    if (Await(INFINITE) != Outcome::Completed) {
        CancelAndCollect(false);
        return 0;
    }
    written = 0;
    m_api.GetOverlappedResult(m_device, &m_overlapped, &written, FALSE);
    return written == static_cast<DWORD>(length) ? 1 : 0;
}

int CSerialChannel::DoRead(BYTE* buffer, int length, DWORD timeoutMs)
{
    if (length < 0 || (buffer == nullptr && length > 0))
        return 0;
    if (QueuedBytes() == 0 && timeoutMs == 0)
        return 0;
    ResetEvent(m_overlapped.hEvent);
    const Outstanding read(*this, Operation::Io);
    DWORD received = 0;
    if (m_api.ReadFile(m_device, buffer, static_cast<DWORD>(length), &received, &m_overlapped))
        return 1;
    if (GetLastError() != ERROR_IO_PENDING)
        return 0;
    // Judged by the event alone: Wine reports a read that timed out with no byte as a
    // failure, Windows as a success with 0 bytes; both count as a read that ended.
    if (Await(timeoutMs) == Outcome::Completed)
        return 1;
    // The time limit passed: the read is cancelled and collected here, so that no byte
    // lands in the caller's buffer after this returns.
    CancelAndCollect(false);
    return 0;
}

CSerialChannel::ByteRead CSerialChannel::DoReadByte(BYTE* out, DWORD timeoutMs)
{
    if (QueuedBytes() == 0 && timeoutMs == 0)
        return ByteRead::None;
    ResetEvent(m_overlapped.hEvent);
    const Outstanding read(*this, Operation::Io);
    DWORD received = 0;
    if (m_api.ReadFile(m_device, &m_byte, 1, &received, &m_overlapped)) {
        if (received != 1)
            return ByteRead::Failed;  // ended at once without a byte: the line is gone
        *out = m_byte;
        return ByteRead::Got;
    }
    if (GetLastError() != ERROR_IO_PENDING)
        return ByteRead::Failed;
    const Outcome outcome = Await(timeoutMs);
    if (outcome == Outcome::Completed) {
        received = 0;
        m_api.GetOverlappedResult(m_device, &m_overlapped, &received, FALSE);
    } else {
        received = CancelAndCollect(false);
        // A byte that arrived while the read was being cancelled is kept, not lost; a
        // stopped transfer ends without a byte all the same.
        if (outcome == Outcome::Stopped)
            return ByteRead::None;
    }
    if (received != 1)
        return ByteRead::None;
    *out = m_byte;
    return ByteRead::Got;
}

int CSerialChannel::DoWaitByte(BYTE* out)
{
    if (QueuedBytes() > 0 && DoReadByte(out, kByteTimeLimitMs) == ByteRead::Got)
        return 1;
    // Over a pty, Wine ends every comm-event wait within milliseconds without an event
    // (and starts a thread for each one). Once a wait has ended that way, the timed reads
    // alone wait for the byte: each blocks until a byte comes or its time limit passes.
    bool watchEvents = true;
    for (;;) {
        if (Stopping())
            return 0;
        if (watchEvents) {
            m_eventWord = 0;
            ResetEvent(m_overlapped.hEvent);
            const Outstanding wait(*this, Operation::CommEvent);
            if (!m_api.WaitCommEvent(m_device, &m_eventWord, &m_overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING)
                    return 0;  // failed outright: nothing would ever signal the event
                if (Await(INFINITE) != Outcome::Completed) {
                    CancelAndCollect(true);
                    return 0;
                }
                DWORD ignored = 0;  // collected before the record is reused
                m_api.GetOverlappedResult(m_device, &m_overlapped, &ignored, FALSE);
            }
            watchEvents = (m_eventWord & m_eventMask) != 0;
        }
        // A byte is due, or the wait ended without one. The read waits up to its time
        // limit; one that cannot even start means the line is gone (a device unplugged, a
        // hung-up line), and looping on it would spin.
        BYTE received = 0;
        switch (DoReadByte(&received, kByteTimeLimitMs)) {
        case ByteRead::Got:
            *out = received;
            return 1;
        case ByteRead::Failed:
            return 0;
        case ByteRead::None:
            break;
        }
    }
}

DWORD CSerialChannel::QueuedBytes()
{
    DWORD errors = 0;
    COMSTAT status = {};
    if (!m_api.ClearCommError(m_device, &errors, &status))
        return 0;  // an unreadable line status counts as an empty queue
    return status.cbInQue;
}

CSerialChannel::Outcome CSerialChannel::Await(DWORD timeoutMs)
{
    const HANDLE events[2] = {m_overlapped.hEvent, m_stop};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0:
        return Outcome::Completed;
    case WAIT_OBJECT_0 + 1:
        return Outcome::Stopped;
    case WAIT_TIMEOUT:
        return Outcome::TimedOut;
    default:
        return Outcome::Failed;
    }
}

// Ends the operation in progress and waits until the system has finished with the record
// and the buffer (a cancelled operation always completes); returns the bytes it transferred.
// The event stays signalled: every operation resets it before it starts, and a reclaim
// after a termination here must find it signalled while the operation is still marked.
DWORD CSerialChannel::CancelAndCollect(bool commEventWait)
{
    if (commEventWait)
        m_api.SetCommMask(m_device, m_eventMask);  // ends a pending comm-event wait, also under Wine
    m_api.CancelIoEx(m_device, &m_overlapped);
    DWORD transferred = 0;
    m_api.GetOverlappedResult(m_device, &m_overlapped, &transferred, TRUE);
    return transferred;
}

bool CSerialChannel::Stopping() const
{
    return WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0;
}

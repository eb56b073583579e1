// The overlapped operations on CSerialChannel's device: writes, reads, the wait for a
// byte, and ending an operation within a bound, or leaving it to a driver that keeps it.
#include "SerialChannel.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ChannelLock.h"

namespace {

// Sizes an operation's buffer, with a copy of the bytes to write (or zeros); false when
// there is no memory for it, which fails the operation rather than throwing out of it.
bool Fill(std::vector<BYTE>& buffer, const BYTE* bytes, std::size_t count)
{
    try {
        if (bytes != nullptr)
            buffer.assign(bytes, bytes + count);
        else
            buffer.assign(count, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
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

// Reads and writes go through the block's own buffer, so that a driver that completes an
// operation late can never touch the caller's storage.
int CSerialChannel::DoWrite(const BYTE* data, int length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return 0;
    OVERLAPPED& record = m_io->overlapped;
    record.Offset = 0;
    record.OffsetHigh = 0;
    DWORD errors = 0;
    if (!m_api.ClearCommError(m_device, &errors, nullptr))
        return 0;
    if (!Fill(m_io->data, data, static_cast<std::size_t>(length)))
        return 0;
    ResetEvent(record.hEvent);
    const Outstanding write(*this, Operation::Io);
    DWORD written = 0;
    if (m_api.WriteFile(m_device, m_io->data.data(), static_cast<DWORD>(length), &written, &record))
        return 1;
    if (GetLastError() != ERROR_IO_PENDING)
        return 0;
    // No limit of its own: the write timeouts end the transfer within 50 x length + 50 ms.
    if (Await(INFINITE) != Outcome::Completed) {
        CancelAndCollect(false, &written);
        return 0;
    }
    written = 0;
    m_api.GetOverlappedResult(m_device, &record, &written, FALSE);
    return written == static_cast<DWORD>(length) ? 1 : 0;
}

int CSerialChannel::DoRead(BYTE* buffer, int length, DWORD timeoutMs)
{
    if (length < 0 || (buffer == nullptr && length > 0))
        return 0;
    if (QueuedBytes() == 0 && timeoutMs == 0)
        return 0;
    IoBlock& io = *m_io;
    if (!Fill(io.data, nullptr, static_cast<std::size_t>(length)))
        return 0;
    ResetEvent(io.overlapped.hEvent);
    const Outstanding read(*this, Operation::Io);
    DWORD received = 0;
    int result = 1;
    if (!m_api.ReadFile(m_device, io.data.data(), static_cast<DWORD>(length), &received, &io.overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return 0;
        // Judged by the event alone: Wine reports a read that timed out with no byte as a
        // failure, Windows as a success with 0 bytes; both count as a read that ended.
        if (Await(timeoutMs) == Outcome::Completed) {
            m_api.GetOverlappedResult(m_device, &io.overlapped, &received, FALSE);
        } else if (CancelAndCollect(false, &received)) {
            result = 0;  // the time limit passed; what came meanwhile is still the caller's
        } else {
            return 0;  // the driver kept the read
        }
    }
    std::memcpy(buffer, io.data.data(), std::min<std::size_t>(received, io.data.size()));
    return result;
}

CSerialChannel::ByteRead CSerialChannel::DoReadByte(BYTE* out, DWORD timeoutMs)
{
    if (QueuedBytes() == 0 && timeoutMs == 0)
        return ByteRead::None;
    IoBlock& io = *m_io;
    io.data.assign(1, 0);
    ResetEvent(io.overlapped.hEvent);
    const Outstanding read(*this, Operation::Io);
    DWORD received = 0;
    if (m_api.ReadFile(m_device, io.data.data(), 1, &received, &io.overlapped)) {
        if (received != 1)
            return ByteRead::Failed;  // ended at once without a byte: the line is gone
        *out = io.data[0];
        return ByteRead::Got;
    }
    if (GetLastError() != ERROR_IO_PENDING)
        return ByteRead::Failed;
    const Outcome outcome = Await(timeoutMs);
    if (outcome == Outcome::Completed) {
        received = 0;
        m_api.GetOverlappedResult(m_device, &io.overlapped, &received, FALSE);
    } else {
        if (!CancelAndCollect(false, &received))
            return ByteRead::Failed;  // the driver kept the read, and the device is released
        // A byte that arrived while the read was being cancelled is kept, not lost; a
        // stopped transfer ends without a byte all the same.
        if (outcome == Outcome::Stopped)
            return ByteRead::None;
    }
    if (received != 1)
        return ByteRead::None;
    *out = io.data[0];
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
            IoBlock& io = *m_io;
            io.eventWord = 0;
            ResetEvent(io.overlapped.hEvent);
            const Outstanding wait(*this, Operation::CommEvent);
            if (!m_api.WaitCommEvent(m_device, &io.eventWord, &io.overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING)
                    return 0;  // failed outright: nothing would ever signal the event
                if (Await(INFINITE) != Outcome::Completed) {
                    DWORD ignored = 0;
                    CancelAndCollect(true, &ignored);
                    return 0;
                }
                DWORD ignored = 0;  // collected before the record is reused
                m_api.GetOverlappedResult(m_device, &io.overlapped, &ignored, FALSE);
            }
            watchEvents = (io.eventWord & m_eventMask) != 0;
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
    const HANDLE events[2] = {m_io->overlapped.hEvent, m_stop};
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

// Ends the operation in progress and waits, within a bound, until the system has
// finished with the record and the buffer; *transferred tells the bytes it moved. False
// when the driver kept the operation: the block is then left to it and the device
// released (AbandonIo), so the transfer must end. The event stays signalled: every
// operation resets it before it starts, and a reclaim after a termination here must find
// it signalled while the operation is still marked.
bool CSerialChannel::CancelAndCollect(bool commEventWait, DWORD* transferred)
{
    *transferred = 0;
    if (commEventWait)
        m_api.SetCommMask(m_device, m_eventMask);  // ends a pending comm-event wait, also under Wine
    m_api.CancelIoEx(m_device, &m_io->overlapped);
    if (!Collected()) {
        AbandonIo();
        return false;
    }
    m_api.GetOverlappedResult(m_device, &m_io->overlapped, transferred, FALSE);
    return true;
}

// A cancelled operation has completed within the bound: its event is set and the system
// no longer counts it pending.
bool CSerialChannel::Collected()
{
    return WaitForSingleObject(m_io->overlapped.hEvent, kCollectBoundMs) == WAIT_OBJECT_0 &&
           HasOverlappedIoCompleted(&m_io->overlapped);
}

// On a transfer's thread: the driver has not completed a cancelled operation, and may
// still write into the block and set its event at any time, so the block is never freed,
// reused or closed. The channel is Closed at once and takes a fresh block; the transfer
// releases the device (the driver's last cancel request) when it leaves (see Transfer).
void CSerialChannel::AbandonIo()
{
    IoBlock* const fresh = new IoBlock;
    ChannelLock lock(m_guard);
    m_io = fresh;
    m_open = 0;
    const HANDLE device = m_device;
    m_device = nullptr;
    m_givenUp = device;
}

bool CSerialChannel::Stopping() const
{
    return WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0;
}

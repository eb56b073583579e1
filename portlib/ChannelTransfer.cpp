// CSerialChannel's transfers, one at a time: admitting a transfer and recording its
// thread, waiting for a running one to leave, and reclaiming the channel from a transfer
// whose thread was killed inside it (see SerialChannel.h).
#include "SerialChannel.h"

#include "ChannelLock.h"

namespace {

// A transfer's thread has ended, or was killed before its handle was recorded.
bool ThreadGone(HANDLE thread)
{
    return thread == nullptr || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

HANDLE DuplicateForWait(HANDLE source)
{
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, source, process, &copy, SYNCHRONIZE, FALSE, 0))
        return nullptr;
    return copy;
}

}  // namespace

// Admits a transfer when the channel is open and no other transfer holds it (also none
// whose thread was killed and is not reclaimed yet), and records the transfer's thread;
// lets the channel go when the transfer leaves.
class CSerialChannel::Transfer {
public:
    explicit Transfer(CSerialChannel& channel) : m_channel(channel)
    {
        ChannelLock lock(m_channel.m_guard);
        if (m_channel.m_open == 0 || m_channel.m_transfer != TransferState::None)
            return;
        // Running before the thread is recorded: a thread killed in between leaves a
        // transfer without a thread, which counts as gone.
        m_channel.m_transfer = TransferState::Running;
        ResetEvent(m_channel.m_idle);
        const HANDLE process = GetCurrentProcess();
        if (!DuplicateHandle(process, GetCurrentThread(), process, &m_channel.m_transferThread, SYNCHRONIZE, FALSE,
                             0)) {
            m_channel.m_transferThread = nullptr;
            m_channel.FreeTransfer();
            return;
        }
        m_admitted = true;
    }
    // A device the transfer gave up is released after it has left: nothing of the channel
    // is touched while the driver may block there.
    ~Transfer()
    {
        if (!m_admitted)
            return;
        const CommApi& api = m_channel.m_api;
        HANDLE givenUp = nullptr;
        {
            ChannelLock lock(m_channel.m_guard);
            givenUp = m_channel.FreeTransfer();
        }
        ReleaseDevice(api, givenUp);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    bool Admitted() const { return m_admitted; }

private:
    CSerialChannel& m_channel;
    bool m_admitted = false;
};

// A purge is a transfer of its own, so that the device is never released under it.
int CSerialChannel::Purge(DWORD flags)
{
    Transfer transfer(*this);
    return transfer.Admitted() && m_api.PurgeComm(m_device, flags) ? 1 : 0;
}

int CSerialChannel::Write(const BYTE* data, int length)
{
    Transfer transfer(*this);
    return transfer.Admitted() ? DoWrite(data, length) : 0;
}

int CSerialChannel::Read(BYTE* buffer, int length, DWORD timeoutMs)
{
    Transfer transfer(*this);
    return transfer.Admitted() ? DoRead(buffer, length, timeoutMs) : 0;
}

int CSerialChannel::ReadByte(BYTE* out, DWORD timeoutMs)
{
    Transfer transfer(*this);
    return transfer.Admitted() && DoReadByte(out, timeoutMs) == ByteRead::Got ? 1 : 0;
}

int CSerialChannel::WaitByte(BYTE* out)
{
    Transfer transfer(*this);
    return transfer.Admitted() ? DoWaitByte(out) : 0;
}

// Returns once no transfer holds the channel: a running one has left (it watches the stop
// event, which Close sets), or one whose thread is gone has been reclaimed. A running
// transfer is waited for at most boundMs; false if it still holds the channel then.
bool CSerialChannel::EndTransfer(DWORD boundMs)
{
    HANDLE thread = nullptr;  // our own handle to wait on: the transfer closes the recorded one
    bool reclaim = false;
    {
        ChannelLock lock(m_guard);
        switch (m_transfer) {
        case TransferState::None:
            return true;
        case TransferState::Running:
            reclaim = ThreadGone(m_transferThread);
            if (reclaim)
                m_transfer = TransferState::Reclaiming;  // keeps other callers off the record
            else
                thread = DuplicateForWait(m_transferThread);
            break;
        case TransferState::Reclaiming:
            break;  // another caller collects it and then sets the idle event
        }
    }
    if (reclaim) {
        CollectOrphaned();
        HANDLE givenUp = nullptr;
        {
            ChannelLock lock(m_guard);
            givenUp = FreeTransfer();
        }
        ReleaseDevice(m_api, givenUp);
        return true;
    }
    const HANDLE ends[2] = {m_idle, thread};
    const DWORD result = WaitForMultipleObjects(thread != nullptr ? 2 : 1, ends, FALSE, boundMs);
    if (thread != nullptr)
        CloseHandle(thread);
    // The thread ended while its transfer still held the channel: reclaim it (the second
    // call finds it gone, so it does not come back here).
    if (result == WAIT_OBJECT_0 + 1)
        return EndTransfer(boundMs);
    return result == WAIT_OBJECT_0;
}

// Ends and collects the operation a killed transfer left on the record, before the
// record, the event or the device are used or released. Under Wine the system cancels a
// terminated thread's reads and writes, but a comm-event wait ends only when the mask is
// set again, and its poller thread then writes the event word and the record and sets
// the event from its own thread. A cancelled operation, and one the system cancelled with
// its thread, signals within milliseconds (under Wine its completion may run during this
// very wait); one that has not completed by the bound (the thread was killed after
// marking it and before the system took it on, or the driver keeps it) leaves its block
// to the driver, and the caller releases the device.
void CSerialChannel::CollectOrphaned()
{
    if (m_outstanding == Operation::None)
        return;
    if (m_outstanding == Operation::CommEvent)
        m_api.SetCommMask(m_device, m_eventMask);
    m_api.CancelIoEx(m_device, &m_io->overlapped);
    if (!Collected())
        m_io = new IoBlock;  // the old one may still be written: never freed
    m_outstanding = Operation::None;
}

// Under the guard: no transfer holds the channel any more. Returns the device the transfer
// gave up, if it did, for the caller to release once the guard is let go. Each handle is
// cleared before it is closed or handed on, so a thread killed in between leaks it rather
// than closing it twice.
HANDLE CSerialChannel::FreeTransfer()
{
    const HANDLE thread = m_transferThread;
    m_transferThread = nullptr;
    if (thread != nullptr)
        CloseHandle(thread);
    const HANDLE givenUp = m_givenUp;
    m_givenUp = nullptr;
    m_transfer = TransferState::None;
    SetEvent(m_idle);
    return givenUp;
}

// CSerialChannel: the one object of the library that talks to the serial device.
//
// States: Closed (no device), Held (device open but not configured: a Configure that
// failed after the open), Open (configured; the open flag is set). Close leads from every
// state to Closed. Write, Read, ReadByte and WaitByte refuse while the open flag is 0.
//
// Threads: one transfer (Write, Read, ReadByte, WaitByte) at a time, usually on a worker
// thread, while Close may come from another thread. Close stops a transfer in progress:
// it sets the stop event, which every wait of a transfer also watches; the transfer then
// cancels its own operation, collects the completion and leaves; only after that does
// Close release the device and the event. The stop is recognised by the channel's own
// state, never by an error code (Wine ends comm-event waits on a pty with the same code a
// cancel gives). Every wait of a transfer watches the stop event, and a cancelled
// operation always completes, so a stopped transfer leaves within milliseconds.
//
// A caller may also end a thread blocked in a transfer with TerminateThread; that
// transfer never leaves. Each transfer records a handle to its own thread when it is
// admitted. A thread handle is signalled exactly when its thread has ended, and nothing a
// transfer calls ends its thread, so a transfer that is still recorded while its thread
// handle is signalled (or before the handle was recorded at all) belongs to a thread that
// was killed inside it: it is gone, not slow. Close and Configure reclaim the channel from
// such a transfer at once: they end and collect the operation it left on the record (see
// CollectOrphaned), then take the channel over. A transfer whose thread lives is only
// ever waited for (Close: within kStopBoundMs, as a safety net if it does not react to
// the stop); no timeout alone ever decides that a thread is gone.
//
// A driver may never complete an operation it was asked to cancel (some virtual and
// Bluetooth serial drivers are reported to). Every wait on a cancelled operation is
// therefore bounded; an operation that has not completed by then keeps its storage (the
// record, its event and the bytes it reads or writes: an IoBlock) for ever, since the
// driver may still write into it. The transfer then gives the device up: the channel is
// Closed and goes on with a fresh block at once, and the transfer releases the device
// (closing it is the last cancel request a driver gets) after it has left the channel, so
// that a driver that blocks there too holds up only that transfer's thread. A transfer
// that is still on the channel when it is destroyed (one whose platform call never
// returns) keeps the guard, the events and the block it uses, to the process's end.
//
// The guard is a kernel mutex. It covers the open flag, the transfer record, which device
// handle and which block the channel holds, and the stop and idle events; under it a step
// only reads and writes these and sets or resets events, never calls into the driver and
// never waits, so a live owner lets go at once and an owner killed inside is handed over
// as WAIT_ABANDONED: waiting for it always ends. A handle is taken out of the channel under
// the guard, and the purge, the line-state restore and the close on it come after the guard
// is released (ReleaseDevice); a purge on its own runs as a transfer. Every guarded step
// leaves a state the next owner can take over, whichever step a termination interrupted.
// (Under Wine a thread killed outside a wait is signalled, and its mutexes abandoned, a
// moment before it stops running; what it can still write before its next call into the
// system is a write the reclaim repeats, or a Running mark without a thread, which the
// next Close or Configure reclaims.)
#ifndef LINKPORT_SERIALCHANNEL_H
#define LINKPORT_SERIALCHANNEL_H

#include <windows.h>

#include <vector>

#include "CommApi.h"

class CSerialChannel {
public:
    static constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    static constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
    static constexpr UINT kFirstPort = 1;
    static constexpr UINT kLastPort = 16;       // the library's: its callers are promised COM1 to COM16
    static constexpr UINT kLastListedPort = 255;  // the highest number the system gives a port
    static constexpr DWORD kTimeoutMs = 50;         // every member of the device timeouts
    static constexpr DWORD kByteTimeLimitMs = 100;  // ReadByte inside WaitByte
    static constexpr DWORD kStopBoundMs = 2000;     // Close waiting for a live transfer to leave
    static constexpr DWORD kCollectBoundMs = 250;   // a cancelled operation completing

    // Why the last Configure failed: the step, and the system's error code that step left.
    struct Failure {
        enum class Step { None, Range, Open, Setup } step = Step::None;  // Setup: any step after the open
        DWORD code = 0;
    };

    explicit CSerialChannel(const CommApi& api = Win32CommApi(), UINT lastPort = kLastPort);
    virtual ~CSerialChannel();
    CSerialChannel(const CSerialChannel&) = delete;
    CSerialChannel& operator=(const CSerialChannel&) = delete;

    int OpenDevice(UINT port, UINT eventMask, UINT outputQueueSize, UINT inputQueueSize);
    int Configure(UINT port, int baud, char parity, int dataBits, int stopBits, UINT eventMask,
                  UINT outputQueueSize, UINT inputQueueSize);
    int Close();
    int Purge(DWORD flags = kPurgeAll);  // 0 unless the channel is open and no transfer holds it
    int Write(const BYTE* data, int length);
    int Read(BYTE* buffer, int length, DWORD timeoutMs);
    int ReadByte(BYTE* out, DWORD timeoutMs);
    int WaitByte(BYTE* out);
    Failure LastFailure() const { return m_failure; }  // the configuring thread's

private:
    enum class Outcome { Completed, TimedOut, Stopped, Failed };
    enum class TransferState { None, Running, Reclaiming };
    enum class Operation { None, Io, CommEvent };
    // What a one-byte read gave: the byte; no byte within the time limit (or stopped); or
    // a read that could not even start, so no time passed waiting.
    enum class ByteRead { Got, None, Failed };
    class Transfer;     // admits one transfer at a time while the channel is open
    class Outstanding;  // marks the record busy with one operation until it is collected
    // What an overlapped operation hands to the system. Replaced, never freed, when a
    // driver does not complete a cancelled operation.
    struct IoBlock {
        OVERLAPPED overlapped = {};  // hEvent: the channel's manual-reset event, or null
        DWORD eventWord = 0;         // written by a comm-event wait
        std::vector<BYTE> data;      // the bytes a read fills or a write sends
    };

    int DoWrite(const BYTE* data, int length);
    int DoRead(BYTE* buffer, int length, DWORD timeoutMs);
    ByteRead DoReadByte(BYTE* out, DWORD timeoutMs);
    int DoWaitByte(BYTE* out);
    DWORD QueuedBytes();
    int Fail(Failure::Step step, DWORD code = GetLastError());
    Outcome Await(DWORD timeoutMs);
    bool CancelAndCollect(bool commEventWait, DWORD* transferred);
    bool Collected();
    void AbandonIo();
    bool Stopping() const;
    bool Release();
    bool EndTransfer(DWORD boundMs);
    void CollectOrphaned();
    HANDLE FreeTransfer();
    static void ReleaseDevice(const CommApi& api, HANDLE device);

    int m_open;
    // The one record of every overlapped operation (writes, reads, comm-event waits), with
    // what the operation works on: one operation at a time. Never null.
    IoBlock* m_io;
    HANDLE m_device;  // null when none is held
    HANDLE m_givenUp;  // the device a transfer gave up (AbandonIo), until that transfer leaves
    COMMTIMEOUTS m_timeouts;
    UINT m_port;
    BYTE* m_portBuffer;  // allocated by OpenDevice; never read or written
    UINT m_eventMask;
    UINT m_bufferSize;

    const CommApi& m_api;
    const UINT m_lastPort;
    Failure m_failure;  // written and read by the thread that configures
    HANDLE m_guard;  // kernel mutex; see the top of this file for what it covers
    // The transfer that holds the channel: None; Running, on the thread m_transferThread
    // (a duplicated handle, null until recorded); Reclaiming, its thread gone and what it
    // left outstanding being collected by Close or Configure.
    TransferState m_transfer;
    HANDLE m_transferThread;
    Operation m_outstanding;  // what is started on the record and not yet collected
    HANDLE m_stop;            // manual-reset; set by Close, reset by a successful Configure
    HANDLE m_idle;            // manual-reset; set while no transfer holds the channel
};

#endif

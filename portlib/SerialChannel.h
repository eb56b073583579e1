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
#ifndef LINKPORT_SERIALCHANNEL_H
#define LINKPORT_SERIALCHANNEL_H

#include <windows.h>

#include "CommApi.h"

class CSerialChannel {
public:
    static constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    static constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
    static constexpr UINT kFirstPort = 1;
    static constexpr UINT kLastPort = 16;
    static constexpr DWORD kTimeoutMs = 50;         // every member of the device timeouts
    static constexpr DWORD kByteTimeLimitMs = 100;  // ReadByte inside WaitByte
    static constexpr DWORD kStopBoundMs = 2000;     // Close waiting for a stopped transfer

    explicit CSerialChannel(const CommApi& api = Win32CommApi());
    virtual ~CSerialChannel();
    CSerialChannel(const CSerialChannel&) = delete;
    CSerialChannel& operator=(const CSerialChannel&) = delete;

    int OpenDevice(UINT port, UINT eventMask, UINT outputQueueSize, UINT inputQueueSize);
    int Configure(UINT port, int baud, char parity, int dataBits, int stopBits, UINT eventMask,
                  UINT outputQueueSize, UINT inputQueueSize);
    int Close();
    int Purge(DWORD flags = kPurgeAll);
    int Write(const BYTE* data, int length);
    int Read(BYTE* buffer, int length, DWORD timeoutMs);
    int ReadByte(BYTE* out, DWORD timeoutMs);
    int WaitByte(BYTE* out);

private:
    enum class Outcome { Completed, TimedOut, Stopped, Failed };
    // What a one-byte read gave: the byte; no byte within the time limit (or stopped); or
    // a read that could not even start, so no time passed waiting.
    enum class ByteRead { Got, None, Failed };
    class Transfer;  // admits one transfer at a time while the channel is open

    int DoWrite(const BYTE* data, int length);
    int DoRead(BYTE* buffer, int length, DWORD timeoutMs);
    ByteRead DoReadByte(BYTE* out, DWORD timeoutMs);
    int DoWaitByte(BYTE* out);
    DWORD QueuedBytes();
    Outcome Await(DWORD timeoutMs);
    DWORD CancelAndCollect(bool commEventWait);
    bool Stopping() const;
    void ReleaseDevice();

    int m_open;
    // The one record of every overlapped operation (writes, reads, comm-event waits): one
    // operation at a time. hEvent is the channel's manual-reset event, or null.
    OVERLAPPED m_overlapped;
    HANDLE m_device;  // null when none is held
    COMMTIMEOUTS m_timeouts;
    UINT m_port;
    BYTE* m_portBuffer;  // allocated by OpenDevice; never read or written
    UINT m_eventMask;
    UINT m_bufferSize;

    const CommApi& m_api;
    DWORD m_eventWord;  // written by a comm-event wait; a member, so it outlives any wait
    BYTE m_byte;        // ReadByte's target, for the same reason
    CRITICAL_SECTION m_guard;  // guards m_open, m_busy and the device handle's release
    bool m_busy;               // a transfer is in progress
    HANDLE m_stop;             // manual-reset; set by Close, reset by a successful Configure
    HANDLE m_idle;             // manual-reset; set while no transfer is in progress
};

#endif

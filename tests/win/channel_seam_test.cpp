// The serial channel against a stand-in device, for what a pseudo-terminal cannot show:
// DTR and RTS, flow control and character handling left on the port, a state write that
// fails, a write that completes short, a comm-event wait that fails outright, and a wait
// that Close must end and collect before it releases the device, also when its thread was
// terminated and the wait ends only from a thread of its own, and a wait the driver never
// completes although it was cancelled, also when the driver then blocks in the release.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "PortDriver.h"
#include "SerialChannel.h"
#include "TestEnv.h"

namespace {

HANDLE const kDevice = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4242));

// How a comm-event wait ends: at its start with an error; at once without an event (as
// over a pty under Wine); when it is cancelled; or, as Wine's poller thread ends it (which
// CancelIoEx does not reach), from a thread of its own once the mask is set again; or never.
enum class Wait { Fails, EndsEmpty, EndsOnCancel, EndsOnMask, Never };
// A call that blocks (for 60 s, or until the test lets it go) on the thread whose cancel
// never completed, as a driver that keeps an operation may block when the device is released.
enum class Stall { None, Purge, StateWrite, Close };

// What the stand-in device does, and what was done to it. Writes go pending and complete
// at once; reads fail to start, as on a line that is gone.
struct FakeDevice {
    bool setStateFails = false;
    DCB state = {};            // reported by GetCommState
    DWORD writeCompletes = 6;  // bytes a write reports
    Wait wait = Wait::EndsOnCancel;
    Stall stall = Stall::None;

    std::string deviceName;
    std::vector<DCB> written;  // SetCommState records
    int closes = 0;
    OVERLAPPED* waitRecord = nullptr;    // of the last comm-event wait
    bool closedUnderWait = false;        // the device was closed while a wait was still pending
    std::unique_ptr<TestThread> poller;  // ends a wait that ends on the mask
};
FakeDevice g_fake;
std::atomic<bool> g_waitPending{false};  // written by the waiter's thread and the poller
std::atomic<DWORD> g_neverCancelled{0};  // the thread whose cancel the driver keeps
std::atomic<bool> g_stalled{false};      // it reached the call that blocks
HANDLE const g_unstall = CreateEventA(nullptr, TRUE, FALSE, nullptr);

void StallIf(Stall call)
{
    if (g_fake.stall == call && g_neverCancelled == GetCurrentThreadId()) {
        g_stalled = true;
        WaitForSingleObject(g_unstall, 60000);
    }
}

void EndWait()
{
    g_waitPending = false;
    SetEvent(g_fake.waitRecord->hEvent);
}

HANDLE WINAPI FakeCreateFile(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    g_fake.deviceName = name;
    return kDevice;
}
BOOL WINAPI FakeCloseHandle(HANDLE)
{
    StallIf(Stall::Close);
    g_fake.closes++;
    g_fake.closedUnderWait |= g_waitPending.load();
    return TRUE;
}
BOOL WINAPI FakeSetupComm(HANDLE, DWORD, DWORD) { return TRUE; }
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }
BOOL WINAPI FakeSetCommMask(HANDLE, DWORD)
{
    if (g_waitPending && g_fake.wait == Wait::EndsOnMask && g_fake.poller == nullptr) {
        g_fake.poller = std::make_unique<TestThread>([] {
            Sleep(20);  // as Wine's poller: a poll later
            EndWait();
        });
    }
    return TRUE;
}
BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb)
{
    *dcb = g_fake.state;
    return TRUE;
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb)
{
    StallIf(Stall::StateWrite);
    g_fake.written.push_back(*dcb);
    return !g_fake.setStateFails;
}
BOOL WINAPI FakePurgeComm(HANDLE, DWORD)
{
    StallIf(Stall::Purge);
    return TRUE;
}
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status)
{
    *errors = 0;
    if (status != nullptr)
        *status = COMSTAT{};
    return TRUE;
}
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED overlapped)
{
    SetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI FakeReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD done, BOOL wait)
{
    if (wait)
        WaitForSingleObject(overlapped->hEvent, 5000);
    *done = g_fake.writeCompletes;
    return TRUE;
}
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD mask, LPOVERLAPPED overlapped)
{
    *mask = 0;
    g_fake.waitRecord = overlapped;
    if (g_fake.wait == Wait::EndsEmpty)
        SetEvent(overlapped->hEvent);
    g_waitPending = g_fake.wait == Wait::EndsOnCancel || g_fake.wait == Wait::EndsOnMask || g_fake.wait == Wait::Never;
    SetLastError(g_fake.wait == Wait::Fails ? ERROR_INVALID_PARAMETER : ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED)
{
    if (g_waitPending && g_fake.wait == Wait::EndsOnCancel)
        EndWait();
    if (g_fake.wait == Wait::Never)
        g_neverCancelled = GetCurrentThreadId();
    return TRUE;
}

const CommApi kFakeApi = {
    FakeCreateFile,   FakeCloseHandle,  FakeSetupComm,   FakeSetCommTimeouts,     FakeSetCommMask,
    FakeGetCommState, FakeSetCommState, ::BuildCommDCBA, FakePurgeComm,           FakeClearCommError,
    FakeWriteFile,    FakeReadFile,     FakeGetOverlappedResult, FakeWaitCommEvent, FakeCancelIoEx,
};

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fake = FakeDevice{};
        g_waitPending = false;
        g_neverCancelled = 0;
        g_stalled = false;
        ResetEvent(g_unstall);
        g_fake.state.DCBlength = sizeof(DCB);
        // Left behind by another program: flow control and character handling.
        g_fake.state.fOutX = g_fake.state.fInX = TRUE;
        g_fake.state.fOutxCtsFlow = g_fake.state.fOutxDsrFlow = g_fake.state.fDsrSensitivity = TRUE;
        g_fake.state.fNull = g_fake.state.fErrorChar = g_fake.state.fAbortOnError = TRUE;
        g_fake.state.fDtrControl = DTR_CONTROL_HANDSHAKE;
        g_fake.state.fRtsControl = RTS_CONTROL_TOGGLE;
    }
    static int Configure(CSerialChannel& target, UINT port = 3)
    {
        return target.Configure(port, 9600, 'N', 8, 1, EV_RXCHAR, 256, 256);
    }
    CSerialChannel channel{kFakeApi};
};

TEST_F(ChannelTest, ConfigureOpensTheFullDeviceNameAssertsDtrAndRtsAndCleansTheLine)
{
    ASSERT_EQ(Configure(channel, 16), 1);
    EXPECT_EQ(g_fake.deviceName, "\\\\.\\COM16");
    ASSERT_EQ(g_fake.written.size(), 1u);
    const DCB& dcb = g_fake.written[0];
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fOutX || dcb.fInX) << "XON/XOFF";
    EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity) << "hardware flow control";
    EXPECT_FALSE(dcb.fNull || dcb.fErrorChar || dcb.fAbortOnError) << "character handling";
}

TEST_F(ChannelTest, ReleasingTheDeviceDropsDtrAndRtsAndClosesItOnceAlsoAfterAFailedStateWrite)
{
    const struct {
        const char* name;
        bool setStateFails, destroy;
    } rows[] = {
        {"closed twice", false, false}, {"destroyed while open", false, true}, {"state writes fail", true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        g_fake.setStateFails = row.setStateFails;
        const int configured = row.setStateFails ? 0 : 1;
        {
            CSerialChannel local(kFakeApi);
            EXPECT_EQ(Configure(local), configured);
            EXPECT_EQ(local.Write(kFrame.data(), 6), configured) << "a write on a port not configured";
            g_fake.written.clear();
            if (!row.destroy) {
                EXPECT_TRUE(local.Close() == 1 && local.Close() == 1);
            }
        }
        EXPECT_EQ(g_fake.closes, 1);
        ASSERT_EQ(g_fake.written.size(), 1u);
        EXPECT_EQ(g_fake.written[0].fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
        EXPECT_EQ(g_fake.written[0].fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    }
}

TEST_F(ChannelTest, AWriteThatCompletesShortFails)
{
    ASSERT_EQ(Configure(channel), 1);
    EXPECT_EQ(channel.Write(kFrame.data(), 6), 1) << "every byte written";
    g_fake.writeCompletes = 5;
    EXPECT_EQ(channel.Write(kFrame.data(), 6), 0);
}

// A wait that fails outright or finds the line gone ends WaitByte by itself, neither
// waiting on nor spinning; one that stays pending Close ends and collects before it
// releases the device, promptly, also when the waiter's thread was terminated.
TEST_F(ChannelTest, AWaitEndsByItselfOrCloseEndsAndCollectsItBeforeItReleasesTheDevice)
{
    const struct {
        const char* name;
        Wait wait;
        bool terminated;
    } rows[] = {{"the wait fails outright", Wait::Fails, false},
                {"the line is gone", Wait::EndsEmpty, false},
                {"live, ended by a cancel", Wait::EndsOnCancel, false},
                {"live, ended by setting the mask", Wait::EndsOnMask, false},
                {"thread terminated, ended by setting the mask", Wait::EndsOnMask, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        ASSERT_EQ(Configure(channel), 1);
        g_fake.wait = row.wait;
        const bool pends = row.wait == Wait::EndsOnCancel || row.wait == Wait::EndsOnMask;
        BYTE out = 0;
        int result = -1;
        {
            TestThread waiter([&] { result = channel.WaitByte(&out); });
            for (int waited = 0; pends && !g_waitPending && waited < 1000; waited += 5)
                Sleep(5);
            ASSERT_EQ(g_waitPending.load(), pends);
            EXPECT_EQ(waiter.Join(pends ? 0 : 2000), !pends) << (pends ? "ended without Close" : "waited on or spun");
            if (row.terminated) {
                ASSERT_TRUE(waiter.Terminate());
            }
            const double start = NowMs();
            EXPECT_EQ(channel.Close(), 1);
            EXPECT_LT(NowMs() - start, 500.0) << "not reclaimed as soon as the thread was gone";
            EXPECT_TRUE(waiter.Join(1000));
        }
        EXPECT_TRUE(pends || result == 0) << "WaitByte returned " << result;
        EXPECT_FALSE(g_fake.closedUnderWait);
        EXPECT_EQ(g_fake.closes, 1);
        EXPECT_TRUE(g_fake.poller == nullptr || g_fake.poller->Join(1000)) << "the poller did not end";
        ASSERT_EQ(Configure(channel), 1);
        EXPECT_EQ(channel.Write(kFrame.data(), 6), 1) << "the channel takes no transfers again";
        channel.Close();
    }
}

// A driver that never completes a cancelled wait, of a waiter that was terminated or of a
// live one, on whose thread the driver then blocks in the release of the device (in
// PurgeComm, SetCommState or CloseHandle): ClosePort returns within its bound, OpenPort of
// another port works at once, the device given up is closed once the driver lets go, and
// destroying the channel frees or closes neither the record nor the event the driver may
// still use.
TEST_F(ChannelTest, AWaitTheDriverNeverCompletesIsLeftToItAndTheChannelGoesOn)
{
    for (const Stall stall : {Stall::None, Stall::Purge, Stall::StateWrite, Stall::Close}) {
        SCOPED_TRACE(static_cast<int>(stall));  // 0: the waiter terminated; 1 PurgeComm, 2 SetCommState, 3 CloseHandle
        SetUp();
        g_fake.wait = Wait::Never;
        g_fake.stall = stall;
        OVERLAPPED* record = nullptr;
        HANDLE event = nullptr, own = nullptr;  // the record's event, and a handle of ours to know it again
        {
            CSerialChannel local(kFakeApi);
            CPortDriver driver(local);  // as ClosePort and OpenPort run it
            ASSERT_EQ(driver.Open(3, 9600, 'N', 8, 1), 1);
            BYTE reply[5] = {};
            TestThread waiter([&] { driver.WaitReceive(reply, 5, 5); });
            for (int waited = 0; !g_waitPending && waited < 1000; waited += 5)
                Sleep(5);
            ASSERT_TRUE(g_waitPending && (stall != Stall::None || waiter.Terminate()));
            record = g_fake.waitRecord;
            event = record->hEvent;
            DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS);
            const double start = NowMs();
            EXPECT_EQ(driver.Close(), 1);
            for (int waited = 0; stall != Stall::None && !g_stalled && waited < 1000; waited += 5)
                Sleep(5);
            EXPECT_EQ(driver.Open(4, 9600, 'N', 8, 1), 1);
            EXPECT_EQ(local.Write(kFrame.data(), 6), 1) << "the channel goes on";
            EXPECT_LT(NowMs() - start, 1000.0) << "ClosePort or OpenPort waited for the driver";
            EXPECT_EQ(g_fake.closes, stall == Stall::None ? 1 : 0) << "the device given up, closed by ClosePort or later";
            SetEvent(g_unstall);
            EXPECT_TRUE(waiter.Join(1000));
        }
        EXPECT_EQ(g_fake.closes, 2);
        // What the driver finds when it completes the wait at last (CompareObjectHandles: Windows 10, Wine).
        const auto same = reinterpret_cast<BOOL(WINAPI*)(HANDLE, HANDLE)>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CompareObjectHandles")));
        EXPECT_EQ(record->hEvent, event) << "the record was freed";
        EXPECT_TRUE(same != nullptr && same(event, own)) << "its event was closed";
        CloseHandle(own);
    }
}

}  // namespace

// The serial channel against a stand-in device: what a pseudo-terminal cannot show
// (DTR and RTS, flow-control flags, a state write that fails, a write that completes
// short, a comm-event wait that fails outright, the cancel of a timed-out read, a
// comm-event wait left by a thread that was terminated in it).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "SerialChannel.h"
#include "TestEnv.h"

namespace {

HANDLE const kDevice = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4242));

enum class Transfer { AtOnce, Pending, Fails };

// What the stand-in device does, and what was done to it.
struct FakeDevice {
    bool openFails = false;
    bool setupFails = false;
    bool setStateFails = false;
    DCB state = {};  // reported by GetCommState
    Transfer write = Transfer::AtOnce;
    DWORD writeCompletes = 0;  // bytes a pending write reports
    Transfer read = Transfer::Pending;
    bool waitFails = false;
    bool waitEndsEmpty = false;  // the comm-event wait ends at once without an event, as Wine's does
    // A pending comm-event wait ends only when the mask is set again, and then from a
    // thread of its own that writes the event word and the record and signals, as Wine's
    // poller thread does (CancelIoEx does not reach it).
    bool waitEndsOnMask = false;
    DWORD* waitWord = nullptr;
    HANDLE poller = nullptr;
    bool pollerSignalled = false;  // the event was still open when the wait ended

    std::vector<std::string> calls;
    std::string deviceName;
    std::string modeText;
    std::vector<DCB> written;  // SetCommState records
    std::vector<DWORD> purges;
    OVERLAPPED* pending = nullptr;
    DWORD pendingBytes = 0;
    int closes = 0;
};
FakeDevice g_fake;

HANDLE WINAPI FakeCreateFile(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    g_fake.calls.push_back("CreateFile");
    g_fake.deviceName = name;
    return g_fake.openFails ? INVALID_HANDLE_VALUE : kDevice;
}
BOOL WINAPI FakeCloseHandle(HANDLE h)
{
    g_fake.calls.push_back("CloseHandle");
    g_fake.closes += h == kDevice;
    return TRUE;
}
BOOL WINAPI FakeSetupComm(HANDLE, DWORD, DWORD)
{
    return !g_fake.setupFails;
}
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS)
{
    return TRUE;
}
DWORD WINAPI EndWaitLater(LPVOID)
{
    Sleep(20);  // the poller notices the new mask on one of its next rounds
    *g_fake.waitWord = 0;
    g_fake.pending->Internal = static_cast<ULONG_PTR>(0xC0000120);  // STATUS_CANCELLED
    g_fake.pollerSignalled = SetEvent(g_fake.pending->hEvent) != FALSE;
    return 0;
}
BOOL WINAPI FakeSetCommMask(HANDLE, DWORD)
{
    g_fake.calls.push_back("SetCommMask");
    if (g_fake.waitWord != nullptr && g_fake.poller == nullptr)
        g_fake.poller = CreateThread(nullptr, 0, EndWaitLater, nullptr, 0, nullptr);
    return TRUE;
}
BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb)
{
    *dcb = g_fake.state;
    return TRUE;
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb)
{
    g_fake.calls.push_back("SetCommState");
    g_fake.written.push_back(*dcb);
    return !g_fake.setStateFails;
}
BOOL WINAPI FakeBuildCommDCB(LPCSTR text, LPDCB dcb)
{
    g_fake.modeText = text;
    return ::BuildCommDCBA(text, dcb);  // the real parser
}
BOOL WINAPI FakePurgeComm(HANDLE, DWORD flags)
{
    g_fake.purges.push_back(flags);
    return TRUE;
}
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status)
{
    *errors = 0;
    if (status != nullptr)
        *status = COMSTAT{};
    return TRUE;
}
BOOL StartTransfer(Transfer how, DWORD bytes, LPDWORD done, LPOVERLAPPED overlapped)
{
    switch (how) {
    case Transfer::AtOnce:
        *done = bytes;
        return TRUE;
    case Transfer::Pending:
        g_fake.pending = overlapped;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    default:
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
}
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    g_fake.calls.push_back("WriteFile");
    const BOOL result = StartTransfer(g_fake.write, length, done, overlapped);
    if (g_fake.write == Transfer::Pending) {  // completes a moment later
        g_fake.pendingBytes = g_fake.writeCompletes;
        SetEvent(overlapped->hEvent);
    }
    return result;
}
BOOL WINAPI FakeReadFile(HANDLE, LPVOID, DWORD length, LPDWORD done, LPOVERLAPPED overlapped)
{
    g_fake.calls.push_back("ReadFile");
    g_fake.pendingBytes = 0;
    return StartTransfer(g_fake.read, length, done, overlapped);
}
BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD done, BOOL)
{
    g_fake.calls.push_back("GetOverlappedResult");
    *done = g_fake.pendingBytes;
    return TRUE;
}
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD mask, LPOVERLAPPED overlapped)
{
    g_fake.calls.push_back("WaitCommEvent");
    *mask = 0;
    if (g_fake.waitEndsOnMask) {
        g_fake.pending = overlapped;
        g_fake.waitWord = mask;
    }
    if (g_fake.waitEndsEmpty)
        SetEvent(overlapped->hEvent);
    SetLastError(g_fake.waitFails ? ERROR_INVALID_PARAMETER : ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED overlapped)
{
    g_fake.calls.push_back("CancelIoEx");
    if (overlapped != nullptr && !g_fake.waitEndsOnMask)
        SetEvent(overlapped->hEvent);  // the cancelled operation completes
    return TRUE;
}

const CommApi kFakeApi = {
    FakeCreateFile,     FakeCloseHandle,    FakeSetupComm,   FakeSetCommTimeouts, FakeSetCommMask,
    FakeGetCommState,   FakeSetCommState,   FakeBuildCommDCB, FakePurgeComm,      FakeClearCommError,
    FakeWriteFile,      FakeReadFile,       FakeGetOverlappedResult, FakeWaitCommEvent, FakeCancelIoEx,
};

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fake = FakeDevice{};
        g_fake.state.DCBlength = sizeof(DCB);
        // Left behind by another program: flow control and character handling.
        g_fake.state.fOutX = TRUE;
        g_fake.state.fInX = TRUE;
        g_fake.state.fOutxCtsFlow = TRUE;
        g_fake.state.fOutxDsrFlow = TRUE;
        g_fake.state.fDsrSensitivity = TRUE;
        g_fake.state.fNull = TRUE;
        g_fake.state.fAbortOnError = TRUE;
        g_fake.state.fDtrControl = DTR_CONTROL_HANDSHAKE;
        g_fake.state.fRtsControl = RTS_CONTROL_TOGGLE;
    }
    int Configure(UINT port = 3, int baud = 9600, char parity = 'N', int data = 8, int stop = 1)
    {
        return channel.Configure(port, baud, parity, data, stop, EV_RXCHAR, 256, 256);
    }
    // WaitByte's result, or -1 when it had not ended within the bound (then it is stopped).
    int WaitByteEndsWithin(DWORD boundMs)
    {
        BYTE out = 0;
        int result = -1;
        TestThread waiter([&] { result = channel.WaitByte(&out); });
        if (!waiter.Join(boundMs)) {
            channel.Close();
            waiter.Join(boundMs);
            return -1;
        }
        return result;
    }
    CSerialChannel channel{kFakeApi};
};

TEST_F(ChannelTest, ConfigureAssertsDtrAndRtsAndCleansTheLine)
{
    ASSERT_EQ(Configure(16, 9600, 'E', 8, 1), 1);
    EXPECT_EQ(g_fake.deviceName, "\\\\.\\COM16");
    EXPECT_EQ(g_fake.modeText, "baud=9600 parity=E data=8 stop=1");
    ASSERT_EQ(g_fake.written.size(), 1u);
    const DCB& dcb = g_fake.written[0];
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity ||
                 dcb.fNull || dcb.fErrorChar || dcb.fAbortOnError);
    ASSERT_FALSE(g_fake.purges.empty());
    EXPECT_EQ(g_fake.purges.back(), 15u) << "the configuration ends with a purge of all four kinds";
}

TEST_F(ChannelTest, CloseDropsDtrAndRtsAndReleasesEverythingOnce)
{
    ASSERT_EQ(Configure(), 1);
    g_fake.written.clear();
    EXPECT_EQ(channel.Close(), 1);
    ASSERT_EQ(g_fake.written.size(), 1u);
    EXPECT_EQ(g_fake.written[0].fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(g_fake.written[0].fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(g_fake.closes, 1);
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_EQ(g_fake.closes, 1) << "a second Close does nothing";
    EXPECT_EQ(channel.Purge(), 0) << "no device held";
}

TEST_F(ChannelTest, DestroyingAnOpenChannelDropsDtrAndRts)
{
    {
        CSerialChannel local(kFakeApi);
        ASSERT_EQ(local.Configure(3, 9600, 'N', 8, 1, EV_RXCHAR, 256, 256), 1);
        g_fake.written.clear();
    }
    ASSERT_EQ(g_fake.written.size(), 1u);
    EXPECT_EQ(g_fake.written[0].fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(g_fake.closes, 1);
}

TEST_F(ChannelTest, FailuresAfterTheOpenLeaveTheDeviceHeldUntilClose)
{
    const struct {
        const char* what;
        bool setStateFails;
        char parity;
        int baud;
        int data;
        int stop;
    } cases[] = {
        {"state write fails", true, 'N', 9600, 8, 1},
        {"mode text rejected", false, 'X', 9600, 8, 1},
        {"mode text over 49 characters", false, 'N', INT_MIN, INT_MIN, INT_MIN},
    };
    for (const auto& c : cases) {
        SetUp();
        g_fake.setStateFails = c.setStateFails;
        EXPECT_EQ(Configure(3, c.baud, c.parity, c.data, c.stop), 0) << c.what;
        EXPECT_EQ(g_fake.closes, 0) << c.what << ": the device stays held";
        g_fake.calls.clear();
        const BYTE data[6] = {};
        EXPECT_EQ(channel.Write(data, 6), 0) << c.what;
        EXPECT_TRUE(g_fake.calls.empty()) << c.what << ": refused without any device call";
        channel.Close();
        EXPECT_EQ(g_fake.closes, 1) << c.what << ": Close releases it";
    }
}

TEST_F(ChannelTest, FailuresUpToTheQueueSizesLeaveNothingHeld)
{
    EXPECT_EQ(Configure(0), 0);
    EXPECT_EQ(Configure(17), 0);
    EXPECT_TRUE(g_fake.deviceName.empty()) << "no device opened for ports 0 and 17";

    g_fake.setupFails = true;
    EXPECT_EQ(Configure(3), 0);
    EXPECT_EQ(g_fake.closes, 1) << "closed at once when the queue sizes fail";
    channel.Close();
    EXPECT_EQ(g_fake.closes, 1);
}

TEST_F(ChannelTest, APendingWriteSucceedsOnlyWhenEveryByteWasWritten)
{
    ASSERT_EQ(Configure(), 1);
    const BYTE frame[6] = {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD};
    g_fake.write = Transfer::Pending;
    g_fake.writeCompletes = 6;
    EXPECT_EQ(channel.Write(frame, 6), 1);
    g_fake.writeCompletes = 5;
    EXPECT_EQ(channel.Write(frame, 6), 0) << "a write that completes short";
    g_fake.write = Transfer::Fails;
    EXPECT_EQ(channel.Write(frame, 6), 0);
    g_fake.write = Transfer::AtOnce;
    EXPECT_EQ(channel.Write(frame, 6), 1);
}

TEST_F(ChannelTest, ATimedOutReadIsCancelledAndCollectedBeforeItReturns)
{
    ASSERT_EQ(Configure(), 1);
    BYTE buffer[10];
    g_fake.calls.clear();
    EXPECT_EQ(channel.Read(buffer, 10, 30), 0);
    const std::vector<std::string> expected = {"ReadFile", "CancelIoEx", "GetOverlappedResult"};
    EXPECT_EQ(g_fake.calls, expected);

    g_fake.calls.clear();
    EXPECT_EQ(channel.Read(buffer, 10, 0), 0) << "no byte queued and no time to wait";
    EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(ChannelTest, AWaitThatFailsOutrightEndsWaitByte)
{
    ASSERT_EQ(Configure(), 1);
    g_fake.waitFails = true;
    EXPECT_EQ(WaitByteEndsWithin(2000), 0) << "WaitByte kept waiting for an event nothing will signal";
}

TEST_F(ChannelTest, ALineThatIsGoneEndsWaitByteInsteadOfSpinning)
{
    ASSERT_EQ(Configure(), 1);
    g_fake.waitEndsEmpty = true;
    g_fake.read = Transfer::Fails;  // as after a hang-up or an unplugged adapter
    EXPECT_EQ(WaitByteEndsWithin(2000), 0) << "WaitByte kept retrying a read that cannot start";
    EXPECT_LE(std::count(g_fake.calls.begin(), g_fake.calls.end(), "ReadFile"), 2);
}

TEST_F(ChannelTest, CloseStopsAWaitByteOnAnotherThread)
{
    ASSERT_EQ(Configure(), 1);
    BYTE out = 0;
    int result = -1;
    TestThread waiter([&] { result = channel.WaitByte(&out); });
    Sleep(50);
    EXPECT_FALSE(waiter.Join(0)) << "no byte came, so it waits";
    channel.Close();
    ASSERT_TRUE(waiter.Join(1000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_fake.closes, 1);
    // The wait was cancelled and collected before the device was closed under it.
    const std::vector<std::string>& calls = g_fake.calls;
    const auto cancel = std::find(calls.begin(), calls.end(), "CancelIoEx");
    const auto collect = std::find(cancel, calls.end(), "GetOverlappedResult");
    const auto close = std::find(calls.begin(), calls.end(), "CloseHandle");
    EXPECT_TRUE(cancel < collect && collect < close);
}

TEST_F(ChannelTest, CloseEndsAndCollectsAWaitWhoseThreadWasTerminated)
{
    ASSERT_EQ(Configure(), 1);
    g_fake.waitEndsOnMask = true;
    BYTE out = 0;
    {
        TestThread waiter([&] { channel.WaitByte(&out); });
        for (int waited = 0; g_fake.waitWord == nullptr && waited < 1000; waited += 5)
            Sleep(5);
        ASSERT_TRUE(waiter.Terminate());
        const double start = NowMs();
        EXPECT_EQ(channel.Close(), 1);
        EXPECT_LT(NowMs() - start, 500.0) << "reclaimed once the thread was gone, not after the bound";
    }
    ASSERT_NE(g_fake.poller, nullptr) << "the wait was ended by setting the mask";
    ASSERT_EQ(WaitForSingleObject(g_fake.poller, 1000), WAIT_OBJECT_0);
    CloseHandle(g_fake.poller);
    EXPECT_TRUE(g_fake.pollerSignalled) << "the event was closed before the wait had ended";
    EXPECT_EQ(g_fake.closes, 1);

    g_fake.waitEndsOnMask = false;
    ASSERT_EQ(Configure(), 1);
    const BYTE frame[6] = {};
    EXPECT_EQ(channel.Write(frame, 6), 1) << "the channel takes transfers again";
}

}  // namespace

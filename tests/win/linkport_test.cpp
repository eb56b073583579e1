// The port library through its exports, as its callers use it, against a simulated
// digitizer on a virtual COM port.
#include <gtest/gtest.h>

#include "TestEnv.h"

namespace {

const std::vector<unsigned char> kFrame = Bytes({0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD});
const std::vector<unsigned char> kReply = Bytes({0xEA, 0x0E, 0x5A, 0x98, 0xDD});

class LinkportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        lib.ClosePort();
    }
    void TearDown() override { lib.ClosePort(); }

    int Send(const std::vector<unsigned char>& bytes)
    {
        return lib.senddata(bytes.data(), static_cast<int>(bytes.size()));
    }

    const LinkportApi& lib = Linkport();
    Simulator sim{kSimPort};
};

TEST_F(LinkportTest, ExportsAreBoundByNameAndOrdinal)
{
    const char* names[] = {"TestPort", "OpenPort", "ClosePort", "senddata", "ListSerialComm", "recvdata",
                           "WaitRecvdata"};
    for (int ordinal = 1; ordinal <= 7; ++ordinal) {
        FARPROC byName = GetProcAddress(lib.module, names[ordinal - 1]);
        FARPROC byOrdinal = GetProcAddress(lib.module, MAKEINTRESOURCEA(ordinal));
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(byName, byOrdinal) << names[ordinal - 1] << " at ordinal " << ordinal;
    }
    EXPECT_EQ(GetProcAddress(lib.module, MAKEINTRESOURCEA(8)), nullptr);
}

TEST_F(LinkportTest, TestPortOpensAtDefaultSettingAndClosePortReleasesThePort)
{
    EXPECT_EQ(lib.ClosePort(), 1) << "with no port open";
    EXPECT_EQ(lib.ClosePort(), 1) << "twice in a row";

    ASSERT_EQ(lib.TestPort(kSimPort), 1);
    const LineRecord line = sim.Line();
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.parity, 'N');
    EXPECT_EQ(line.stopBits, 1);
    EXPECT_GT(sim.Holders(), 0) << "the port stays open after a successful test";
    EXPECT_EQ(Send(kFrame), 1);
    // ClosePort purges the output too, which on a pty can drop a frame the far end has not
    // read yet (a wire would have carried it): the frame is seen to arrive first.
    for (int i = 0; i < 200 && sim.Frames().empty(); ++i)
        Sleep(10);

    EXPECT_EQ(lib.ClosePort(), 1);
    EXPECT_EQ(sim.Holders(), 0) << "no process holds the device after ClosePort";
    EXPECT_EQ(Send(kFrame), 0);
    const std::vector<FrameRecord> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, kFrame);
}

TEST_F(LinkportTest, PortNumbersOutsideOneToSixteenAreRefusedAndCloseTheOpenPort)
{
    for (unsigned port : {0u, 17u, 255u, 0xFFFFFFFFu}) {
        ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
        EXPECT_EQ(lib.OpenPort(port, 9600, 'N', 8, 1), 0) << "port " << port;
        EXPECT_EQ(Send(kFrame), 0) << "port " << port;
        EXPECT_EQ(sim.Holders(), 0) << "the earlier port was closed, port " << port;
    }
    // COM17 exists in this prefix: the refusal is the range, not a missing device.
    EXPECT_EQ(lib.TestPort(kHighPort), 0);
}

TEST_F(LinkportTest, PortsThatCannotBeUsedFailToOpen)
{
    EXPECT_EQ(lib.TestPort(kUndefinedPort), 0);
    EXPECT_EQ(lib.TestPort(kMissingPort), 0);
    EXPECT_EQ(Send(kFrame), 0) << "a failed open leaves no port for sending";
    unsigned char buffer[8] = {};
    EXPECT_EQ(lib.recvdata(buffer, 5, 50), 0);
    EXPECT_EQ(lib.WaitRecvdata(buffer, 8, 1), 0);
}

TEST_F(LinkportTest, TwoDigitPortNumbersOpen)
{
    Simulator twelve(kTwoDigitPort);
    twelve.Reset();
    ASSERT_EQ(lib.TestPort(kTwoDigitPort), 1);
    EXPECT_EQ(Send(kFrame), 1);
    lib.ClosePort();
    EXPECT_EQ(twelve.Frames().size(), 1u);
}

TEST_F(LinkportTest, LineSettingReachesTheDevice)
{
    struct Case {
        int baud;
        int parity;  // as passed: only the low byte counts
        int stopBits;
        char seenParity;
    } cases[] = {
        {19200, 'N', 1, 'N'},
        {9600, 'E', 1, 'E'},
        {9600, 0x7700 | 'E', 1, 'E'},
        {4800, 'O', 2, 'O'},
    };
    for (const Case& c : cases) {
        sim.Command("clear");
        ASSERT_EQ(lib.OpenPort(kSimPort, c.baud, c.parity, 8, c.stopBits), 1) << c.baud;
        ASSERT_EQ(Send(kFrame), 1);
        const std::vector<FrameRecord> frames = sim.Frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].baud, c.baud);
        EXPECT_EQ(frames[0].parity, c.seenParity) << c.baud << " parity " << c.parity;
        EXPECT_EQ(frames[0].stopBits, c.stopBits);
    }
    EXPECT_EQ(lib.OpenPort(kSimPort, 9600, 'X', 8, 1), 0) << "a parity the line cannot have";
    EXPECT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 9, 1), 0) << "nine data bits";
}

TEST_F(LinkportTest, WaitRecvdataReturnsExactlyTheRequestedBytes)
{
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    unsigned char buffer[100];
    memset(buffer, 0xAA, sizeof buffer);
    ASSERT_EQ(Send(kFrame), 1);
    ASSERT_EQ(lib.WaitRecvdata(buffer, 100, 5), 1);
    EXPECT_EQ(Hex(buffer, 5), Hex(kReply.data(), 5));
    EXPECT_EQ(buffer[5], 0xAA) << "nothing written past the count";
}

TEST_F(LinkportTest, WaitRecvdataRefusesCountsAboveCapacityAndAcceptsZero)
{
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    unsigned char buffer[8];
    memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(lib.WaitRecvdata(buffer, 4, 5), 0);
    EXPECT_EQ(lib.WaitRecvdata(buffer, 8, 0), 1);
    EXPECT_EQ(lib.WaitRecvdata(buffer, 8, -3), 1);
    EXPECT_EQ(buffer[0], 0xAA);
    lib.ClosePort();
    EXPECT_EQ(lib.WaitRecvdata(buffer, 8, 1), 0) << "no open port";
}

TEST_F(LinkportTest, ReceivesDiscardWhatArrivedBeforeTheCall)
{
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    sim.Send(Bytes({0x01, 0x02, 0x03}));
    Sleep(100);  // the stale bytes are in the input queue now
    unsigned char buffer[16] = {};
    int result = -1;
    TestThread waiter([&] { result = lib.WaitRecvdata(buffer, 16, 4); });
    Sleep(100);
    sim.Send(Bytes({0x11, 0x22, 0x33, 0x44}));
    ASSERT_TRUE(waiter.Join(3000));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Hex(buffer, 4), "11 22 33 44");

    sim.Send(Bytes({0x05, 0x06}));
    Sleep(100);
    memset(buffer, 0, sizeof buffer);
    TestThread reader([&] { result = lib.recvdata(buffer, 3, 2000); });
    Sleep(100);
    sim.Send(Bytes({0x55, 0x66, 0x77}));
    ASSERT_TRUE(reader.Join(3000));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Hex(buffer, 3), "55 66 77");
}

TEST_F(LinkportTest, RecvdataEndsAboutAtItsTimeLimitWhenNothingComes)
{
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    unsigned char buffer[100] = {};
    const double start = NowMs();
    lib.recvdata(buffer, 100, 300);
    const double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 250.0);
    EXPECT_LT(elapsed, 2000.0);
    // Time limit 0 with nothing queued: no read at all.
    EXPECT_EQ(lib.recvdata(buffer, 5, 0), 0);
}

TEST_F(LinkportTest, ATimedOutReadWritesNothingIntoTheBufferAfterwards)
{
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    unsigned char buffer[16];
    memset(buffer, 0xAA, sizeof buffer);
    // The device's own timeout for 10 bytes is 550 ms; the caller's limit passes first.
    EXPECT_EQ(lib.recvdata(buffer, 10, 20), 0);
    sim.Send(Bytes({0x31, 0x32, 0x33, 0x34}));
    Sleep(300);
    for (unsigned char b : buffer)
        ASSERT_EQ(b, 0xAA) << "a byte landed after recvdata returned: " << Hex(buffer, sizeof buffer);
    // The channel is still usable.
    ASSERT_EQ(Send(kFrame), 1);
    ASSERT_EQ(lib.WaitRecvdata(buffer, 16, 5), 1);
    EXPECT_EQ(Hex(buffer, 5), Hex(kReply.data(), 5));
}

TEST_F(LinkportTest, RepliesContainingXonAndXoffArriveAlthoughThePortWasLeftWithFlowControl)
{
    // Another program leaves the port with XON/XOFF on.
    const std::string device = "\\\\.\\COM" + std::to_string(kSimPort);
    HANDLE other = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(other, &dcb));
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    ASSERT_TRUE(SetCommState(other, &dcb));
    CloseHandle(other);
    ASSERT_TRUE(sim.Line().ixon) << "the setting should outlive the other program";

    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    const LineRecord line = sim.Line();
    EXPECT_FALSE(line.ixon);
    EXPECT_FALSE(line.ixoff);
    sim.Behave("xonxoff");
    unsigned char buffer[8] = {};
    int result = -1;
    TestThread waiter([&] {
        if (Send(kFrame))
            result = lib.WaitRecvdata(buffer, 8, 5);
    });
    if (!waiter.Join(3000))
        lib.ClosePort();  // stops the wait; the test fails below
    ASSERT_TRUE(waiter.Join(3000));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Hex(buffer, 5), "EA 11 13 DC DD");
}

// A frame handed to the driver just before the receive starts must reach the device every
// time: the receive's purge clears only the receive side.
TEST_F(LinkportTest, FramesSentJustBeforeAReceiveAlwaysReachTheDevice)
{
    // At 115200 baud an exchange takes about 13 ms: the device's 10 ms turnaround gives
    // the receive's purge time to run before the reply comes, as on a real line.
    constexpr int kExchanges = 2000;
    ASSERT_EQ(lib.OpenPort(kSimPort, 115200, 'N', 8, 1), 1);
    int completed = 0;
    volatile bool failed = false;
    unsigned char buffer[100];
    TestThread exchanger([&] {
        for (int i = 0; i < kExchanges; ++i) {
            memset(buffer, 0xAA, sizeof buffer);
            if (!Send(kFrame) || !lib.WaitRecvdata(buffer, 100, 5) || buffer[0] != 0xEA) {
                failed = true;
                return;
            }
            ++completed;
        }
    });
    // A lost frame leaves WaitRecvdata waiting; it is stopped here.
    if (!exchanger.Join(120000))
        lib.ClosePort();
    ASSERT_TRUE(exchanger.Join(5000));
    EXPECT_FALSE(failed) << "received at exchange " << completed << ": " << Hex(buffer, 6);
    EXPECT_EQ(completed, kExchanges);
    EXPECT_EQ(sim.Replies(), kExchanges);
}

}  // namespace

// The port library through its exports, as its callers use it, against a simulated
// digitizer on a virtual COM port.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>

#include "TestEnv.h"

namespace {

class LinkportTest : public ::testing::Test {
protected:
    void SetUp() override { sim.Reset(); }
    void TearDown() override { lib.ClosePort(); }

    // Fills the buffer with 0xAA, then sends the frame and receives on a thread of its own;
    // a receive still blocked after 2 s is stopped with ClosePort. The receive's result,
    // or -1 when the frame could not be sent.
    int Exchange(const std::function<int()>& receive)
    {
        memset(buffer, 0xAA, sizeof buffer);
        int result = -1;
        TestThread caller([&] {
            if (lib.senddata(kFrame.data(), 6) == 1)
                result = receive();
        });
        if (!caller.Join(2000))
            lib.ClosePort();
        EXPECT_TRUE(caller.Join(2000)) << "ClosePort did not end the receive";
        return result;
    }

    const LinkportApi& lib = Linkport();
    Simulator sim{kSimPort};
    unsigned char buffer[100] = {};
};

// Each open first closes the port opened before; a refused one leaves no port to use, and
// ClosePort releases what a failed open held.
TEST_F(LinkportTest, FramesReachTheDeviceAtTheLineSettingOpenedAndNoPortStaysHeld)
{
    const struct {
        const char* name;
        unsigned port;
        int baud;  // 0: TestPort, which opens at 9600 N 8 1
        int parity, dataBits, stopBits;
        const char* seen;  // the line setting of the frame at the device, "" when refused
    } rows[] = {
        {"TestPort", kSimPort, 0, 0, 0, 0, "9600 N 1"},
        {"4800 O 2", kSimPort, 4800, 'O', 8, 2, "4800 O 2"},
        {"only the parity's low byte counts", kSimPort, 9600, 0x7700 | 'E', 8, 1, "9600 E 1"},
        {"port 0", 0, 9600, 'N', 8, 1, ""},
        {"port 17, which exists", kHighPort, 9600, 'N', 8, 1, ""},
        {"port 0xFFFFFFFF", 0xFFFFFFFFu, 9600, 'N', 8, 1, ""},
        {"a port not defined", kUndefinedPort, 9600, 'N', 8, 1, ""},
        {"parity X", kSimPort, 9600, 'X', 8, 1, ""},
        {"nine data bits", kSimPort, 9600, 'N', 9, 1, ""},
        {"a line setting too long to write out", kSimPort, INT_MIN, 'N', INT_MIN, INT_MIN, ""},
    };
    EXPECT_EQ(lib.ClosePort(), 1) << "with no port open";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        sim.Reset();
        ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
        const int opened = row.baud == 0 ? lib.TestPort(row.port)
                                         : lib.OpenPort(row.port, row.baud, row.parity, row.dataBits, row.stopBits);
        const int expected = *row.seen != '\0' ? 1 : 0;
        EXPECT_EQ(opened, expected);
        EXPECT_EQ(lib.senddata(kFrame.data(), 6), expected) << "sent on the port opened before, or on one refused";
        // ClosePort purges the output, which on a pty can drop a frame the far end has not
        // read yet (a wire would have carried it): the frame is seen to arrive first.
        std::vector<FrameRecord> frames = sim.Frames();
        for (int waited = 0; expected && frames.empty() && waited < 2000; waited += 10) {
            Sleep(10);
            frames = sim.Frames();
        }
        std::string seen;
        for (const FrameRecord& frame : frames)
            seen += std::to_string(frame.baud) + " " + frame.parity + " " + std::to_string(frame.stopBits);
        EXPECT_EQ(seen, row.seen);
        EXPECT_TRUE(frames.empty() || frames[0].bytes == kFrame);
        EXPECT_EQ(lib.ClosePort(), 1);
        EXPECT_EQ(sim.Holders(), 0) << "a process still holds the device";
        EXPECT_EQ(lib.senddata(kFrame.data(), 6), 0) << "sent after ClosePort";
    }
}

// Each receive first discards what arrived before it. A frame sent just before it must
// still reach the device, also over a line that holds what is written for a while (as a
// slow adapter does), where a purge of the transmit side would throw the frame away.
TEST_F(LinkportTest, AReceiveGetsTheReplyToTheFrameJustSentAndNothingThatCameBefore)
{
    const struct {
        const char* name;
        std::function<int()> receive;
        int result;
        const char* received;  // the buffer's first 6 bytes afterwards
    } rows[] = {
        {"WaitRecvdata", [this] { return lib.WaitRecvdata(buffer, 100, 5); }, 1, "EA 0E 5A 98 DD AA"},
        {"recvdata", [this] { return lib.recvdata(buffer, 5, 1000); }, 1, "EA 0E 5A 98 DD AA"},
        {"WaitRecvdata, count above capacity", [this] { return lib.WaitRecvdata(buffer, 4, 5); }, 0,
         "AA AA AA AA AA AA"},
        {"WaitRecvdata, count 0", [this] { return lib.WaitRecvdata(buffer, 8, 0); }, 1, "AA AA AA AA AA AA"},
        {"WaitRecvdata, negative count", [this] { return lib.WaitRecvdata(buffer, 8, -3); }, 1, "AA AA AA AA AA AA"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
        sim.Command("instant on");  // the stale bytes are in the input queue when it returns
        sim.Send(Bytes({0x01, 0x02, 0x03}));
        sim.Command("instant off");
        sim.Command("lag 100");
        EXPECT_EQ(Exchange(row.receive), row.result);
        EXPECT_EQ(HexText(buffer, 6), row.received);
        lib.ClosePort();
    }
}

TEST_F(LinkportTest, ARecvdataThatTimesOutEndsAtItsLimitAndWritesNothingAfterwards)
{
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(lib.recvdata(buffer, 10, 0), 0) << "no time to wait and nothing queued";
    // The device's own time limit for 10 bytes is 550 ms: the caller's passes first.
    const double start = NowMs();
    EXPECT_EQ(lib.recvdata(buffer, 10, 300), 0);
    const double took = NowMs() - start;
    EXPECT_TRUE(took >= 250 && took < 2000) << took << " ms";
    sim.Send(Bytes({0x31, 0x32, 0x33, 0x34}));
    Sleep(300);
    EXPECT_EQ(HexText(buffer, 12), "AA AA AA AA AA AA AA AA AA AA AA AA") << "written after recvdata returned";
    EXPECT_EQ(Exchange([this] { return lib.WaitRecvdata(buffer, 100, 5); }), 1) << "the port works on";
    EXPECT_EQ(HexText(buffer, 5), HexText(kReply.data(), 5));
}

}  // namespace

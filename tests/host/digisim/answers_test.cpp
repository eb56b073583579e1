// What the simulated digitizer answers to a configuration frame, when, and at
// which line settings.
#include "fixture.h"

namespace digisim_test {
namespace {

using DigisimAnswers = DigisimTest;

TEST_F(DigisimAnswers, EachBehaviourSendsItsBytesAndNothingMore)
{
    struct Case {
        const char* behaviour;
        Bytes frame;
        Bytes expected;
    };
    const Case cases[] = {
        {"reply", kFrameMode0E, kReplyMode0E},
        {"reply", kFrameMode02, {0xEA, 0x02, 0x5A, 0xA4, 0xDD}},
        {"badsum", kFrameMode0E, {0xEA, 0x01, 0x00, 0x00, 0xDD}},
        {"garbage", kFrameMode0E, {0x5A, 0xA5, 0x00, 0xFF, 0x13}},
        {"xonxoff", kFrameMode0E, {0xEA, 0x11, 0x13, 0xDC, 0xDD}},
        {"partial", kFrameMode0E, {0xEA, 0x00}},
        {"silence", kFrameMode0E, {}},
    };
    openLine(9600);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.behaviour) + " to " + hex(c.frame));
        expectOk("clear");
        expectOk(std::string("behave ") + c.behaviour);
        ASSERT_TRUE(line_.write(c.frame));
        // One byte more than expected: whatever follows the answer shows up too.
        EXPECT_EQ(hex(line_.read(c.expected.size() + 1, kQuiet)), hex(c.expected));
        EXPECT_EQ(control_.query("replies"), c.expected.empty() ? "replies 0" : "replies 1");
    }
}

TEST_F(DigisimAnswers, FloodStreamsPacedBytesUntilDone)
{
    openLine(115200); // 4096 characters take 356 ms at this rate
    expectOk("behave flood");
    const Clock::time_point sent = Clock::now();
    ASSERT_TRUE(line_.write(kFrameMode0E));
    const Bytes flood = line_.read(4096, milliseconds(5000));
    EXPECT_GE(Clock::now() - sent, milliseconds(350));
    EXPECT_EQ(flood, Bytes(4096, 0x55));
    EXPECT_EQ(line_.read(1, kQuiet).size(), 0u);
    EXPECT_EQ(control_.query("replies"), "replies 1");
}

// Lower bounds only: at 9600 8N1 a character takes 1.04 ms, so the frame needs
// 6.25 ms to cross the wire; the device then turns around in 10 ms and paces its
// five reply bytes one character apart.
TEST_F(DigisimAnswers, ReplyNeverComesBeforeWireTimeTurnaroundAndDelay)
{
    struct Case {
        const char* delay;
        milliseconds firstByte;
        milliseconds lastByte;
    };
    const Case cases[] = {
        {"delay 0", milliseconds(16), milliseconds(20)},
        {"delay 100", milliseconds(116), milliseconds(120)},
    };
    openLine(9600);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delay);
        expectOk(c.delay);
        const Clock::time_point sent = Clock::now(); // taken before the frame exists
        ASSERT_TRUE(line_.write(kFrameMode0E));
        Clock::time_point first{};
        ASSERT_EQ(hex(line_.read(kReplyMode0E.size(), kArrival, &first)), hex(kReplyMode0E));
        const Clock::time_point last = Clock::now();
        EXPECT_GE(first - sent, c.firstByte);
        EXPECT_GE(last - sent, c.lastByte);
    }
}

TEST_F(DigisimAnswers, OnlyBaudAnswersAtThatRateAndResetLiftsIt)
{
    expectOk("only-baud 19200");
    openLine(9600);
    ASSERT_TRUE(line_.write(kFrameMode0E));
    EXPECT_EQ(line_.read(1, kQuiet).size(), 0u) << "answered at 9600";

    openLine(19200);
    ASSERT_TRUE(line_.write(kFrameMode0E));
    EXPECT_EQ(hex(line_.read(kReplyMode0E.size(), kArrival)), hex(kReplyMode0E));

    const Answer frames = control_.command("frames");
    ASSERT_EQ(frames.lines.size(), 2u);
    EXPECT_EQ(frames.lines[0].rfind("frame DB 01 0E 71 80 DD baud=9600 parity=N stop=1 t=", 0), 0u)
        << frames.lines[0];
    EXPECT_EQ(frames.lines[1].rfind("frame DB 01 0E 71 80 DD baud=19200 parity=N stop=1 t=", 0), 0u)
        << frames.lines[1];

    expectOk("reset");
    EXPECT_EQ(control_.command("frames").lines.size(), 0u);
    openLine(9600);
    ASSERT_TRUE(line_.write(kFrameMode0E));
    EXPECT_EQ(hex(line_.read(kReplyMode0E.size(), kArrival)), hex(kReplyMode0E));
}

// A pty drops PARENB; parity is read from INPCK/PARODD, which Wine sets.
TEST_F(DigisimAnswers, OnlyParityReadsParityFromTheInputFlags)
{
    struct Case {
        char parity;
        unsigned stopBits;
        bool answered;
        const char* line;
    };
    const Case cases[] = {
        {'N', 1, false, "line baud=9600 parity=N stop=1 ixon=0 ixoff=0 crtscts=0"},
        {'E', 1, true, "line baud=9600 parity=E stop=1 ixon=0 ixoff=0 crtscts=0"},
        {'O', 2, false, "line baud=9600 parity=O stop=2 ixon=0 ixoff=0 crtscts=0"},
    };
    expectOk("only-parity E");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("parity ") + c.parity);
        openLine(9600, c.parity, c.stopBits);
        EXPECT_EQ(control_.query("line"), c.line);
        expectOk("clear");
        ASSERT_TRUE(line_.write(kFrameMode0E));
        const Bytes answer = line_.read(kReplyMode0E.size(), c.answered ? kArrival : kQuiet);
        EXPECT_EQ(hex(answer), c.answered ? hex(kReplyMode0E) : "");
        const std::string expectedLog = std::string("frame DB 01 0E 71 80 DD baud=9600 parity=") +
                                        c.parity + " stop=" + std::to_string(c.stopBits) + " t=";
        const Answer frames = control_.command("frames");
        ASSERT_EQ(frames.lines.size(), 1u);
        EXPECT_EQ(frames.lines[0].rfind(expectedLog, 0), 0u) << frames.lines[0];
    }
}

TEST_F(DigisimAnswers, FindsTheFrameInNoiseAndAcrossWrites)
{
    openLine(9600);
    // A frame with a wrong sum, then a stray start byte, then the frame in two pieces.
    const Bytes noise = {0xDB, 0x01, 0x00, 0x00, 0x00, 0xDD, 0xDB};
    ASSERT_TRUE(line_.write(noise));
    ASSERT_TRUE(line_.write({0xDB, 0x01, 0x0E}));
    EXPECT_EQ(line_.read(1, milliseconds(50)).size(), 0u);
    ASSERT_TRUE(line_.write({0x71, 0x80, 0xDD}));
    EXPECT_EQ(hex(line_.read(kReplyMode0E.size() + 1, kQuiet)), hex(kReplyMode0E));

    const Answer frames = control_.command("frames");
    ASSERT_EQ(frames.lines.size(), 1u);
    EXPECT_EQ(frames.lines[0].rfind("frame DB 01 0E 71 80 DD baud=9600", 0), 0u) << frames.lines[0];
    EXPECT_EQ(control_.query("rx"), "rx DB 01 00 00 00 DD DB DB 01 0E 71 80 DD");
}

} // namespace
} // namespace digisim_test

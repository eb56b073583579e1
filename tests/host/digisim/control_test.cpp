// The control channel and the simulator's life: sending, witnessing the port's
// holders, unplugging, errors, shutting down.
#include "fixture.h"

#include <sys/stat.h>

namespace digisim_test {
namespace {

using DigisimControl = DigisimTest;

bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

TEST_F(DigisimControl, SendDeliversBytesToTheLine)
{
    openLine(9600);
    expectOk("send 01 7f FF 0");
    EXPECT_EQ(hex(line_.read(5, kQuiet)), "01 7F FF 00");
    expectOk("instant on");
    expectOk("send 11 13");
    EXPECT_EQ(hex(line_.read(3, kQuiet)), "11 13");
    EXPECT_EQ(control_.query("replies"), "replies 0");
}

TEST_F(DigisimControl, HoldersCountsTheTestWhileItHoldsTheLine)
{
    EXPECT_EQ(control_.query("holders"), "holders 0");
    openLine(9600);
    EXPECT_EQ(control_.query("holders"), "holders 1");
    line_.close();
    EXPECT_EQ(control_.query("holders"), "holders 0");
}

TEST_F(DigisimControl, UnplugHangsUpAndPlugGivesAFreshLine)
{
    openLine(9600);
    expectOk("unplug");
    EXPECT_TRUE(line_.waitForHangup(kArrival));
    EXPECT_FALSE(exists(sim_.link()));
    EXPECT_EQ(control_.command("line").status, "ERR unplugged");
    EXPECT_EQ(control_.command("send 00").status, "ERR unplugged");
    EXPECT_EQ(control_.command("unplug").status, "ERR already unplugged");
    EXPECT_EQ(control_.query("holders"), "holders 1"); // we still hold the dead line
    line_.close();
    EXPECT_EQ(control_.query("holders"), "holders 0");

    expectOk("plug");
    EXPECT_EQ(control_.command("plug").status, "ERR already plugged");
    openLine(9600);
    ASSERT_TRUE(line_.write(kFrameMode0E));
    EXPECT_EQ(hex(line_.read(kReplyMode0E.size(), kArrival)), hex(kReplyMode0E));
}

TEST_F(DigisimControl, HangupBehaviourUnplugsOnAFrameWithoutAnswering)
{
    openLine(9600);
    expectOk("behave hangup");
    ASSERT_TRUE(line_.write(kFrameMode0E));
    EXPECT_TRUE(line_.waitForHangup(kArrival));
    EXPECT_EQ(line_.read(1, milliseconds(50)).size(), 0u);
    // The simulator is single-threaded: once it answers, the unplug is complete.
    EXPECT_EQ(control_.command("frames").lines.size(), 1u);
    EXPECT_FALSE(exists(sim_.link()));
    EXPECT_EQ(control_.query("replies"), "replies 0");
}

TEST_F(DigisimControl, RejectsMalformedCommandsAndKeepsServing)
{
    const char* const malformed[] = {
        "", "bogus", "behave", "behave loud", "only-baud x", "only-baud 9600 1",
        "only-parity X", "delay -1", "turnaround 1e3", "instant maybe", "send", "send 100",
        "send zz", "frames all", "plug",
    };
    for (const char* command : malformed) {
        const Answer answer = control_.command(command);
        EXPECT_EQ(answer.status.rfind("ERR ", 0), 0u) << "'" << command << "' -> " << answer.status;
        EXPECT_TRUE(answer.lines.empty()) << command;
    }
    // A second client is served too, and the first still works.
    ControlClient second;
    ASSERT_TRUE(second.connect(sim_.port()));
    EXPECT_EQ(second.query("replies"), "replies 0");
    EXPECT_EQ(control_.query("rx"), "rx");
}

// "reset" returns to the command line's settings, not to built-in defaults.
TEST(DigisimCommandLine, SetsTheBehaviourThatResetReturnsTo)
{
    SimProcess sim;
    ASSERT_EQ(sim.start({"--behaviour", "badsum", "--turnaround", "0"}), "");
    ControlClient control;
    ASSERT_TRUE(control.connect(sim.port()));
    SerialEnd line;
    ASSERT_TRUE(line.open(sim.link(), 9600));
    const Bytes badSum = {0xEA, 0x01, 0x00, 0x00, 0xDD};
    for (const char* change : {"behave reply", "reset"}) {
        SCOPED_TRACE(change);
        EXPECT_EQ(control.command(change).status, "OK");
        ASSERT_TRUE(line.write(kFrameMode0E));
        const Bytes expected = std::string(change) == "reset" ? badSum : kReplyMode0E;
        EXPECT_EQ(hex(line.read(expected.size(), kArrival)), hex(expected));
    }

    SimProcess refused;
    EXPECT_EQ(refused.start({"--behaviour", "loud"}), "digisim exited at start-up");
}

TEST_F(DigisimControl, SigtermRemovesLinkAndPortFile)
{
    ASSERT_TRUE(exists(sim_.link()));
    ASSERT_TRUE(exists(sim_.portFile()));
    EXPECT_EQ(sim_.stop(), 0);
    EXPECT_FALSE(exists(sim_.link()));
    EXPECT_FALSE(exists(sim_.portFile()));
}

TEST_F(DigisimControl, QuitExitsLikeSigterm)
{
    expectOk("quit");
    // After OK the simulator closes the connection on its way out.
    EXPECT_EQ(control_.command("rx").status, "");
    EXPECT_EQ(sim_.stop(), 0);
    EXPECT_FALSE(exists(sim_.link()));
    EXPECT_FALSE(exists(sim_.portFile()));
}

} // namespace
} // namespace digisim_test

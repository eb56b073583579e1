// Faults of the device and the line during a configuration run, with the real library:
// whatever the digitizer does, the run ends in its usual time with an honest ending, and
// the next run works.
#include <gtest/gtest.h>

#include <string>

#include "ConfigurationRun.h"
#include "TestEnv.h"

namespace {

constexpr unsigned kRunPort = 3;

class EndingView : public RunView {
public:
    std::string status, message;
    bool okEnabled = true;
    int SelectedPortRow() override { return 0; }
    int SelectedSoftwareRow() override { return 33; }
    unsigned short PortNumberAt(int) override { return kRunPort; }
    void SetStatusText(const char* text) override { status = text; }
    void SetInstructionText(const char*) override {}
    void EnableOkButton(bool enable) override { okEnabled = enable; }
    void ShowMessage(const char* text) override { message = text; }
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        state.replyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        entries = {lib.TestPort, lib.OpenPort, lib.ListSerialComm, lib.recvdata,
                   lib.WaitRecvdata, lib.senddata, lib.ClosePort};
    }
    void TearDown() override
    {
        lib.ClosePort();
        CloseHandle(state.replyEvent);
    }
    // Runs one configuration; returns its duration in ms.
    double Run(EndingView& view)
    {
        const double start = NowMs();
        RunConfiguration(entries, view, state);
        return NowMs() - start;
    }
    void ExpectTheNextRunWorks()
    {
        sim.Reset();
        EndingView next;
        Run(next);
        EXPECT_EQ(next.status, kStatusOk);
        EXPECT_EQ(sim.Holders(), 0);
    }

    const LinkportApi& lib = Linkport();
    Simulator sim{kRunPort};
    PortEntryPoints entries;
    RunState state;
};

TEST_F(FaultTest, ADigitizerUnpluggedDuringTheRunEndsItHonestly)
{
    sim.Behave("hangup");  // answers the first frame by hanging up the line
    EndingView view;
    const double ms = Run(view);
    const bool openFailed = view.message == kOpenFailureMessage;
    const bool errored = view.status == kStatusError && state.errorFlag == 1;
    EXPECT_TRUE(openFailed || errored) << "status '" << view.status << "', message '" << view.message << "'";
    EXPECT_NE(view.status, kStatusOk);
    EXPECT_TRUE(view.okEnabled);
    EXPECT_LT(ms, 9500.0);
    sim.Command("plug");
    ExpectTheNextRunWorks();
}

TEST_F(FaultTest, GarbagePartialRepliesAndFloodsEndInAnError)
{
    const struct {
        const char* behaviour;
        double maxMs;
    } cases[] = {
        {"garbage", 3000},  // rejected at once, five times
        {"partial", 9500},  // two bytes and silence: every attempt waits its eleven polls
        {"flood", 9500},    // a stream of 0x55 bytes
    };
    for (const auto& c : cases) {
        sim.Reset();
        sim.Behave(c.behaviour);
        EndingView view;
        const double ms = Run(view);
        EXPECT_EQ(view.status, kStatusError) << c.behaviour;
        EXPECT_EQ(state.errorFlag, 1) << c.behaviour;
        EXPECT_TRUE(view.message.empty()) << c.behaviour;
        EXPECT_LT(ms, c.maxMs) << c.behaviour;
        ExpectTheNextRunWorks();
    }
}

}  // namespace

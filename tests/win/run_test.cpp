// The configuration run without its window: the real port library, a virtual COM port
// and a simulated digitizer (well-behaved or faulty), with a view that records what the
// user would see.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ConfigurationRun.h"
#include "PortEntryPoints.h"
#include "TestEnv.h"

namespace {

constexpr unsigned kRunPort = 3;  // the simulated digitizer the runs configure
constexpr int kLectraRow = 33;     // mode code 14, no instructions
constexpr int kGeberRow = 9;       // mode code 5, six lines of instructions

const std::vector<unsigned char> kLectraFrame = Bytes({0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD});

struct Shown {
    double t;          // ms since the run started
    std::string kind;  // status, instructions, ok, message
    std::string text;
};

class RecordingView : public RunView {
public:
    int portRow = 0;
    int softwareRow = kLectraRow;
    std::vector<unsigned short> ports{kRunPort};
    std::vector<Shown> shown;
    double start = NowMs();
    // Called on the run's thread at the start of each attempt (the status emptied).
    std::function<void(int attempt)> onAttempt;

    int SelectedPortRow() override { return portRow; }
    int SelectedSoftwareRow() override { return softwareRow; }
    unsigned short PortNumberAt(int row) override { return ports.at(static_cast<size_t>(row)); }
    void SetStatusText(const char* text) override
    {
        Record("status", text);
        if (*text == '\0' && onAttempt)
            onAttempt(attempts++);
    }
    void SetInstructionText(const char* text) override { Record("instructions", text); }
    void EnableOkButton(bool enable) override { Record("ok", enable ? "enabled" : "disabled"); }
    void ShowMessage(const char* text) override { Record("message", text); }

    std::vector<std::string> Texts(const std::string& kind) const
    {
        std::vector<std::string> texts;
        for (const Shown& s : shown)
            if (s.kind == kind)
                texts.push_back(s.text);
        return texts;
    }
    // The counts shown, attempt by attempt.
    std::vector<std::vector<int>> CountsByAttempt() const
    {
        std::vector<std::vector<int>> attemptsSeen;
        for (const Shown& s : shown) {
            if (s.kind != "status")
                continue;
            if (s.text.empty())
                attemptsSeen.emplace_back();
            else if (s.text.rfind("Please wait ", 0) == 0 && !attemptsSeen.empty())
                attemptsSeen.back().push_back(std::stoi(s.text.substr(12)));
        }
        return attemptsSeen;
    }
    double Duration() const { return shown.empty() ? 0 : shown.back().t; }

private:
    void Record(const char* kind, const char* text) { shown.push_back({NowMs() - start, kind, text}); }
    int attempts = 0;
};

std::vector<int> Range(int first, int last)
{
    std::vector<int> values;
    for (int v = first; v <= last; ++v)
        values.push_back(v);
    return values;
}

class RunTest : public ::testing::Test {
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
        if (state.replyEvent != nullptr)
            CloseHandle(state.replyEvent);
    }
    void Run(RecordingView& view)
    {
        view.start = NowMs();
        EntryPointLink link(entries);
        RunConfiguration(link, view, state);
    }
    void ExpectTheNextRunWorks()
    {
        sim.Reset();
        RecordingView next;
        Run(next);
        EXPECT_EQ(next.Texts("status").back(), kStatusOk);
        EXPECT_EQ(sim.Holders(), 0);
    }

    const LinkportApi& lib = Linkport();
    Simulator sim{kRunPort};
    PortEntryPoints entries;
    RunState state;
};

TEST_F(RunTest, ADigitizerThatAnswersEndsTheRunAtTheFirstPoll)
{
    RecordingView view;
    Run(view);
    EXPECT_EQ(view.Texts("status"), (std::vector<std::string>{"", "Please wait 1", kStatusOk}));
    EXPECT_EQ(view.Texts("ok"), (std::vector<std::string>{"disabled", "enabled"}));
    EXPECT_EQ(view.Texts("instructions"), std::vector<std::string>{""}) << "row 33 has no instructions";
    EXPECT_TRUE(view.Texts("message").empty());
    EXPECT_EQ(state.errorFlag, 0);
    const std::vector<FrameRecord> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, kLectraFrame);
    EXPECT_EQ(frames[0].baud, 9600);
    EXPECT_EQ(frames[0].parity, 'N');
    EXPECT_EQ(frames[0].stopBits, 1);
    EXPECT_EQ(sim.Holders(), 0) << "the port is closed at the end";
}

TEST_F(RunTest, NoDigitizerMeansFiveAttemptsFiftyFiveCountsAndAnErrorAfterEightSeconds)
{
    sim.Behave("silence");
    RecordingView view;
    view.softwareRow = kGeberRow;
    state.errorFlag = 0;
    Run(view);

    const std::vector<FrameRecord> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 5u);
    const int bauds[] = {9600, 9600, 19200, 9600, 9600};
    const char parities[] = {'N', 'E', 'N', 'N', 'N'};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(frames[i].baud, bauds[i]) << "attempt " << i;
        EXPECT_EQ(frames[i].parity, parities[i]) << "attempt " << i;
        EXPECT_EQ(frames[i].bytes, Bytes({0xDB, 0x01, 0x05, 0x72, 0x88, 0xDD})) << "attempt " << i;
    }
    const std::vector<std::vector<int>> counts = view.CountsByAttempt();
    ASSERT_EQ(counts.size(), 5u);
    for (int a = 0; a < 5; ++a)
        EXPECT_EQ(counts[a], Range(11 * a + 1, 11 * a + 11)) << "attempt " << a;
    EXPECT_EQ(view.Texts("status").back(), kStatusError);
    EXPECT_EQ(state.errorFlag, 1);
    EXPECT_EQ(view.Texts("ok").back(), "enabled");
    const std::vector<std::string> instructions = view.Texts("instructions");
    ASSERT_EQ(instructions.size(), 2u);
    EXPECT_EQ(std::count(instructions[1].begin(), instructions[1].end(), '\n'), 6) << "row 9's text, kept";
    EXPECT_NEAR(view.Duration(), 8000.0, 700.0);
    EXPECT_EQ(sim.Holders(), 0);
}

TEST_F(RunTest, ADigitizerOnlyAt19200AnswersTheThirdAttempt)
{
    sim.Command("only-baud 19200");
    RecordingView view;
    Run(view);
    const std::vector<std::vector<int>> counts = view.CountsByAttempt();
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts[2].front(), 23);
    EXPECT_EQ(view.Texts("status").back(), kStatusOk);
    EXPECT_EQ(state.errorFlag, 0);
}

TEST_F(RunTest, ARejectedReplyStartsTheNextAttemptWithoutAPause)
{
    sim.Behave("badsum");
    RecordingView view;
    view.onAttempt = [&](int attempt) {
        if (attempt == 1)
            sim.Behave("reply");
    };
    Run(view);
    const std::vector<std::vector<int>> counts = view.CountsByAttempt();
    ASSERT_EQ(counts.size(), 2u);
    ASSERT_FALSE(counts[0].empty());
    EXPECT_EQ(counts[1].front(), counts[0].back() + 1) << "the counter goes on";
    EXPECT_EQ(view.Texts("status").back(), kStatusOk);
    EXPECT_LT(view.Duration(), 1000.0) << "a pause of 500 ms would follow only an attempt without a reply";
    EXPECT_EQ(sim.Frames().size(), 2u);
}

TEST_F(RunTest, FiveRejectedRepliesEndInAnError)
{
    sim.Behave("badsum");
    RecordingView view;
    Run(view);
    EXPECT_EQ(sim.Frames().size(), 5u);
    EXPECT_EQ(view.Texts("status").back(), kStatusError);
    EXPECT_EQ(state.errorFlag, 1);
    EXPECT_LT(view.Duration(), 3000.0);
}

TEST_F(RunTest, APortThatCannotBeOpenedEndsWithTheMessageAndLeavesTheStatus)
{
    state.errorFlag = 1;
    RecordingView view;
    view.ports = {static_cast<unsigned short>(kMissingPort)};
    Run(view);
    EXPECT_EQ(view.Texts("message"), std::vector<std::string>{kOpenFailureMessage});
    EXPECT_TRUE(view.Texts("status").empty()) << "the status line keeps its text";
    EXPECT_EQ(view.Texts("ok"), (std::vector<std::string>{"disabled", "enabled"}));
    EXPECT_EQ(state.errorFlag, 0);
}

TEST_F(RunTest, MissingSelectionsEndTheRunBeforeAnythingElse)
{
    state.errorFlag = 1;
    RecordingView view;
    view.portRow = -1;
    Run(view);
    EXPECT_EQ(view.Texts("message"), std::vector<std::string>{kSelectPortMessage});
    EXPECT_EQ(view.shown.size(), 1u) << "OK is never disabled";
    EXPECT_EQ(state.errorFlag, 0);

    RecordingView noSoftware;
    noSoftware.softwareRow = -1;
    Run(noSoftware);
    EXPECT_EQ(noSoftware.Texts("message"), std::vector<std::string>{kSelectSoftwareMessage});
    EXPECT_EQ(noSoftware.shown.size(), 1u);
    EXPECT_TRUE(sim.Frames().empty());
}

TEST_F(RunTest, AReplyAroundTheEleventhPollEndsTheRunAndLeavesTheNextRunUndisturbed)
{
    // The reply completes close to the end of the eleventh poll (about 1100 ms after the
    // waiter starts): caught there, or stopped and answered again by attempt 1.
    for (int delay : {1040, 1060, 1075, 1090, 1110}) {
        sim.Reset();
        sim.Command("delay " + std::to_string(delay));
        RecordingView view;
        view.onAttempt = [&](int attempt) {
            if (attempt == 1)
                sim.Command("delay 0");
        };
        Run(view);
        EXPECT_EQ(view.Texts("status").back(), kStatusOk) << "delay " << delay;
        EXPECT_LE(view.CountsByAttempt().size(), 2u) << "delay " << delay;

        sim.Reset();
        RecordingView next;
        Run(next);
        EXPECT_EQ(next.Texts("status"), (std::vector<std::string>{"", "Please wait 1", kStatusOk}))
            << "the run after delay " << delay;
    }
}

TEST_F(RunTest, TwoRunsInARowEachCountFromOne)
{
    sim.Behave("badsum");
    RecordingView first;
    Run(first);
    EXPECT_EQ(first.CountsByAttempt().size(), 5u);
    sim.Behave("reply");
    RecordingView second;
    Run(second);
    EXPECT_EQ(second.CountsByAttempt().at(0), std::vector<int>{1});
    EXPECT_EQ(second.Texts("status").back(), kStatusOk);
}

// Faults of the device and the line: whatever the digitizer does, the run ends in its
// usual time with an honest ending, and the next run works.
TEST_F(RunTest, ADigitizerUnpluggedDuringTheRunEndsItHonestly)
{
    sim.Behave("hangup");  // answers the first frame by hanging up the line
    RecordingView view;
    Run(view);
    const std::vector<std::string> status = view.Texts("status");
    const bool openFailed = view.Texts("message") == std::vector<std::string>{kOpenFailureMessage};
    const bool errored = !status.empty() && status.back() == kStatusError && state.errorFlag == 1;
    EXPECT_TRUE(openFailed || errored);
    EXPECT_EQ(view.Texts("ok").back(), "enabled");
    EXPECT_LT(view.Duration(), 9500.0);
    sim.Command("plug");
    ExpectTheNextRunWorks();
}

TEST_F(RunTest, GarbagePartialRepliesAndFloodsEndInAnError)
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
        RecordingView view;
        Run(view);
        EXPECT_EQ(view.Texts("status").back(), kStatusError) << c.behaviour;
        EXPECT_EQ(state.errorFlag, 1) << c.behaviour;
        EXPECT_TRUE(view.Texts("message").empty()) << c.behaviour;
        EXPECT_LT(view.Duration(), c.maxMs) << c.behaviour;
        ExpectTheNextRunWorks();
    }
}

// Entry points standing in for the library where it cannot show a case.
struct FakeLibrary {
    static int WINAPI Open(unsigned, int, int, int, int) { return 1; }
    static int WINAPI Close() { return 1; }
    static int WINAPI SendFails(const unsigned char*, int) { return 0; }
    static int WINAPI SendWorks(const unsigned char*, int) { return 1; }
    // The first wait ignores ClosePort and ends long after its attempt with a valid reply;
    // every later one ends at once without a reply.
    static int WINAPI StubbornWait(unsigned char* buffer, int, int)
    {
        if (InterlockedIncrement(&waits) == 1) {
            Sleep(2800);
            const unsigned char reply[5] = {0xEA, 0x00, 0x00, 0x00, 0xDD};
            memcpy(buffer, reply, sizeof reply);
            return 1;
        }
        return 0;
    }
    static LONG waits;
};
LONG FakeLibrary::waits = 0;

TEST_F(RunTest, AFailedSendCountsAsNoReply)
{
    entries.OpenPort = FakeLibrary::Open;
    entries.ClosePort = FakeLibrary::Close;
    entries.senddata = FakeLibrary::SendFails;
    RecordingView view;
    Run(view);
    const std::vector<std::vector<int>> counts = view.CountsByAttempt();
    ASSERT_EQ(counts.size(), 5u);
    for (int a = 0; a < 5; ++a)
        EXPECT_EQ(counts[a], std::vector<int>{a + 1}) << "the waiter signals at once, attempt " << a;
    EXPECT_EQ(view.Texts("status").back(), kStatusError);
    EXPECT_NEAR(view.Duration(), 5 * 500.0, 400.0) << "a signalled poll and a pause per attempt";
}

TEST_F(RunTest, AWaiterThatOutlivesItsAttemptCannotDisturbTheNextOne)
{
    entries.OpenPort = FakeLibrary::Open;
    entries.ClosePort = FakeLibrary::Close;
    entries.senddata = FakeLibrary::SendWorks;
    entries.WaitRecvdata = FakeLibrary::StubbornWait;
    FakeLibrary::waits = 0;
    RecordingView view;
    Run(view);
    // Attempt 0 gives up on its waiter after the bound; its late valid reply (at 2.8 s,
    // during attempt 1) is never taken for a later attempt's.
    const std::vector<std::vector<int>> counts = view.CountsByAttempt();
    ASSERT_EQ(counts.size(), 5u);
    EXPECT_EQ(counts[0].size(), 11u);
    for (int a = 1; a < 5; ++a)
        EXPECT_EQ(counts[a].size(), 1u) << "attempt " << a;
    EXPECT_EQ(view.Texts("status").back(), kStatusError);
    Sleep(500);  // let the stubborn waiter finish before the fakes go away
}

}  // namespace

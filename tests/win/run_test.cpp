// The configuration run without its window: the real port library, a virtual COM port
// and a simulated digitizer (well-behaved or faulty), with a view that records what the
// user would see; and a scripted port for waiters the library cannot produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "ConfigurationRun.h"
#include "PortEntryPoints.h"
#include "TestEnv.h"

namespace {

constexpr unsigned kRunPort = 3;  // the simulated digitizer the runs configure
constexpr int kLectraRow = 33;    // mode code 14, no instructions
constexpr int kGeberRow = 9;      // mode code 5, six lines of instructions
using Verdict = AttemptReport::Verdict;

struct SeenAttempt {
    double startMs, endMs;
    Verdict verdict;
    std::vector<int> counts;  // the "Please wait N" shown during it
};

class RecordingView : public RunView {
public:
    int portRow = 0, softwareRow = kLectraRow;
    std::vector<unsigned short> ports{kRunPort};
    std::function<void()> atSecondAttempt;  // on the run's thread as the second attempt starts
    std::function<void()> atFirstEnd;       // on the run's thread as the first attempt ends
    std::map<std::string, std::vector<std::string>> shown;  // status, instructions, ok, message
    std::vector<SeenAttempt> attempts;
    double start = NowMs(), lastMs = 0;  // lastMs: when the last text was shown

    int SelectedPortRow() override { return portRow; }
    int SelectedSoftwareRow() override { return softwareRow; }
    unsigned short PortNumberAt(int row) override { return ports.at(static_cast<size_t>(row)); }
    void SetStatusText(const char* text) override
    {
        Show("status", text);
        int count = 0;
        if (std::sscanf(text, "Please wait %d", &count) == 1)
            attempts.back().counts.push_back(count);
    }
    void SetInstructionText(const char* text) override { Show("instructions", text); }
    void EnableOkButton(bool enable) override { Show("ok", enable ? "enabled" : "disabled"); }
    void ShowMessage(const char* text) override { Show("message", text); }
    void AttemptStarted(int index, const LineSetting&) override
    {
        attempts.push_back({Now(), 0, Verdict::NoReply, {}});
        if (index == 1 && atSecondAttempt)
            atSecondAttempt();
    }
    void AttemptEnded(const AttemptReport& report) override
    {
        attempts.back().endMs = Now();
        attempts.back().verdict = report.verdict;
        if (report.index == 0 && atFirstEnd)
            atFirstEnd();
    }

private:
    double Now() const { return NowMs() - start; }
    void Show(const char* what, const char* text)
    {
        shown[what].push_back(text);
        lastMs = Now();
    }
};

// What each attempt of a run must have shown, one letter an attempt: V a valid reply, I a
// rejected reply (both at the first poll); N no reply in eleven polls, the waiter stopped
// by the close; F no reply at the first poll (the send failed); B no reply in eleven
// polls and a waiter that outlived its bound of 1 s. Counts go on from 1 over the whole
// run; a pause of 500 ms follows an attempt without a reply, none follows a reply.
void ExpectAttempts(const RecordingView& view, const std::string& expected)
{
    ASSERT_EQ(view.attempts.size(), expected.size());
    int next = 1;
    for (size_t i = 0; i < expected.size(); ++i) {
        const SeenAttempt& a = view.attempts[i];
        const char kind = expected[i];
        SCOPED_TRACE(std::string("attempt ") + std::to_string(i + 1) + " of " + expected);
        std::vector<int> counts(kind == 'N' || kind == 'B' ? 11 : 1);
        std::iota(counts.begin(), counts.end(), next);
        next += static_cast<int>(counts.size());
        EXPECT_EQ(a.counts, counts);
        EXPECT_EQ(a.verdict, kind == 'V' ? Verdict::ValidReply : kind == 'I' ? Verdict::InvalidReply : Verdict::NoReply);
        if (kind == 'N') {
            EXPECT_GE(a.endMs - a.startMs, 1000.0) << "eleven polls of 100 ms";
            EXPECT_LT(a.endMs - a.startMs, 1900.0) << "the waiter ends at the close, long before its bound";
        } else if (kind == 'B') {
            EXPECT_GE(a.endMs - a.startMs, 2000.0) << "eleven polls and the waiter's bound";
        }
        const double nextMs = i + 1 < expected.size() ? view.attempts[i + 1].startMs : view.lastMs;
        if (kind == 'V' || kind == 'I')
            EXPECT_LT(nextMs - a.endMs, 400.0) << "no pause after a reply";
        else
            EXPECT_GE(nextMs - a.endMs, 450.0) << "a pause of 500 ms after no reply";
    }
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        state.replyEvent = std::make_shared<ReplySignal>();  // as the window's initialisation makes it
    }
    void TearDown() override
    {
        lib.ClosePort();
    }
    RunEnding Run(RecordingView& view, PortLink* scripted = nullptr)  // through the library unless scripted
    {
        EntryPointLink library(entries);
        view.start = NowMs();
        return RunConfiguration(scripted != nullptr ? *scripted : library, view, state);
    }
    void ExpectTheNextRunWorks()  // answered at once, counting from 1, the port closed at its end
    {
        sim.Reset();
        RecordingView next;
        Run(next);
        EXPECT_EQ(next.shown["status"], (std::vector<std::string>{"", "Please wait 1", kStatusOk})) << "the next run";
        EXPECT_EQ(sim.Holders(), 0) << "the next run";
    }

    const LinkportApi& lib = Linkport();
    PortEntryPoints entries{lib.TestPort,     lib.OpenPort, lib.ListSerialComm, lib.recvdata,
                            lib.WaitRecvdata, lib.senddata, lib.ClosePort};
    Simulator sim{kRunPort};
    RunState state;
};

constexpr char kLectraFrame[] = "DB 01 0E 71 80 DD", kGeberFrame[] = "DB 01 05 72 88 DD";
const char* const kAttemptLines[] = {"9600 N 1", "9600 E 1", "19200 N 1", "9600 N 1", "9600 N 1"};

const struct DigitizerCase {
    const char* name;
    const char* setup;     // simulator command before the run
    const char* atSecond;  // simulator command as the second attempt starts, or ""
    int softwareRow;
    const char* frame;     // what the digitizer gets
    const char* attempts;  // see ExpectAttempts
} kDigitizers[] = {
    {"AnsweringAtOnce", "behave reply", "", kLectraRow, kLectraFrame, "V"},
    {"Silent", "behave silence", "", kGeberRow, kGeberFrame, "NNNNN"},
    {"RejectedOnceThenAnswering", "behave badsum", "behave reply", kLectraRow, kLectraFrame, "IV"},
    {"AlwaysAWrongCheckSum", "behave badsum", "", kLectraRow, kLectraFrame, "IIIII"},
    {"AFloodOfBytes", "behave flood", "", kLectraRow, kLectraFrame, "IIIII"},
};

class DigitizerTest : public RunTest, public ::testing::WithParamInterface<DigitizerCase> {};

TEST_P(DigitizerTest, TheRunTriesTheLineSettingsInTurnAndEndsAsTheDigitizerAnswers)
{
    const DigitizerCase& c = GetParam();
    sim.Command(c.setup);
    RecordingView view;
    view.softwareRow = c.softwareRow;
    if (*c.atSecond != '\0')
        view.atSecondAttempt = [&] { sim.Command(c.atSecond); };
    Run(view);

    ExpectAttempts(view, c.attempts);
    const bool ok = std::string(c.attempts).back() == 'V';
    EXPECT_EQ(view.shown["status"].back(), ok ? kStatusOk : kStatusError);
    EXPECT_EQ(state.errorFlag, ok ? 0 : 1);
    EXPECT_EQ(view.shown["ok"], (std::vector<std::string>{"disabled", "enabled"}));
    EXPECT_TRUE(view.shown["message"].empty());
    EXPECT_EQ(view.shown["instructions"].front(), "") << "emptied at the start";
    EXPECT_EQ(view.shown["instructions"].back(), LookUpCatalogue(c.softwareRow).instructions);
    std::vector<std::string> sent, expected;  // each frame with the line setting it came in, attempt by attempt
    for (const FrameRecord& f : sim.Frames())
        sent.push_back(HexText(f.bytes.data(), f.bytes.size()) + " at " + std::to_string(f.baud) + " " + f.parity +
                       " " + std::to_string(f.stopBits));
    for (size_t i = 0; i < std::strlen(c.attempts); ++i)
        expected.push_back(c.frame + std::string(" at ") + kAttemptLines[i]);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(sim.Holders(), 0) << "the port is closed at the end";
    ExpectTheNextRunWorks();
}

INSTANTIATE_TEST_SUITE_P(Digitizers, DigitizerTest, ::testing::ValuesIn(kDigitizers), kCaseName);

const struct NoStartCase {
    const char* name;
    int portRow, softwareRow;
    unsigned short port;
    const char* message;
    std::vector<std::string> okButton;
} kNoStarts[] = {
    {"NoPortSelected", -1, kLectraRow, kRunPort, kSelectPortMessage, {}},
    {"NoSoftwareSelected", 0, -1, kRunPort, kSelectSoftwareMessage, {}},
    {"APortThatCannotBeOpened", 0, kLectraRow, kMissingPort, kOpenFailureMessage, {"disabled", "enabled"}},
};

class NoStartTest : public RunTest, public ::testing::WithParamInterface<NoStartCase> {};

TEST_P(NoStartTest, ARunThatCannotStartTellsWhyAndLeavesTheStatusLine)
{
    const NoStartCase& c = GetParam();
    state.errorFlag = 1;
    RecordingView view;
    view.portRow = c.portRow;
    view.softwareRow = c.softwareRow;
    view.ports = {c.port};
    Run(view);
    EXPECT_EQ(view.shown["message"], std::vector<std::string>{c.message});
    EXPECT_TRUE(view.shown["status"].empty()) << "the status line keeps its text";
    EXPECT_EQ(view.shown["ok"], c.okButton);
    EXPECT_EQ(state.errorFlag, 0) << "the status line loses its red";
    EXPECT_TRUE(sim.Frames().empty());
}

INSTANTIATE_TEST_SUITE_P(Selections, NoStartTest, ::testing::ValuesIn(kNoStarts), kCaseName);

TEST_F(RunTest, AReplyAroundTheEleventhPollEndsTheRunAndLeavesTheNextRunUndisturbed)
{
    // The reply completes close to the end of the eleventh poll (about 1100 ms after the
    // waiter starts): caught there, or stopped and answered again by the second attempt.
    for (int delay : {1040, 1060, 1075, 1090, 1110}) {
        SCOPED_TRACE("reply delayed by " + std::to_string(delay) + " ms");
        sim.Reset();
        sim.Command("delay " + std::to_string(delay));
        RecordingView view;
        view.atSecondAttempt = [&] { sim.Command("delay 0"); };
        Run(view);
        EXPECT_EQ(view.shown["status"].back(), kStatusOk);
        EXPECT_LE(view.attempts.size(), 2u);
        ExpectTheNextRunWorks();
    }
}

TEST_F(RunTest, ADigitizerUnpluggedDuringTheRunEndsItHonestly)
{
    sim.Behave("hangup");  // answers the first frame by hanging up the line
    RecordingView view;
    const RunEnding ending = Run(view);
    if (ending == RunEnding::OpenFailed)
        EXPECT_EQ(view.shown["message"], std::vector<std::string>{kOpenFailureMessage});
    else
        EXPECT_TRUE(ending == RunEnding::Error && view.shown["status"].back() == kStatusError && state.errorFlag == 1);
    EXPECT_EQ(view.shown["ok"].back(), "enabled");
    EXPECT_LT(view.lastMs, 9500.0);
    sim.Command("plug");
    ExpectTheNextRunWorks();
}

// Once the stop is set, nothing is opened or sent: set before the run, as the second
// attempt's port has opened (before its waiter sends), and as the first attempt ends with
// a rejected reply or with none (before the pause, which the stop ends).
TEST_F(RunTest, NothingIsOpenedOrSentOnceTheStopIsSet)
{
    const struct {
        const char* name;
        const char* behaviour;
        char when;  // 'r' before the run, 's' as the second attempt starts, 'e' as the first ends
        size_t opens, frames;
    } rows[] = {{"before the run", "reply", 'r', 0, 0},
                {"the second attempt's port open", "badsum", 's', 2, 1},
                {"after a rejected reply", "badsum", 'e', 1, 1},
                {"in the pause after no reply", "silence", 'e', 1, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        sim.Reset();
        sim.Behave(row.behaviour);
        StopSignal stop;
        state.stop = &stop;
        RecordingView view;
        if (row.when == 'r')
            stop.Set();
        (row.when == 's' ? view.atSecondAttempt : view.atFirstEnd) = [&] { stop.Set(); };
        EXPECT_EQ(Run(view), RunEnding::Stopped);
        state.stop = nullptr;
        EXPECT_EQ(view.attempts.size(), row.opens) << "ports opened";
        EXPECT_EQ(sim.Frames().size(), row.frames);
        EXPECT_LT(view.lastMs - (view.attempts.empty() ? 0.0 : view.attempts.back().endMs), 300.0) << "no pause";
        EXPECT_EQ(view.shown["ok"].back(), "enabled");
        EXPECT_EQ(sim.Holders(), 0);
    }
}

// A port that plays one reply waiter per attempt from a script, where the library cannot
// show a case: 'F' the send fails; 'N' the wait ends only when the run closes the port;
// 'B' the wait ignores the close and returns a valid reply lateMs after the first open.
class ScriptedPort : public PortLink {
public:
    ScriptedPort(const char* script, double lateMs) : m_script(script), m_lateMs(lateMs) {}
    ~ScriptedPort() override { CloseHandle(m_closed); }
    void Close() override { SetEvent(m_closed); }
    bool Open(unsigned short, const LineSetting&) override
    {
        if (m_opens++ == 0)
            m_start = NowMs();
        ResetEvent(m_closed);
        return true;
    }
    bool Send(const unsigned char*, int) override { return Kind() != 'F'; }
    bool WaitReply(unsigned char* buffer, int, int count, int* received) override
    {
        *received = 0;
        if (Kind() != 'B') {
            WaitForSingleObject(m_closed, 10000);  // ends at the close
            return false;
        }
        Sleep(static_cast<DWORD>(std::max(0.0, m_start + m_lateMs - NowMs())));
        const unsigned char reply[kReplyLength] = {0xEA, 0x00, 0x00, 0x00, 0xDD};
        std::memcpy(buffer, reply, sizeof reply);
        *received = count;
        m_lateReplyMs = NowMs() - m_start;  // the waiter's last use of this object
        return true;
    }
    std::atomic<double> m_lateReplyMs{-1};  // when the late reply came, from the first open

private:
    char Kind() const { return m_script[m_opens - 1]; }
    const std::string m_script;
    const double m_lateMs;
    std::atomic<int> m_opens{0};
    double m_start = 0;
    HANDLE m_closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

const struct WaiterCase {
    const char* name;
    const char* script;  // the port's script, which is also the attempts expected
    double lateMs;
} kWaiters[] = {
    {"ASendThatFails", "FFFFF", 0},
    // Attempt 2 polls from about 2.6 s to 3.7 s.
    {"ALateSignalDuringTheNextAttempt", "BNNNN", 3150},
    // Between attempt 2 (about 2.6 s) and attempt 3 (about 3.1 s), whose sends fail.
    {"ALateReplyBeforeAttemptsWhoseSendsFail", "BFFFF", 2850},
};

class WaiterTest : public RunTest, public ::testing::WithParamInterface<WaiterCase> {};

TEST_P(WaiterTest, AnAttemptTakesOnlyItsOwnWaitersReply)
{
    const WaiterCase& c = GetParam();
    ScriptedPort port(c.script, c.lateMs);
    RecordingView view;
    Run(view, &port);
    ExpectAttempts(view, c.script);
    EXPECT_EQ(view.shown["status"].back(), kStatusError);
    EXPECT_EQ(state.errorFlag, 1);
    if (std::strchr(c.script, 'B') != nullptr) {
        for (int i = 0; i < 100 && port.m_lateReplyMs < 0; ++i)
            Sleep(50);
        EXPECT_GT(port.m_lateReplyMs, 0.0) << "the late waiter returned";
        EXPECT_LT(port.m_lateReplyMs, view.lastMs) << "during the run";
    }
}

INSTANTIATE_TEST_SUITE_P(Waiters, WaiterTest, ::testing::ValuesIn(kWaiters), kCaseName);

}  // namespace

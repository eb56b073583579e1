// The program over many runs: ten runs without a reply (fifty stopped waiters) and two
// hundred successful runs in a row, with its handles, threads and memory watched.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <string>

#include "Automation.h"
#include "TestEnv.h"

namespace {

const std::wstring kCaption = L"Quillane Software Setup Assistant  V3.2";
constexpr int kConfigure = 1003, kStatus = 1005;
constexpr unsigned kRunPort = 3;

struct Usage {
    unsigned handles = 0, threads = 0;
    SIZE_T memory = 0;
};

Usage UsageOf(const automation::Process& app)
{
    Usage usage;
    usage.handles = automation::CountHandles(app.Id()).value_or(0);
    usage.threads = automation::CountThreads(app.Id()).value_or(0);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(app.Handle(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
        usage.memory = memory.PagefileUsage;  // committed private memory (Wine reports PrivateUsage as 0)
    return usage;
}

void Print(const char* when, const Usage& u)
{
    printf("%-28s handles %4u  threads %2u  private memory %6zu KiB\n", when, u.handles, u.threads, u.memory / 1024);
}

class EnduranceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        ports.Clear();
        ports.SetString("\\Device\\Serial2", "COM3");
        UseTempFolder("endurance");
        app = automation::Process::Start(automation::Widen(WindowsPathFromEnv("QUILLANE_APP")));
        window = automation::WaitForDialog(kCaption, 15000, app.Id());
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { app.Terminate(); }

    // Clicks OK and waits for the run to end with the given status; false on time-out.
    bool RunOnce(int repliesBefore, const std::wstring& expected, DWORD timeoutMs)
    {
        HWND ok = automation::FindControl(window, kConfigure);
        if (!automation::ClickButton(ok))
            return false;
        const double end = NowMs() + timeoutMs;
        bool started = false;
        while (NowMs() < end) {
            Sleep(expected == L"Status:OK!" ? 5 : 100);
            started = started || !automation::IsEnabled(ok) || sim.Replies() > repliesBefore;
            if (started && automation::IsEnabled(ok) &&
                automation::ReadText(automation::FindControl(window, kStatus)).value_or(L"") == expected)
                return true;
        }
        return false;
    }

    Simulator sim{kRunPort};
    SerialCommOverride ports;
    automation::Process app;
    HWND window = nullptr;
};

TEST_F(EnduranceTest, ResourcesStayFlatOverManyRuns)
{
    sim.Behave("silence");
    ASSERT_TRUE(RunOnce(0, L"Status:Error!", 15000));
    const Usage afterFirst = UsageOf(app);
    Print("after 1 run without a reply", afterFirst);
    for (int i = 1; i < 10; ++i)
        ASSERT_TRUE(RunOnce(0, L"Status:Error!", 15000)) << "run " << i;
    const Usage afterTen = UsageOf(app);
    Print("after 10 runs without reply", afterTen);
    EXPECT_EQ(sim.Frames().size(), 50u);

    sim.Reset();
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(RunOnce(i, L"Status:OK!", 5000)) << "successful run " << i;
    EXPECT_EQ(sim.Replies(), 200);
    const Usage afterAll = UsageOf(app);
    Print("after 200 successful runs", afterAll);

    EXPECT_GT(afterFirst.handles, 0u) << "the counts work";
    EXPECT_GT(afterFirst.memory, 0u);
    EXPECT_LE(afterTen.handles, afterFirst.handles + 2);
    EXPECT_LE(afterAll.handles, afterFirst.handles + 2);
    EXPECT_LE(afterAll.threads, afterFirst.threads);
    EXPECT_LT(afterAll.memory, afterFirst.memory + 1024 * 1024);
}

}  // namespace

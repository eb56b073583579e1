// Callers that end a thread blocked in the library, against a simulated digitizer that
// stays silent: ClosePort from another thread, or TerminateThread and then ClosePort,
// OpenPort or TestPort. The wait ends or the device is released promptly, the library is
// safe to call meanwhile and works again, and hundreds of ends leave no handle or thread.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "Automation.h"
#include "TestEnv.h"

namespace {

constexpr double kPromptMs = 500;  // far below the 2 s a live transfer is given to leave

// Where the caller's thread is when it is ended: all three send the frame first.
enum class Where { InWaitRecvdata, InRecvdata, AfterSenddata };
// The call that ends the wait or gets the library back.
enum class Recovery { ClosePort, OpenPort, TestPort };

struct Usage {
    unsigned handles, threads;
    SIZE_T memory;  // committed private memory (PagefileUsage: Wine leaves PrivateUsage 0)
};
Usage Measure()
{
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    const Usage usage{automation::CountHandles(GetCurrentProcessId()).value_or(0),
                      automation::CountThreads(GetCurrentProcessId()).value_or(0), memory.PagefileUsage};
    EXPECT_TRUE(usage.handles > 0 && usage.memory > 0) << "the measures work";
    return usage;
}

// Keeps both cores busy while it lives.
struct Load {
    ~Load() { on = false; }
    void Spin() const
    {
        for (volatile unsigned x = 0; on;)
            x = x * 1664525u + 1013904223u;
    }
    std::atomic<bool> on{true};
    TestThread first{[this] { Spin(); }}, second{[this] { Spin(); }};
};

class StopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        sim.Behave("silence");
    }
    void TearDown() override { lib.ClosePort(); }

    // Starts a caller that sends the frame and then blocks at `where`, storing what its
    // receive returned; returns once its senddata has returned.
    std::unique_ptr<TestThread> StartCaller(Where where)
    {
        sent = false;
        result = -1;
        auto caller = std::make_unique<TestThread>([this, where] {
            unsigned char buffer[100];
            if (!lib.senddata(kFrame.data(), 6))
                return;
            sent = true;
            if (where == Where::InWaitRecvdata)
                result = lib.WaitRecvdata(buffer, 100, 5);
            else if (where == Where::InRecvdata)
                result = lib.recvdata(buffer, 100, 10000);  // the device timeouts end it after 5 s
            else
                Sleep(10000);
        });
        for (int waited = 0; !sent && waited < 2000; ++waited)
            Sleep(1);
        EXPECT_TRUE(sent) << "senddata";
        return caller;
    }

    // While a killed transfer holds the port (held), every call that needs the port is
    // refused at once; the port list works all the same.
    void ExpectSafeToCall(bool held)
    {
        unsigned short ports[64] = {};
        const int count = std::max(lib.ListSerialComm(ports, 64), 0);
        EXPECT_NE(std::find(ports, ports + count, kSimPort), ports + count) << "the port list";
        if (!held)
            return;
        unsigned char buffer[100];
        std::vector<int> results(3, -1);
        TestThread calls([&] {
            results = {lib.senddata(kFrame.data(), 6), lib.recvdata(buffer, 100, 1000),
                       lib.WaitRecvdata(buffer, 100, 5)};
        });
        const bool ended = calls.Join(static_cast<DWORD>(kPromptMs));
        if (!ended)
            lib.ClosePort();  // frees the call that blocked
        ASSERT_TRUE(calls.Join(1000));
        EXPECT_TRUE(ended) << "a call blocked";
        EXPECT_EQ(results, std::vector<int>(3, 0));
    }

    void Recover(Recovery how)
    {
        const double start = NowMs();
        const int recovered = how == Recovery::ClosePort  ? lib.ClosePort()
                              : how == Recovery::OpenPort ? lib.OpenPort(kSimPort, 9600, 'N', 8, 1)
                                                          : lib.TestPort(kSimPort);
        EXPECT_EQ(recovered, 1);
        EXPECT_LT(NowMs() - start, kPromptMs);
    }

    // An exchange as the program makes it, on the port left open: the reply, or nothing.
    // The reply comes 200 ms late, so that WaitRecvdata's purge comes first also on a
    // loaded machine (a reply that came before the purge would be discarded, by design).
    std::vector<unsigned char> Exchange()
    {
        sim.Behave("reply");
        sim.Command("delay 200");
        unsigned char reply[100] = {};
        int received = -1;
        TestThread waiter([&] {
            if (lib.senddata(kFrame.data(), 6))
                received = lib.WaitRecvdata(reply, 100, 5);
        });
        if (!waiter.Join(3000))
            lib.ClosePort();
        EXPECT_TRUE(waiter.Join(3000));
        return received == 1 ? std::vector<unsigned char>(reply, reply + 5) : std::vector<unsigned char>();
    }

    const LinkportApi& lib = Linkport();
    Simulator sim{kSimPort};
    std::atomic<bool> sent{false};
    std::atomic<int> result{-1};
};

// ClosePort from here ends a blocked WaitRecvdata at any point of its way into the wait
// and in it, with both cores busy.
TEST_F(StopTest, ClosePortFromAnotherThreadEndsABlockedWaitPromptly500Times)
{
    constexpr int kTimes = 500, kWarmUp = 50;
    auto load = std::make_unique<Load>();
    Usage warm = {};
    unsigned seed = 12345;
    for (int i = 0; i < kTimes; ++i) {
        ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1) << "repetition " << i;
        {
            const std::unique_ptr<TestThread> caller = StartCaller(Where::InWaitRecvdata);
            seed = seed * 1103515245u + 12345u;
            Sleep((seed >> 16) % 40);
            Recover(Recovery::ClosePort);
            ASSERT_TRUE(caller->Join(1000)) << "repetition " << i << ": the wait did not end";
        }
        EXPECT_EQ(result.load(), 0) << "repetition " << i;
        if (i + 1 == kWarmUp)
            warm = Measure();
    }
    const Usage end = Measure();
    printf("after %d: handles %u -> %u, threads %u -> %u, committed memory %zu KiB -> %zu KiB\n", kWarmUp,
           warm.handles, end.handles, warm.threads, end.threads, warm.memory / 1024, end.memory / 1024);
    EXPECT_LE(end.handles, warm.handles + 2);
    EXPECT_LE(end.threads, warm.threads);
    EXPECT_LT(end.memory, warm.memory + 512 * 1024);
    load.reset();
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    EXPECT_EQ(Exchange(), kReply) << "the library works on";
}

// A caller's thread terminated in or between senddata, recvdata and WaitRecvdata, gone or
// not yet gone, and then each call that gets the library back: every combination, 12
// times over. Memory is reported, not compared: Wine keeps the stack of every terminated
// thread (about 1 MiB each), which is not the library's.
TEST_F(StopTest, AfterATerminatedCallerTheNextCallGetsTheLibraryBack)
{
    constexpr int kCombinations = 18, kCycles = 12 * kCombinations, kWarmUp = 20;
    const char* const whereName[] = {"in WaitRecvdata", "in recvdata", "after senddata"};
    const char* const recoveryName[] = {"ClosePort", "OpenPort", "TestPort"};
    Usage warm = {};
    unsigned seed = 2024;
    for (int i = 0; i < kCycles; ++i) {
        const auto where = static_cast<Where>(i % 3);
        const bool waitForEnd = i / 3 % 2 == 1;
        const auto recovery = static_cast<Recovery>(i / 6 % 3);
        SCOPED_TRACE(std::string("cycle ") + std::to_string(i) + ": terminated " + whereName[i % 3] +
                     (waitForEnd ? ", gone, then " : ", then ") + recoveryName[i / 6 % 3]);
        ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
        {
            const std::unique_ptr<TestThread> caller = StartCaller(where);
            seed = seed * 1103515245u + 12345u;
            Sleep(waitForEnd ? 30 : (seed >> 16) % 40);  // at once, or well inside the receive
            EXPECT_TRUE(caller->Terminate());
            if (waitForEnd) {
                ASSERT_TRUE(caller->Join(1000));
                ExpectSafeToCall(where != Where::AfterSenddata);
            }
            Recover(recovery);
            ASSERT_TRUE(caller->Join(1000));
        }
        if (recovery == Recovery::ClosePort) {
            EXPECT_EQ(sim.Holders(), 0) << "the device is released";
        }
        if (i < kCombinations) {
            if (recovery == Recovery::ClosePort) {
                ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
            }
            EXPECT_EQ(Exchange(), kReply) << "the port works again";
            sim.Behave("silence");
        }
        lib.ClosePort();
        if (i + 1 == kWarmUp)
            warm = Measure();
    }
    const Usage end = Measure();
    printf("%d cycles, after %d: handles %u -> %u, threads %u -> %u, committed memory %zu KiB -> %zu KiB\n", kCycles,
           kWarmUp, warm.handles, end.handles, warm.threads, end.threads, warm.memory / 1024, end.memory / 1024);
    EXPECT_EQ(end.handles, warm.handles);
    EXPECT_EQ(end.threads, warm.threads);
}

}  // namespace

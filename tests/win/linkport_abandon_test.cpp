// A caller that ends a thread blocked in the library with TerminateThread and then calls
// ClosePort, or goes straight to OpenPort or TestPort: the library releases the device
// promptly, works again, and is safe to call in between. Through the exports only,
// against a simulated digitizer that stays silent while the thread waits.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <tuple>

#include "Automation.h"
#include "TestEnv.h"

namespace {

const std::vector<unsigned char> kFrame = Bytes({0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD});
const std::vector<unsigned char> kReply = Bytes({0xEA, 0x0E, 0x5A, 0x98, 0xDD});
constexpr double kPromptMs = 500;  // far below the 2 s a live transfer is given to leave

// Where the caller's thread is when it is terminated: all three send the frame first.
enum class Where { InWaitRecvdata, InRecvdata, AfterSenddata };
// The call that gets the library back.
enum class Recovery { ClosePort, OpenPort, TestPort };

class AbandonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        sim.Behave("silence");
    }
    void TearDown() override { lib.ClosePort(); }

    // Starts a caller thread and terminates it at `where`, at its first stop in a wait or
    // in the library's own code from delayMs after its senddata returned; with
    // waitForEnd, only once the thread is gone does this return.
    std::unique_ptr<TestThread> Abandon(Where where, DWORD delayMs, bool waitForEnd)
    {
        sent = false;
        auto caller = std::make_unique<TestThread>([this, where] {
            unsigned char buffer[100];
            if (!lib.senddata(kFrame.data(), 6))
                return;
            sent = true;
            if (where == Where::InWaitRecvdata)
                lib.WaitRecvdata(buffer, 100, 5);
            else if (where == Where::InRecvdata)
                lib.recvdata(buffer, 100, 10000);  // the device timeouts end it after 5 s
            else
                Sleep(10000);
        });
        for (int waited = 0; !sent && waited < 2000; ++waited)
            Sleep(1);
        EXPECT_TRUE(sent) << "senddata";
        Sleep(delayMs);
        EXPECT_TRUE(caller->Terminate());
        if (waitForEnd) {
            EXPECT_TRUE(caller->Join(1000));
        }
        return caller;
    }

    // The recovering call; returns how long it took.
    double Recover(Recovery how)
    {
        const double start = NowMs();
        const int result = how == Recovery::ClosePort  ? lib.ClosePort()
                           : how == Recovery::OpenPort ? lib.OpenPort(kSimPort, 9600, 'N', 8, 1)
                                                       : lib.TestPort(kSimPort);
        const double took = NowMs() - start;
        EXPECT_EQ(result, 1);
        EXPECT_LT(took, kPromptMs);
        return took;
    }

    // An exchange as the program makes it, on the port left open: the reply, or nothing.
    // The reply comes 200 ms late, so that WaitRecvdata's purge comes first also on a
    // loaded machine (a reply that came before the purge would be discarded, by design).
    std::vector<unsigned char> Exchange()
    {
        sim.Behave("reply");
        sim.Command("delay 200");
        unsigned char reply[100] = {};
        int result = -1;
        TestThread waiter([&] {
            if (lib.senddata(kFrame.data(), 6))
                result = lib.WaitRecvdata(reply, 100, 5);
        });
        if (!waiter.Join(3000))
            lib.ClosePort();
        EXPECT_TRUE(waiter.Join(3000));
        return result == 1 ? std::vector<unsigned char>(reply, reply + 5) : std::vector<unsigned char>();
    }

    const LinkportApi& lib = Linkport();
    Simulator sim{kSimPort};
    std::atomic<bool> sent{false};
};

class AbandonCaseTest : public AbandonTest,
                        public ::testing::WithParamInterface<std::tuple<Where, bool, Recovery>> {};

TEST_P(AbandonCaseTest, TheNextCallGetsTheLibraryBack)
{
    const auto [where, waitForEnd, recovery] = GetParam();
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    {
        const std::unique_ptr<TestThread> caller = Abandon(where, 30, waitForEnd);
        if (waitForEnd) {
            // Safe to call meanwhile: the port list works, and while the killed transfer
            // holds the port every call that needs it is refused at once.
            unsigned short ports[64] = {};
            const int count = std::max(lib.ListSerialComm(ports, 64), 0);
            EXPECT_NE(std::find(ports, ports + count, kSimPort), ports + count) << "the port list";
            if (where != Where::AfterSenddata) {
                unsigned char buffer[100];
                std::vector<int> results(3, -1);
                TestThread calls([&] {
                    results = {lib.senddata(kFrame.data(), 6), lib.recvdata(buffer, 100, 1000),
                               lib.WaitRecvdata(buffer, 100, 5)};
                });
                const bool ended = calls.Join(static_cast<DWORD>(kPromptMs));
                if (!ended)
                    lib.ClosePort();  // frees the call that blocked
                ASSERT_TRUE(ended) << "a call blocked";
                EXPECT_EQ(results, std::vector<int>(3, 0));
            }
        }
        Recover(recovery);
        if (recovery == Recovery::ClosePort) {
            EXPECT_EQ(sim.Holders(), 0) << "the device is released";
            ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
        }
    }
    EXPECT_EQ(Exchange(), kReply);
    lib.ClosePort();
    EXPECT_EQ(sim.Holders(), 0) << "no handle of the abandoned port is left open";
}

std::string CaseName(const ::testing::TestParamInfo<AbandonCaseTest::ParamType>& info)
{
    const char* const where[] = {"InWaitRecvdata", "InRecvdata", "AfterSenddata"};
    const char* const recovery[] = {"ClosePort", "OpenPort", "TestPort"};
    return std::string(where[static_cast<int>(std::get<0>(info.param))]) +
           (std::get<1>(info.param) ? "_WaitThen" : "_Then") + recovery[static_cast<int>(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Terminated, AbandonCaseTest,
                         ::testing::Combine(::testing::Values(Where::InWaitRecvdata, Where::InRecvdata,
                                                              Where::AfterSenddata),
                                            ::testing::Bool(),
                                            ::testing::Values(Recovery::ClosePort, Recovery::OpenPort,
                                                              Recovery::TestPort)),
                         CaseName);

TEST_F(AbandonTest, TwoHundredAbandonedWaitersLeaveNothingBehind)
{
    constexpr int kCycles = 200, kWarmUp = 20;
    struct Usage {
        unsigned handles, threads;
        SIZE_T memory;
    };
    // Measured with the port closed. Committed private memory is PagefileUsage: Wine
    // leaves PrivateUsage 0.
    auto usage = [this] {
        lib.ClosePort();
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof memory);
        return Usage{automation::CountHandles(GetCurrentProcessId()).value_or(0),
                     automation::CountThreads(GetCurrentProcessId()).value_or(0), memory.PagefileUsage};
    };
    Usage warm = {};
    double worst[3] = {};  // by recovering call
    unsigned seed = 2024;
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1) << "cycle " << i;
        seed = seed * 1103515245u + 12345u;
        const int how = i % 3;
        {
            const std::unique_ptr<TestThread> caller = Abandon(Where::InWaitRecvdata, (seed >> 16) % 40, i % 2 == 1);
            worst[how] = std::max(worst[how], Recover(static_cast<Recovery>(how)));
            ASSERT_TRUE(caller->Join(1000)) << "cycle " << i;
        }
        if (how == 0) {
            EXPECT_EQ(sim.Holders(), 0) << "cycle " << i;
        }
        if (i + 1 == kWarmUp)
            warm = usage();
    }
    const Usage end = usage();
    printf("after %d cycles: handles %u -> %u, threads %u -> %u, committed memory %zu KiB -> %zu KiB\n", kWarmUp,
           warm.handles, end.handles, warm.threads, end.threads, warm.memory / 1024, end.memory / 1024);
    // For comparison, what terminating a thread leaves behind by itself: Wine keeps the
    // stack of every terminated thread, also of one killed outside any library call.
    constexpr int kIdle = 20;
    for (int i = 0; i < kIdle; ++i) {
        std::atomic<bool> started{false};
        TestThread idle([&] {
            started = true;
            Sleep(10000);
        });
        for (int waited = 0; !started && waited < 2000; ++waited)
            Sleep(1);
        EXPECT_TRUE(idle.Terminate());
        EXPECT_TRUE(idle.Join(1000));
    }
    printf("committed memory per terminated thread: %zu KiB in WaitRecvdata, %zu KiB in Sleep\n",
           (end.memory - warm.memory) / 1024 / (kCycles - kWarmUp), (usage().memory - end.memory) / 1024 / kIdle);
    printf("slowest recovery: ClosePort %.1f ms, OpenPort %.1f ms, TestPort %.1f ms\n", worst[0], worst[1],
           worst[2]);
    EXPECT_GT(warm.handles, 0u) << "the handle count works";
    EXPECT_EQ(end.handles, warm.handles);
    EXPECT_EQ(end.threads, warm.threads);

    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    EXPECT_EQ(Exchange(), kReply);
}

}  // namespace

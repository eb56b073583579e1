// Stopping a WaitRecvdata that is blocked on one thread with a ClosePort from another,
// hundreds of times, with the processor loaded.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "Automation.h"
#include "TestEnv.h"

namespace {

const std::vector<unsigned char> kFrame = Bytes({0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD});

// Keeps both cores busy while it lives.
class Load {
public:
    Load()
    {
        for (HANDLE& t : m_threads)
            t = CreateThread(nullptr, 0, &Load::Spin, &m_stop, 0, nullptr);
    }
    ~Load()
    {
        m_stop = true;
        for (HANDLE t : m_threads) {
            WaitForSingleObject(t, 5000);
            CloseHandle(t);
        }
    }

private:
    static DWORD WINAPI Spin(LPVOID p)
    {
        auto* stop = static_cast<std::atomic<bool>*>(p);
        volatile unsigned x = 0;
        while (!stop->load())
            x = x * 1664525u + 1013904223u;
        return 0;
    }
    std::atomic<bool> m_stop{false};
    HANDLE m_threads[2] = {};
};

TEST(StopTest, ClosePortEndsABlockedWaitPromptlyEveryTime)
{
    constexpr int kRepetitions = 500;
    const LinkportApi& lib = Linkport();
    Simulator sim(kSpareSimPort);
    sim.Reset();
    sim.Behave("silence");
    auto load = std::make_unique<Load>();

    struct Usage {
        unsigned handles, threads;
        SIZE_T memory;
    };
    // Committed private memory is PagefileUsage: Wine leaves PrivateUsage 0.
    auto usage = [] {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof memory);
        return Usage{automation::CountHandles(GetCurrentProcessId()).value_or(0),
                     automation::CountThreads(GetCurrentProcessId()).value_or(0), memory.PagefileUsage};
    };
    Usage early = {};
    double worstStop = 0;  // from ClosePort's call to the waiting thread's end
    double worstClose = 0;
    unsigned seed = 12345;
    for (int i = 0; i < kRepetitions; ++i) {
        ASSERT_EQ(lib.OpenPort(kSpareSimPort, 9600, 'N', 8, 1), 1) << "repetition " << i;
        unsigned char buffer[100];
        std::atomic<int> result{-1};
        TestThread waiter([&] {
            if (!lib.senddata(kFrame.data(), 6)) {
                result = -2;
                return;
            }
            result = lib.WaitRecvdata(buffer, 100, 5);
        });
        // Once the frame is out the thread is on its way into WaitRecvdata; stop it at any
        // point of its wait from there.
        for (int waited = 0; sim.Frames().size() < static_cast<size_t>(i + 1) && waited < 2000; waited += 2)
            Sleep(2);
        seed = seed * 1103515245u + 12345u;
        Sleep((seed >> 16) % 40);
        const double start = NowMs();
        EXPECT_EQ(lib.ClosePort(), 1);
        const double closed = NowMs();
        ASSERT_TRUE(waiter.Join(1000)) << "repetition " << i << ": the wait did not end";
        const double ended = NowMs();
        EXPECT_EQ(result.load(), 0) << "repetition " << i;
        worstClose = std::max(worstClose, closed - start);
        worstStop = std::max(worstStop, ended - start);
        if (i == 49)
            early = usage();  // after the first allocations have settled
    }
    const Usage late = usage();
    printf("handles %u -> %u, threads %u -> %u, private memory %zu KiB -> %zu KiB\n", early.handles, late.handles,
           early.threads, late.threads, early.memory / 1024, late.memory / 1024);
    EXPECT_GT(early.handles, 0u) << "the handle count works";
    EXPECT_GT(early.memory, 0u) << "the memory measure works";
    EXPECT_LE(late.handles, early.handles + 2) << "no handle leaks across stopped waits";
    EXPECT_LE(late.threads, early.threads);
    EXPECT_LT(late.memory, early.memory + 512 * 1024);
    printf("%d stops: ClosePort took at most %.1f ms, the wait ended at most %.1f ms after it\n", kRepetitions,
           worstClose, worstStop);
    EXPECT_LT(worstStop, 1000.0);

    // The library is as good as new afterwards.
    load.reset();
    sim.Reset();
    ASSERT_EQ(lib.OpenPort(kSpareSimPort, 9600, 'N', 8, 1), 1);
    unsigned char reply[100] = {};
    int result = -1;
    TestThread waiter([&] {
        if (lib.senddata(kFrame.data(), 6))
            result = lib.WaitRecvdata(reply, 100, 5);
    });
    if (!waiter.Join(3000))
        lib.ClosePort();
    ASSERT_TRUE(waiter.Join(3000));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(reply[0], 0xEA);
    lib.ClosePort();
    EXPECT_EQ(sim.Holders(), 0);
}

}  // namespace

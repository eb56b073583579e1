// Unloading the library closes the port that is open, also when a caller terminated a
// thread blocked in WaitRecvdata just before (a process of its own: the library is loaded
// once per process, and Wine 8 can crash when it is loaded again after a terminated
// thread); and the library's test build with a driver that keeps a cancelled wait.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "StandIn.h"
#include "TestEnv.h"

TEST(UnloadTest, UnloadingTheLibraryClosesThePortAlsoAfterAnAbandonedWaiter)
{
    Simulator sim(kSimPort);
    sim.Reset();
    sim.Behave("silence");
    LinkportApi lib = LoadLinkport();
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    std::atomic<bool> sent{false};
    TestThread waiter([&] {
        unsigned char reply[100];
        sent = lib.senddata(kFrame.data(), 6) == 1;
        if (sent)
            lib.WaitRecvdata(reply, 100, 5);
    });
    for (int waited = 0; !sent && waited < 2000; ++waited)
        Sleep(1);
    Sleep(30);  // inside WaitRecvdata
    ASSERT_TRUE(sent && waiter.Terminate());
    ASSERT_TRUE(waiter.Join(1000));
    EXPECT_GT(sim.Holders(), 0) << "the port was open until the library was unloaded";
    ASSERT_TRUE(FreeLibrary(lib.module));
    EXPECT_EQ(sim.Holders(), 0);
}

// The library's test build on a stand-in port whose driver never completes a cancelled
// wait: ClosePort still returns within its bound, the port opens again, and unloading the
// library leaves the record and event the driver holds as they were (it completes them
// afterwards, into storage that is still there).
TEST(UnloadTest, AWaitTheDriverKeepsOutlivesTheLibrary)
{
    SetEnvironmentVariableA("QUILLANE_STANDIN", "COM4=never-cancel");
    const std::string path = WindowsPathFromEnv("QUILLANE_LINKPORT_STANDIN");
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_NE(module, nullptr) << path;
    const auto bind = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    const auto OpenPort = reinterpret_cast<decltype(&::OpenPort)>(bind("OpenPort"));
    const auto ClosePort = reinterpret_cast<decltype(&::ClosePort)>(bind("ClosePort"));
    const auto senddata = reinterpret_cast<decltype(&::senddata)>(bind("senddata"));
    const auto WaitRecvdata = reinterpret_cast<decltype(&::WaitRecvdata)>(bind("WaitRecvdata"));
    const auto Kept = reinterpret_cast<decltype(&::StandInKept)>(bind("StandInKept"));
    ASSERT_TRUE(OpenPort && ClosePort && senddata && WaitRecvdata && Kept);
    KeptOperations* kept = Kept();

    ASSERT_EQ(OpenPort(4, 9600, 'N', 8, 1), 1);
    std::atomic<int> result{-1};
    TestThread waiter([&] {
        unsigned char reply[100];
        result = senddata(kFrame.data(), 6) == 1 ? WaitRecvdata(reply, 100, 5) : -2;
    });
    for (int waited = 0; kept->count == 0 && waited < 2000; ++waited)
        Sleep(1);
    ASSERT_EQ(kept->count, 1);
    const double start = NowMs();
    EXPECT_EQ(ClosePort(), 1);
    EXPECT_LT(NowMs() - start, 1000.0);
    ASSERT_TRUE(waiter.Join(1000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(OpenPort(4, 9600, 'N', 8, 1), 1) << "the port opens again";
    ASSERT_TRUE(FreeLibrary(module));

    int intact = 0, open = 0;
    CompleteKept(*kept, &intact, &open);
    EXPECT_EQ(intact, 1) << "the record is never freed";
    EXPECT_EQ(open, 1) << "its event is never closed";
}

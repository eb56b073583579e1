// Unloading the library closes the port that is open, also when a caller terminated a
// thread blocked in WaitRecvdata just before (a process of its own: the library is loaded
// once per process, and Wine 8 can crash when it is loaded again after a terminated
// thread). A driver that keeps a cancelled wait: channel_seam_test.
#include <gtest/gtest.h>

#include <atomic>

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

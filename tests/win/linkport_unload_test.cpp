// Unloading the library with the port open closes the port (a process of its own: the
// library is loaded once per process).
#include <gtest/gtest.h>

#include "TestEnv.h"

TEST(UnloadTest, UnloadingTheLibraryClosesAnOpenPort)
{
    Simulator sim(kSimPort);
    sim.Reset();
    LinkportApi lib = LoadLinkport();
    ASSERT_NE(lib.module, nullptr);
    ASSERT_EQ(lib.OpenPort(kSimPort, 9600, 'N', 8, 1), 1);
    ASSERT_GT(sim.Holders(), 0);
    ASSERT_TRUE(FreeLibrary(lib.module));
    EXPECT_EQ(sim.Holders(), 0);
}

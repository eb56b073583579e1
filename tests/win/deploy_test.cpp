// Deployment of the port library from the program's resources into the temporary folder
// (the test program carries the library as the program does). ctest runs each case in a
// process of its own: a process loads the library once (Wine 8 can crash when it is loaded
// again after a terminated thread).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PortLibrary.h"
#include "TestEnv.h"

namespace {

std::string FileBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);  // MinGW's wide-path overload
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DeployTest, WritesTheLibraryOverAnOldFileBindsItAndRemovesItAtExit)
{
    const std::wstring path = UseTempFolder("deploy") + L"\\vx.dll";
    std::ofstream(path.c_str(), std::ios::binary) << std::string(2 * 1024 * 1024, 'x');  // longer than the library
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(self, MAKEINTRESOURCEW(132), L"DLL");
    ASSERT_NE(resource, nullptr);
    const std::string image(static_cast<const char*>(LockResource(LoadResource(self, resource))),
                            SizeofResource(self, resource));

    CPortLibrary library;
    ASSERT_TRUE(library.Deploy(self)) << testing::PrintToString(library.FailureMessage());
    EXPECT_EQ(library.LibraryPath(), path);
    EXPECT_TRUE(FileBytes(path) == image) << "the file holds the library, byte for byte, and nothing more";
    const PortEntryPoints& lib = library.Entries();
    ASSERT_TRUE(lib.Complete());
    EXPECT_EQ(lib.ClosePort(), 1) << "the bound entries call the library";

    // Unloading it closes the port left open, also after a caller's thread was terminated
    // inside WaitRecvdata.
    Simulator sim(kSimPort);
    sim.Reset();
    sim.Behave("silence");
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
    EXPECT_GT(sim.Holders(), 0) << "the port is open until the library is unloaded";
    library.Remove();
    EXPECT_EQ(sim.Holders(), 0);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "the file is gone after exit";
    EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the library is unloaded";
}

const struct FailureCase {
    const char* name;
    const char* module;  // the environment variable naming the module that carries (or lacks) it
    const wchar_t* told;
    bool someBound;  // the entries that exist are bound
} kFailures[] = {
    {"NoLibraryInTheProgram", "QUILLANE_LINKPORT", L"the program file does not contain it", false},
    {"ALibraryThatLacksAnEntry", "QUILLANE_PARTIAL_RES", L"its function ClosePort is missing", true},
};

class DeployFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DeployFailureTest, IsToldAndLeavesTheMissingEntriesUnboundAndNoFileBehind)
{
    const FailureCase& c = GetParam();
    const std::wstring path = UseTempFolder(std::string("deploy-") + c.name) + L"\\vx.dll";
    DeleteFileW(path.c_str());
    HMODULE module = LoadLibraryExA(WindowsPathFromEnv(c.module).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    CPortLibrary library;
    EXPECT_FALSE(library.Deploy(module));
    EXPECT_NE(library.FailureMessage().find(c.told), std::wstring::npos)
        << testing::PrintToString(library.FailureMessage());
    EXPECT_FALSE(library.Entries().Complete());
    EXPECT_EQ(library.Entries().ClosePort, nullptr);
    EXPECT_EQ(library.Entries().TestPort != nullptr, c.someBound);
    library.Remove();
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "no library file is left behind";
    FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(DeployFailure, DeployFailureTest, ::testing::ValuesIn(kFailures), kCaseName);

TEST(LibraryPathTest, ABackslashIsAddedOnlyWhenTheFolderLacksOne)
{
    const struct {
        const wchar_t* folder;
        const wchar_t* library;
    } rows[] = {
        {L"C:\\users\\x\\Temp\\", L"C:\\users\\x\\Temp\\vx.dll"},
        {L"C:\\users\\x\\Temp", L"C:\\users\\x\\Temp\\vx.dll"},
        {L"C:\\", L"C:\\vx.dll"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CPortLibrary::FormLibraryPath(row.folder), row.library) << testing::PrintToString(row.folder);
}

}  // namespace

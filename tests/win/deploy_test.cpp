// Deployment of the port library from the program's resources into the temporary folder.
// ctest runs each case in a process of its own: a process loads the library once.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PortLibrary.h"
#include "TestEnv.h"

namespace {

std::wstring Widen(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

std::vector<char> ReadFileBytes(const std::wstring& path)
{
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<char> ResourceBytes(HMODULE module)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(132), L"DLL");
    if (resource == nullptr)
        return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return std::vector<char>(data, data + SizeofResource(module, resource));
}

class DeployTest : public ::testing::Test {
protected:
    // A temporary folder of the test's own, named (UTF-8) below the run's folder.
    void UseTempFolder(const std::string& name)
    {
        folder = ::UseTempFolder(name);
        expectedPath = folder + L"\\vx.dll";
        DeleteFileW(expectedPath.c_str());
    }

    CPortLibrary library;
    std::wstring folder;
    std::wstring expectedPath;
};

TEST_F(DeployTest, WritesLoadsAndBindsTheLibraryAndRemovesItAtExit)
{
    UseTempFolder("deploy-plain");
    ASSERT_TRUE(library.Deploy(GetModuleHandleW(nullptr))) << std::string(library.FailureMessage().begin(),
                                                                          library.FailureMessage().end());
    EXPECT_EQ(library.LibraryPath(), expectedPath);
    EXPECT_EQ(ReadFileBytes(expectedPath), ResourceBytes(GetModuleHandleW(nullptr)));
    ASSERT_TRUE(library.Entries().Complete());
    EXPECT_EQ(library.Entries().ClosePort(), 1) << "the bound entries call the library";
    EXPECT_NE(GetModuleHandleW(expectedPath.c_str()), nullptr);

    library.Remove();
    EXPECT_FALSE(Exists(expectedPath)) << "the file is gone after exit";
    EXPECT_EQ(GetModuleHandleW(expectedPath.c_str()), nullptr) << "the library is unloaded";
}

TEST_F(DeployTest, OverwritesAFileLeftByAnEarlierRun)
{
    UseTempFolder("deploy-overwrite");
    {
        std::ofstream old(std::string(expectedPath.begin(), expectedPath.end()), std::ios::binary);
        old << std::string(2 * 1024 * 1024, 'x');  // longer than the library
    }
    ASSERT_TRUE(library.Deploy(GetModuleHandleW(nullptr)));
    EXPECT_EQ(ReadFileBytes(expectedPath), ResourceBytes(GetModuleHandleW(nullptr)));
    library.Remove();
}

TEST_F(DeployTest, WorksInAFolderTheAnsiCodePageCannotSpell)
{
    UseTempFolder("\xE4\xB8\xB4\xE6\x97\xB6\xE6\x96\x87\xE4\xBB\xB6");  // 临时文件
    ASSERT_TRUE(library.Deploy(GetModuleHandleW(nullptr)));
    EXPECT_TRUE(Exists(expectedPath));
    EXPECT_TRUE(library.Entries().Complete());
    library.Remove();
    EXPECT_FALSE(Exists(expectedPath));
}

TEST_F(DeployTest, ATemporaryFolderPathTooLongFailsCleanly)
{
    std::wstring longFolder = Widen(WindowsPathFromEnv("QUILLANE_RUN_DIR")) + L"\\";
    longFolder += std::wstring(300 - longFolder.size(), L'd');
    SetEnvironmentVariableW(L"TMP", longFolder.c_str());
    SetEnvironmentVariableW(L"TEMP", longFolder.c_str());
    EXPECT_FALSE(library.Deploy(GetModuleHandleW(nullptr)));
    EXPECT_NE(library.FailureMessage().find(L"too long"), std::wstring::npos);
    EXPECT_FALSE(library.Entries().Complete());
    library.Remove();
}

TEST_F(DeployTest, AMissingResourceIsReportedAndNothingIsBound)
{
    UseTempFolder("deploy-noresource");
    HMODULE noResource = LoadLibraryExW(Widen(WindowsPathFromEnv("QUILLANE_LINKPORT")).c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(noResource, nullptr);
    EXPECT_FALSE(library.Deploy(noResource));
    EXPECT_NE(library.FailureMessage().find(L"does not contain"), std::wstring::npos);
    EXPECT_EQ(library.Entries().TestPort, nullptr);
    EXPECT_EQ(library.Entries().ClosePort, nullptr);
    EXPECT_FALSE(Exists(expectedPath));
    library.Remove();
    FreeLibrary(noResource);
}

TEST_F(DeployTest, AMissingEntryIsReportedByName)
{
    UseTempFolder("deploy-partial");
    HMODULE partial = LoadLibraryExW(Widen(WindowsPathFromEnv("QUILLANE_PARTIAL_RES")).c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(partial, nullptr);
    EXPECT_FALSE(library.Deploy(partial));
    EXPECT_NE(library.FailureMessage().find(L"ClosePort"), std::wstring::npos);
    EXPECT_FALSE(library.Entries().Complete());
    EXPECT_NE(library.Entries().TestPort, nullptr) << "the entries that exist are bound";
    library.Remove();
    EXPECT_FALSE(Exists(expectedPath)) << "a loaded library's file is removed at exit";
    FreeLibrary(partial);
}

TEST(LibraryPathTest, ABackslashIsAddedOnlyWhenMissing)
{
    EXPECT_EQ(CPortLibrary::FormLibraryPath(L"C:\\users\\x\\Temp\\"), L"C:\\users\\x\\Temp\\vx.dll");
    EXPECT_EQ(CPortLibrary::FormLibraryPath(L"C:\\users\\x\\Temp"), L"C:\\users\\x\\Temp\\vx.dll");
    EXPECT_EQ(CPortLibrary::FormLibraryPath(L"C:\\"), L"C:\\vx.dll");
}

}  // namespace

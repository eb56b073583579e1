// vr7's search for the programs that hold a port, through its seam where Wine cannot show
// what Windows may do: the extended handle list refused or asking for more room, processes
// that cannot be opened, name queries that never return; and handle names recorded on
// Windows. This process holds COM5 by its device name, and the search looks at it too.
#include <gtest/gtest.h>

#include <winternl.h>

#include <atomic>
#include <tuple>

#include "PortHolders.h"
#include "Report.h"
#include "TestEnv.h"
#include "WinText.h"

namespace {

enum class Fake { None, No64, Grow, Refuse, BlockThree, BlockAll };
Fake g_fake = Fake::None;
std::wstring g_device;
std::vector<ULONG> g_classes;                // of the handle lists asked for
std::atomic<int> g_blocks{0}, g_blocked{0};  // name queries that blocked, and that still block
HANDLE const g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);

LONG NTAPI QuerySystem(ULONG infoClass, PVOID buffer, ULONG size, PULONG needed)
{
    g_classes.push_back(infoClass);
    if (g_fake == Fake::No64 && infoClass == 64)
        return static_cast<LONG>(0xC0000003);  // STATUS_INVALID_INFO_CLASS
    if (g_fake == Fake::Grow && size < (1u << 20)) {
        *needed = 1u << 20;
        return static_cast<LONG>(0xC0000004);  // STATUS_INFO_LENGTH_MISMATCH
    }
    return SystemHolderApi().querySystemInformation(infoClass, buffer, size, needed);
}

// Blocks as on a synchronous pipe with a read pending: every query, or three of other handles.
LONG NTAPI QueryObject(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG size, PULONG needed)
{
    const LONG status = SystemHolderApi().queryObject(handle, infoClass, buffer, size, needed);
    const auto* name = static_cast<const UNICODE_STRING*>(buffer);
    const bool port = status >= 0 && IsDeviceName(std::wstring(name->Buffer, name->Length / 2), g_device);
    if (g_fake == Fake::BlockAll || (g_fake == Fake::BlockThree && !port && g_blocks < 3)) {
        ++g_blocks;
        ++g_blocked;
        WaitForSingleObject(g_release, 60000);
        --g_blocked;
    }
    return status;
}

HANDLE WINAPI Open(DWORD access, BOOL inherit, DWORD pid)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return g_fake == Fake::Refuse ? nullptr : OpenProcess(access, inherit, pid);
}

const HolderApi kApi = {QuerySystem, QueryObject, Open, 0};  // no process skipped

TEST(HolderTest, TheSearchNamesTheHolderOrSaysWhyNotWithinItsBound)
{
    wchar_t device[256] = {};
    ASSERT_NE(QueryDosDeviceW(L"COM5", device, 256), 0u);
    g_device = device;
    const HANDLE held = CreateFileW((L"\\\\?\\GLOBALROOT" + g_device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string me = "port_holders_test.exe " + std::to_string(GetCurrentProcessId());
    const double limit = static_cast<double>(kNameQueryLimit.count()), bound = static_cast<double>(kHolderSearchBound.count());
    const struct {
        const char* name;
        Fake fake;
        std::vector<ULONG> classes;
        bool named;
        double stopAfterMs, leastMs, mostMs;
    } rows[] = {
        {"the system's own calls", Fake::None, {64}, true, 0, 0, bound},
        {"the extended list refused", Fake::No64, {64, 16}, true, 0, 0, bound},
        {"a list that needs more room", Fake::Grow, {64, 64}, true, 0, 0, bound},
        {"no process can be opened", Fake::Refuse, {64}, false, 0, 0, bound},
        {"three name queries never return", Fake::BlockThree, {64}, true, 0, 3 * limit, bound + 1000},
        {"no name query returns", Fake::BlockAll, {64}, false, 0, bound - 100, bound + 1000},
        {"Ctrl+C while no name query returns", Fake::BlockAll, {64}, false, 300, 300, 300 + limit + 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        g_fake = row.fake;
        g_classes.clear();
        g_blocks = 0;
        StopSignal stop;
        TestThread ctrlC([&] {
            if (row.stopAfterMs > 0 && !stop.WaitFor(std::chrono::milliseconds(static_cast<int>(row.stopAfterMs))))
                stop.Set();
        });
        const double start = NowMs();
        const HolderSearch found = FindHolders(g_device, &stop, kApi);
        const double took = NowMs() - start;
        stop.Set();
        EXPECT_TRUE(took >= row.leastMs && took < row.mostMs) << took << " ms";
        EXPECT_EQ(g_blocked, g_blocks.load()) << "a query given up was waited for";
        EXPECT_EQ(g_classes, row.classes);
        std::string named;
        for (const Holder& holder : found.holders)
            named += holder.name + " " + std::to_string(holder.pid);
        EXPECT_EQ(named, row.named ? me : "");
        EXPECT_EQ(found.refused > 0, row.fake == Fake::Refuse) << "Wine refuses no process";
        SetEvent(g_release);
        for (int waited = 0; g_blocked > 0 && waited < 2000; waited += 10)
            Sleep(10);
        ResetEvent(g_release);
    }
    const OpenError refused{"busy", 5, "Access denied.", {}, true, ""};
    PortInfo port;
    port.name = "COM5";
    EXPECT_EQ(OpenErrorText(port, refused),
              "COM5 is held by another program that vr7 cannot see (run vr7 as administrator to name it).");
    CloseHandle(held);
}

TEST(HolderTest, AHandleIsThePortsWhenItsNameIsTheDevicesWhateverTheCase)
{
    const std::wstring serial4 = L"\\Device\\Serial4", vcp0 = L"\\Device\\VCP0";
    for (const auto& [handle, device, same] : std::vector<std::tuple<std::wstring, std::wstring, bool>>{
             {serial4, serial4, true}, {L"\\DEVICE\\serial4", serial4, true}, {vcp0, vcp0, true},
             {L"\\Device\\Serial40", serial4, false}, {serial4 + L"\\x", serial4, false},
             {vcp0, L"\\Device\\Serial0", false}, {L"\\??\\Z:\\dev\\pts\\0", serial4, false}, {L"", L"", false}})
        EXPECT_EQ(IsDeviceName(handle, device), same) << Utf8(handle) << " / " << Utf8(device);
}

}  // namespace

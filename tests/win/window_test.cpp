// The whole program from outside, as a user drives it: started on the virtual display,
// its window read and clicked by the automation helpers, a simulated digitizer on the
// far end of a virtual COM port. EnduranceTest runs it many times over (ctest runs it
// apart, as endurance_test).
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Automation.h"
#include "Catalogue.h"
#include "TestEnv.h"

namespace {

using namespace automation;

const std::wstring kCaption = L"Quillane Software Setup Assistant  V3.2";
const std::wstring kOk = L"Status:OK!", kError = L"Status:Error!";
constexpr int kPortList = 1000, kTest = 1001, kSoftwareList = 1002, kConfigure = 1003;
constexpr int kInstructions = 1004, kStatus = 1005, kClock = 1006;
constexpr int kLectraRow = 33, kGeberRow = 9;  // Geber's instructions end with notes in Chinese
constexpr unsigned kRunPort = 3;
const wchar_t kStartInstructions[] =
    L"Operating Instructions:\r\n"
    L"1\x3001Please connect the serial cable,and then power;\r\n"
    L"2\x3001Please select the serial port,CAD software,and then click OK;";
const wchar_t kNotPrepared[] = L"quillane VR7|The serial port library could not be prepared: ";

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        ListPorts({"COM3", "COM5"});
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        UseTempFolder("window-" + name);
    }
    void TearDown() override { app.Terminate(); }

    void ListPorts(const std::vector<std::string>& names)
    {
        ports.Clear();
        for (size_t i = 0; i < names.size(); ++i)
            ports.SetString("\\Device\\Serial" + std::to_string(i), names[i]);
    }
    void UseTempFolder(const std::string& name)
    {
        const std::wstring folder = ::UseTempFolder(name);
        CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);  // a path longer than MAX_PATH needs the prefix
        libraryFile = L"\\\\?\\" + folder + L"\\vx.dll";
    }
    bool LibraryFileExists() const { return GetFileAttributesW(libraryFile.c_str()) != INVALID_FILE_ATTRIBUTES; }

    void Start()  // the program inherits the temporary folder from this process
    {
        app = Process::Start(Widen(WindowsPathFromEnv("QUILLANE_APP")));
        ASSERT_TRUE(app.Started());
        window = WaitForDialog(kCaption, 15000, app.Id());
        ASSERT_NE(window, nullptr) << "the main window did not appear";
    }
    HWND Control(int id) const { return FindControl(window, id); }
    std::wstring Text(int id) const { return ReadText(Control(id)).value_or(L"<no answer>"); }
    std::vector<std::wstring> Rows(int id) const { return ReadComboRows(Control(id)).value_or(std::vector<std::wstring>{}); }

    // Waits for a message box of the program; returns "caption|text" and closes it.
    std::wstring TakeMessageBox(DWORD timeoutMs = 5000)
    {
        HWND box = WaitForMessageBox(app.Id(), timeoutMs, window);
        if (box == nullptr)
            return L"<none>";
        EXPECT_EQ(GetWindow(box, GW_OWNER), window) << "the box belongs to the main window";
        const std::wstring seen = Caption(box) + L"|" + MessageBoxText(box);
        PressOk(box);
        for (int i = 0; i < 100 && IsWindow(box); ++i)
            Sleep(20);
        return seen;
    }

    // Clicks OK and watches the status line (readable while the run holds the window's
    // thread) until the run has ended with status, or the time is up.
    struct Watched {
        std::vector<std::wstring> statuses;  // each text seen, in order
        bool okDisabled = false;             // OK was seen disabled
    };
    Watched Configure(const std::wstring& status, DWORD timeoutMs)
    {
        Watched seen;
        const int replies = sim.Replies();
        EXPECT_TRUE(ClickButton(Control(kConfigure)));
        for (const double end = NowMs() + timeoutMs; NowMs() < end; Sleep(20)) {
            const std::wstring now = Text(kStatus);
            if (seen.statuses.empty() || seen.statuses.back() != now)
                seen.statuses.push_back(now);
            seen.okDisabled = seen.okDisabled || !IsEnabled(Control(kConfigure));
            const bool ran = seen.okDisabled || seen.statuses.size() > 1 || sim.Replies() > replies;
            if (ran && now == status && IsEnabled(Control(kConfigure)))
                break;
        }
        return seen;
    }

    void ExitWithEscape()
    {
        ASSERT_TRUE(PressKey(window, VK_ESCAPE));
        ASSERT_TRUE(app.WaitForExit(10000)) << "Escape ends the program";
    }

    Simulator sim{kRunPort};
    SerialCommOverride ports;
    std::wstring libraryFile;
    Process app;
    HWND window = nullptr;
};

TEST_F(WindowTest, StartsWithTheSoftwareThePortsTheInstructionsAndTheClockAndIgnoresEnter)
{
    Start();
    const std::vector<std::wstring> labels = Rows(kSoftwareList);
    ASSERT_EQ(labels.size(), 50u);
    for (int row = 0; row < 50; ++row)
        EXPECT_EQ(labels[static_cast<size_t>(row)], Widen(CatalogueLabel(row))) << "row " << row;
    EXPECT_EQ(labels[16], L"\x5929\x8679\x7EE3\x82B1");  // 天虹绣花
    EXPECT_EQ(ReadComboSelection(Control(kSoftwareList)), 0);
    EXPECT_EQ(Rows(kPortList), (std::vector<std::wstring>{L"COM3", L"COM5"}));
    EXPECT_EQ(ReadComboSelection(Control(kPortList)), 0);
    for (int id : {kPortList, kSoftwareList, kInstructions, kStatus, kClock})
        EXPECT_TRUE(IsWindowVisible(Control(id))) << "control " << id;
    EXPECT_EQ(Text(kInstructions), kStartInstructions);
    EXPECT_TRUE(LibraryFileExists()) << "the library is deployed into the temporary folder";

    ASSERT_TRUE(PressKey(window, VK_RETURN));
    Sleep(1300);  // time for Enter to act, and for the clock's first tick
    EXPECT_FALSE(app.WaitForExit(0)) << "Enter does not close the window";
    EXPECT_TRUE(sim.Frames().empty()) << "Enter does not start a run";
    const std::string clock = Narrow(Text(kClock));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    EXPECT_EQ(std::sscanf(clock.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6) << clock;
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(y, now.wYear) << clock;
    EXPECT_EQ(clock.find("-0"), std::string::npos) << "no leading zeros: " << clock;

    ExitWithEscape();
    EXPECT_FALSE(LibraryFileExists()) << "the library file is gone after exit";
}

TEST_F(WindowTest, AnErrorIsShownInRedUntilASuccessfulRunShowsOkInBlack)
{
    sim.Behave("silence");
    Start();
    ASSERT_TRUE(SelectComboRow(Control(kSoftwareList), kGeberRow));
    const Watched failed = Configure(kError, 15000);
    EXPECT_EQ(failed.statuses.back(), kError);
    EXPECT_TRUE(failed.okDisabled) << "OK is disabled during the run";
    EXPECT_TRUE(std::any_of(failed.statuses.begin(), failed.statuses.end(),
                            [](const std::wstring& s) { return s.rfind(L"Please wait ", 0) == 0; }))
        << "the count shows while the run holds the window";
    EXPECT_EQ(ShownTextColour(Control(kStatus), TextColour::Red), TextColour::Red);
    EXPECT_EQ(Text(kInstructions), Widen(LookUpCatalogue(kGeberRow).instructions));
    EXPECT_EQ(sim.Frames().size(), 5u);

    sim.Reset();
    ASSERT_TRUE(SelectComboRow(Control(kSoftwareList), kLectraRow));
    EXPECT_EQ(Configure(kOk, 10000).statuses.back(), kOk);
    EXPECT_EQ(ShownTextColour(Control(kStatus), TextColour::Dark), TextColour::Dark);
    const std::vector<FrameRecord> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(HexText(frames[0].bytes.data(), frames[0].bytes.size()), "DB 01 0E 71 80 DD");
    EXPECT_EQ(sim.Holders(), 0) << "the port is released after the run";
}

TEST_F(WindowTest, WithoutPortsTheButtonsSaySoThenTestFindsPortsAddedAndTellsWhetherOneOpensLeavingNoneHeld)
{
    ListPorts({});
    Start();
    EXPECT_EQ(Rows(kPortList), std::vector<std::wstring>{});
    ASSERT_TRUE(ClickButton(Control(kConfigure)));
    EXPECT_EQ(TakeMessageBox(), L"quillane VR7|Please select the communication port!");
    ASSERT_TRUE(ClickButton(Control(kTest)));
    EXPECT_EQ(TakeMessageBox(), L"quillane VR7|Serial port not exists!");

    ListPorts({"COM3", "COM" + std::to_string(kMissingPort)});
    ASSERT_TRUE(ClickButton(Control(kTest)));
    EXPECT_EQ(TakeMessageBox(1000), L"<none>") << "the list is filled, no test yet";
    EXPECT_EQ(Rows(kPortList), (std::vector<std::wstring>{L"COM3", L"COM" + std::to_wstring(kMissingPort)}));
    EXPECT_EQ(ReadComboSelection(Control(kPortList)), 0);

    ASSERT_TRUE(ClickButton(Control(kTest)));
    EXPECT_EQ(TakeMessageBox(), L"Information|OK");
    EXPECT_EQ(sim.Holders(), 0) << "the port is closed after the test";
    EXPECT_TRUE(sim.Frames().empty()) << "a test exchanges no data";

    const std::optional<unsigned> handles = CountHandles(app.Id());
    ASSERT_TRUE(SelectComboRow(Control(kPortList), 1));
    ASSERT_TRUE(ClickButton(Control(kTest)));
    EXPECT_EQ(TakeMessageBox(),
              L"quillane VR7|Failed to open serial port! Please check the serial port is already open");
    EXPECT_EQ(CountHandles(app.Id()), handles) << "the device that failed the test is not kept open";
}

TEST_F(WindowTest, TheSystemMenuOpensTheAboutBox)
{
    Start();
    ASSERT_TRUE(PostSysCommand(window, 0x0010));
    HWND about = WaitForDialog(L"\x5173\x4E8E quillane VR7", 5000, app.Id());  // 关于
    ASSERT_NE(about, nullptr);
    HWND ok = FindControl(about, IDOK);
    EXPECT_EQ(ReadText(ok), L"\x786E\x5B9A");  // 确定
    ASSERT_TRUE(ClickButton(ok));
    for (int i = 0; i < 100 && IsWindow(about); ++i)
        Sleep(20);
    EXPECT_FALSE(IsWindow(about));
}

TEST_F(WindowTest, TwoCopiesAtOnceBothWorkAndClosingOneLeavesTheOther)
{
    Start();
    Process first = std::move(app);
    struct Ender {
        Process& process;
        ~Ender() { process.Terminate(); }
    } endFirst{first};
    HWND firstWindow = window;
    Start();  // the second copy writes the same library file
    ASSERT_NE(window, firstWindow);

    // The second copy either works (it configures COM5) or tells why it cannot: on
    // Windows the library file the first copy has loaded cannot be rewritten.
    const std::wstring box = TakeMessageBox(2000);
    if (box != L"<none>") {
        EXPECT_EQ(box.rfind(kNotPrepared, 0), 0u) << Narrow(box);
        EXPECT_FALSE(IsEnabled(Control(kConfigure)));
    } else {
        Simulator other(kSimPort);
        other.Reset();
        ASSERT_TRUE(SelectComboRow(Control(kPortList), 1));
        EXPECT_EQ(Configure(kOk, 10000).statuses.back(), kOk);
    }
    ExitWithEscape();

    std::swap(app, first);
    window = firstWindow;
    EXPECT_EQ(Configure(kOk, 10000).statuses.back(), kOk) << "the first copy still works";
    EXPECT_TRUE(LibraryFileExists()) << "the first copy still has it loaded";
    ExitWithEscape();
    EXPECT_FALSE(LibraryFileExists()) << "the last copy to close deletes it";
}

const struct TempFolderCase {
    const char* name;
    const char* folder;     // below the run's folder, UTF-8; or
    size_t pathLength;      // a folder path of this many characters
    bool heldFile;          // another program holds vx.dll open
    const wchar_t* reason;  // why deployment fails; null: it works; "": either
} kTempFolders[] = {
    {"ANameTheAnsiCodePageCannotSpell", "\xE6\x95\xB0\xE5\xAD\x97\xE5\x8C\x96\xE4\xBB\xAA", 0, false, nullptr},
    {"ALibraryFileHeldByAnotherProgram", "window-held", 0, true, L"could not be written"},
    {"APathTooLongForTheProgramsBuffer", nullptr, 300, false, L"too long"},
    // Fits the buffer with its backslash; the library's path is then over 260 characters:
    // it deploys (as Wine allows) or is refused with the message, never overflows.
    {"APathAtTheLengthLimit", nullptr, 257, false, L""},
};

class TempFolderTest : public WindowTest, public ::testing::WithParamInterface<TempFolderCase> {};

TEST_P(TempFolderTest, TheLibraryIsDeployedOrTheFailureIsToldAndTestAndOkAreDisabled)
{
    const TempFolderCase& c = GetParam();
    if (c.folder != nullptr)
        UseTempFolder(c.folder);
    else  // the run's folder, a backslash, then p's
        UseTempFolder(std::string(c.pathLength - Widen(WindowsPathFromEnv("QUILLANE_RUN_DIR")).size() - 1, 'p'));
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.heldFile) {  // as on Windows when another copy has it loaded
        held = CreateFileW(libraryFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    Start();
    const std::wstring box = TakeMessageBox(2000);
    if (c.reason == nullptr || (*c.reason == L'\0' && box == L"<none>")) {
        EXPECT_EQ(box, L"<none>");
        EXPECT_EQ(Rows(kPortList), (std::vector<std::wstring>{L"COM3", L"COM5"}));
        EXPECT_TRUE(LibraryFileExists());
        ExitWithEscape();
        EXPECT_FALSE(LibraryFileExists()) << "the library file is gone after exit";
    } else {
        EXPECT_EQ(box.rfind(kNotPrepared, 0), 0u) << Narrow(box);
        EXPECT_NE(box.find(c.reason), std::wstring::npos) << Narrow(box);
        EXPECT_FALSE(IsEnabled(Control(kTest)));
        EXPECT_FALSE(IsEnabled(Control(kConfigure)));
        EXPECT_EQ(Rows(kSoftwareList).size(), 50u) << "the software list is filled all the same";
        EXPECT_EQ(Text(kInstructions), L"");
        ExitWithEscape();
    }
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
}

INSTANTIATE_TEST_SUITE_P(TempFolders, TempFolderTest, ::testing::ValuesIn(kTempFolders), kCaseName);

using EnduranceTest = WindowTest;

TEST_F(EnduranceTest, HandlesThreadsAndMemoryStayFlatOverManyRuns)
{
    struct Usage {
        unsigned handles, threads;
        SIZE_T memory;
    };
    const auto measure = [this](const char* when) {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof memory;
        K32GetProcessMemoryInfo(app.Handle(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
        // Committed private memory: Wine reports PrivateUsage as 0.
        const Usage u{CountHandles(app.Id()).value_or(0), CountThreads(app.Id()).value_or(0), memory.PagefileUsage};
        std::printf("%-28s handles %4u  threads %2u  private memory %6zu KiB\n", when, u.handles, u.threads,
                    u.memory / 1024);
        return u;
    };
    sim.Behave("silence");
    Start();
    ASSERT_EQ(Configure(kError, 15000).statuses.back(), kError);
    const Usage first = measure("after 1 run without a reply");
    for (int i = 1; i < 10; ++i)
        ASSERT_EQ(Configure(kError, 15000).statuses.back(), kError) << "run " << i;
    const Usage ten = measure("after 10 runs without reply");
    EXPECT_EQ(sim.Frames().size(), 50u);

    sim.Reset();
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(Configure(kOk, 5000).statuses.back(), kOk) << "successful run " << i;
    EXPECT_EQ(sim.Replies(), 200);
    const Usage all = measure("after 200 successful runs");

    EXPECT_GT(first.handles, 0u) << "the counts work";
    EXPECT_GT(first.memory, 0u);
    EXPECT_LE(ten.handles, first.handles + 2);
    EXPECT_LE(all.handles, first.handles + 2);
    EXPECT_LE(all.threads, first.threads);
    EXPECT_LT(all.memory, first.memory + 1024 * 1024);
}

}  // namespace

// The whole program from outside, as a user drives it: started on the virtual display,
// its window read and clicked by the automation helpers, a simulated digitizer on the
// far end of a virtual COM port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Automation.h"
#include "TestEnv.h"

namespace {

using automation::Process;
using automation::Widen;

const std::wstring kCaption = L"Quillane Software Setup Assistant  V3.2";
constexpr int kPortList = 1000, kTest = 1001, kSoftwareList = 1002, kConfigure = 1003;
constexpr int kInstructions = 1004, kStatus = 1005, kClock = 1006;
constexpr DWORD kWindowWaitMs = 15000;
constexpr unsigned kRunPort = 3;

const wchar_t kStartInstructions[] =
    L"Operating Instructions:\r\n"
    L"1\x3001Please connect the serial cable,and then power;\r\n"
    L"2\x3001Please select the serial port,CAD software,and then click OK;";

std::wstring Text(HWND control)
{
    return automation::ReadText(control).value_or(L"<no answer>");
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Reset();
        ports.Clear();
        ports.SetString("\\Device\\Serial2", "COM" + std::to_string(kRunPort));
        ports.SetString("\\Device\\Serial4", "COM" + std::to_string(kSimPort));
        UseTempFolder("window-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void TearDown() override { app.Terminate(); }

    // The program inherits the temporary folder from this process.
    void UseTempFolder(const std::string& name)
    {
        tempFolder = ::UseTempFolder(name);
        libraryFile = tempFolder + L"\\vx.dll";
    }

    // Starts the program and waits for its window.
    void Start()
    {
        app = Process::Start(Widen(WindowsPathFromEnv("QUILLANE_APP")));
        ASSERT_TRUE(app.Started());
        window = automation::WaitForDialog(kCaption, kWindowWaitMs, app.Id());
        ASSERT_NE(window, nullptr) << "the main window did not appear";
    }
    HWND Control(int id) const { return automation::FindControl(window, id); }

    // Waits for a message box of the program; returns its text and closes it.
    struct Box {
        std::wstring caption, text;
    };
    Box TakeMessageBox(DWORD timeoutMs = 5000)
    {
        HWND box = automation::WaitForMessageBox(app.Id(), timeoutMs, window);
        if (box == nullptr)
            return {L"<none>", L"<none>"};
        Box result{automation::Caption(box), automation::MessageBoxText(box)};
        automation::PressOk(box);
        for (int i = 0; i < 100 && IsWindow(box); ++i)
            Sleep(20);
        return result;
    }

    // Polls the status line (readable while the run holds the window's thread) until it
    // shows text, or the time runs out; returns the texts seen on the way.
    std::vector<std::wstring> WatchStatusUntil(const std::wstring& text, DWORD timeoutMs)
    {
        std::vector<std::wstring> seen;
        const double end = NowMs() + timeoutMs;
        while (NowMs() < end) {
            const std::wstring now = Text(Control(kStatus));
            if (seen.empty() || seen.back() != now)
                seen.push_back(now);
            if (now == text && automation::IsEnabled(Control(kConfigure)))
                break;
            Sleep(20);
        }
        return seen;
    }

    void ExitWithEscape()
    {
        ASSERT_TRUE(automation::PressKey(window, VK_ESCAPE));
        ASSERT_TRUE(app.WaitForExit(10000)) << "Escape ends the program";
    }

    Simulator sim{kRunPort};
    SerialCommOverride ports;
    std::wstring tempFolder;
    std::wstring libraryFile;
    Process app;
    HWND window = nullptr;
};

TEST_F(WindowTest, StartsWithTheCatalogueThePortsAndTheInstructions)
{
    Start();
    const auto labels = automation::ReadComboRows(Control(kSoftwareList));
    ASSERT_TRUE(labels.has_value());
    ASSERT_EQ(labels->size(), 50u);
    EXPECT_EQ((*labels)[0], L"Quillane");
    EXPECT_EQ((*labels)[3], L"PAD(Calcomp DrawingBoard iii");
    EXPECT_EQ((*labels)[16], L"\x5929\x8679\x7EE3\x82B1");  // 天虹绣花
    EXPECT_EQ((*labels)[49], L"redtree cad");
    EXPECT_EQ(automation::ReadComboSelection(Control(kSoftwareList)), 0);

    EXPECT_EQ(automation::ReadComboRows(Control(kPortList)), (std::vector<std::wstring>{L"COM3", L"COM5"}));
    EXPECT_EQ(automation::ReadComboSelection(Control(kPortList)), 0);
    EXPECT_EQ(Text(Control(kInstructions)), kStartInstructions);
    EXPECT_TRUE(Exists(libraryFile)) << "the library is deployed into the temporary folder";

    Sleep(1300);  // the clock ticks once a second
    const std::string clock = automation::Narrow(Text(Control(kClock)));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    EXPECT_EQ(sscanf(clock.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6) << clock;
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(y, now.wYear);
    EXPECT_EQ(clock.find("-0"), std::string::npos) << "no leading zeros: " << clock;

    ExitWithEscape();
    EXPECT_FALSE(Exists(libraryFile)) << "the library file is gone after exit";
}

TEST_F(WindowTest, AConfigurationEndsWithOkAndReleasesThePort)
{
    Start();
    ASSERT_TRUE(automation::SelectComboRow(Control(kSoftwareList), 33));  // Lectra
    ASSERT_TRUE(automation::ClickButton(Control(kConfigure)));
    const std::vector<std::wstring> seen = WatchStatusUntil(L"Status:OK!", 10000);
    EXPECT_EQ(seen.back(), L"Status:OK!");
    EXPECT_TRUE(automation::IsEnabled(Control(kConfigure)));
    const std::vector<FrameRecord> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, Bytes({0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD}));
    EXPECT_EQ(sim.Holders(), 0);
    EXPECT_EQ(automation::ShownTextColour(Control(kStatus), automation::TextColour::Dark), automation::TextColour::Dark);
}

TEST_F(WindowTest, AnErrorIsShownInRedUntilTheNextRun)
{
    sim.Behave("silence");
    Start();
    ASSERT_TRUE(automation::SelectComboRow(Control(kSoftwareList), 9));  // GeBer
    ASSERT_TRUE(automation::ClickButton(Control(kConfigure)));
    Sleep(300);
    EXPECT_FALSE(automation::IsEnabled(Control(kConfigure))) << "OK is disabled during the run";
    const std::vector<std::wstring> seen = WatchStatusUntil(L"Status:Error!", 15000);
    EXPECT_EQ(seen.back(), L"Status:Error!");
    bool counted = false;
    for (const std::wstring& s : seen)
        counted = counted || s.rfind(L"Please wait ", 0) == 0;
    EXPECT_TRUE(counted) << "the count is shown while the run holds the window";
    EXPECT_EQ(sim.Frames().size(), 5u);
    EXPECT_EQ(automation::ShownTextColour(Control(kStatus), automation::TextColour::Red), automation::TextColour::Red);
    const std::wstring instructions = Text(Control(kInstructions));
    EXPECT_EQ(instructions.rfind(L"Please select: AccuMark\r\n", 0), 0u) << "row 9's text stays";

    sim.Behave("reply");
    ASSERT_TRUE(automation::ClickButton(Control(kConfigure)));
    EXPECT_EQ(WatchStatusUntil(L"Status:OK!", 10000).back(), L"Status:OK!");
    EXPECT_EQ(automation::ShownTextColour(Control(kStatus), automation::TextColour::Dark), automation::TextColour::Dark);
}

TEST_F(WindowTest, TestOnAFreePortSaysOkAndClosesThePort)
{
    Start();
    ASSERT_TRUE(automation::ClickButton(Control(kTest)));
    const Box box = TakeMessageBox();
    EXPECT_EQ(box.caption, L"Information");
    EXPECT_EQ(box.text, L"OK");
    EXPECT_EQ(sim.Holders(), 0) << "the port is closed after the test";
    EXPECT_TRUE(sim.Frames().empty()) << "a test exchanges no data";
}

TEST_F(WindowTest, TestOnAPortThatCannotBeOpenedShowsTheFailure)
{
    ports.Clear();
    ports.SetString("\\Device\\Serial8", "COM9");  // listed, but no such device
    Start();
    ASSERT_TRUE(automation::ClickButton(Control(kTest)));
    const Box box = TakeMessageBox();
    EXPECT_EQ(box.caption, L"quillane VR7");
    EXPECT_EQ(box.text, L"Failed to open serial port! Please check the serial port is already open");
}

TEST_F(WindowTest, WithoutPortsTheButtonsSaySoAndTestFindsAPortAddedLater)
{
    ports.Clear();
    Start();
    EXPECT_EQ(automation::ReadComboRows(Control(kPortList)), std::vector<std::wstring>{});
    ASSERT_TRUE(automation::ClickButton(Control(kConfigure)));
    EXPECT_EQ(TakeMessageBox().text, L"Please select the communication port!");
    ASSERT_TRUE(automation::ClickButton(Control(kTest)));
    EXPECT_EQ(TakeMessageBox().text, L"Serial port not exists!");

    ports.SetString("\\Device\\Serial2", "COM3");
    ASSERT_TRUE(automation::ClickButton(Control(kTest)));
    EXPECT_EQ(automation::WaitForMessageBox(app.Id(), 1000, window), nullptr) << "the list is filled, no test yet";
    EXPECT_EQ(automation::ReadComboRows(Control(kPortList)), std::vector<std::wstring>{L"COM3"});
    EXPECT_EQ(automation::ReadComboSelection(Control(kPortList)), 0);
}

TEST_F(WindowTest, TheSystemMenuOpensTheAboutBox)
{
    Start();
    ASSERT_TRUE(automation::PostSysCommand(window, 0x0010));
    HWND about = automation::WaitForDialog(L"\x5173\x4E8E quillane VR7", 5000, app.Id());  // 关于
    ASSERT_NE(about, nullptr);
    HWND ok = automation::FindControl(about, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(Text(ok), L"\x786E\x5B9A");  // 确定
    ASSERT_TRUE(automation::ClickButton(ok));
    for (int i = 0; i < 100 && IsWindow(about); ++i)
        Sleep(20);
    EXPECT_FALSE(IsWindow(about));
}

TEST_F(WindowTest, EnterDoesNothingAndEscapeClosesTheProgram)
{
    Start();
    ASSERT_TRUE(automation::PressKey(window, VK_RETURN));
    Sleep(700);
    EXPECT_FALSE(app.WaitForExit(0)) << "Enter does not close the window";
    EXPECT_TRUE(sim.Frames().empty()) << "Enter does not start a run";
    EXPECT_EQ(Text(Control(kStatus)), L"");
    ExitWithEscape();
    EXPECT_FALSE(Exists(libraryFile));
}

TEST_F(WindowTest, AFailedDeploymentIsToldAndDisablesTestAndOk)
{
    CreateDirectoryW(libraryFile.c_str(), nullptr);  // the library file cannot be written
    Start();
    const Box box = TakeMessageBox();
    EXPECT_EQ(box.caption, L"quillane VR7");
    EXPECT_EQ(box.text.rfind(L"The serial port library could not be prepared", 0), 0u) << automation::Narrow(box.text);
    EXPECT_FALSE(automation::IsEnabled(Control(kTest)));
    EXPECT_FALSE(automation::IsEnabled(Control(kConfigure)));
    EXPECT_EQ(automation::ReadComboRows(Control(kSoftwareList)).value_or(std::vector<std::wstring>{}).size(), 50u);
    EXPECT_EQ(Text(Control(kInstructions)), L"");
    ExitWithEscape();
    RemoveDirectoryW(libraryFile.c_str());
}


TEST_F(WindowTest, ALibraryFileHeldByAnotherProgramIsToldNotOverwritten)
{
    // As on Windows when another copy has the file loaded: it cannot be written.
    HANDLE held = CreateFileW(libraryFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Start();
    const Box box = TakeMessageBox();
    EXPECT_NE(box.text.find(L"could not be written"), std::wstring::npos) << automation::Narrow(box.text);
    EXPECT_FALSE(automation::IsEnabled(Control(kTest)));
    EXPECT_FALSE(automation::IsEnabled(Control(kConfigure)));
    ExitWithEscape();
    CloseHandle(held);
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
    // Windows, and here, the library file the first copy has loaded cannot be rewritten.
    HWND box = automation::WaitForMessageBox(app.Id(), 2000, window);
    if (box != nullptr) {
        const std::wstring text = automation::MessageBoxText(box);
        EXPECT_NE(text.find(L"could not be written"), std::wstring::npos) << automation::Narrow(text);
        EXPECT_FALSE(automation::IsEnabled(Control(kConfigure)));
        automation::PressOk(box);
    } else {
        Simulator other(kSimPort);
        other.Reset();
        ASSERT_TRUE(automation::SelectComboRow(Control(kPortList), 1));
        ASSERT_TRUE(automation::ClickButton(Control(kConfigure)));
        EXPECT_EQ(WatchStatusUntil(L"Status:OK!", 10000).back(), L"Status:OK!");
    }
    ExitWithEscape();

    std::swap(app, first);
    window = firstWindow;
    ASSERT_TRUE(automation::ClickButton(Control(kConfigure)));
    EXPECT_EQ(WatchStatusUntil(L"Status:OK!", 10000).back(), L"Status:OK!") << "the first copy still works";
    EXPECT_TRUE(Exists(libraryFile)) << "the first copy still has it loaded";
    ExitWithEscape();
    EXPECT_FALSE(Exists(libraryFile)) << "the last copy to close deletes it";
}

TEST_F(WindowTest, DeploysIntoATemporaryFolderTheAnsiCodePageCannotSpell)
{
    UseTempFolder("\xE6\x95\xB0\xE5\xAD\x97\xE5\x8C\x96\xE4\xBB\xAA");  // 数字化仪
    Start();
    EXPECT_EQ(automation::WaitForMessageBox(app.Id(), 1000, window), nullptr);
    EXPECT_TRUE(Exists(libraryFile));
    EXPECT_EQ(automation::ReadComboRows(Control(kPortList)), (std::vector<std::wstring>{L"COM3", L"COM5"}));
    ExitWithEscape();
    EXPECT_FALSE(Exists(libraryFile));
}

TEST_F(WindowTest, TemporaryFolderPathsAtTheLengthLimitDeployOrFailCleanly)
{
    // 257 characters: the folder fits the program's buffer with its backslash, the
    // library's path is then longer than 260 characters: it deploys (as Wine allows) or is
    // refused with the message, never overflows. 300 characters do not fit: refused.
    for (size_t length : {257u, 300u}) {
        std::wstring folder = Widen(WindowsPathFromEnv("QUILLANE_RUN_DIR")) + L"\\";
        folder += std::wstring(length - folder.size(), L'p');
        if (length < 260)
            CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
        Start();
        HWND box = automation::WaitForMessageBox(app.Id(), 2000, window);
        if (box != nullptr) {
            const std::wstring text = automation::MessageBoxText(box);
            EXPECT_EQ(text.rfind(L"The serial port library could not be prepared", 0), 0u)
                << "length " << length << ": " << automation::Narrow(text);
            EXPECT_FALSE(automation::IsEnabled(Control(kConfigure)));
            automation::PressOk(box);
        } else {
            EXPECT_LT(length, 260u) << "a folder path that does not fit must be refused";
            EXPECT_EQ(automation::ReadComboRows(Control(kPortList)).value_or(std::vector<std::wstring>{}).size(), 2u);
            printf("a temporary folder of %zu characters: deployed\n", length);
        }
        ExitWithEscape();
    }
}

}  // namespace

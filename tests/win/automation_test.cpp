// The window automation against a dialog program of our own (automation_target), run as
// a separate process: reading and setting its controls from outside, also while its
// user-interface thread is busy; clicks, keys and the system menu; its message box; the
// colour of its text in a screenshot; its handle count.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "Automation.h"
#include "TestEnv.h"
#include "automation_target.h"

using namespace automation;

namespace {

// Polls condition every 20 ms until it holds or timeoutMs has passed.
template <class Condition>
bool Eventually(Condition condition, DWORD timeoutMs = 5000)
{
    const double end = NowMs() + timeoutMs;
    while (!condition()) {
        if (NowMs() > end)
            return false;
        Sleep(20);
    }
    return true;
}

std::wstring TargetPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"automation_target.exe";
}

class AutomationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_process = Process::Start(TargetPath());
        ASSERT_TRUE(m_process.Started()) << "cannot start the target, error " << GetLastError();
        m_dialog = WaitForDialog(Widen(TARGET_CAPTION), 10000, m_process.Id());
        ASSERT_NE(m_dialog, nullptr) << "the target's dialog did not appear";
    }

    void TearDown() override
    {
        if (!m_process.Started() || m_process.WaitForExit(0))
            return;
        if (m_dialog != nullptr)
            PostSysCommand(m_dialog, SC_CLOSE);
        if (!m_process.WaitForExit(5000)) {
            ADD_FAILURE() << "the target did not close";
            m_process.Terminate();
        }
    }

    HWND Control(int id) const { return FindControl(m_dialog, id); }
    std::wstring Status() const { return ReadText(Control(TARGET_STATUS)).value_or(L"<no answer>"); }

    // Polls the status line (read without a message) until it shows expected.
    bool WaitForStatus(const std::wstring& expected) const
    {
        return Eventually([&] { return Status() == expected; });
    }

    Process m_process;
    HWND m_dialog = nullptr;
};

TEST_F(AutomationTest, ReadsControlsAndSelectsRows)
{
    EXPECT_EQ(Caption(m_dialog), Widen(TARGET_CAPTION));
    EXPECT_EQ(ProcessOfWindow(m_dialog), m_process.Id());
    EXPECT_EQ(Status(), L"就绪");
    EXPECT_EQ(ReadText(Control(TARGET_EDIT)), std::optional<std::wstring>(L"编辑 edit"));
    EXPECT_EQ(FindControl(m_dialog, 4242), nullptr);

    HWND combo = Control(TARGET_COMBO);
    EXPECT_EQ(ReadComboRows(combo), (std::optional<std::vector<std::wstring>>({L"COM3", L"COM12", L"串口 五"})));
    EXPECT_EQ(ReadComboSelection(combo), std::optional<int>(0));
    EXPECT_TRUE(SelectComboRow(combo, 2));
    EXPECT_EQ(ReadComboSelection(combo), std::optional<int>(2));
    EXPECT_FALSE(SelectComboRow(combo, 7)) << "a row that does not exist";

    EXPECT_TRUE(IsEnabled(Control(TARGET_RED)));
    EXPECT_FALSE(IsEnabled(Control(TARGET_DISABLED)));
}

TEST_F(AutomationTest, ReadsAStaticWhileTheProgramIsBusy)
{
    ASSERT_TRUE(ClickButton(Control(TARGET_BLOCK)));
    ASSERT_TRUE(WaitForStatus(L"blocked"));

    // The edit control needs a message, which waits for the busy thread: the bound holds.
    const double start = NowMs();
    EXPECT_FALSE(ReadText(Control(TARGET_EDIT), 300).has_value());
    EXPECT_LT(NowMs() - start, 1200.0);
    EXPECT_EQ(Status(), L"blocked") << "read while the thread sleeps";

    EXPECT_TRUE(WaitForStatus(L"unblocked"));
    EXPECT_EQ(ReadText(Control(TARGET_EDIT)), std::optional<std::wstring>(L"编辑 edit"));
}

TEST_F(AutomationTest, ReadsAndClosesTheApplicationMessageBox)
{
    ASSERT_TRUE(ClickButton(Control(TARGET_MESSAGE)));
    HWND box = WaitForMessageBox(m_process.Id(), 5000, m_dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Caption(box), Widen(TARGET_APP_NAME));
    EXPECT_EQ(MessageBoxText(box), L"消息：你好");
    EXPECT_EQ(GetWindow(box, GW_OWNER), m_dialog) << "owned by the main window";
    EXPECT_FALSE(IsEnabled(m_dialog)) << "the box is modal";
    EXPECT_EQ(FindMessageBox(m_process.Id(), box), nullptr) << "the main dialog is no message box";

    ASSERT_TRUE(PressOk(box));
    EXPECT_TRUE(WaitForStatus(L"message closed"));
    EXPECT_TRUE(IsEnabled(m_dialog));
}

// Enter and Escape posted as key presses go through the dialog's own message loop:
// Enter reaches OnOK (overridden here to write the status), Escape ends the program.
TEST_F(AutomationTest, KeysAndSystemCommandsReachTheDialog)
{
    ASSERT_TRUE(PressKey(m_dialog, VK_RETURN));
    EXPECT_TRUE(WaitForStatus(L"enter"));
    ASSERT_TRUE(PostSysCommand(m_dialog, 0x10));
    EXPECT_TRUE(WaitForStatus(L"system menu 16"));
    EXPECT_FALSE(m_process.WaitForExit(0));

    ASSERT_TRUE(PressKey(m_dialog, VK_ESCAPE));
    ASSERT_TRUE(m_process.WaitForExit(5000)) << "Escape did not end the program";
    EXPECT_EQ(m_process.ExitCode(), std::optional<DWORD>(0));
    EXPECT_TRUE(WaitForProcessExit(m_process.Id(), 0));
}

// The colour of a control's text once it is expected, or the last one seen (painting
// is asynchronous).
std::optional<TextColour> WaitForColour(HWND control, TextColour expected)
{
    std::optional<TextColour> seen;
    Eventually([&] { return (seen = ControlTextColour(control)) == expected; });
    return seen;
}

TEST_F(AutomationTest, TellsRedTextFromBlackInAScreenshot)
{
    HWND status = Control(TARGET_STATUS);
    EXPECT_EQ(WaitForColour(status, TextColour::Dark), std::optional<TextColour>(TextColour::Dark));
    ASSERT_TRUE(ClickButton(Control(TARGET_RED)));
    EXPECT_EQ(WaitForColour(status, TextColour::Red), std::optional<TextColour>(TextColour::Red));
    EXPECT_EQ(ControlTextColour(Control(TARGET_EDIT)), std::optional<TextColour>(TextColour::Dark))
        << "only the status line turns red";

    const std::optional<Screenshot> shot = Screenshot::OfWindow(m_dialog);
    ASSERT_TRUE(shot.has_value());
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = std::wstring(folder) + L"automation_test.bmp";
    ASSERT_TRUE(shot->SaveBmp(file));
    std::ifstream in(file.c_str(), std::ios::binary | std::ios::ate);
    const auto expectedSize = 14 + 40 + 4 * shot->Width() * shot->Height();
    EXPECT_EQ(static_cast<long long>(in.tellg()), static_cast<long long>(expectedSize));
    in.close();
    DeleteFileW(file.c_str());
}

TEST_F(AutomationTest, CountsHandlesAndThreads)
{
    const std::optional<unsigned> before = CountHandles(m_process.Id());
    ASSERT_TRUE(before.has_value());
    EXPECT_GT(*before, 0u);
    EXPECT_GE(CountThreads(m_process.Id()).value_or(0), 1u);

    ASSERT_TRUE(ClickButton(Control(TARGET_HANDLES)));
    std::optional<unsigned> after;
    Eventually([&] { return (after = CountHandles(m_process.Id())).value_or(0) >= *before + 10; });
    EXPECT_GE(after.value_or(0), *before + 10) << "ten more events were opened";
}

}  // namespace

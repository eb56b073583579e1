// The dialog framework in a dialog that drives itself: each tick of a timer runs the
// next step of a script, and the handlers record what reached them. Covers the order of
// the handlers, Enter and Escape through the dialog's own message loop, Chinese text,
// the combo box binding, the colour an OnCtlColor override sets, an exception in a
// handler, and the application message box.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "App.h"
#include "Automation.h"
#include "ComboBox.h"
#include "Dialog.h"
#include "TestEnv.h"

namespace {

// Ids of framework_test.rc.
constexpr UINT kDialog = 300;
constexpr int kStatic = 301;
constexpr int kCombo = 302;
constexpr int kButton = 303;

constexpr UINT_PTR kStepTimer = 1;
constexpr UINT_PTR kSafetyTimer = 2;  // ends a script that does not end by itself
constexpr INT_PTR kSafetyStop = -2;

class CTestApp : public CWinApp {
public:
    CTestApp() : CWinApp("框架 test app") {}
    bool InitInstance() override { return false; }
};
CTestApp g_app;

// A step returns true when it is done; a step that is not done runs again on the next tick.
using Step = std::function<bool()>;

class CScriptedDlg : public CDialog {
public:
    CScriptedDlg() : CDialog(kDialog) {}

    std::vector<Step> steps;
    std::vector<std::string> log;
    CComboBox combo;
    bool red = false;       // the colour OnCtlColor gives the static
    int staticColours = 0;  // OnCtlColor calls for the static

protected:
    bool OnInitDialog() override
    {
        log.push_back("init");
        combo.Bind(m_hWnd, kCombo);
        SetTimer(m_hWnd, kStepTimer, 30, nullptr);
        SetTimer(m_hWnd, kSafetyTimer, 10000, nullptr);
        return CDialog::OnInitDialog();
    }

    bool OnCommand(int id, int code) override
    {
        if (id != kCombo)  // the combo box's focus notifications are not of interest
            log.push_back("command " + std::to_string(id) + " " + std::to_string(code));
        return CDialog::OnCommand(id, code);
    }

    bool OnTimer(UINT_PTR id) override
    {
        if (id == kSafetyTimer) {
            // Also closes what a step left open (a message box), so the test always ends.
            EnumThreadWindows(GetCurrentThreadId(), &CloseUnlessDialog, reinterpret_cast<LPARAM>(m_hWnd));
            EndDialog(kSafetyStop);
            return true;
        }
        // A step may run a modal loop (a message box) that delivers further ticks.
        if (m_inStep || m_next >= steps.size())
            return true;
        log.push_back("timer");
        m_inStep = true;
        if (steps[m_next]())
            ++m_next;
        m_inStep = false;
        return true;
    }

    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override
    {
        HBRUSH brush = CDialog::OnCtlColor(dc, control, type);
        if (control == GetDlgItem(kStatic)) {
            ++staticColours;
            if (red)
                SetTextColor(dc, RGB(255, 0, 0));
        }
        return brush;
    }

    void OnOK() override { log.push_back("ok"); }  // Enter does not end this dialog
    void OnCancel() override
    {
        log.push_back("cancel");
        CDialog::OnCancel();
    }
    void OnDestroy() override
    {
        log.push_back("destroy");
        CDialog::OnDestroy();
    }

private:
    static BOOL CALLBACK CloseUnlessDialog(HWND window, LPARAM dialog)
    {
        if (window != reinterpret_cast<HWND>(dialog))
            PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }

    size_t m_next = 0;
    bool m_inStep = false;
};

void PostClick(CScriptedDlg& dlg, int id)
{
    PostMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(dlg.GetDlgItem(id)));
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

TEST(DialogTest, HandlersRunInOrderAndKeysRouteToOkAndCancel)
{
    CScriptedDlg dlg;
    dlg.steps = {
        [&] { PostClick(dlg, kButton); return true; },
        [&] {
            // The keys go to the focused control, as typed keys would.
            EXPECT_EQ(GetFocus(), dlg.GetDlgItem(kCombo));
            return automation::PressKey(dlg.m_hWnd, VK_RETURN);
        },
        [&] { return automation::PressKey(dlg.m_hWnd, VK_ESCAPE); },
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"init", "timer", "command 303 0", "timer", "command 1 0", "ok",
                                                  "timer", "command 2 0", "cancel", "destroy"}));
    EXPECT_GT(dlg.staticColours, 0) << "WM_CTLCOLORSTATIC reaches OnCtlColor";
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(DialogTest, ChineseTextAndTheComboBox)
{
    CScriptedDlg dlg;
    dlg.steps = {[&] {
        EXPECT_EQ(WindowText(dlg.m_hWnd), L"框架测试") << "caption from the UTF-8 template";
        EXPECT_TRUE(dlg.SetDlgItemText(kStatic, "状态：正常"));
        EXPECT_EQ(WindowText(dlg.GetDlgItem(kStatic)), L"状态：正常");
        EXPECT_TRUE(dlg.SetDlgItemText(kStatic, std::wstring(L"宽字符 wide")));
        EXPECT_EQ(WindowText(dlg.GetDlgItem(kStatic)), L"宽字符 wide");
        EXPECT_FALSE(dlg.SetDlgItemText(4242, "no such control"));

        CComboBox& combo = dlg.combo;
        EXPECT_EQ(combo.m_hWnd, dlg.GetDlgItem(kCombo));
        EXPECT_EQ(combo.GetCount(), 0);
        EXPECT_EQ(combo.AddString("COM3"), 0);
        EXPECT_EQ(combo.AddString(L"串口 十二"), 1) << "rows stay in the order added";
        EXPECT_EQ(combo.AddString("中"), 2);
        EXPECT_EQ(combo.GetCount(), 3);
        EXPECT_EQ(combo.GetCurSel(), CB_ERR);
        EXPECT_EQ(combo.SetCurSel(1), 1);
        EXPECT_EQ(combo.GetCurSel(), 1);
        EXPECT_EQ(combo.GetText(1), L"串口 十二");
        EXPECT_EQ(combo.GetText(2), L"中");
        EXPECT_EQ(combo.GetText(3), L"");
        EXPECT_EQ(combo.SetCurSel(3), CB_ERR);
        combo.ResetContent();
        EXPECT_EQ(combo.GetCount(), 0);

        combo.InitStorage(60, 60 * 8 * sizeof(wchar_t));
        combo.SetRedraw(false);
        for (int row = 0; row < 60; ++row)
            combo.AddString(L"行 " + std::to_wstring(row));
        combo.SetRedraw(true);
        EXPECT_EQ(combo.GetCount(), 60) << "rows added in a batch";
        EXPECT_EQ(combo.GetText(0), L"行 0");
        EXPECT_EQ(combo.GetText(59), L"行 59");
        EXPECT_NE(GetWindowLongW(combo.m_hWnd, GWL_STYLE) & WS_VISIBLE, 0) << "the control stays visible";
        combo.ResetContent();

        CComboBox missing;
        EXPECT_FALSE(missing.Bind(dlg.m_hWnd, 4242));
        dlg.EndDialog(IDOK);
        return true;
    }};
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(Widen(nullptr), L"");
}

// The base OnCtlColor returns a real brush, so the colour an override sets is the one
// drawn (leaving the message to the dialog manager would reset it to black).
TEST(DialogTest, TheColourSetInOnCtlColorIsDrawn)
{
    CScriptedDlg dlg;
    std::optional<automation::TextColour> before, after;
    auto colourIs = [&](std::optional<automation::TextColour>& seen, automation::TextColour expected) {
        seen = automation::ControlTextColour(dlg.GetDlgItem(kStatic));
        return seen == expected;
    };
    dlg.steps = {
        [&] { return colourIs(before, automation::TextColour::Dark); },
        [&] {
            dlg.red = true;
            return RedrawWindow(dlg.GetDlgItem(kStatic), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE) != FALSE;
        },
        [&] { return colourIs(after, automation::TextColour::Red); },
        [&] { dlg.EndDialog(IDOK); return true; },
    };
    EXPECT_EQ(dlg.DoModal(), IDOK) << "the colours were not seen in time";
    EXPECT_EQ(before, automation::TextColour::Dark);
    EXPECT_EQ(after, automation::TextColour::Red);
}

class CThrowingDlg : public CScriptedDlg {
protected:
    bool OnCommand(int id, int code) override
    {
        if (id == kButton)
            throw std::runtime_error("handler failed");
        return CScriptedDlg::OnCommand(id, code);
    }
};

TEST(DialogTest, AnExceptionInAHandlerStaysInsideTheDialog)
{
    CThrowingDlg dlg;
    dlg.steps = {
        [&] { PostClick(dlg, kButton); return true; },
        [&] { dlg.EndDialog(IDOK); return true; },
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"init", "timer", "timer", "destroy"}));

    CDialog missing(4242);
    EXPECT_EQ(missing.DoModal(), -1) << "no such template";
}

// Closes the message box that this process shows, from another thread.
std::wstring CloseMessageBox(HWND mainDialog, HWND& owner)
{
    HWND box = automation::WaitForMessageBox(GetCurrentProcessId(), 5000, mainDialog);
    if (box == nullptr)
        return L"<no message box>";
    owner = GetWindow(box, GW_OWNER);
    const std::wstring seen = automation::Caption(box) + L"|" + automation::MessageBoxText(box);
    automation::PressOk(box);
    return seen;
}

TEST(AppTest, MessageBoxHasTheAppsCaptionAndTheMainWindowAsOwner)
{
    ASSERT_EQ(AfxGetApp(), &g_app);
    CScriptedDlg dlg;
    g_app.m_pMainWnd = &dlg;
    std::wstring seen;
    HWND owner = nullptr;
    HWND mainWindow = nullptr;
    bool closed = false;
    dlg.steps = {[&] {
        mainWindow = dlg.m_hWnd;
        TestThread closer([&] { seen = CloseMessageBox(dlg.m_hWnd, owner); });
        EXPECT_EQ(AfxMessageBox("消息 text"), IDOK);
        closed = closer.Join(5000);
        dlg.EndDialog(IDOK);
        return true;
    }};
    EXPECT_EQ(dlg.DoModal(), IDOK);
    g_app.m_pMainWnd = nullptr;
    EXPECT_TRUE(closed);
    EXPECT_EQ(seen, L"框架 test app|消息 text");
    EXPECT_EQ(owner, mainWindow);
}

}  // namespace

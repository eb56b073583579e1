// The dialog framework where the program's window cannot show it: a handler that throws.
// The exception must not unwind through USER32's frames; the message gets the default
// processing and the dialog goes on. (The rest of the framework is what the window
// tests drive.)
#include <gtest/gtest.h>

#include <stdexcept>

#include "Dialog.h"

namespace {

constexpr UINT kDialog = 300;  // framework_test.rc
constexpr int kThrowButton = 303;
constexpr UINT kEnd = WM_APP + 1;

class CThrowingDlg : public CDialog {
public:
    CThrowingDlg() : CDialog(kDialog) {}
    int throws = 0;

protected:
    bool OnInitDialog() override
    {
        PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(kThrowButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(kThrowButton)));
        PostMessageW(m_hWnd, kEnd, 0, 0);
        SetTimer(m_hWnd, 1, 5000, nullptr);  // ends the dialog should a message go astray
        return true;
    }
    bool OnCommand(int id, int code) override
    {
        if (id == kThrowButton) {
            ++throws;
            throw std::runtime_error("handler failed");
        }
        return CDialog::OnCommand(id, code);
    }
    bool OnTimer(UINT_PTR) override
    {
        EndDialog(-2);
        return true;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != kEnd)
            return CDialog::OnMessage(message, wParam, lParam);
        EndDialog(IDOK);
        return TRUE;
    }
};

TEST(DialogTest, AnExceptionInAHandlerStaysInsideTheDialog)
{
    CThrowingDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK) << "the message after the exception ends the dialog";
    EXPECT_EQ(dlg.throws, 1);
}

}  // namespace

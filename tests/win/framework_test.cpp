// The dialog framework where the program's window cannot show it: a handler that throws.
// The exception must not unwind through USER32's frames; the message gets the default
// processing and the dialog goes on. (The window tests drive the rest of the framework.)
#include <gtest/gtest.h>

#include <stdexcept>

#include "Dialog.h"

namespace {

constexpr UINT kDialog = 300;  // framework_test.rc
constexpr int kThrowButton = 303;

class CThrowingDlg : public CDialog {
public:
    CThrowingDlg() : CDialog(kDialog) {}
    int throws = 0;

protected:
    bool OnInitDialog() override
    {
        PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(kThrowButton, BN_CLICKED), 0);
        PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        SetTimer(m_hWnd, 1, 5000, nullptr);  // ends the dialog should a message go astray
        return true;
    }
    bool OnCommand(int id, int code) override
    {
        if (id != kThrowButton)
            return CDialog::OnCommand(id, code);
        ++throws;
        throw std::runtime_error("handler failed");
    }
    bool OnTimer(UINT_PTR) override
    {
        EndDialog(-2);
        return true;
    }
};

TEST(DialogTest, AnExceptionInAHandlerStaysInsideTheDialog)
{
    CThrowingDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK) << "the command after the exception ends the dialog";
    EXPECT_EQ(dlg.throws, 1);
}

}  // namespace

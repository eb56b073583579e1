// A bare dialog program: the reference for the start-up benchmark.
#include <windows.h>

#include "App.h"
#include "ComboBox.h"
#include "Dialog.h"
#include "bare_dialog.h"

namespace {

class CBareDlg : public CDialog {
public:
    CBareDlg() : CDialog(BARE_DIALOG) {}

protected:
    bool OnInitDialog() override
    {
        m_combo.Bind(m_hWnd, BARE_COMBO);
        m_combo.AddString("COM3");
        m_combo.SetCurSel(0);
        return CDialog::OnInitDialog();
    }

private:
    CComboBox m_combo;
};

class CBareApp : public CWinApp {
public:
    CBareApp() : CWinApp("bare dialog") {}

    bool InitInstance() override
    {
        CBareDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
        return false;
    }
};

CBareApp theApp;

}  // namespace

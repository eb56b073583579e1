// The program the automation tests drive from another process: a dialog built on the
// program's framework, with controls to read, a message box, red status text, a button
// that keeps the user-interface thread busy, and one that opens handles.
#include <windows.h>

#include <vector>

#include "App.h"
#include "ComboBox.h"
#include "Dialog.h"
#include "automation_target.h"

namespace {

class CTargetDlg : public CDialog {
public:
    CTargetDlg() : CDialog(TARGET_DIALOG) {}

protected:
    bool OnInitDialog() override
    {
        m_combo.Bind(m_hWnd, TARGET_COMBO);
        m_combo.AddString("COM3");
        m_combo.AddString("COM12");
        m_combo.AddString("串口 五");
        m_combo.SetCurSel(0);
        SetDlgItemText(TARGET_EDIT, "编辑 edit");
        SetDlgItemText(TARGET_STATUS, "就绪");
        return CDialog::OnInitDialog();
    }

    bool OnCommand(int id, int code) override
    {
        switch (id) {
        case TARGET_MESSAGE:
            AfxMessageBox("消息：你好");
            SetDlgItemText(TARGET_STATUS, "message closed");
            return true;
        case TARGET_RED:
            m_red = true;
            InvalidateRect(GetDlgItem(TARGET_STATUS), nullptr, TRUE);
            return true;
        case TARGET_BLOCK:
            SetDlgItemText(TARGET_STATUS, "blocked");
            Sleep(2000);
            SetDlgItemText(TARGET_STATUS, "unblocked");
            return true;
        case TARGET_HANDLES:
            for (int i = 0; i < 10; ++i) {
                if (HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr))
                    m_events.push_back(event);
            }
            return true;
        default:
            return CDialog::OnCommand(id, code);
        }
    }

    bool OnSysCommand(UINT id, LPARAM lParam) override
    {
        if ((id & 0xFFF0) != 0x10)
            return CDialog::OnSysCommand(id, lParam);
        SetDlgItemText(TARGET_STATUS, "system menu 16");
        return true;
    }

    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override
    {
        HBRUSH brush = CDialog::OnCtlColor(dc, control, type);
        if (control == GetDlgItem(TARGET_STATUS))
            SetTextColor(dc, m_red ? RGB(255, 0, 0) : RGB(0, 0, 0));
        return brush;
    }

    void OnOK() override { SetDlgItemText(TARGET_STATUS, "enter"); }

    void OnDestroy() override
    {
        for (HANDLE event : m_events)
            CloseHandle(event);
        m_events.clear();
        CDialog::OnDestroy();
    }

private:
    CComboBox m_combo;
    bool m_red = false;
    std::vector<HANDLE> m_events;  // owned; closed when the window goes
};

class CTargetApp : public CWinApp {
public:
    CTargetApp() : CWinApp(TARGET_APP_NAME) {}

    bool InitInstance() override
    {
        CTargetDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
        return false;
    }
};

CTargetApp theApp;

}  // namespace

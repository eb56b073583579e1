// CSetupAssistantDlg: the program's main window. The port list and its Test button, the
// CAD software list and its OK button (the configuration run), the instruction box, the
// status line (red after a run that ended in an error) and the clock; the About entry of
// the system menu; the port library deployed at start and removed at the end.
#ifndef QUILLANE_SETUPASSISTANTDLG_H
#define QUILLANE_SETUPASSISTANTDLG_H

#include <windows.h>

#include "ComboBox.h"
#include "ConfigurationRun.h"
#include "Dialog.h"
#include "PortLibrary.h"

class CSetupAssistantDlg : public CDialog, private RunView {
public:
    static constexpr int kPortCapacity = 256;

    CSetupAssistantDlg();

protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    bool OnTimer(UINT_PTR id) override;
    bool OnSysCommand(UINT id, LPARAM lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override;
    void OnDestroy() override;
    void OnOK() override {}  // Enter does nothing

private:
    void FillSoftwareList();
    void FillPortList();
    void OnTest();
    void ShowClock();
    bool LibraryReady() const { return m_library.Entries().Complete(); }

    // What the configuration run reads from and shows in the window.
    int SelectedPortRow() override;
    int SelectedSoftwareRow() override;
    unsigned short PortNumberAt(int row) override;
    void SetStatusText(const char* text) override;
    void SetInstructionText(const char* utf8) override;
    void EnableOkButton(bool enable) override;
    void ShowMessage(const char* text) override;

    unsigned short m_ports[kPortCapacity] = {};  // entry i belongs to row i of the port list
    unsigned short m_portCount = 0;
    CComboBox m_softwareList;
    CComboBox m_portList;
    HICON m_icon;
    CPortLibrary m_library;
    EntryPointLink m_link{m_library.Entries()};  // the runs' way to the port
    RunState m_runState;  // the reply event and the error flag
};

#endif

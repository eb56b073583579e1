// CDialog: a modal dialog made from a template. One static dialog procedure finds the
// object and calls OnMessage, one switch that routes the messages the program's dialogs
// handle to virtual handlers. A handler returns whether it handled its message (false
// leaves the message to the dialog manager's default processing); OnCtlColor and
// OnQueryDragIcon return the brush or icon itself, null for the default.
#ifndef QUILLANE_FRAMEWORK_DIALOG_H
#define QUILLANE_FRAMEWORK_DIALOG_H

#include <windows.h>

#include <string>

class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog from the program's own resources; returns the value given to
    // EndDialog, or -1 when the dialog could not be created.
    INT_PTR DoModal();

    HWND GetDlgItem(int id) const;
    bool SetDlgItemText(int id, const char* utf8);
    bool SetDlgItemText(int id, const std::wstring& text);
    void EndDialog(INT_PTR result);

    HWND m_hWnd = nullptr;  // valid from WM_INITDIALOG to the end of DoModal

protected:
    // The dialog procedure's result for one message: TRUE/FALSE for handled, or the
    // brush or icon for the messages that return one.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    virtual bool OnInitDialog();  // true: the dialog manager sets the focus
    virtual bool OnCommand(int id, int code);  // routes IDOK and IDCANCEL
    virtual bool OnTimer(UINT_PTR id);
    virtual bool OnSysCommand(UINT id, LPARAM lParam);
    virtual bool OnPaint();
    virtual HICON OnQueryDragIcon();
    // The default brush of the window class with the default colours set on dc, so
    // that an override may change the colours and return this brush.
    virtual HBRUSH OnCtlColor(HDC dc, HWND control, UINT type);
    virtual void OnDestroy();  // the window is being destroyed; its controls still exist
    virtual void OnOK();       // Enter; ends the dialog with IDOK
    virtual void OnCancel();   // Escape, close box, system menu Close; ends with IDCANCEL

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const UINT m_templateId;
    const HWND m_parent;
};

#endif

// The modal dialog base: creation from a template and message dispatch.
#include "Dialog.h"

#include "App.h"

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal()
{
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId),
                                           m_parent, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

HWND CDialog::GetDlgItem(int id) const
{
    return ::GetDlgItem(m_hWnd, id);
}

bool CDialog::SetDlgItemText(int id, const char* utf8)
{
    return SetDlgItemText(id, Widen(utf8));
}

bool CDialog::SetDlgItemText(int id, const std::wstring& text)
{
    return ::SetDlgItemTextW(m_hWnd, id, text.c_str()) != FALSE;
}

void CDialog::EndDialog(INT_PTR result)
{
    ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        reinterpret_cast<CDialog*>(lParam)->m_hWnd = window;
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) find no object yet.
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (dialog == nullptr)
        return FALSE;
    // An exception must not unwind through USER32's frames: the message then gets the
    // default processing, and the dialog goes on.
    try {
        return dialog->OnMessage(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER:
        return OnTimer(wParam);
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam),
                                                    reinterpret_cast<HWND>(lParam),
                                                    message - WM_CTLCOLORMSGBOX));
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

bool CDialog::OnInitDialog()
{
    return true;
}

bool CDialog::OnCommand(int id, int)
{
    switch (id) {
    case IDOK:
        OnOK();
        return true;
    case IDCANCEL:
        OnCancel();
        return true;
    default:
        return false;
    }
}

bool CDialog::OnTimer(UINT_PTR)
{
    return false;
}

bool CDialog::OnSysCommand(UINT, LPARAM)
{
    return false;
}

bool CDialog::OnPaint()
{
    return false;
}

HICON CDialog::OnQueryDragIcon()
{
    return nullptr;
}

HBRUSH CDialog::OnCtlColor(HDC dc, HWND control, UINT type)
{
    // The dialog manager's default for these messages is DefWindowProc's: it sets the
    // system colours on dc and returns the matching brush.
    return reinterpret_cast<HBRUSH>(DefWindowProcW(m_hWnd, WM_CTLCOLORMSGBOX + type,
                                                   reinterpret_cast<WPARAM>(dc),
                                                   reinterpret_cast<LPARAM>(control)));
}

void CDialog::OnDestroy() {}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

// The combo box wrapper: each call is one message to the control.
#include "ComboBox.h"

#include "App.h"

bool CComboBox::Bind(HWND dialog, int id)
{
    m_hWnd = ::GetDlgItem(dialog, id);
    return m_hWnd != nullptr;
}

void CComboBox::ResetContent()
{
    SendMessageW(m_hWnd, CB_RESETCONTENT, 0, 0);
}

void CComboBox::InitStorage(int rows, size_t bytes)
{
    SendMessageW(m_hWnd, CB_INITSTORAGE, static_cast<WPARAM>(rows), static_cast<LPARAM>(bytes));
}

void CComboBox::SetRedraw(bool redraw)
{
    SendMessageW(m_hWnd, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
}

int CComboBox::AddString(const char* utf8)
{
    return AddString(Widen(utf8));
}

int CComboBox::AddString(const std::wstring& text)
{
    return static_cast<int>(SendMessageW(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int CComboBox::GetCount() const
{
    return static_cast<int>(SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0));
}

int CComboBox::GetCurSel() const
{
    return static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0));
}

int CComboBox::SetCurSel(int row)
{
    return static_cast<int>(SendMessageW(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(row), 0));
}

std::wstring CComboBox::GetText(int row) const
{
    const LRESULT length = SendMessageW(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(row),
                                        reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

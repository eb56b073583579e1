// CComboBox: a thin wrapper over a combo box control of a dialog. It does not own the
// control; it is bound to it by id when the dialog initialises.
#ifndef QUILLANE_FRAMEWORK_COMBOBOX_H
#define QUILLANE_FRAMEWORK_COMBOBOX_H

#include <windows.h>

#include <string>

class CComboBox {
public:
    bool Bind(HWND dialog, int id);  // false when the dialog has no such control

    void ResetContent();
    // For adding many rows at once: InitStorage reserves room for them in one step, and
    // SetRedraw(false) keeps the control from updating itself row by row until
    // SetRedraw(true).
    void InitStorage(int rows, size_t bytes);
    void SetRedraw(bool redraw);
    int AddString(const char* utf8);  // the new row, or CB_ERR / CB_ERRSPACE
    int AddString(const std::wstring& text);
    int GetCount() const;
    int GetCurSel() const;            // CB_ERR when no row is selected
    int SetCurSel(int row);           // the row, or CB_ERR (also for row -1, which clears)
    std::wstring GetText(int row) const;  // empty for a row that does not exist

    HWND m_hWnd = nullptr;
};

#endif

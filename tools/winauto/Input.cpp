// Posting input to another process's dialogs, so that the caller never waits for a busy
// user-interface thread (only a combo box selection is sent, with a time limit). See
// Automation.h.
#include "Automation.h"

namespace automation {

bool SelectComboRow(HWND combo, int row, DWORD timeoutMs)
{
    const std::optional<LRESULT> selected = SendWithin(combo, CB_SETCURSEL, static_cast<WPARAM>(row), 0, timeoutMs);
    return selected && *selected == row;
}

bool ClickButton(HWND button)
{
    const int id = GetDlgCtrlID(button);
    HWND parent = GetParent(button);
    return id != 0 && parent != nullptr &&
           PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool PressKey(HWND dialog, UINT virtualKey)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus != nullptr &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        target = info.hwndFocus;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    const LPARAM released = static_cast<LPARAM>(0xC0000000u);  // previous state down, transition up
    return PostMessageW(target, WM_KEYDOWN, virtualKey, scan | 1) &&
           PostMessageW(target, WM_KEYUP, virtualKey, scan | released | 1);
}

bool PostSysCommand(HWND window, UINT command)
{
    return PostMessageW(window, WM_SYSCOMMAND, command, 0) != FALSE;
}

bool PressOk(HWND box)
{
    HWND ok = GetDlgItem(box, IDOK);
    return ok != nullptr && ClickButton(ok);
}

}  // namespace automation

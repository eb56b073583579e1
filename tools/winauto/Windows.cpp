// Finding windows and reading them from another process: dialogs by caption, controls,
// texts, combo box rows, message boxes. See Automation.h.
#include "Automation.h"

#include <cwchar>

namespace automation {

namespace {

constexpr DWORD kPollMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF;

// Calls find every kPollMs until it returns a window or timeoutMs has passed.
template <class Find>
HWND Poll(DWORD timeoutMs, Find find)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND found = find())
            return found;
        if (GetTickCount64() >= deadline)
            return nullptr;
        Sleep(kPollMs);
    }
}

// Calls visit for each top-level window until it returns true; returns that window.
template <class Visit>
struct TopLevelSearch {
    Visit& visit;
    HWND found;

    static BOOL CALLBACK Next(HWND window, LPARAM p)
    {
        auto* search = reinterpret_cast<TopLevelSearch*>(p);
        if (!search->visit(window))
            return TRUE;
        search->found = window;
        return FALSE;
    }
};

template <class Visit>
HWND FirstTopLevel(Visit visit)
{
    TopLevelSearch<Visit> search = {visit, nullptr};
    EnumWindows(&TopLevelSearch<Visit>::Next, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsVisibleDialogOf(HWND window, DWORD processId)
{
    return IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
           (processId == 0 || ProcessOfWindow(window) == processId);
}

bool IsStatic(HWND window)
{
    return _wcsicmp(ClassOf(window).c_str(), L"Static") == 0;
}

}  // namespace

std::optional<LRESULT> SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_BLOCK, timeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length, nullptr,
                        nullptr);
    return utf8;
}

HWND FindDialog(const std::wstring& caption, DWORD processId)
{
    return FirstTopLevel(
        [&](HWND window) { return IsVisibleDialogOf(window, processId) && Caption(window) == caption; });
}

HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs, DWORD processId)
{
    return Poll(timeoutMs, [&] { return FindDialog(caption, processId); });
}

DWORD ProcessOfWindow(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

HWND FindControl(HWND dialog, int id)
{
    return GetDlgItem(dialog, id);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring Caption(HWND window)
{
    // InternalGetWindowText copies the server's text without a message; it tells no
    // length, so the buffer grows while the text fills it.
    for (int capacity = 256; capacity <= 65536; capacity *= 4) {
        std::wstring text(static_cast<size_t>(capacity), L'\0');
        const int length = InternalGetWindowText(window, &text[0], capacity);
        if (length < capacity - 1) {
            text.resize(static_cast<size_t>(length > 0 ? length : 0));
            return text;
        }
    }
    return std::wstring();
}

std::optional<std::wstring> ReadText(HWND control, DWORD timeoutMs)
{
    if (!IsWindow(control))
        return std::nullopt;
    if (IsStatic(control))
        return Caption(control);
    const std::optional<LRESULT> length = SendWithin(control, WM_GETTEXTLENGTH, 0, 0, timeoutMs);
    if (!length)
        return std::nullopt;
    std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied =
        SendWithin(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), timeoutMs);
    if (!copied)
        return std::nullopt;
    text.resize(static_cast<size_t>(*copied));
    return text;
}

bool IsEnabled(HWND window)
{
    return IsWindowEnabled(window) != FALSE;
}

std::optional<std::vector<std::wstring>> ReadComboRows(HWND combo, DWORD timeoutMs)
{
    const std::optional<LRESULT> count = SendWithin(combo, CB_GETCOUNT, 0, 0, timeoutMs);
    if (!count || *count < 0)
        return std::nullopt;
    std::vector<std::wstring> rows;
    for (WPARAM row = 0; row < static_cast<WPARAM>(*count); ++row) {
        const std::optional<LRESULT> length = SendWithin(combo, CB_GETLBTEXTLEN, row, 0, timeoutMs);
        if (!length || *length < 0)
            return std::nullopt;
        std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
        const std::optional<LRESULT> copied =
            SendWithin(combo, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(&text[0]), timeoutMs);
        if (!copied || *copied < 0)
            return std::nullopt;
        text.resize(static_cast<size_t>(*copied));
        rows.push_back(text);
    }
    return rows;
}

std::optional<int> ReadComboSelection(HWND combo, DWORD timeoutMs)
{
    const std::optional<LRESULT> row = SendWithin(combo, CB_GETCURSEL, 0, 0, timeoutMs);
    if (!row)
        return std::nullopt;
    return static_cast<int>(*row);
}

HWND FindMessageBox(DWORD processId, HWND except)
{
    return FirstTopLevel([&](HWND window) {
        if (window == except || !IsVisibleDialogOf(window, processId))
            return false;
        HWND text = GetDlgItem(window, kMessageBoxTextId);
        return text != nullptr && IsStatic(text);
    });
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except)
{
    return Poll(timeoutMs, [&] { return FindMessageBox(processId, except); });
}

std::wstring MessageBoxText(HWND box)
{
    return Caption(GetDlgItem(box, kMessageBoxTextId));
}

}  // namespace automation

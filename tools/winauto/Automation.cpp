// Window automation from another process; see Automation.h.
#include "Automation.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <cwchar>
#include <fstream>
#include <utility>

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

std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_BLOCK, timeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

}  // namespace

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

// --- Processes ---

Process::~Process()
{
    Close();
}

Process::Process(Process&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_id(std::exchange(other.m_id, 0))
{
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

Process Process::Start(const std::wstring& exe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    Process process;
    if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process.m_handle = info.hProcess;
        process.m_id = info.dwProcessId;
    }
    return process;
}

bool Process::WaitForExit(DWORD timeoutMs) const
{
    return m_handle != nullptr && WaitForSingleObject(m_handle, timeoutMs) == WAIT_OBJECT_0;
}

std::optional<DWORD> Process::ExitCode() const
{
    DWORD code = 0;
    if (m_handle == nullptr || !GetExitCodeProcess(m_handle, &code) || code == STILL_ACTIVE)
        return std::nullopt;
    return code;
}

void Process::Terminate()
{
    if (m_handle != nullptr && !WaitForExit(0)) {
        TerminateProcess(m_handle, 255);
        WaitForExit(5000);
    }
}

void Process::Close()
{
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
    m_id = 0;
}

bool WaitForProcessExit(DWORD processId, DWORD timeoutMs)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process (any more)
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// --- Windows and controls ---

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
    const std::optional<LRESULT> length = Send(control, WM_GETTEXTLENGTH, 0, 0, timeoutMs);
    if (!length)
        return std::nullopt;
    std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied = Send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                                               timeoutMs);
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
    const std::optional<LRESULT> count = Send(combo, CB_GETCOUNT, 0, 0, timeoutMs);
    if (!count || *count < 0)
        return std::nullopt;
    std::vector<std::wstring> rows;
    for (WPARAM row = 0; row < static_cast<WPARAM>(*count); ++row) {
        const std::optional<LRESULT> length = Send(combo, CB_GETLBTEXTLEN, row, 0, timeoutMs);
        if (!length || *length < 0)
            return std::nullopt;
        std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
        const std::optional<LRESULT> copied =
            Send(combo, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(&text[0]), timeoutMs);
        if (!copied || *copied < 0)
            return std::nullopt;
        text.resize(static_cast<size_t>(*copied));
        rows.push_back(text);
    }
    return rows;
}

std::optional<int> ReadComboSelection(HWND combo, DWORD timeoutMs)
{
    const std::optional<LRESULT> row = Send(combo, CB_GETCURSEL, 0, 0, timeoutMs);
    if (!row)
        return std::nullopt;
    return static_cast<int>(*row);
}

bool SelectComboRow(HWND combo, int row, DWORD timeoutMs)
{
    const std::optional<LRESULT> selected = Send(combo, CB_SETCURSEL, static_cast<WPARAM>(row), 0, timeoutMs);
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

// --- Message boxes ---

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

bool PressOk(HWND box)
{
    HWND ok = GetDlgItem(box, IDOK);
    return ok != nullptr && ClickButton(ok);
}

// --- Screenshots ---

std::optional<Screenshot> Screenshot::OfWindow(HWND window)
{
    RECT area;
    if (!GetWindowRect(window, &area))
        return std::nullopt;
    return OfScreenArea(area);
}

std::optional<Screenshot> Screenshot::OfScreenArea(const RECT& area)
{
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return std::nullopt;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    std::optional<Screenshot> shot;
    HDC screen = GetDC(nullptr);
    HDC memory = screen != nullptr ? CreateCompatibleDC(screen) : nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = memory != nullptr ? CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
            GdiFlush();
            const auto* pixels = static_cast<const uint32_t*>(bits);
            shot.emplace();
            shot->m_area = area;
            shot->m_width = width;
            shot->m_height = height;
            shot->m_pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
            // The fourth byte is undefined after a copy from the screen (icons leave 255
            // there); viewers would take it for transparency.
            for (uint32_t& p : shot->m_pixels)
                p &= 0x00FFFFFFu;
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    if (memory != nullptr)
        DeleteDC(memory);
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return shot;
}

Rgb Screenshot::Pixel(int x, int y) const
{
    const uint32_t p = m_pixels[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
    return Rgb{static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
}

bool Screenshot::SaveBmp(const std::wstring& path) const
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = m_width;
    header.biHeight = -m_height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const DWORD pixelBytes = static_cast<DWORD>(m_pixels.size() * sizeof(uint32_t));
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + pixelBytes;

    std::ofstream out(path.c_str(), std::ios::binary);  // MinGW's wide-path overload
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(m_pixels.data()), pixelBytes);
    return static_cast<bool>(out.flush());
}

Ink CountInk(const Screenshot& shot, const RECT& screenArea)
{
    RECT inside;
    if (!IntersectRect(&inside, &screenArea, &shot.Area()))
        return Ink{};
    Ink ink;
    for (LONG y = inside.top; y < inside.bottom; ++y) {
        for (LONG x = inside.left; x < inside.right; ++x) {
            const Rgb p = shot.Pixel(x - shot.Area().left, y - shot.Area().top);
            if (p.r == 255 && p.g == 0 && p.b == 0)
                ++ink.red;
            else if (p.r <= 0x50 && p.g <= 0x50 && p.b <= 0x50)
                ++ink.dark;
        }
    }
    return ink;
}

TextColour ClassifyInk(const Ink& ink)
{
    if (ink.red > 0)
        return TextColour::Red;
    return ink.dark > 0 ? TextColour::Dark : TextColour::None;
}

std::optional<TextColour> ControlTextColour(HWND control)
{
    const std::optional<Screenshot> shot = Screenshot::OfWindow(control);
    if (!shot)
        return std::nullopt;
    return ClassifyInk(CountInk(*shot, shot->Area()));
}

std::optional<TextColour> ShownTextColour(HWND control, TextColour expected, DWORD timeoutMs)
{
    for (int i = 0; i < 2; ++i)
        SendMessageTimeoutW(control, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    std::optional<TextColour> seen = ControlTextColour(control);
    while (seen != expected && GetTickCount64() < end) {
        Sleep(20);
        seen = ControlTextColour(control);
    }
    return seen;
}

const char* ToString(TextColour colour)
{
    switch (colour) {
    case TextColour::Red:
        return "red";
    case TextColour::Dark:
        return "dark";
    default:
        return "none";
    }
}

// --- Handles and threads ---

std::optional<unsigned> CountHandles(DWORD processId)
{
    // The table holds every handle of the system; it can grow between two calls.
    ULONG size = 1 << 16;
    for (int attempt = 0; attempt < 12; ++attempt) {
        std::vector<unsigned char> buffer(size);
        ULONG needed = 0;
        const NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                                         size, &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            size = needed > size ? needed + 4096 : size * 2;
            continue;
        }
        if (status < 0)
            return std::nullopt;
        const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        const SYSTEM_HANDLE_ENTRY* entry = table->Handle;
        const size_t room = (size - offsetof(SYSTEM_HANDLE_INFORMATION, Handle)) / sizeof(SYSTEM_HANDLE_ENTRY);
        unsigned count = 0;
        for (size_t i = 0; i < table->Count && i < room; ++i) {
            if (entry[i].OwnerPid == processId)
                ++count;
        }
        return count;
    }
    return std::nullopt;
}

std::optional<unsigned> CountThreads(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return std::nullopt;
    unsigned count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace automation

// Driving another process's dialogs from outside, for the window tests and for winauto:
// find windows and read them (Windows.cpp), post clicks, keys and selections (Input.cpp),
// take screenshots for colour checks (Screenshot.cpp), start processes and count their
// handles and threads (Process.cpp).
//
// Messages that need an answer are sent with a time limit (SendMessageTimeoutW);
// actions are posted, so that they never wait for a program whose user-interface thread
// is busy. Static controls and captions are read without a message (the server's copy of
// the text), so they can be read while the program's thread is busy. Every wait here is
// bounded by the caller's timeout.
#ifndef QUILLANE_TESTS_AUTOMATION_H
#define QUILLANE_TESTS_AUTOMATION_H

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace automation {

constexpr DWORD kMessageTimeoutMs = 2000;  // default bound of a sent message

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);  // to UTF-8

// SendMessageTimeoutW; empty when the window did not answer within timeoutMs.
std::optional<LRESULT> SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs);

// A process started by Start. Owns the process handle; the process itself runs on
// when the object goes (see Terminate).
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;

    // Starts exe with the given argument text; Started() is false on failure.
    static Process Start(const std::wstring& exe, const std::wstring& arguments = L"");

    bool Started() const { return m_handle != nullptr; }
    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_handle; }
    bool WaitForExit(DWORD timeoutMs) const;  // true when it has ended
    void Terminate();                         // if it still runs; waits up to 5 s for the end
    void Close();

private:
    HANDLE m_handle = nullptr;
    DWORD m_id = 0;
};

bool WaitForProcessExit(DWORD processId, DWORD timeoutMs);  // true when it ended or is gone

// Top-level visible dialog (class #32770) with exactly this caption, of processId
// (0: any process).
HWND FindDialog(const std::wstring& caption, DWORD processId = 0);
HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs, DWORD processId = 0);
DWORD ProcessOfWindow(HWND window);

HWND FindControl(HWND dialog, int id);
std::wstring ClassOf(HWND window);
std::wstring Caption(HWND window);  // the server's copy; never blocks
// A static control's text is read without a message; every other control's with
// WM_GETTEXT, sent with a time limit. Empty when the control did not answer in time.
std::optional<std::wstring> ReadText(HWND control, DWORD timeoutMs = kMessageTimeoutMs);
bool IsEnabled(HWND window);

// Combo box rows, and the selected row (-1: none); empty when the control did not answer.
std::optional<std::vector<std::wstring>> ReadComboRows(HWND combo, DWORD timeoutMs = kMessageTimeoutMs);
std::optional<int> ReadComboSelection(HWND combo, DWORD timeoutMs = kMessageTimeoutMs);
// Selects a row (CB_SETCURSEL; the parent gets no CBN_SELCHANGE). True when it is selected.
bool SelectComboRow(HWND combo, int row, DWORD timeoutMs = kMessageTimeoutMs);

// Posts BN_CLICKED from the button to its parent, as a mouse click would.
bool ClickButton(HWND button);
// Posts a key press (WM_KEYDOWN, WM_KEYUP) to the control that has the focus in the
// dialog's thread (the dialog itself when none has), so that the dialog's message loop
// treats it as typed: IsDialogMessage asks the focused control (WM_GETDLGCODE) and the
// dialog (DM_GETDEFID), then sends VK_RETURN as the default command (IDOK when there is
// no default button) and VK_ESCAPE as IDCANCEL. A control that wants the key keeps it (a
// dropped-down combo box, a multi-line edit with ES_WANTRETURN); posting WM_COMMAND
// would skip all this. Under Wine on Xvfb, with no window manager, the dialog's first
// tab stop has the focus and GetGUIThreadInfo reports it across processes.
bool PressKey(HWND dialog, UINT virtualKey);
bool PostSysCommand(HWND window, UINT command);

// A message box of processId (0: any process): a top-level visible #32770 window other
// than `except` that holds the message box's text control (a static with id 0xFFFF).
HWND FindMessageBox(DWORD processId, HWND except = nullptr);
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except = nullptr);
std::wstring MessageBoxText(HWND box);
bool PressOk(HWND box);  // posts the OK button's click

// A picture of a screen area: 32-bit pixels, top row first.
struct Rgb {
    uint8_t r, g, b;
};

class Screenshot {
public:
    // Captures the screen area of a window; empty when the capture failed.
    static std::optional<Screenshot> OfWindow(HWND window);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const RECT& Area() const { return m_area; }  // in screen coordinates
    Rgb Pixel(int x, int y) const;                // x, y within the picture
    bool SaveBmp(const std::wstring& path) const;

private:
    RECT m_area = {};
    int m_width = 0;
    int m_height = 0;
    std::vector<uint32_t> m_pixels;  // 0x00RRGGBB
};

// Text pixels within a screen rectangle of a picture. Text is drawn anti-aliased (grey
// levels under Wine), so most of its pixels are blends of text and background; only
// fully covered pixels have the text's own colour.
struct Ink {
    int red = 0;   // pure red (255, 0, 0)
    int dark = 0;  // each component at most 0x50: black text and its darker blends
};
Ink CountInk(const Screenshot& shot, const RECT& screenArea);

// Red: pure red pixels are present (only red text drawn on a grey background gives them).
// Dark: dark pixels and no pure red. None: neither.
enum class TextColour { None, Red, Dark };
TextColour ClassifyInk(const Ink& ink);
// Captures the control's screen area and classifies its text; empty when the capture failed.
std::optional<TextColour> ControlTextColour(HWND control);
// The colour once the screen shows what the program last drew. Under Wine the screen gets
// a program's drawing when Wine flushes the window to the X server: when the program's
// thread goes idle, or when it paints at least 50 ms after it last was; a text set and
// painted within 50 ms of the thread's last idle moment is not on the screen yet. So this
// first lets the window's thread take two messages (it goes idle, and so flushes, before
// the second), then reads until the colour is the expected one or timeoutMs pass, and
// returns the last reading.
std::optional<TextColour> ShownTextColour(HWND control, TextColour expected, DWORD timeoutMs = 3000);
const char* ToString(TextColour colour);

// Handles and threads of a process, counted by the system (NtQuerySystemInformation with
// SystemHandleInformation, and a Toolhelp snapshot); empty when the query failed.
std::optional<unsigned> CountHandles(DWORD processId);
std::optional<unsigned> CountThreads(DWORD processId);

}  // namespace automation

#endif

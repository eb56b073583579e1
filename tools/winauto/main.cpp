// winauto: drives the dialogs of a program running in the same Wine prefix (or Windows
// session) from a shell script. Prints UTF-8; exits 0 on success, 1 when a window or
// control was not found or did not answer, 2 on a usage error.
#include <windows.h>

#include <cwchar>
#include <string>

#include "Automation.h"

using namespace automation;

namespace {

constexpr DWORD kFindMs = 5000;  // how long a command waits for its dialog

const char kUsage[] =
    "usage: winauto COMMAND ...\n"
    "  wait-window CAPTION [MS]     wait for a dialog; prints its process id\n"
    "  text CAPTION ID              a control's text\n"
    "  enabled CAPTION ID           1 or 0\n"
    "  combo CAPTION ID             the rows; '* ' marks the selected one\n"
    "  select CAPTION ID ROW        select a row (no notification)\n"
    "  click CAPTION ID             post a button click\n"
    "  key CAPTION enter|escape     post a key press to the focused control\n"
    "  syscommand CAPTION COMMAND   post WM_SYSCOMMAND\n"
    "  messagebox [MS] [PID]        wait for a message box; prints caption, then text\n"
    "  press-ok [MS] [PID]          wait for a message box and press its OK button\n"
    "  wait-exit PID [MS]           wait for a process to end\n"
    "  handles PID                  the process's handle and thread counts\n"
    "  screenshot CAPTION FILE.bmp  save the dialog's screen area\n"
    "  ink CAPTION ID               red, dark or none: the colour of a control's text\n"
    "IDs, rows and numbers may be decimal or 0x hexadecimal.\n";

void Write(DWORD stream, const std::string& text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Print(const std::string& line)
{
    Write(STD_OUTPUT_HANDLE, line + "\n");
}

int Fail(const std::string& message)
{
    Write(STD_ERROR_HANDLE, "winauto: " + message + "\n");
    return 1;
}

bool ParseNumber(const wchar_t* text, long& value)
{
    wchar_t* end = nullptr;
    value = std::wcstol(text, &end, 0);
    return end != text && *end == L'\0';
}

class Command {
public:
    Command(int argc, wchar_t** argv) : m_argc(argc), m_argv(argv) {}

    int Run();

private:
    bool Has(int i) const { return i < m_argc; }
    std::wstring Arg(int i) const { return m_argv[i]; }
    bool Number(int i, long& value) const { return Has(i) && ParseNumber(m_argv[i], value); }
    DWORD OptionalMs(int i, DWORD fallback) const
    {
        long ms = 0;
        return Number(i, ms) && ms >= 0 ? static_cast<DWORD>(ms) : fallback;
    }
    HWND Dialog();            // argument 2
    HWND Control(HWND& dlg);  // arguments 2 and 3
    int WithMessageBox(bool pressOk);

    int m_argc;
    wchar_t** m_argv;
};

HWND Command::Dialog()
{
    return Has(2) ? WaitForDialog(Arg(2), kFindMs) : nullptr;
}

HWND Command::Control(HWND& dlg)
{
    long id = 0;
    dlg = Dialog();
    if (dlg == nullptr || !Number(3, id))
        return nullptr;
    return FindControl(dlg, static_cast<int>(id));
}

int Command::WithMessageBox(bool pressOk)
{
    long pid = 0;
    HWND box = WaitForMessageBox(Number(3, pid) ? static_cast<DWORD>(pid) : 0, OptionalMs(2, kFindMs));
    if (box == nullptr)
        return Fail("no message box");
    if (pressOk)
        return PressOk(box) ? 0 : Fail("cannot press OK");
    Print(Narrow(Caption(box)));
    Print(Narrow(MessageBoxText(box)));
    return 0;
}

int Command::Run()
{
    if (!Has(1))
        return 2;
    const std::wstring verb = Arg(1);
    HWND dlg = nullptr;
    long value = 0;

    if (verb == L"wait-window") {
        if (!Has(2))
            return 2;
        HWND window = WaitForDialog(Arg(2), OptionalMs(3, kFindMs));
        if (window == nullptr)
            return Fail("no dialog " + Narrow(Arg(2)));
        Print(std::to_string(ProcessOfWindow(window)));
        return 0;
    }
    if (verb == L"messagebox" || verb == L"press-ok")
        return WithMessageBox(verb == L"press-ok");
    if (verb == L"wait-exit") {
        if (!Number(2, value))
            return 2;
        return WaitForProcessExit(static_cast<DWORD>(value), OptionalMs(3, kFindMs)) ? 0 : Fail("still running");
    }
    if (verb == L"handles") {
        if (!Number(2, value))
            return 2;
        const auto handles = CountHandles(static_cast<DWORD>(value));
        const auto threads = CountThreads(static_cast<DWORD>(value));
        if (!handles || !threads)
            return Fail("cannot count");
        Print("handles " + std::to_string(*handles) + " threads " + std::to_string(*threads));
        return 0;
    }
    if (verb == L"screenshot") {
        if (!Has(3))
            return 2;
        dlg = Dialog();
        if (dlg == nullptr)
            return Fail("no dialog " + Narrow(Arg(2)));
        const auto shot = Screenshot::OfWindow(dlg);
        return shot && shot->SaveBmp(Arg(3)) ? 0 : Fail("cannot capture or save");
    }
    if (verb == L"key") {
        if (!Has(3))
            return 2;
        const UINT key = Arg(3) == L"enter" ? VK_RETURN : Arg(3) == L"escape" ? VK_ESCAPE : 0;
        if (key == 0)
            return 2;
        dlg = Dialog();
        return dlg != nullptr && PressKey(dlg, key) ? 0 : Fail("no dialog " + Narrow(Arg(2)));
    }
    if (verb == L"syscommand") {
        if (!Number(3, value))
            return 2;
        dlg = Dialog();
        return dlg != nullptr && PostSysCommand(dlg, static_cast<UINT>(value)) ? 0
                                                                                 : Fail("no dialog " + Narrow(Arg(2)));
    }

    // The remaining commands work on one control: CAPTION ID.
    if (!Has(3))
        return 2;
    HWND control = Control(dlg);
    if (control == nullptr)
        return Fail(dlg == nullptr ? "no dialog " + Narrow(Arg(2)) : "no control " + Narrow(Arg(3)));
    if (verb == L"text") {
        const auto text = ReadText(control);
        if (!text)
            return Fail("the control did not answer");
        Print(Narrow(*text));
        return 0;
    }
    if (verb == L"enabled") {
        Print(IsEnabled(control) ? "1" : "0");
        return 0;
    }
    if (verb == L"combo") {
        const auto rows = ReadComboRows(control);
        const auto selected = ReadComboSelection(control);
        if (!rows || !selected)
            return Fail("the control did not answer");
        for (size_t i = 0; i < rows->size(); ++i)
            Print((static_cast<int>(i) == *selected ? "* " : "  ") + Narrow((*rows)[i]));
        return 0;
    }
    if (verb == L"select") {
        if (!Number(4, value))
            return 2;
        return SelectComboRow(control, static_cast<int>(value)) ? 0 : Fail("row not selected");
    }
    if (verb == L"click")
        return ClickButton(control) ? 0 : Fail("cannot post the click");
    if (verb == L"ink") {
        const auto shot = Screenshot::OfWindow(control);
        if (!shot)
            return Fail("cannot capture");
        const Ink ink = CountInk(*shot, shot->Area());
        Print(std::string(ToString(ClassifyInk(ink))) + " red=" + std::to_string(ink.red) +
              " dark=" + std::to_string(ink.dark));
        return 0;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int result = Command(argc, argv).Run();
    if (result == 2)
        Write(STD_ERROR_HANDLE, kUsage);
    return result;
}

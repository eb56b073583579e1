// vr7 on Windows: takes the command line as Windows gives it (UTF-16, so Chinese labels
// can be typed) and hands it on as UTF-8. The first Ctrl+C stops the runs cleanly (they
// open and send nothing more and close their ports); a second one ends vr7 at once.
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "Commands.h"
#include "Vr7.h"
#include "WinText.h"

namespace {

// Set by Ctrl+C, watched by every run. Never freed: the system runs the Ctrl+C handler on
// a thread of its own, which may still be setting it while main returns, and a run given
// up after the stop may still watch it.
StopSignal* const g_stop = new StopSignal;
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_interrupts.fetch_add(1) > 0)
        TerminateProcess(GetCurrentProcess(), kExitStopped);  // the second: at once, whatever is blocked
    g_stop->Set(kExitStopped);
    return TRUE;  // the runs end by themselves, closing their ports
}

std::vector<std::string> Utf8Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return {"vr7"};
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

}  // namespace

int main()
{
    SetConsoleCtrlHandler(OnControl, TRUE);
    return RunVr7(Utf8Arguments(), g_stop);
}

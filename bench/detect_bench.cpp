// Benchmark of vr7 detect: the same command over one port and over eight, against
// simulated digitizers that answer at once and against silent ones; and vr7 configure on
// a port that this program holds, to the sentence that names it. Each figure is the
// whole command, process start included, as a script sees it. Prints a table; asserts
// nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Automation.h"  // Widen
#include "TestEnv.h"

namespace {

// Simulated ports the library can open (bench/run.sh maps COM2, COM4, COM8 and COM10
// beside the test rig's).
constexpr unsigned kPorts[] = {3, 5, 6, 12, 2, 4, 8, 10};
constexpr int kAnsweringRuns = 5;

struct Timing {
    double ms;
    DWORD exitCode;
};

// Runs vr7 with its output thrown away; the whole time from start to end.
Timing RunVr7(const std::wstring& vr7, const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    std::wstring commandLine = L"\"" + vr7 + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    Timing timing = {0, 255};
    const double start = NowMs();
    if (CreateProcessW(vr7.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(info.hProcess, &timing.exitCode);
        timing.ms = NowMs() - start;
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    return timing;
}

// Lists the first count ports and sets their simulators' behaviour; returns the median of
// runs timings (the exit code of the last run).
Timing Measure(SerialCommOverride& list, const std::wstring& vr7, size_t count, const char* behaviour, int runs)
{
    list.Clear();
    for (size_t i = 0; i < count; ++i) {
        list.SetString("\\Device\\Bench" + std::to_string(i), "COM" + std::to_string(kPorts[i]));
        Simulator sim(kPorts[i]);
        sim.Reset();
        sim.Behave(behaviour);
    }
    std::vector<double> times;
    Timing last = {0, 0};
    for (int i = 0; i < runs; ++i) {
        last = RunVr7(vr7, L"detect --software 33");
        times.push_back(last.ms);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], last.exitCode};
}

// COM11 (fixture.sh: its target a regular file) held as a program holds a port, also by
// its device name, which Windows gives the holder's handle and Wine does only so.
Timing MeasureBusy(SerialCommOverride& list, const std::wstring& vr7, int runs)
{
    list.Clear();
    list.SetString("\\Device\\BenchBusy", "COM11");
    wchar_t device[256] = {};
    QueryDosDeviceW(L"COM11", device, 256);
    std::vector<HANDLE> held;
    for (const std::wstring& path : {std::wstring(L"\\\\.\\COM11"), L"\\\\?\\GLOBALROOT" + std::wstring(device)})
        held.push_back(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<double> times;
    Timing last = {0, 0};
    for (int i = 0; i < runs; ++i) {
        last = RunVr7(vr7, L"configure --port COM11 --software 33");
        times.push_back(last.ms);
    }
    for (const HANDLE handle : held) {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], last.exitCode};
}

void Row(const char* what, const Timing& one, const Timing& eight)
{
    std::printf("| %s | %.0f ms (exit %lu) | %.0f ms (exit %lu) | %.2f |\n", what, one.ms,
                static_cast<unsigned long>(one.exitCode), eight.ms, static_cast<unsigned long>(eight.exitCode),
                eight.ms / one.ms);
}

}  // namespace

int main()
{
    const std::wstring vr7 = automation::Widen(WindowsPathFromEnv("QUILLANE_VR7"));
    SerialCommOverride list;  // the original list comes back at the end
    const Timing answering1 = Measure(list, vr7, 1, "reply", kAnsweringRuns);
    const Timing answering8 = Measure(list, vr7, 8, "reply", kAnsweringRuns);
    const Timing silent1 = Measure(list, vr7, 1, "silence", 1);
    const Timing silent8 = Measure(list, vr7, 8, "silence", 1);
    const Timing busy = MeasureBusy(list, vr7, kAnsweringRuns);

    std::vector<double> starts;
    for (int i = 0; i < kAnsweringRuns; ++i)
        starts.push_back(RunVr7(vr7, L"software").ms);
    std::sort(starts.begin(), starts.end());

    std::printf("| vr7 detect --software 33 (the whole command) | 1 port | 8 ports, side by side | 8 ports / 1 port |\n"
                "|---|---|---|---|\n");
    Row("digitizers answering at once (median of 5)", answering1, answering8);
    Row("no digitizer (five attempts each)", silent1, silent8);
    std::printf("| a port this program holds: vr7 configure to the sentence naming it (median of 5) | %.0f ms (exit %lu) "
                "| | |\n", busy.ms, static_cast<unsigned long>(busy.exitCode));
    std::printf("| for comparison: vr7 software, start to end (median of 5) | %.0f ms | | |\n", starts[starts.size() / 2]);
    return 0;
}

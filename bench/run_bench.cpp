// Benchmark of the configuration run and the start-up, against a simulated digitizer on
// a virtual COM port. Prints a table; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Automation.h"
#include "ConfigurationRun.h"
#include "PortEntryPoints.h"
#include "TestEnv.h"
#include "bare_dialog.h"

namespace {

constexpr unsigned kPort = 3;
constexpr int kOkRuns = 20;
constexpr int kStartRuns = 5;

class TimingView : public RunView {
public:
    double start = 0, firstCount = 0, ended = 0;
    std::string status;
    int SelectedPortRow() override { return 0; }
    int SelectedSoftwareRow() override { return 33; }
    unsigned short PortNumberAt(int) override { return kPort; }
    void SetStatusText(const char* text) override
    {
        if (std::string(text).rfind("Please wait", 0) == 0 && firstCount == 0)
            firstCount = NowMs() - start;
        if (std::string(text).rfind("Status:", 0) == 0) {
            ended = NowMs() - start;
            status = text;
        }
    }
    void SetInstructionText(const char*) override {}
    void EnableOkButton(bool) override {}
    void ShowMessage(const char*) override {}
};

double CpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

struct Stats {
    double min, median, max;
};
Stats Summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

// Milliseconds from the start of a program until its window shows a filled combo box.
double StartUpMs(const std::wstring& exe, const std::wstring& caption, int combo)
{
    const double start = NowMs();
    automation::Process p = automation::Process::Start(exe);
    HWND window = nullptr;
    double ready = -1;
    while (NowMs() - start < 20000) {
        if (window == nullptr)
            window = automation::FindDialog(caption, p.Id());
        if (window != nullptr) {
            auto rows = automation::ReadComboRows(automation::FindControl(window, combo), 200);
            if (rows && !rows->empty()) {
                ready = NowMs() - start;
                break;
            }
        }
        Sleep(1);
    }
    if (ready < 0)
        std::fprintf(stderr, "start-up not measured: started %d, window %p\n", p.Started() ? 1 : 0,
                     static_cast<void*>(window));
    p.Terminate();
    return ready;
}

}  // namespace

int main()
{
    const LinkportApi& lib = Linkport();
    const PortEntryPoints entries = {lib.TestPort,     lib.OpenPort, lib.ListSerialComm, lib.recvdata,
                                     lib.WaitRecvdata, lib.senddata, lib.ClosePort};
    EntryPointLink link(entries);
    RunState state;
    state.replyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Simulator sim(kPort);

    // A digitizer that answers as soon as a device could: the frame's wire time, a 10 ms
    // turnaround, the reply's wire time (11 characters of 10 bits at 9600 baud).
    sim.Reset();
    std::vector<double> okTimes;
    for (int i = 0; i < kOkRuns; ++i) {
        TimingView view;
        view.start = NowMs();
        RunConfiguration(link, view, state);
        if (view.status == "Status:OK!")
            okTimes.push_back(view.ended);
    }
    const double exchangeMs = 11 * 10 * 1000.0 / 9600 + 10;

    sim.Behave("silence");
    TimingView silent;
    const double cpuBefore = CpuMs();
    silent.start = NowMs();
    RunConfiguration(link, silent, state);
    const double cpu = CpuMs() - cpuBefore;

    std::vector<double> appStart, bareStart;
    const std::wstring app = automation::Widen(WindowsPathFromEnv("QUILLANE_APP"));
    const std::wstring bare = automation::Widen(WindowsPathFromEnv("QUILLANE_BARE_DIALOG"));
    for (int i = 0; i < kStartRuns; ++i) {
        appStart.push_back(StartUpMs(app, L"Quillane Software Setup Assistant  V3.2", 1002));
        bareStart.push_back(StartUpMs(bare, automation::Widen(BARE_CAPTION), BARE_COMBO));
    }

    std::printf("| measure | result | reference |\n|---|---|---|\n");
    if (okTimes.empty()) {
        std::printf("| click to \"Status:OK!\" | no run ended with Status:OK! | |\n");
    } else {
        const Stats ok = Summarise(okTimes);
        std::printf("| run start to \"Status:OK!\", digitizer answering at once (%d runs) | min %.1f / median %.1f / max "
                    "%.1f ms | the exchange on the wire: %.1f ms |\n",
                    static_cast<int>(okTimes.size()), ok.min, ok.median, ok.max, exchangeMs);
    }
    std::printf("| run with no digitizer, start to \"Status:Error!\" | %.0f ms (%s) | 8000 ms |\n", silent.ended,
                silent.status.c_str());
    std::printf("| process CPU time during that run | %.0f ms | well under 200 ms |\n", cpu);
    const Stats a = Summarise(appStart), b = Summarise(bareStart);
    std::printf("| start-up to a filled window (%d starts) | median %.0f ms (min %.0f, max %.0f) | a bare Win32 dialog "
                "program: median %.0f ms |\n",
                kStartRuns, a.median, a.min, a.max, b.median);
    CloseHandle(state.replyEvent);
    return 0;
}

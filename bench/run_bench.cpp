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
constexpr int kStartRuns = 25;  // of each program, interleaved

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
    if (v.empty())
        return {0, 0, 0};
    std::sort(v.begin(), v.end());
    const size_t half = v.size() / 2;
    const double median = v.size() % 2 ? v[half] : (v[half - 1] + v[half]) / 2;
    return {v.front(), median, v.back()};
}

// A program whose start-up is timed: its window's caption, and the combo boxes that
// must hold rows (with the number each must end up with) for the window to count as filled.
struct StartedProgram {
    const char* name;
    std::wstring exe;
    std::wstring caption;
    std::vector<std::pair<int, size_t>> lists;  // control id, rows expected
};

// The program's visible dialog, found with one look-up by class and caption; the poll
// runs every millisecond beside the starting program, so it must cost it little.
HWND FindStartedDialog(const std::wstring& caption, DWORD processId)
{
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", caption.c_str())) != nullptr)
        if (automation::ProcessOfWindow(window) == processId && IsWindowVisible(window))
            return window;
    return nullptr;
}

// True when every list answers with at least one row: one message per list, the same
// for both programs, whatever their number of rows (reading all 50 rows of the
// software list on every poll would time the poll's own messages, not the start-up).
bool ListsHaveRows(HWND window, const StartedProgram& program)
{
    for (const auto& list : program.lists) {
        DWORD_PTR rows = 0;
        if (!SendMessageTimeoutW(automation::FindControl(window, list.first), CB_GETCOUNT, 0, 0, SMTO_BLOCK, 200,
                                 &rows) ||
            static_cast<LRESULT>(rows) <= 0)
            return false;
    }
    return true;
}

// Milliseconds from the start of the program until its window shows filled lists; -1
// when it did not within 20 s. Once timed, the rows are read and checked, untimed.
double StartUpMs(const StartedProgram& program)
{
    const double start = NowMs();
    automation::Process p = automation::Process::Start(program.exe);
    HWND window = nullptr;
    double ready = -1;
    while (p.Started() && NowMs() - start < 20000) {
        if (window == nullptr)
            window = FindStartedDialog(program.caption, p.Id());
        if (window != nullptr && ListsHaveRows(window, program)) {
            ready = NowMs() - start;
            break;
        }
        Sleep(1);
    }
    for (const auto& list : program.lists) {
        if (ready < 0)
            break;
        const auto rows = automation::ReadComboRows(automation::FindControl(window, list.first));
        if (!rows || rows->size() < list.second) {
            std::fprintf(stderr, "%s: list %d holds %d rows, %d expected\n", program.name, list.first,
                         rows ? static_cast<int>(rows->size()) : -1, static_cast<int>(list.second));
            ready = -1;
        }
    }
    if (ready < 0)
        std::fprintf(stderr, "%s: start-up not measured: started %d, window %p\n", program.name,
                     p.Started() ? 1 : 0, static_cast<void*>(window));
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
    state.replyEvent = std::make_shared<ReplySignal>();
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

    // The program (its port list, here COM1 and the test rig's ports, and its 50 CAD
    // programs) and the bare dialog (one row), started alternately so that both meet the
    // same load of the machine. One untimed start of each first: the first start after
    // the prefix's set-up reads files that the later ones find in the cache.
    const StartedProgram app = {"quillane VR7",
                                automation::Widen(WindowsPathFromEnv("QUILLANE_APP")),
                                L"Quillane Software Setup Assistant  V3.2",
                                {{1000, 1}, {1002, 50}}};
    const StartedProgram bare = {"bare dialog",
                                 automation::Widen(WindowsPathFromEnv("QUILLANE_BARE_DIALOG")),
                                 automation::Widen(BARE_CAPTION),
                                 {{BARE_COMBO, 1}}};
    StartUpMs(app);
    StartUpMs(bare);
    std::vector<double> appStart, bareStart;
    for (int i = 0; i < kStartRuns; ++i) {
        for (const StartedProgram* program : {&app, &bare}) {
            const double ms = StartUpMs(*program);
            if (ms >= 0)
                (program == &app ? appStart : bareStart).push_back(ms);
        }
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
    std::printf("| start-up to a filled window (%d and %d starts, alternating) | min %.0f / median %.0f / max %.0f ms | "
                "a bare Win32 dialog program on the same framework: min %.0f / median %.0f / max %.0f ms |\n",
                static_cast<int>(appStart.size()), static_cast<int>(bareStart.size()), a.min, a.median, a.max, b.min,
                b.median, b.max);
    std::printf("| start-up, ratio of the medians | %.2f | at most 1.2 |\n", b.median > 0 ? a.median / b.median : 0.0);
    return 0;
}

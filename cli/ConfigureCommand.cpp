// vr7 configure --port COMn --software ROW|LABEL: the window's configuration run on one
// port, each attempt shown as it happens, then the instructions and the status.
#include <nlohmann/json.hpp>

#include "Arguments.h"
#include "Commands.h"
#include "Console.h"
#include "PortRun.h"
#include "Report.h"

namespace {

void PrintInstructions(const std::string& text)
{
    if (text.empty()) {
        Out().Line("Instructions: none for this CAD program");
        return;
    }
    Out().Line("Instructions:");
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        Out().Line("  " + text.substr(start, end - start));
        start = end + 2;
    }
}

void PrintEnding(RunEnding ending)
{
    if (ending == RunEnding::Ok) {
        Out().Line(kStatusOk);
    } else if (ending == RunEnding::Error) {
        Out().Line(kStatusError);
        Out().Line("No valid reply at any of the five line settings: check the cable, the digitizer's power "
                   "and the port.");
    }
}

nlohmann::ordered_json ResultJson(const PortRun& run, int row, RunEnding ending)
{
    return {{"port", PortName(run.Port())},
            {"software", SoftwareJson(row)},
            {"attempts", AttemptsJson(run.Attempts())},
            {"instructions", run.Instructions()},
            {"status", EndingName(ending)},
            {"exitCode", ExitStatusOf(ending)}};
}

}  // namespace

int ConfigureCommand(const Options& options)
{
    const unsigned short port = PortArgument(options.port);
    const int row = SoftwareArgument(options.software);
    RequireUsablePort(port);

    if (!options.json)
        Out().Line("Configuring " + PortName(port) + " for " + SoftwareText(row));
    const PortRunPtr run = MakePortRun(port, row, options.stop, !options.json);
    const RunEnding ending = run->Execute();
    if (options.json) {
        PrintJson(ResultJson(*run, row, ending));
    } else if (ending == RunEnding::Ok || ending == RunEnding::Error) {
        PrintInstructions(run->Instructions());
        PrintEnding(ending);
    }
    if (ending == RunEnding::OpenFailed)
        Err().Line(PortName(port) + " cannot be opened: another program may hold it, or its device is missing.");
    if (ending == RunEnding::Stopped)
        Err().Line("Stopped by Ctrl+C; " + PortName(port) + " is closed.");
    return ExitStatusOf(ending);
}

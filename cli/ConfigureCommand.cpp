// vr7 configure --port PORT --software ROW|LABEL: the window's configuration run on one
// port, each attempt shown as it happens, then the instructions and the status.
#include <nlohmann/json.hpp>

#include "Arguments.h"
#include "Commands.h"
#include "Console.h"
#include "PortRun.h"
#include "Ports.h"
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

nlohmann::ordered_json ResultJson(const PortRun& run, int row, RunEnding ending, int status)
{
    const PortInfo& port = run.Port();
    return {{"port", port.name},
            {"device", port.device.empty() ? port.name : port.device},
            {"software", SoftwareJson(row)},
            {"attempts", AttemptsJson(run.Attempts())},
            {"instructions", run.Instructions()},
            {"status", EndingName(ending)},
            {"openError", OpenErrorJson(run.OpenFailure())},
            {"exitCode", status}};
}

}  // namespace

int ConfigureCommand(const Options& options)
{
    const PortSelector selector = ParsePortArgument(options.port);  // bad usage before a missing port
    const int row = SoftwareArgument(options.software);
    const PortInfo port = OnePort(selector.text);

    if (!options.json)
        Out().Line("Configuring " + port.name + " for " + SoftwareText(row));
    const PortRunPtr run = MakePortRun(port, row, options.stop, !options.json);
    const RunEnding ending = run->Execute();
    const int status = ExitStatusOf(ending, StoppedStatus(options));
    if (options.json) {
        PrintJson(ResultJson(*run, row, ending, status));
    } else if (ending == RunEnding::Ok || ending == RunEnding::Error) {
        PrintInstructions(run->Instructions());
        PrintEnding(ending);
    }
    if (ending == RunEnding::OpenFailed)
        Err().Line(OpenErrorText(port, *run->OpenFailure()));
    if (ending == RunEnding::Stopped)
        Err().Line("Stopped by " + StopName(options) + "; " + port.name + " is closed.");
    return status;
}

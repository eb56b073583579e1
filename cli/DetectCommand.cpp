// vr7 detect --software ROW|LABEL [--port PORT]...: the configuration run on every listed
// port (or on those given), side by side, each on a thread of its own with its own link;
// tells which ports answered with a valid reply and what each other port did.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "Console.h"
#include "PortRun.h"
#include "Report.h"
#include "SideBySide.h"

namespace {

enum class Result { Answered, NoAnswer, WrongAnswer, CannotOpen, Stopped, Skipped, Failed };

// One port's run. Read only after RunSideBySide has returned, and only when it ended.
struct Probe : SideBySideJob {
    Probe(const PortInfo& port, int row, const StopSignal* stop) : run(MakePortRun(port, row, stop, false)) {}
    void Run() override { ending = run->Execute(); }
    PortRunPtr run;
    RunEnding ending = RunEnding::OpenFailed;
};

// A port whose run was given up after Ctrl+C: unfinished, it tells nothing more.
Result ResultOf(const Probe* probe)
{
    if (probe == nullptr)
        return Result::Stopped;
    if (probe->fault)
        return Result::Failed;
    const std::vector<AttemptReport>& attempts = probe->run->Attempts();
    switch (probe->ending) {
    case RunEnding::Ok:
        return Result::Answered;
    case RunEnding::Stopped:
        return Result::Stopped;
    case RunEnding::Error:
        return std::any_of(attempts.begin(), attempts.end(),
                           [](const AttemptReport& a) { return a.verdict == AttemptReport::Verdict::InvalidReply; })
                   ? Result::WrongAnswer
                   : Result::NoAnswer;
    default: {  // the system console is refused before anything opens it: skipped, not a port that failed
        const std::optional<OpenError>& failure = probe->run->OpenFailure();
        return failure && failure->reason == "console" ? Result::Skipped : Result::CannotOpen;
    }
    }
}

const char* ResultName(Result result)
{
    static const char* const kNames[] = {"answered", "no-answer", "wrong-answer", "cannot-open", "stopped", "skipped",
                                         "failed"};
    return kNames[static_cast<int>(result)];
}

const char* ResultText(Result result)
{
    static const char* const kTexts[] = {"answered", "no answer", "wrong answer", "cannot be opened", "stopped",
                                         "skipped", "failed inside vr7"};
    return kTexts[static_cast<int>(result)];
}

// The attempt that tells most about a port: the valid reply, else the last wrong one,
// else the last attempt.
const AttemptReport* Telling(const std::vector<AttemptReport>& attempts)
{
    const AttemptReport* telling = attempts.empty() ? nullptr : &attempts.back();
    for (const AttemptReport& a : attempts) {
        if (a.verdict == AttemptReport::Verdict::ValidReply)
            return &a;
        if (a.verdict == AttemptReport::Verdict::InvalidReply)
            telling = &a;
    }
    return telling;
}

std::string Detail(const Probe* probe, Result result, const std::string& stop)
{
    if (probe == nullptr)
        return "stopped by " + stop + "; it did not finish within 2 s: a system call on the port is still blocked";
    if (result == Result::Failed)
        return *probe->fault;
    const std::vector<AttemptReport>& attempts = probe->run->Attempts();
    const AttemptReport* telling = Telling(attempts);
    if ((result == Result::CannotOpen || result == Result::Skipped) && probe->run->OpenFailure())
        return OpenErrorDetail(probe->run->Port(), *probe->run->OpenFailure());
    if (telling == nullptr)
        return "stopped by " + stop + " before its first attempt";
    if (result == Result::Stopped)
        return "stopped by " + stop + " during attempt " + std::to_string(attempts.size());
    const std::string detail = "attempt " + std::to_string(telling->index + 1) + " at " + LineText(telling->line) +
                               ", " + ReplyText(*telling);
    return result == Result::Answered ? detail : "no valid reply in " + std::to_string(attempts.size()) +
                                                     " attempts; " + detail;
}

// Each listed port once (the registry may list one twice).
std::vector<PortInfo> DistinctPorts(const std::vector<PortInfo>& listed)
{
    std::vector<PortInfo> ports;
    for (const PortInfo& port : listed) {
        if (std::none_of(ports.begin(), ports.end(), [&](const PortInfo& p) { return SamePort(p, port); }))
            ports.push_back(port);
    }
    return ports;
}

struct Summary {
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    nlohmann::ordered_json answered = nlohmann::ordered_json::array();
    std::string answeredText;
    bool opened = false;
    bool stopped = false;
    bool unfinished = false;  // a port's run was given up
    bool failed = false;      // a port's probe failed inside vr7
};

Summary Summarise(const std::vector<PortInfo>& ports, const std::vector<std::unique_ptr<SideBySideJob>>& jobs,
                  const Options& options)
{
    Summary summary;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const Probe* probe = static_cast<const Probe*>(jobs[i].get());
        const Result result = ResultOf(probe);
        const std::string& name = ports[i].name;
        if (result == Result::Answered) {
            summary.answered.push_back(name);
            summary.answeredText += (summary.answeredText.empty() ? "" : ", ") + name;
        }
        summary.opened = summary.opened || result == Result::Answered || result == Result::NoAnswer ||
                         result == Result::WrongAnswer;
        summary.stopped = summary.stopped || result == Result::Stopped;
        summary.unfinished = summary.unfinished || probe == nullptr;
        summary.failed = summary.failed || result == Result::Failed;
        nlohmann::ordered_json entry = PortJson(ports[i], "port");
        entry["result"] = ResultName(result);
        entry["openError"] = OpenErrorJson(probe != nullptr ? probe->run->OpenFailure() : std::nullopt);
        entry["attempts"] = AttemptsJson(probe != nullptr ? probe->run->Attempts() : std::vector<AttemptReport>());
        summary.ports.push_back(entry);
        const std::string described = ports[i].description ? " (" + *ports[i].description + ")" : "";
        if (!options.json)
            Out().Line(name + described + ": " + ResultText(result) + " (" + Detail(probe, result, StopName(options)) +
                       ")");
    }
    return summary;
}

}  // namespace

int DetectCommand(const Options& options)
{
    const int row = SoftwareArgument(options.software);
    for (const std::string& text : options.ports)
        ParsePortArgument(text);  // bad usage before a missing port
    const std::vector<PortInfo> ports = options.ports.empty() ? DistinctPorts(ListPorts()) : PortsNamed(options.ports);
    if (ports.empty())
        throw CommandError(kExitNoPort, std::string(kSystemName) + " lists no serial port: plug the adapter in (and install its driver), "
                                        "then try again.");
    std::vector<std::unique_ptr<SideBySideJob>> probes;
    std::string names;
    for (const PortInfo& port : ports) {
        probes.push_back(std::make_unique<Probe>(port, row, options.stop));
        names += (names.empty() ? "" : ", ") + port.name;
    }
    if (!options.json)
        Out().Line("Sending the frame for " + SoftwareText(row) + " to " + names +
                   (probes.size() > 1 ? ", side by side" : ""));
    RunSideBySide(probes, options.stop);

    const Summary summary = Summarise(ports, probes, options);
    const int status = summary.stopped            ? StoppedStatus(options)
                       : !summary.answered.empty() ? kExitOk
                       : summary.failed            ? kExitInternal
                       : summary.opened            ? kExitNoReply
                                                   : kExitNoPort;
    if (options.json)
        PrintJson({{"software", SoftwareJson(row)},
                   {"ports", summary.ports},
                   {"answered", summary.answered},
                   {"exitCode", status}});
    else
        Out().Line(summary.answeredText.empty() ? "No port answered with a valid reply."
                                                : "The digitizer answered on " + summary.answeredText + ".");
    if (status == kExitNoPort)
        Err().Line("None of the listed ports could be opened.");
    if (summary.stopped)
        Err().Line("Stopped by " + StopName(options) +
                   (summary.unfinished ? "; every port that finished is closed." : "; every port is closed."));
    return status;
}

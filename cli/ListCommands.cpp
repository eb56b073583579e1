// vr7 ports [--test] and vr7 software: the serial ports the system lists, and the catalogue.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "Arguments.h"
#include "Catalogue.h"
#include "Commands.h"
#include "Console.h"
#include "Ports.h"
#include "Report.h"
#include "SideBySide.h"

namespace {

// Whether one port can be opened now; nothing is opened once Ctrl+C has stopped the test.
struct PortTest : SideBySideJob {
    PortTest(const PortInfo& testedPort, const StopSignal* stopSignal) : port(testedPort), stop(stopSignal) {}
    void Run() override
    {
        if (stop == nullptr || !stop->IsSet()) {
            openError = TryOpen(port, stop);
            tested = !openError || openError->reason != "stopped";  // gave up for the stop
        }
    }
    const PortInfo port;
    const StopSignal* const stop;
    bool tested = false;
    std::optional<OpenError> openError;
};

// What "ports --test" found of a port, for people and for scripts. test is null when the
// test did not finish.
void AddTest(const PortTest* test, const std::string& stop, std::string& line, nlohmann::ordered_json& entry)
{
    entry["openable"] = test != nullptr && test->tested ? nlohmann::ordered_json(!test->openError)
                                                        : nlohmann::ordered_json();
    entry["openError"] = OpenErrorJson(test != nullptr ? test->openError : std::nullopt);
    if (test == nullptr)
        line += "\n  stopped by " + stop + ": its test did not finish within 2 s (a system call on the port is still blocked)";
    else if (test->fault)
        line += "\n  not tested: the test failed inside vr7 (" + *test->fault + ")";
    else if (!test->tested)
        line += "\n  not tested: stopped by " + stop;
    else if (test->openError)
        line += "\n  cannot be opened: " + OpenErrorDetail(test->port, *test->openError);
    else
        line += "\n  can be opened";
}

}  // namespace

int ListPortsCommand(const Options& options)
{
    const std::vector<PortInfo> listed = ListPorts();
    // Each port tested once, side by side (the registry may list one twice).
    std::vector<std::unique_ptr<SideBySideJob>> tests;
    std::vector<std::size_t> testOf;
    for (const PortInfo& port : listed) {
        std::size_t at = 0;
        while (at < tests.size() && !SamePort(static_cast<const PortTest&>(*tests[at]).port, port))
            ++at;
        if (options.test && at == tests.size())
            tests.push_back(std::make_unique<PortTest>(port, options.stop));
        testOf.push_back(at);
    }
    RunSideBySide(tests, options.stop);

    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    bool stopped = false;
    bool failed = false;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        nlohmann::ordered_json entry = PortJson(listed[i]);
        std::string line = PortLine(listed[i]);
        if (options.test) {
            const PortTest* test = static_cast<const PortTest*>(tests[testOf[i]].get());
            AddTest(test, StopName(options), line, entry);
            stopped = stopped || test == nullptr || (!test->tested && !test->fault);
            failed = failed || (test != nullptr && test->fault);
        }
        ports.push_back(entry);
        if (!options.json)
            Out().Line(line);
    }
    const int status = stopped ? StoppedStatus(options) : failed ? kExitInternal : kExitOk;
    if (options.json)
        PrintJson({{"ports", ports}, {"exitCode", status}});
    if (listed.empty())
        Err().Line(std::string(kSystemName) + " lists no serial port.");
    if (stopped)
        Err().Line("Stopped by " + StopName(options) + "; the ports not tested were not opened.");
    return status;
}

int ListSoftwareCommand(const Options& options)
{
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    if (!options.json)
        Out().Line("row  mode  label");
    for (int row = 0; row < kCatalogueSize; ++row) {
        rows.push_back(SoftwareJson(row));
        if (!options.json) {
            char numbers[16];
            std::snprintf(numbers, sizeof numbers, "%3d  %4d  ", row, LookUpCatalogue(row).modeCode);
            Out().Line(numbers + std::string(CatalogueLabel(row)));
        }
    }
    if (options.json)
        PrintJson({{"software", rows}});
    return kExitOk;
}

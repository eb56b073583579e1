// vr7 ports [--test] and vr7 software: the serial ports Windows lists, and the catalogue.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "Arguments.h"
#include "Catalogue.h"
#include "Commands.h"
#include "Console.h"
#include "DriverPortLink.h"
#include "Report.h"
#include "SideBySide.h"

namespace {

// Whether one port can be opened now; nothing is opened once Ctrl+C has stopped the test.
struct PortTest : SideBySideJob {
    PortTest(unsigned short testedPort, const StopSignal* stopSignal) : port(testedPort), stop(stopSignal) {}
    void Run() override
    {
        if (stop == nullptr || !stop->IsSet())
            openable = CanOpenPort(port);
    }
    const unsigned short port;
    const StopSignal* const stop;
    std::optional<bool> openable;  // none: not tested
};

enum class Tested { Openable, NotOpenable, NotTested, Unfinished };

// Each port tested once, side by side.
std::vector<Tested> TestPorts(const std::vector<unsigned short>& listed, const StopSignal* stop)
{
    std::vector<unsigned short> distinct;
    std::vector<std::unique_ptr<SideBySideJob>> tests;
    for (unsigned short port : listed) {
        if (std::find(distinct.begin(), distinct.end(), port) == distinct.end()) {
            distinct.push_back(port);
            tests.push_back(std::make_unique<PortTest>(port, stop));
        }
    }
    RunSideBySide(tests, stop);
    std::vector<Tested> results;
    for (unsigned short port : listed) {
        const auto at = static_cast<std::size_t>(std::find(distinct.begin(), distinct.end(), port) - distinct.begin());
        const PortTest* test = static_cast<const PortTest*>(tests[at].get());
        results.push_back(test == nullptr      ? Tested::Unfinished
                          : !test->openable    ? Tested::NotTested
                          : *test->openable    ? Tested::Openable
                                               : Tested::NotOpenable);
    }
    return results;
}

std::string TestText(unsigned short port, Tested tested)
{
    switch (tested) {
    case Tested::Openable:
        return "  can be opened";
    case Tested::NotOpenable:
        return InLibraryRange(port) ? "  cannot be opened now" : "  cannot be opened: only COM1 to COM16 can";
    case Tested::NotTested:
        return "  not tested: stopped by Ctrl+C";
    default:
        return "  stopped by Ctrl+C; its test did not finish within 2 s: a system call on the port is still blocked";
    }
}

}  // namespace

int ListPortsCommand(const Options& options)
{
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    const std::vector<unsigned short> listed = ListedPorts();
    const std::vector<Tested> tested = options.test ? TestPorts(listed, options.stop) : std::vector<Tested>();
    bool stopped = false;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        nlohmann::ordered_json entry = {{"name", PortName(listed[i])}, {"number", listed[i]}};
        std::string line = PortName(listed[i]);
        if (options.test) {
            const bool known = tested[i] == Tested::Openable || tested[i] == Tested::NotOpenable;
            entry["openable"] = known ? nlohmann::ordered_json(tested[i] == Tested::Openable) : nlohmann::ordered_json();
            line += TestText(listed[i], tested[i]);
            stopped = stopped || !known;
        }
        ports.push_back(entry);
        if (!options.json)
            Out().Line(line);
    }
    if (options.json)
        PrintJson({{"ports", ports}, {"exitCode", stopped ? kExitStopped : kExitOk}});
    if (listed.empty())
        Err().Line("Windows lists no serial port.");
    if (stopped)
        Err().Line("Stopped by Ctrl+C; the ports not tested were not opened.");
    return stopped ? kExitStopped : kExitOk;
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

// vr7 ports [--test] and vr7 software: the serial ports Windows lists, and the catalogue.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "Arguments.h"
#include "Catalogue.h"
#include "Commands.h"
#include "Console.h"
#include "DriverPortLink.h"
#include "Report.h"

int ListPortsCommand(const Options& options)
{
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    const std::vector<unsigned short> listed = ListedPorts();
    for (unsigned short port : listed) {
        nlohmann::ordered_json entry = {{"name", PortName(port)}, {"number", port}};
        std::string line = PortName(port);
        if (options.test) {
            const bool openable = CanOpenPort(port);
            entry["openable"] = openable;
            line += openable ? "  can be opened"
                    : InLibraryRange(port) ? "  cannot be opened now"
                                           : "  cannot be opened: only COM1 to COM16 can";
        }
        ports.push_back(entry);
        if (!options.json)
            Out().Line(line);
    }
    if (options.json)
        PrintJson({{"ports", ports}});
    if (listed.empty())
        Err().Line("Windows lists no serial port.");
    return kExitOk;
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

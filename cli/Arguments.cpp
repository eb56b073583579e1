#include "Arguments.h"

#include <algorithm>
#include <optional>

#include "Catalogue.h"
#include "Commands.h"
#include "Ports.h"
#include "Report.h"
#include "SoftwareMatch.h"

namespace {

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string Folded(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool IsHexId(const std::string& text)
{
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string AdapterIds(const PortSelector& selector)
{
    return selector.vid + ":" + selector.pid + (selector.serial ? " serial " + *selector.serial : "");
}

// "COM5 (0403:6001 serial A50285BI)" for each port on USB.
std::string Adapters(const std::vector<PortInfo>& ports)
{
    std::string list;
    for (const PortInfo& port : ports) {
        if (port.usb)
            list += (list.empty() ? "" : ", ") + port.name + " (" + UsbText(*port.usb) + ")";
    }
    return list;
}

// The ports the selector names: the one the system's name gives, or every adapter with
// those ids. The system's list is made only for an adapter (and then once: listed keeps it).
std::vector<PortInfo> Matching(const PortSelector& selector, std::optional<std::vector<PortInfo>>& listedOnce)
{
    if (!selector.usb)
        return {PortNamed(selector.text)};
    if (!listedOnce)
        listedOnce = ListPorts();
    const std::vector<PortInfo>& listed = *listedOnce;
    std::vector<PortInfo> found;
    for (const PortInfo& port : listed) {
        const bool fits = port.usb && port.usb->vid == selector.vid && port.usb->pid == selector.pid &&
                          (!selector.serial || (port.usb->serial && Folded(*port.usb->serial) ==
                                                                         Folded(*selector.serial)));
        if (fits && std::none_of(found.begin(), found.end(), [&](const PortInfo& f) { return SamePort(f, port); }))
            found.push_back(port);
    }
    if (!found.empty())
        return found;
    const std::string adapters = Adapters(listed);
    throw CommandError(kExitNoPort, "No listed port is a USB adapter with the ids " + AdapterIds(selector) + ": " +
                                        (adapters.empty() ? "there is no USB adapter (vr7 ports lists the ports)."
                                                          : "the USB adapters are " + adapters + "."));
}

}  // namespace

PortSelector ParsePortArgument(const std::string& text)
{
    PortSelector selector;
    selector.text = text;
    selector.usb = true;
    const std::string folded = Folded(text);
    if (folded.compare(0, 4, "usb:") == 0) {
        const std::string rest = text.substr(4);
        const std::size_t second = rest.find(':'), third = rest.find(':', second + 1);
        selector.vid = Folded(rest.substr(0, second));
        selector.pid = second == std::string::npos ? "" : Folded(rest.substr(second + 1, third - second - 1));
        if (third != std::string::npos)
            selector.serial = rest.substr(third + 1);
        if (!IsHexId(selector.vid) || !IsHexId(selector.pid) || (selector.serial && selector.serial->empty()))
            throw CommandError(kExitUsage, Quoted(text) + " is not a USB adapter: give usb:VID:PID or "
                                                          "usb:VID:PID:SERIAL, with four hex digits each for the "
                                                          "vendor and the product (vr7 ports shows them).");
        return selector;
    }
    selector.usb = false;
    CheckPortName(text);
    return selector;
}

PortInfo OnePort(const std::string& text)
{
    const PortSelector selector = ParsePortArgument(text);
    std::optional<std::vector<PortInfo>> listed;
    const std::vector<PortInfo> found = Matching(selector, listed);
    if (found.size() == 1)
        return found[0];
    std::string list;
    for (const PortInfo& port : found)
        list += (list.empty() ? "" : ", ") + port.name + " (" + UsbText(*port.usb) + ")";
    throw CommandError(kExitUsage, Quoted(text) + " fits several ports: " + list +
                                       "; add the serial number, as usb:VID:PID:SERIAL, or name the port itself.");
}

std::vector<PortInfo> PortsNamed(const std::vector<std::string>& texts)
{
    std::optional<std::vector<PortInfo>> listed;
    std::vector<PortInfo> named;
    for (const std::string& text : texts) {
        for (const PortInfo& port : Matching(ParsePortArgument(text), listed)) {
            if (std::none_of(named.begin(), named.end(), [&](const PortInfo& n) { return SamePort(n, port); }))
                named.push_back(port);
        }
    }
    return named;
}

int SoftwareArgument(const std::string& text)
{
    const SoftwareMatch match = MatchSoftware(text);
    if (match.rows.size() == 1)
        return match.rows[0];
    if (match.rows.empty())
        throw CommandError(kExitUsage, Quoted(text) + " names no CAD program: give a row from 0 to " +
                                           std::to_string(kCatalogueSize - 1) +
                                           " or a label (vr7 software lists them).");
    std::string candidates;
    for (int row : match.rows)
        candidates += (candidates.empty() ? "" : ", ") + std::string(CatalogueLabel(row)) + " (row " +
                      std::to_string(row) + ")";
    throw CommandError(kExitUsage, Quoted(text) + " fits several CAD programs: " + candidates +
                                       "; give more of the label, or the row.");
}


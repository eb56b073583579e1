#include "Arguments.h"

#include <algorithm>

#include "Catalogue.h"
#include "Commands.h"
#include "PortList.h"
#include "PortName.h"
#include "SerialChannel.h"
#include "SoftwareMatch.h"

namespace {

constexpr int kPortCapacity = 256;  // as many as the window's list holds

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string PortList(const std::vector<unsigned short>& ports)
{
    std::string list;
    for (unsigned short port : ports)
        list += (list.empty() ? "" : ", ") + PortName(port);
    return list;
}

}  // namespace

std::string PortName(unsigned port)
{
    return "COM" + std::to_string(port);
}

unsigned short PortArgument(const std::string& text)
{
    std::string name = text;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    const int port = ParseComPortName(name.c_str(), name.size() + 1);
    // COM and a number too high for Windows to list is a port name all the same, of a
    // port that cannot be used.
    const bool numbered = name.size() > 3 && name.compare(0, 3, "COM") == 0 && name[3] != '0' &&
                          std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (port == 0 && numbered)
        throw CommandError(kExitNoPort, name + " cannot be used: only COM1 to COM16 can be opened.");
    if (port == 0)
        throw CommandError(kExitUsage, Quoted(text) + " is not a port name: give COM and the port's number, "
                                                      "for example --port COM3 (vr7 ports lists them).");
    return static_cast<unsigned short>(port);
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

std::vector<unsigned short> ListedPorts()
{
    std::vector<unsigned short> ports(kPortCapacity);
    ports.resize(static_cast<std::size_t>(ListSerialPorts(ports.data(), kPortCapacity)));
    return ports;
}

bool InLibraryRange(unsigned port)
{
    return port >= CSerialChannel::kFirstPort && port <= CSerialChannel::kLastPort;
}

void RequireUsablePort(unsigned short port)
{
    const std::vector<unsigned short> listed = ListedPorts();
    if (std::find(listed.begin(), listed.end(), port) == listed.end())
        throw CommandError(kExitNoPort, PortName(port) + " does not exist: Windows lists " +
                                            (listed.empty() ? "no serial port" : PortList(listed)) + ".");
    if (!InLibraryRange(port))
        throw CommandError(kExitNoPort, PortName(port) +
                                            " cannot be used: only COM1 to COM16 can be opened; give the adapter a "
                                            "number from 1 to 16 in Device Manager (Ports (COM & LPT), the "
                                            "adapter, Port Settings, Advanced, COM Port Number).");
}

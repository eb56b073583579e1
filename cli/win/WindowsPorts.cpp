// The ports on Windows: the registry's list (SERIALCOMM, in its order, as the window lists
// it) with what SetupAPI knows of each port's device, then the COM ports SetupAPI knows
// and the registry does not list (some virtual and modem drivers).
#include <algorithm>

#include "Commands.h"
#include "DriverPortLink.h"
#include "PortList.h"
#include "PortName.h"
#include "Ports.h"
#include "SetupApiPorts.h"

namespace {

constexpr int kPortCapacity = 256;  // as many as the window's list holds

// The n of "COMn" (Latin letters in any case) from 1 to 255; 0 for any other name, -1 for
// COM and a number Windows never gives.
int ComNumber(const std::string& text)
{
    std::string name = text;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    const int number = ParseComPortName(name.c_str(), name.size() + 1);
    const bool numbered = name.size() > 3 && name.compare(0, 3, "COM") == 0 && name[3] != '0' &&
                          std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    return number == 0 && numbered ? -1 : number;
}

}  // namespace

const char kSystemName[] = "Windows";
const char kPortNameForm[] = "COMn";
const char kPortExample[] = "COM3";

void CheckPortName(const std::string& text)
{
    if (ComNumber(text) == 0)
        throw CommandError(kExitUsage, "\"" + text + "\" is not a port name: give COM and the port's number, for "
                                                      "example --port COM3, or its USB adapter as usb:VID:PID "
                                                      "(vr7 ports lists them).");
}

PortInfo PortNamed(const std::string& text)
{
    const int number = ComNumber(text);
    if (number < 0)
        throw CommandError(kExitNoPort, "COM" + text.substr(3) + " cannot be there: Windows numbers its ports from "
                                        "COM1 to COM" + std::to_string(kHighestListedPort) + ".");
    const std::vector<PortInfo> listed = ListPorts();
    std::string names;
    for (const PortInfo& port : listed) {
        if (port.number == number)
            return port;
        names += (names.empty() ? "" : ", ") + port.name;
    }
    throw CommandError(kExitNoPort, "COM" + std::to_string(number) + " does not exist: Windows lists " +
                                        (listed.empty() ? "no serial port" : names) + ".");
}

std::vector<PortInfo> ListPorts()
{
    std::vector<unsigned short> numbers(kPortCapacity);
    numbers.resize(static_cast<std::size_t>(ListSerialPorts(numbers.data(), kPortCapacity)));
    std::vector<PortInfo> devices = SetupApiPorts();
    std::vector<PortInfo> ports;
    for (unsigned short number : numbers) {
        const auto known = std::find_if(devices.begin(), devices.end(), [&](const PortInfo& d) { return d.number == number; });
        PortInfo port;
        if (known != devices.end())
            port = *known;
        port.name = "COM" + std::to_string(number);
        port.number = number;
        ports.push_back(port);
    }
    for (PortInfo& device : devices) {
        if (std::none_of(numbers.begin(), numbers.end(), [&](unsigned short n) { return n == device.number; })) {
            device.registry = false;
            ports.push_back(device);
        }
    }
    return ports;
}

std::string UnseenHolderText(const PortInfo&)
{
    return "another program that vr7 cannot see (run vr7 as administrator to name it)";
}

std::optional<OpenError> TryOpen(const PortInfo& port, const StopSignal* stop)
{
    CSerialChannel channel(DeviceApi(), CSerialChannel::kLastListedPort);
    CPortDriver driver(channel);
    const bool opened = driver.Test(static_cast<UINT>(port.number)) != 0;
    driver.Close();  // also after a failed open, which can leave the device held
    if (opened)
        return std::nullopt;
    return OpenErrorOf(channel.LastFailure(), port.number, stop);
}

std::unique_ptr<RunLink> MakeRunLink(const PortInfo&, const StopSignal* stop)
{
    return std::make_unique<DriverPortLink>(stop);
}

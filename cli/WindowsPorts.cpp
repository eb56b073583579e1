// The ports on Windows: the registry's list (SERIALCOMM, in its order, as the window lists
// it) with what SetupAPI knows of each port's device, then the COM ports SetupAPI knows
// and the registry does not list (some virtual and modem drivers).
#include <algorithm>

#include "DriverPortLink.h"
#include "PortList.h"
#include "Ports.h"
#include "SetupApiPorts.h"

namespace {

constexpr int kPortCapacity = 256;  // as many as the window's list holds

}  // namespace

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

std::optional<OpenError> TryOpen(const PortInfo& port)
{
    CSerialChannel channel(DeviceApi(), CSerialChannel::kLastListedPort);
    CPortDriver driver(channel);
    const bool opened = driver.Test(static_cast<UINT>(port.number)) != 0;
    driver.Close();  // also after a failed open, which can leave the device held
    if (opened)
        return std::nullopt;
    return OpenErrorOf(channel.LastFailure());
}

std::unique_ptr<RunLink> MakeRunLink(const PortInfo&)
{
    return std::make_unique<DriverPortLink>();
}

#include "SetupApiPorts.h"

#include <windows.h>

#include <initguid.h>  // before devguid.h: the class GUIDs are defined here

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <optional>
#include <string>

#include "WinText.h"
#include "PortName.h"
#include "UsbIds.h"

namespace {

constexpr DWORD kPortNameCapacity = 20;  // bytes, as the registry's list is read

// A string property of the device: the first string of a list (REG_MULTI_SZ) when whole is
// false, every string of it when true (as UTF-8, each ended by a NUL).
std::optional<std::string> Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, bool whole = false)
{
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &size);
    if (size == 0)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(&text[0]), size,
                                           nullptr))
        return std::nullopt;
    text.resize(whole ? size / sizeof(wchar_t) : text.find(L'\0'));
    if (text.empty() || text[0] == L'\0')
        return std::nullopt;
    return Utf8(text);
}

// The n of the device's PortName when it is a COMn name, else 0.
int PortNumber(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return 0;
    char name[kPortNameCapacity] = {};
    DWORD size = sizeof name, type = 0;
    const bool read = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    return read ? ParseComPortName(name, size) : 0;
}

std::optional<std::string> DeviceId(DEVINST node)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return std::nullopt;
    return Utf8(id);
}

// The ids from the instance id, else from the first hardware id that has them; an
// interface of a composite device takes its serial from its parent where Windows gives
// one (under Wine the parent lookup fails, or gives the node itself).
std::optional<UsbIds> UsbIdsOfDevice(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    std::optional<UsbIds> ids;
    if (const std::optional<std::string> instance = DeviceId(device.DevInst))
        ids = UsbIdsOf(*instance);
    if (!ids) {
        const std::string hardware = Property(set, device, SPDRP_HARDWAREID, true).value_or("");
        for (std::size_t at = 0; at < hardware.size() && !ids;) {
            const std::size_t end = std::min(hardware.find('\0', at), hardware.size());
            ids = UsbIdsOf(std::string_view(hardware).substr(at, end - at));
            at = end + 1;
        }
    }
    DEVINST parent = 0;
    if (ids && ids->interface && !ids->serial && CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS &&
        parent != device.DevInst) {
        const std::optional<std::string> parentId = DeviceId(parent);
        const std::optional<UsbIds> parentIds = parentId ? UsbIdsOf(*parentId) : std::nullopt;
        if (parentIds && parentIds->vid == ids->vid && parentIds->pid == ids->pid)
            ids->serial = parentIds->serial;
    }
    return ids;
}

void AddClass(const GUID& deviceClass, std::vector<PortInfo>& ports)
{
    HDEVINFO set = SetupDiGetClassDevsW(&deviceClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const int number = PortNumber(set, device);
        if (number == 0 || std::any_of(ports.begin(), ports.end(), [&](const PortInfo& p) { return p.number == number; }))
            continue;
        PortInfo port;
        port.number = number;
        port.name = "COM" + std::to_string(number);
        port.description = Property(set, device, SPDRP_FRIENDLYNAME);
        const std::string suffix = " (" + port.name + ")";
        if (port.description && port.description->size() > suffix.size() &&
            port.description->compare(port.description->size() - suffix.size(), suffix.size(), suffix) == 0)
            port.description->resize(port.description->size() - suffix.size());
        port.manufacturer = Property(set, device, SPDRP_MFG);
        port.usb = UsbIdsOfDevice(set, device);
        ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<PortInfo> SetupApiPorts()
{
    std::vector<PortInfo> ports;
    AddClass(GUID_DEVCLASS_PORTS, ports);
    AddClass(GUID_DEVCLASS_MODEM, ports);
    return ports;
}

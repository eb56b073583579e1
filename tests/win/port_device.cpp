// Registers port devices in the Wine prefix through SetupAPI, as a driver's installation
// does, so that vr7's real enumeration finds them; and removes them again.
//   port_device add CLASS INSTANCE-ID PORTNAME FRIENDLY-NAME MANUFACTURER HARDWARE-ID
//       CLASS: Ports or Modem; an empty argument leaves that property out
//   port_device remove INSTANCE-ID...
#include <windows.h>

#include <initguid.h>  // before devguid.h

#include <devguid.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool SetText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, const std::string& text, bool list)
{
    if (text.empty())
        return true;
    const std::string data = text + (list ? std::string(2, '\0') : std::string(1, '\0'));
    return SetupDiSetDeviceRegistryPropertyA(set, &device, property, reinterpret_cast<const BYTE*>(data.data()),
                                             static_cast<DWORD>(data.size())) != FALSE;
}

int Add(char** argv)
{
    const GUID& deviceClass = std::strcmp(argv[2], "Modem") == 0 ? GUID_DEVCLASS_MODEM : GUID_DEVCLASS_PORTS;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&deviceClass, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool ok = SetupDiCreateDeviceInfoA(set, argv[3], &deviceClass, nullptr, nullptr, 0, &device) &&
              SetText(set, device, SPDRP_FRIENDLYNAME, argv[5], false) && SetText(set, device, SPDRP_MFG, argv[6], false) &&
              SetText(set, device, SPDRP_HARDWAREID, argv[7], true) &&
              SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    if (ok && argv[4][0] != '\0') {
        HKEY key = SetupDiCreateDevRegKeyA(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        ok = key != INVALID_HANDLE_VALUE &&
             RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[4]),
                            static_cast<DWORD>(std::strlen(argv[4]) + 1)) == ERROR_SUCCESS;
        if (key != INVALID_HANDLE_VALUE)
            RegCloseKey(key);
    }
    if (!ok)
        std::fprintf(stderr, "port_device: cannot register %s: error %lu\n", argv[3], GetLastError());
    SetupDiDestroyDeviceInfoList(set);
    return ok ? 0 : 1;
}

int Remove(int count, char** ids)
{
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiOpenDeviceInfoA(set, ids[i], nullptr, 0, &device) || !SetupDiRemoveDevice(set, &device)) {
            std::fprintf(stderr, "port_device: cannot remove %s: error %lu\n", ids[i], GetLastError());
            failed = 1;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    return failed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 8 && std::strcmp(argv[1], "add") == 0)
        return Add(argv);
    if (argc >= 3 && std::strcmp(argv[1], "remove") == 0)
        return Remove(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: port_device add CLASS INSTANCE-ID PORTNAME FRIENDLY MFG HWID | remove ID...\n");
    return 2;
}

#include "PortList.h"

#include <windows.h>

#include "PortName.h"

namespace {

constexpr char kSerialCommKey[] = "hardware\\devicemap\\serialcomm";
constexpr DWORD kNameCapacity = 260;  // characters, terminator included
constexpr DWORD kDataCapacity = 20;   // bytes: device names of up to 19 characters

}  // namespace

int ListSerialPorts(unsigned short* ports, int capacity)
{
    if (ports == nullptr || capacity <= 0)
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;

    int count = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS) {
        for (DWORD index = 0; index < values; ++index) {
            char name[kNameCapacity] = {};
            DWORD nameLength = kNameCapacity;
            const LONG found = RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
            if (found != ERROR_SUCCESS && found != ERROR_NO_MORE_ITEMS)
                continue;
            if (found == ERROR_NO_MORE_ITEMS)
                name[0] = '\0';  // values vanished meanwhile: addresses the unnamed value

            BYTE data[kDataCapacity] = {};
            DWORD dataSize = kDataCapacity;
            if (RegQueryValueExA(key, name, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS)
                continue;  // unreadable, or longer than the buffer
            if (count >= capacity)
                continue;
            const int port = ParseComPortName(reinterpret_cast<const char*>(data), dataSize);
            if (port != 0)
                ports[count++] = static_cast<unsigned short>(port);
        }
    }
    RegCloseKey(key);
    return count;
}

// What vr7 knows of one serial port beside its name: what the system says its device is.
// Portable: filled from SetupAPI on Windows and from sysfs on Linux, shown by one code.
#ifndef QUILLANE_PORTINFO_H
#define QUILLANE_PORTINFO_H

#include <optional>
#include <string>

// The ids of a port's USB device. vid and pid are four lower-case hex digits.
struct UsbIds {
    std::string vid;
    std::string pid;
    std::optional<std::string> serial;     // the device's own serial number, as the system writes it
    std::optional<std::string> interface;  // a composite device's interface ("00"), or an FTDI channel ("A")
};

struct PortInfo {
    std::string name;    // "COM5" on Windows, the device path ("/dev/ttyUSB0") on Linux, as given
    std::string device;  // Linux: the path with its links resolved; empty where it is the name
    int number = 0;    // the n of COMn on Windows; 0 on Linux
    std::optional<std::string> description;   // "USB Serial Port"; on Linux the USB product
    std::optional<std::string> manufacturer;  // "FTDI"
    bool registry = true;                     // Windows: listed in the registry's SERIALCOMM key
    std::optional<UsbIds> usb;                // none for a port that is not on USB
    std::optional<std::string> byId;          // Linux: its /dev/serial/by-id link
    unsigned long long deviceNumber = 0;      // Linux: the character device's number; 0 where unknown
    bool console = false;                     // Linux: an active kernel console, never written to
};

#endif

#include "UsbIds.h"

#include <cstddef>
#include <string>

namespace {

constexpr std::size_t kIdDigits = 4;
constexpr std::size_t kInterfaceDigits = 2;

char FoldLatin(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldLatin(a[i]) != FoldLatin(b[i]))
            return false;
    }
    return true;
}

bool IsHex(char c)
{
    const char folded = FoldLatin(c);
    return (folded >= '0' && folded <= '9') || (folded >= 'a' && folded <= 'f');
}

// The text up to the next separator (all of it when there is none); text keeps what follows the separator.
std::string_view Take(std::string_view& text, char separator)
{
    const std::size_t end = text.find(separator);
    const std::string_view piece = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return piece;
}

bool HasPrefix(std::string_view field, std::string_view prefix)
{
    return field.size() >= prefix.size() && EqualsFolded(field.substr(0, prefix.size()), prefix);
}

// The hex number after prefix in field, in lower case, when it has exactly digits digits.
std::optional<std::string> HexAfter(std::string_view field, std::string_view prefix, std::size_t digits)
{
    if (field.size() != prefix.size() + digits || !HasPrefix(field, prefix))
        return std::nullopt;
    std::string hex;
    for (const char c : field.substr(prefix.size())) {
        if (!IsHex(c))
            return std::nullopt;
        hex += FoldLatin(c);
    }
    return hex;
}

// Windows writes an instance part in printable ASCII without spaces; anything else did not come from a device.
bool IsSerial(std::string_view text)
{
    if (text.empty() || text.find('&') != std::string_view::npos)
        return false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte > '~')
            return false;
    }
    return true;
}

// "VID_0403&PID_6001&MI_00", fields in any order, others (REV_0600, COMPORT) left alone.
std::optional<UsbIds> UsbBusIds(std::string_view hardware, std::string_view instance)
{
    struct Field {
        std::string_view prefix;
        std::size_t digits;
        std::optional<std::string>* value;
    };
    std::optional<std::string> vid;
    std::optional<std::string> pid;
    std::optional<std::string> interface;
    const Field fields[] = {
        {"VID_", kIdDigits, &vid},
        {"PID_", kIdDigits, &pid},
        {"MI_", kInterfaceDigits, &interface},
    };
    for (std::string_view rest = hardware; !rest.empty();) {
        const std::string_view text = Take(rest, '&');
        for (const Field& field : fields) {
            if (!HasPrefix(text, field.prefix))
                continue;
            if (field.value->has_value())
                return std::nullopt;
            *field.value = HexAfter(text, field.prefix, field.digits);
            if (!field.value->has_value())
                return std::nullopt;
        }
    }
    if (!vid || !pid)
        return std::nullopt;
    UsbIds ids{*vid, *pid, std::nullopt, interface};
    // An interface's instance part is its place below the composite device; the serial is the parent's.
    if (!interface && IsSerial(instance))
        ids.serial = std::string(instance);
    return ids;
}

// "VID_0403+PID_6001+A50285BIA": FTDI's bus driver appends the channel letter to the serial.
std::optional<UsbIds> FtdiBusIds(std::string_view hardware)
{
    std::string_view rest = hardware;
    const std::optional<std::string> vid = HexAfter(Take(rest, '+'), "VID_", kIdDigits);
    const std::optional<std::string> pid = HexAfter(Take(rest, '+'), "PID_", kIdDigits);
    const std::string_view tail = Take(rest, '+');
    if (!vid || !pid || !rest.empty())
        return std::nullopt;
    UsbIds ids{*vid, *pid, std::nullopt, std::nullopt};
    // A tail that is not a serial and a letter (a location made up for a device without a serial) gives neither.
    const char channel = tail.empty() ? '\0' : FoldLatin(tail.back());
    if (channel >= 'a' && channel <= 'z' && IsSerial(tail.substr(0, tail.size() - 1))) {
        ids.serial = std::string(tail.substr(0, tail.size() - 1));
        ids.interface = std::string(1, tail.back());
    }
    return ids;
}

}  // namespace

std::optional<UsbIds> UsbIdsOf(std::string_view deviceId)
{
    std::string_view rest = deviceId;
    const std::string_view enumerator = Take(rest, '\\');
    const std::string_view hardware = Take(rest, '\\');
    const std::string_view instance = Take(rest, '\\');
    if (!rest.empty())
        return std::nullopt;
    const bool ftdiBus = EqualsFolded(enumerator, "FTDIBUS");
    if (ftdiBus && hardware.find('+') != std::string_view::npos)
        return FtdiBusIds(hardware);
    if (ftdiBus || EqualsFolded(enumerator, "USB"))
        return UsbBusIds(hardware, instance);
    return std::nullopt;
}

#include "SysfsPorts.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinks = 40;                    // what the kernel follows before it gives up with ELOOP
constexpr std::streamsize kMaxAttribute = 4096;  // sysfs never writes more than a page
// A port's device is at most two levels below its USB device (ttyUSB0, then 1-1:1.0, then 1-1). Looking further
// up would take an rfcomm on a USB Bluetooth controller for a port of that controller.
constexpr int kMaxLevelsUp = 2;

// Where rel (a path below root) leads once every link on the way is followed as if root were "/": an absolute
// target starts again at root and ".." stops there. Nullopt for a loop of links.
std::optional<fs::path> Resolve(const fs::path& root, const fs::path& rel)
{
    std::vector<fs::path> pending(rel.begin(), rel.end());
    std::reverse(pending.begin(), pending.end());
    fs::path done;
    int links = 0;
    while (!pending.empty()) {
        const fs::path part = std::move(pending.back());
        pending.pop_back();
        if (part.empty() || part == "." || part == "/")
            continue;
        if (part == "..") {
            done = done.parent_path();
            continue;
        }
        done /= part;
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(root / done, error)))
            continue;
        const fs::path target = fs::read_symlink(root / done, error);
        if (error || ++links > kMaxLinks)
            return std::nullopt;
        done = target.is_absolute() ? fs::path() : done.parent_path();
        const std::vector<fs::path> parts(target.begin(), target.end());
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    }
    return done;
}

// An attribute's text without its line end; nullopt when it is missing, unreadable or empty.
std::optional<std::string> Attribute(const fs::path& root, const fs::path& dir, const char* name)
{
    const std::optional<fs::path> file = Resolve(root, dir / name);
    std::error_code error;
    // Only a regular file: opening a fifo in a recorded tree would block.
    if (!file || !fs::is_regular_file(fs::status(root / *file, error)))
        return std::nullopt;
    std::ifstream in(root / *file, std::ios::binary);
    std::string text(kMaxAttribute, '\0');
    in.read(text.data(), kMaxAttribute);
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (text.empty())
        return std::nullopt;
    return text;
}

// sysfs writes bNumInterfaces as "%2d", so a leading space is normal.
int Count(const std::optional<std::string>& text)
{
    int count = 0;
    if (!text)
        return count;
    const std::size_t begin = std::min(text->find_first_not_of(' '), text->size());
    const auto result = std::from_chars(text->data() + begin, text->data() + text->size(), count);
    return result.ec == std::errc() ? count : 0;
}

std::optional<std::string> HexId(const std::optional<std::string>& text)
{
    constexpr std::size_t kDigits = 4;
    if (!text || text->size() != kDigits)
        return std::nullopt;
    std::string id;
    for (const char c : *text) {
        const char folded = c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
        if ((folded < '0' || folded > '9') && (folded < 'a' || folded > 'f'))
            return std::nullopt;
        id += folded;
    }
    return id;
}

bool IsBelowDevices(const fs::path& dir)
{
    auto part = dir.begin();
    return part != dir.end() && *part == "sys" && ++part != dir.end() && *part == "devices" && ++part != dir.end();
}

// The USB device a port's device is part of, and the interface directory (the one just below it on the way up).
struct UsbPlace {
    fs::path device;
    fs::path interface;
};

std::optional<UsbPlace> UsbPlaceOf(const fs::path& root, const fs::path& portDevice)
{
    UsbPlace place{portDevice, {}};
    for (int level = 0; level <= kMaxLevelsUp && IsBelowDevices(place.device); ++level) {
        if (Attribute(root, place.device, "idVendor"))
            return place;
        place.interface = place.device;
        place.device = place.device.parent_path();
    }
    return std::nullopt;
}

void AddUsb(const fs::path& root, const fs::path& portDevice, PortInfo& port)
{
    const std::optional<UsbPlace> place = UsbPlaceOf(root, portDevice);
    if (!place)
        return;
    const std::optional<std::string> vid = HexId(Attribute(root, place->device, "idVendor"));
    const std::optional<std::string> pid = HexId(Attribute(root, place->device, "idProduct"));
    if (!vid || !pid)
        return;
    UsbIds ids{*vid, *pid, Attribute(root, place->device, "serial"), std::nullopt};
    if (!place->interface.empty() && Count(Attribute(root, place->device, "bNumInterfaces")) > 1)
        ids.interface = Attribute(root, place->interface, "bInterfaceNumber");
    port.usb = std::move(ids);
    port.description = Attribute(root, place->device, "product");
    port.manufacturer = Attribute(root, place->device, "manufacturer");
}

std::vector<std::string> EntryNames(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(dir, error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().string());
    return names;
}

// The by-id link of each device node that has one (the first by name when several have the same target).
std::map<fs::path, std::string> ByIdLinks(const fs::path& root)
{
    const fs::path folder = "dev/serial/by-id";
    std::vector<std::string> names = EntryNames(root / folder);
    std::sort(names.begin(), names.end());
    std::map<fs::path, std::string> links;
    for (const std::string& name : names) {
        if (const std::optional<fs::path> node = Resolve(root, folder / name))
            links.emplace(*node, "/" + (folder / name).string());
    }
    return links;
}

// The run of digits at pos without its leading zeros; pos moves past the run.
std::string_view DigitRun(std::string_view text, std::size_t& pos)
{
    const auto isDigit = [&text](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    std::size_t begin = pos;
    while (isDigit(pos))
        ++pos;
    while (begin < pos && text[begin] == '0')
        ++begin;
    return text.substr(begin, pos - begin);
}

// Runs of digits compare as numbers, so ttyUSB2 comes before ttyUSB10.
bool NaturalLess(std::string_view a, std::string_view b)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view x = DigitRun(a, i);
            const std::string_view y = DigitRun(b, j);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
        } else if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    // Equal but for leading zeros ("ttyS01", "ttyS1"): any fixed order will do.
    if (i == a.size() && j == b.size())
        return a < b;
    return i == a.size();
}

// The names sys/class/tty/console/active gives: the ttys the kernel's console writes to.
std::vector<std::string> ActiveConsoles(const fs::path& root)
{
    std::vector<std::string> names;
    const std::optional<std::string> active = Attribute(root, "sys/class/tty/console", "active");
    std::size_t at = 0;
    while (active && at < active->size()) {
        const std::size_t end = std::min(active->find(' ', at), active->size());
        if (end > at)
            names.push_back(active->substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// "MAJ:MIN" as a device number; 0 when it is not one.
unsigned long long DeviceNumber(const std::optional<std::string>& text)
{
    unsigned major = 0, minor = 0;
    const std::size_t colon = text ? text->find(':') : std::string::npos;
    if (colon == std::string::npos)
        return 0;
    const char* end = text->data() + text->size();
    if (std::from_chars(text->data(), text->data() + colon, major).ptr != text->data() + colon ||
        std::from_chars(text->data() + colon + 1, end, minor).ptr != end)
        return 0;
    return makedev(major, minor);
}

// The port a tty class directory (below root) describes, named NAME; nullopt for a tty with no
// device behind it, or a serial-core port with no UART (type 0).
std::optional<PortInfo> PortOf(const fs::path& top, const fs::path& tty, const std::string& name,
                               const std::map<fs::path, std::string>& byId, const std::vector<std::string>& consoles)
{
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(top / tty / "device", error)) || Attribute(top, tty, "type") == "0")
        return std::nullopt;
    const std::optional<fs::path> device = Resolve(top, tty / "device");
    if (!device)
        return std::nullopt;
    PortInfo port;
    port.name = "/dev/" + name;
    port.deviceNumber = DeviceNumber(Attribute(top, tty, "dev"));
    port.console = std::find(consoles.begin(), consoles.end(), name) != consoles.end();
    AddUsb(top, *device, port);
    if (const std::optional<fs::path> node = Resolve(top, fs::path("dev") / name)) {
        const auto link = byId.find(*node);
        if (link != byId.end())
            port.byId = link->second;
    }
    return port;
}

}  // namespace

std::vector<PortInfo> ListSysfsPorts(const std::string& root)
{
    const fs::path top(root);
    const fs::path ttyClass = "sys/class/tty";
    std::vector<std::string> names = EntryNames(top / ttyClass);
    std::sort(names.begin(), names.end(), NaturalLess);
    const std::map<fs::path, std::string> byId = ByIdLinks(top);
    const std::vector<std::string> consoles = ActiveConsoles(top);
    std::vector<PortInfo> ports;
    for (const std::string& name : names) {
        const std::optional<fs::path> tty = Resolve(top, ttyClass / name);
        if (!tty)
            continue;
        if (std::optional<PortInfo> port = PortOf(top, *tty, name, byId, consoles))
            ports.push_back(std::move(*port));
    }
    return ports;
}

std::optional<PortInfo> SysfsPortOf(const std::string& root, unsigned long long deviceNumber)
{
    const fs::path top(root);
    const fs::path entry = fs::path("sys/dev/char") / (std::to_string(major(deviceNumber)) + ":" +
                                                      std::to_string(minor(deviceNumber)));
    const std::optional<fs::path> tty = Resolve(top, entry);
    const std::optional<fs::path> subsystem = Resolve(top, entry / "subsystem");
    if (!tty || !subsystem || subsystem->filename() != "tty")
        return std::nullopt;
    const std::string name = tty->filename().string();
    const std::vector<std::string> consoles = ActiveConsoles(top);
    if (std::optional<PortInfo> port = PortOf(top, *tty, name, ByIdLinks(top), consoles))
        return port;
    PortInfo bare;  // a tty with no device behind it, or a UART the serial core did not find
    bare.name = "/dev/" + name;
    bare.deviceNumber = deviceNumber;
    bare.console = std::find(consoles.begin(), consoles.end(), name) != consoles.end();
    return bare;
}

#include "PortHolders.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

namespace {

bool IsNumber(const char* text)
{
    return *text != '\0' && std::all_of(text, text + std::strlen(text), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ProcessName(long pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(file, name);
    return name.empty() ? "process " + std::to_string(pid) : name;
}

bool HasOpen(const std::string& pid, dev_t device)
{
    const std::string folder = "/proc/" + pid + "/fd";
    DIR* descriptors = opendir(folder.c_str());
    if (descriptors == nullptr)
        return false;  // another user's process: not ours to see
    bool holds = false;
    while (const dirent* entry = readdir(descriptors)) {
        struct stat target = {};
        if (IsNumber(entry->d_name) && stat((folder + "/" + entry->d_name).c_str(), &target) == 0 &&
            S_ISCHR(target.st_mode) && target.st_rdev == device) {
            holds = true;
            break;
        }
    }
    closedir(descriptors);
    return holds;
}

// A lock file's PID: ASCII (HDB UUCP, as minicom and lockdev write it) or a binary int.
std::optional<long> LockOwner(const std::string& file)
{
    std::ifstream lock(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(lock)), std::istreambuf_iterator<char>());
    long pid = std::strtol(text.c_str(), nullptr, 10);
    if (pid <= 0 && text.size() == sizeof(int)) {
        int binary = 0;
        std::memcpy(&binary, text.data(), sizeof binary);
        pid = binary;
    }
    if (pid <= 0 || pid == getpid())
        return std::nullopt;
    const bool alive = kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    return alive ? std::optional<long>(pid) : std::nullopt;
}

void Add(std::vector<Holder>& holders, long pid)
{
    if (std::none_of(holders.begin(), holders.end(), [&](const Holder& h) { return h.pid == pid; }))
        holders.push_back({pid, ProcessName(pid)});
}

}  // namespace

std::vector<Holder> HoldersOf(dev_t device, const std::string& path)
{
    std::vector<Holder> holders;
    const std::string self = std::to_string(getpid());
    if (DIR* processes = opendir("/proc")) {
        while (const dirent* entry = readdir(processes)) {
            if (IsNumber(entry->d_name) && self != entry->d_name && HasOpen(entry->d_name, device))
                Add(holders, std::strtol(entry->d_name, nullptr, 10));
        }
        closedir(processes);
    }
    // The lock's name: the device's name below /dev, its slashes as underscores
    // (LCK..ttyUSB0, LCK..pts_3), or its last part alone, as some programs write it.
    std::string below = path.compare(0, 5, "/dev/") == 0 ? path.substr(5) : path;
    std::replace(below.begin(), below.end(), '/', '_');
    const std::string last = path.substr(path.rfind('/') + 1);
    for (const char* folder : {"/var/lock", "/run/lock"}) {
        for (const std::string& name : {below, last}) {
            if (const std::optional<long> owner = LockOwner(std::string(folder) + "/LCK.." + name))
                Add(holders, *owner);
        }
    }
    return holders;
}

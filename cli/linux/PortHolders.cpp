#include "PortHolders.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
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

using Clock = std::chrono::steady_clock;
using OpenDevices = std::map<dev_t, std::vector<long>>;  // character device: the processes that have it open

// Every other process's open character devices, as far as this user can see.
OpenDevices Scan()
{
    OpenDevices open;
    const std::string self = std::to_string(getpid());
    DIR* processes = opendir("/proc");
    if (processes == nullptr)
        return open;
    while (const dirent* process = readdir(processes)) {
        if (!IsNumber(process->d_name) || self == process->d_name)
            continue;
        const std::string folder = std::string("/proc/") + process->d_name + "/fd";
        DIR* descriptors = opendir(folder.c_str());
        if (descriptors == nullptr)
            continue;  // another user's process: not ours to see
        const long pid = std::strtol(process->d_name, nullptr, 10);
        while (const dirent* entry = readdir(descriptors)) {
            struct stat target = {};
            if (IsNumber(entry->d_name) && stat((folder + "/" + entry->d_name).c_str(), &target) == 0 &&
                S_ISCHR(target.st_mode)) {
                std::vector<long>& pids = open[target.st_rdev];
                if (pids.empty() || pids.back() != pid)
                    pids.push_back(pid);
            }
        }
        closedir(descriptors);
    }
    closedir(processes);
    return open;
}

// A scan that began after `asked`: ports opened side by side share one instead of each
// walking /proc at once (which costs them all), and no answer is older than the question.
OpenDevices ScanSince(Clock::time_point asked)
{
    static std::mutex mutex;
    static std::condition_variable done;
    static bool scanning = false;
    static Clock::time_point began;
    static OpenDevices last;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (!scanning && began >= asked)
            return last;
        if (!scanning) {
            scanning = true;
            const Clock::time_point start = Clock::now();
            lock.unlock();
            OpenDevices found = Scan();
            lock.lock();
            last = std::move(found);
            began = start;
            scanning = false;
            done.notify_all();
            return last;
        }
        done.wait(lock);
    }
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
    const OpenDevices open = ScanSince(Clock::now());
    if (const auto found = open.find(device); found != open.end()) {
        for (long pid : found->second)
            Add(holders, pid);
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

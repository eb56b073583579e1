#include "PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>

#include "LockFiles.h"
#include "TtyDevice.h"

// What one scan of /proc saw of other processes' descriptors.
struct OpenDescriptors {
    std::map<std::string, std::vector<long>> devices;  // a link text below /dev/: the processes with it open
    std::map<long, std::vector<long>> ptyMasters;     // a pseudo-terminal's index: the processes with its master
    bool complete = true;
};

namespace {

using Clock = std::chrono::steady_clock;

bool IsNumber(const char* text)
{
    return *text != '\0' && std::all_of(text, text + std::strlen(text), [](char c) { return c >= '0' && c <= '9'; });
}

// A small procfs file's text (procfs files are the kernel's, but still read with a bound).
std::string ReadProcFile(int dir, const char* name)
{
    const int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// The pseudo-terminal a /dev/ptmx descriptor is the master of (its fdinfo's tty-index), or -1.
long PtyIndex(int process, const char* fd)
{
    const std::string info = ReadProcFile(process, ("fdinfo/" + std::string(fd)).c_str());
    const std::size_t at = info.find("tty-index:");
    return at == std::string::npos ? -1 : std::strtol(info.c_str() + at + std::strlen("tty-index:"), nullptr, 10);
}

void Note(std::vector<long>& pids, long pid)
{
    if (pids.empty() || pids.back() != pid)
        pids.push_back(pid);
}

void ScanProcess(int process, long pid, OpenDescriptors& seen)
{
    const int fdDir = openat(process, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* descriptors = fdDir >= 0 ? fdopendir(fdDir) : nullptr;
    if (descriptors == nullptr) {
        if (fdDir >= 0)
            close(fdDir);
        return;  // another user's process: not ours to see
    }
    std::string last;  // a process often holds one device many times: noted once
    while (const dirent* entry = readdir(descriptors)) {
        char target[256];
        const ssize_t length = IsNumber(entry->d_name) ? readlinkat(fdDir, entry->d_name, target, sizeof target) : -1;
        if (length < 5 || length == static_cast<ssize_t>(sizeof target) || std::memcmp(target, "/dev/", 5) != 0 ||
            last.compare(0, std::string::npos, target, static_cast<std::size_t>(length)) == 0)
            continue;
        const std::string text(target, static_cast<std::size_t>(length));
        if (text == "/dev/ptmx" || text == "/dev/pts/ptmx") {  // each master is of a pty of its own
            const long index = PtyIndex(process, entry->d_name);
            if (index >= 0)
                Note(seen.ptyMasters[index], pid);
        } else {
            Note(seen.devices[text], pid);
            last = text;
        }
    }
    closedir(descriptors);
}

OpenDescriptors Scan(const StopSignal* stop)
{
    OpenDescriptors seen;
    const int procFd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* processes = procFd >= 0 ? fdopendir(procFd) : nullptr;
    if (processes == nullptr) {
        if (procFd >= 0)
            close(procFd);
        return seen;
    }
    const long self = getpid();
    while (const dirent* entry = readdir(processes)) {
        if (stop != nullptr && stop->IsSet()) {
            seen.complete = false;
            break;
        }
        if (!IsNumber(entry->d_name))
            continue;
        const long pid = std::strtol(entry->d_name, nullptr, 10);
        const int process = pid != self ? openat(procFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        if (process < 0)
            continue;
        ScanProcess(process, pid, seen);
        close(process);
    }
    closedir(processes);
    return seen;
}

// The latest scan and when it began. Never destroyed: a scan may still run as the process ends.
struct LatestScan {
    std::mutex mutex;
    Clock::time_point began;
    HolderScan result;
};
LatestScan& Latest()
{
    static LatestScan* const latest = new LatestScan;
    return *latest;
}

std::string ProcessName(long pid)
{
    const int process = open(("/proc/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string name = process >= 0 ? ReadProcFile(process, "comm") : std::string();
    if (process >= 0)
        close(process);
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name.empty() ? "process " + std::to_string(pid) : name;
}

// Whether a descriptor's link text names the device: its own path, or another node of the
// same number (lstat on a /dev path; the text is already resolved, so no link is followed).
bool Names(const std::string& text, unsigned long long deviceNumber, const std::string& path)
{
    struct stat info = {};
    return text == path ||
           (lstat(text.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == deviceNumber);
}

}  // namespace

HolderScan ScanForHolders(Clock::time_point asked, const StopSignal* stop)
{
    LatestScan& latest = Latest();
    const std::lock_guard<std::mutex> lock(latest.mutex);
    if (latest.result.valid() && latest.began >= asked)
        return latest.result;
    const auto scan = [stop] { return std::shared_ptr<const OpenDescriptors>(new OpenDescriptors(Scan(stop))); };
    latest.began = Clock::now();
    try {
        latest.result = std::async(std::launch::async, scan).share();
    } catch (const std::system_error&) {
        latest.result = std::async(std::launch::deferred, scan).share();  // no thread: it runs when it is waited for
    }
    return latest.result;
}

HolderVerdict HoldersOf(const HolderScan& scan, unsigned long long deviceNumber, const std::string& path)
{
    const OpenDescriptors& seen = *scan.get();
    std::vector<long> farEnd;
    if (const auto masters = seen.ptyMasters.find(PseudoTerminalIndex(deviceNumber)); masters != seen.ptyMasters.end())
        farEnd = masters->second;
    std::vector<long> pids;
    for (const auto& [text, holders] : seen.devices) {
        if (Names(text, deviceNumber, path))
            pids.insert(pids.end(), holders.begin(), holders.end());
    }
    const std::vector<long> locks = LockFileHolders(path);
    pids.insert(pids.end(), locks.begin(), locks.end());
    HolderVerdict verdict;
    verdict.complete = seen.complete;
    for (long pid : pids) {
        const bool counted = std::find(farEnd.begin(), farEnd.end(), pid) != farEnd.end() ||
                             std::any_of(verdict.holders.begin(), verdict.holders.end(),
                                         [pid](const Holder& h) { return h.pid == pid; });
        if (!counted)
            verdict.holders.push_back({pid, ProcessName(pid)});
    }
    return verdict;
}

#include "PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

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

constexpr unsigned kMostWorkers = 4;  // the scan's threads, at most one a core

// The numbered entries of a /proc folder (processes, or a process's descriptors): read with
// getdents64 on the descriptor (fdopendir would cost a call more for each of thousands).
std::vector<long> NumberedEntries(int folder)
{
    std::vector<long> numbers;
    alignas(dirent64) char buffer[16384];  // glibc's dirent64 is the kernel's linux_dirent64
    long got = 0;
    while ((got = syscall(SYS_getdents64, folder, buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < got;) {
            const dirent64* entry = reinterpret_cast<const dirent64*>(buffer + at);
            char* end = nullptr;
            const long number = std::strtol(entry->d_name, &end, 10);
            if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && *end == '\0')
                numbers.push_back(number);
            at += entry->d_reclen;
        }
    }
    return numbers;
}

// A small procfs file's text (procfs files are the kernel's, but still read with a bound).
std::string ReadProcFile(int dir, const std::string& name)
{
    const int fd = openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// The pseudo-terminal a /dev/ptmx descriptor is the master of (its fdinfo's tty-index), or -1.
long PtyIndex(int proc, long pid, long fd)
{
    const std::string info = ReadProcFile(proc, std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
    const std::size_t at = info.find("tty-index:");
    return at == std::string::npos ? -1 : std::strtol(info.c_str() + at + std::strlen("tty-index:"), nullptr, 10);
}

void Note(std::vector<long>& pids, long pid)
{
    if (pids.empty() || pids.back() != pid)
        pids.push_back(pid);
}

void ScanProcess(int proc, long pid, OpenDescriptors& seen)
{
    const int fdDir = openat(proc, (std::to_string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0)
        return;  // another user's process: not ours to see
    std::string last;  // a process often holds one device many times: noted once
    for (const long fd : NumberedEntries(fdDir)) {
        char target[256];
        const ssize_t length = readlinkat(fdDir, std::to_string(fd).c_str(), target, sizeof target);
        if (length < 5 || length == static_cast<ssize_t>(sizeof target) || std::memcmp(target, "/dev/", 5) != 0 ||
            last.compare(0, std::string::npos, target, static_cast<std::size_t>(length)) == 0)
            continue;
        const std::string text(target, static_cast<std::size_t>(length));
        if (text == "/dev/ptmx" || text == "/dev/pts/ptmx") {  // each master is of a pty of its own
            const long index = PtyIndex(proc, pid, fd);
            if (index >= 0)
                Note(seen.ptyMasters[index], pid);
        } else {
            Note(seen.devices[text], pid);
            last = text;
        }
    }
    close(fdDir);
}

// Every worker's share of the processes, as one.
void Merge(OpenDescriptors& into, OpenDescriptors&& part)
{
    for (auto& [text, pids] : part.devices)
        into.devices[text].insert(into.devices[text].end(), pids.begin(), pids.end());
    for (auto& [index, pids] : part.ptyMasters)
        into.ptyMasters[index].insert(into.ptyMasters[index].end(), pids.begin(), pids.end());
    into.complete = into.complete && part.complete;
}

// Readlink costs microseconds, and a machine can have hundreds of thousands of descriptors:
// the processes are shared out among a few threads, each looking at the stop between them.
OpenDescriptors Scan(const StopSignal* stop)
{
    OpenDescriptors seen;
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return seen;
    std::vector<long> pids = NumberedEntries(proc);
    pids.erase(std::remove(pids.begin(), pids.end(), static_cast<long>(getpid())), pids.end());
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1U, kMostWorkers);
    std::vector<OpenDescriptors> parts(workers);
    const auto work = [&](unsigned worker) {
        for (std::size_t i = worker; i < pids.size() && parts[worker].complete; i += workers) {
            if (stop != nullptr && stop->IsSet())
                parts[worker].complete = false;
            else
                ScanProcess(proc, pids[i], parts[worker]);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned worker = 1; worker < workers; ++worker) {
        try {
            threads.emplace_back(work, worker);
        } catch (const std::system_error&) {
            work(worker);  // no thread: this one does its share too
        }
    }
    work(0);
    for (std::thread& thread : threads)
        thread.join();
    close(proc);
    for (OpenDescriptors& part : parts)
        Merge(seen, std::move(part));
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
    std::string name = ReadProcFile(AT_FDCWD, "/proc/" + std::to_string(pid) + "/comm");
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

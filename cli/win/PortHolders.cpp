#include "PortHolders.h"

#include <winternl.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "WinText.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kObjectNameInformation = 1;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kBufferOverflow = static_cast<LONG>(0x80000005);
constexpr std::size_t kFirstListBytes = 64 * 1024;
constexpr std::size_t kMostListBytes = 256u * 1024 * 1024;

// The system's lists of handles, as ntdll lays them out (a 32-bit process is given the
// 32-bit layout on 64-bit Windows too). Class 16 has 16-bit process ids and handle values.
struct LegacyEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectTypeIndex;
    UCHAR handleAttributes;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
};
struct LegacyList {
    ULONG count;
    LegacyEntry entries[1];
};
struct ExtendedEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};
struct ExtendedList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    ExtendedEntry entries[1];
};
static_assert(sizeof(LegacyEntry) == (sizeof(void*) == 4 ? 16 : 24), "class 16's entry");
static_assert(sizeof(ExtendedEntry) == (sizeof(void*) == 4 ? 28 : 40), "class 64's entry");

struct SystemHandle {
    DWORD pid;
    HANDLE value;
    unsigned type;
};

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

bool Over(const StopSignal* stop, Clock::time_point until)
{
    return (stop != nullptr && stop->IsSet()) || Clock::now() >= until;
}

// One class of the list, the buffer grown as the call asks; empty when it fails.
std::vector<BYTE> QueryList(const HolderApi& api, ULONG infoClass)
{
    std::vector<BYTE> buffer(kFirstListBytes);
    for (;;) {
        ULONG needed = 0;
        const LONG status = api.querySystemInformation(infoClass, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0)
            return buffer;
        if (status != kInfoLengthMismatch || buffer.size() >= kMostListBytes)
            return {};
        // Handles are opened meanwhile: some room beyond what was asked.
        buffer.resize(std::min(kMostListBytes, std::max<std::size_t>(needed + needed / 4, buffer.size() * 2)));
    }
}

template <class List>
std::size_t EntriesIn(const std::vector<BYTE>& buffer)
{
    const std::size_t room = (buffer.size() - offsetof(List, entries)) / sizeof(List::entries[0]);
    return std::min<std::size_t>(reinterpret_cast<const List*>(buffer.data())->count, room);
}

// Every handle of every process: class 64, or class 16 where that fails. In class 16 only
// the low 16 bits of a process id are given; vr7's own are taken as its own.
std::vector<SystemHandle> ListHandles(const HolderApi& api)
{
    std::vector<SystemHandle> handles;
    std::vector<BYTE> buffer = QueryList(api, kSystemExtendedHandleInformation);
    if (!buffer.empty()) {
        const auto* list = reinterpret_cast<const ExtendedList*>(buffer.data());
        for (std::size_t i = 0; i < EntriesIn<ExtendedList>(buffer); ++i) {
            const ExtendedEntry& e = list->entries[i];
            handles.push_back({static_cast<DWORD>(e.processId), reinterpret_cast<HANDLE>(e.handleValue),
                               e.objectTypeIndex});
        }
        return handles;
    }
    buffer = QueryList(api, kSystemHandleInformation);
    if (buffer.empty())
        return handles;
    const DWORD self = GetCurrentProcessId();
    const auto* list = reinterpret_cast<const LegacyList*>(buffer.data());
    for (std::size_t i = 0; i < EntriesIn<LegacyList>(buffer); ++i) {
        const LegacyEntry& e = list->entries[i];
        const DWORD pid = e.processId == (self & 0xFFFF) ? self : e.processId;
        handles.push_back({pid, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(e.handleValue)), e.objectTypeIndex});
    }
    return handles;
}

// A File handle of vr7's own, to learn the File type's index in the list (it differs
// between Windows versions and Wine): vr7's own program file, opened for no access.
HANDLE OpenOwnFile()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return INVALID_HANDLE_VALUE;
    path.resize(length);
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

// The File handles of every process but the skipped one, by process.
std::map<DWORD, std::vector<HANDLE>> OtherProcessesFiles(const HolderApi& api)
{
    std::map<DWORD, std::vector<HANDLE>> files;
    const HANDLE own = OpenOwnFile();
    if (own == INVALID_HANDLE_VALUE)
        return files;
    const std::vector<SystemHandle> handles = ListHandles(api);
    CloseHandle(own);
    const DWORD self = GetCurrentProcessId();
    const auto ownEntry = std::find_if(handles.begin(), handles.end(),
                                       [&](const SystemHandle& h) { return h.pid == self && h.value == own; });
    if (ownEntry == handles.end())
        return files;
    for (const SystemHandle& h : handles) {
        if (h.type == ownEntry->type && h.pid != api.ownProcess)
            files[h.pid].push_back(h.value);
    }
    return files;
}

std::wstring QueryName(const HolderApi& api, HANDLE handle)
{
    std::vector<ULONG_PTR> buffer(1024 / sizeof(ULONG_PTR));  // aligned for the UNICODE_STRING at its start
    for (int tries = 0; tries < 3; ++tries) {
        const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        ULONG needed = 0;
        const LONG status = api.queryObject(handle, kObjectNameInformation, buffer.data(), size, &needed);
        if (status >= 0) {
            const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
            return name->Buffer != nullptr ? std::wstring(name->Buffer, name->Length / sizeof(wchar_t)) : L"";
        }
        if ((status != kInfoLengthMismatch && status != kBufferOverflow) || needed <= size)
            return L"";
        buffer.resize(needed / sizeof(ULONG_PTR) + 1);
    }
    return L"";
}

// A thread that names handles one at a time. A query that has not answered by its time
// limit is given up with the thread: some handles (a synchronous pipe with a read
// pending) make NtQueryObject wait without end. Such a thread is never waited for again;
// it keeps the duplicated handle and its share of the exchange, and if its query ever
// returns it closes the handle and ends. That handle is the one vr7 may keep to its end.
class NameWorker {
public:
    explicit NameWorker(const HolderApi& api) : m_exchange(std::make_shared<Exchange>())
    {
        std::thread(Serve, m_exchange, &api).detach();  // throws std::system_error when there is no thread
    }
    ~NameWorker()
    {
        {
            const std::lock_guard<std::mutex> lock(m_exchange->mutex);
            m_exchange->retired = true;
        }
        m_exchange->changed.notify_all();
    }
    NameWorker(const NameWorker&) = delete;
    NameWorker& operator=(const NameWorker&) = delete;

    // The handle's name ("" where it has none), closing the handle; nothing when the query
    // did not answer by `until`, and the worker is then given up.
    std::optional<std::wstring> Name(HANDLE handle, Clock::time_point until)
    {
        std::unique_lock<std::mutex> lock(m_exchange->mutex);
        m_exchange->asked = handle;
        m_exchange->answered = false;
        m_exchange->changed.notify_all();
        if (!m_exchange->changed.wait_until(lock, until, [this] { return m_exchange->answered; }))
            return std::nullopt;
        return std::move(m_exchange->name);
    }

private:
    struct Exchange {
        std::mutex mutex;
        std::condition_variable changed;
        HANDLE asked = nullptr;  // the handle to name, until the thread takes it
        bool answered = false;
        bool retired = false;  // no more questions: the thread ends
        std::wstring name;
    };

    // Each wait ends: the owner retires the exchange when it is destroyed.
    static void Serve(std::shared_ptr<Exchange> exchange, const HolderApi* api)
    {
        std::unique_lock<std::mutex> lock(exchange->mutex);
        for (;;) {
            exchange->changed.wait(lock, [&] { return exchange->retired || exchange->asked != nullptr; });
            if (exchange->asked == nullptr)
                return;
            const HANDLE handle = exchange->asked;
            exchange->asked = nullptr;
            lock.unlock();
            std::wstring name = QueryName(*api, handle);
            CloseHandle(handle);
            lock.lock();
            exchange->name = std::move(name);
            exchange->answered = true;
            exchange->changed.notify_all();
        }
    }

    std::shared_ptr<Exchange> m_exchange;
};

// Whether one of the process's handles is the device's.
bool HoldsDevice(HANDLE process, const std::vector<HANDLE>& handles, const std::wstring& device,
                 std::unique_ptr<NameWorker>& worker, const HolderApi& api, const StopSignal* stop,
                 Clock::time_point until)
{
    for (const HANDLE value : handles) {
        if (Over(stop, until))
            return false;
        if (worker == nullptr)
            worker = std::make_unique<NameWorker>(api);
        HANDLE copy = nullptr;
        if (!DuplicateHandle(process, value, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        const std::optional<std::wstring> name = worker->Name(copy, std::min(until, Clock::now() + kNameQueryLimit));
        if (!name)
            worker.reset();  // given up, with its thread
        else if (IsDeviceName(*name, device))
            return true;
    }
    return false;
}

// The base name of the process's program file ("putty.exe").
std::string ProcessName(HANDLE process, DWORD pid)
{
    std::wstring path(32768, L'\0');
    DWORD length = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, &path[0], &length))
        return "process " + std::to_string(pid);
    path.resize(length);
    const std::size_t slash = path.find_last_of(L"\\/");
    return Utf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

// The port's NT device name ("\Device\Serial4"); empty where Windows knows none.
std::wstring DeviceNameOf(int port)
{
    const std::wstring name = L"COM" + std::to_wstring(port);
    std::vector<wchar_t> target(1024);
    while (QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || target.size() >= 65536)
            return L"";
        target.resize(target.size() * 4);
    }
    return target.data();  // the first of its targets: the one in use
}

}  // namespace

const HolderApi& SystemHolderApi()
{
    static const HolderApi api = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const auto bind = [&](const char* name) {
            return ntdll != nullptr ? reinterpret_cast<void*>(GetProcAddress(ntdll, name)) : nullptr;
        };
        return HolderApi{reinterpret_cast<HolderApi::QuerySystem>(bind("NtQuerySystemInformation")),
                         reinterpret_cast<HolderApi::QueryObject>(bind("NtQueryObject")), ::OpenProcess,
                         GetCurrentProcessId()};
    }();
    return api;
}

bool IsDeviceName(const std::wstring& handleName, const std::wstring& device)
{
    return !device.empty() && CompareStringOrdinal(handleName.c_str(), static_cast<int>(handleName.size()),
                                                   device.c_str(), static_cast<int>(device.size()), TRUE) == CSTR_EQUAL;
}

HolderSearch FindHolders(const std::wstring& device, const StopSignal* stop, const HolderApi& api)
{
    HolderSearch found;
    if (api.querySystemInformation == nullptr || api.queryObject == nullptr)
        return found;
    const Clock::time_point until = Clock::now() + kHolderSearchBound;
    try {
        std::unique_ptr<NameWorker> worker;
        for (const auto& [pid, handles] : OtherProcessesFiles(api)) {
            if (Over(stop, until))
                break;
            const std::unique_ptr<void, HandleCloser> process(
                api.openProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
            if (process == nullptr)
                found.refused += GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;  // not one that has just ended
            else if (HoldsDevice(process.get(), handles, device, worker, api, stop, until))
                found.holders.push_back({static_cast<long>(pid), ProcessName(process.get(), pid)});
        }
    } catch (const std::exception&) {
        // No memory or no thread for the search: what it found so far.
    }
    return found;
}

void NameHolders(OpenError& error, int portNumber, const StopSignal* stop)
{
    if (error.reason != "busy")
        return;
    const std::wstring device = DeviceNameOf(portNumber);
    if (device.empty())
        return;
    const HolderSearch found = FindHolders(device, stop);
    error.holders = found.holders;
    error.hidden = found.holders.empty() && found.refused > 0;
}

// Processes: starting one, waiting for its end, ending it, and counting its handles and
// threads as the system sees them. See Automation.h.
#include "Automation.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <utility>

namespace automation {

Process::~Process()
{
    Close();
}

Process::Process(Process&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_id(std::exchange(other.m_id, 0))
{
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

Process Process::Start(const std::wstring& exe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    Process process;
    if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process.m_handle = info.hProcess;
        process.m_id = info.dwProcessId;
    }
    return process;
}

bool Process::WaitForExit(DWORD timeoutMs) const
{
    return m_handle != nullptr && WaitForSingleObject(m_handle, timeoutMs) == WAIT_OBJECT_0;
}

void Process::Terminate()
{
    if (m_handle != nullptr && !WaitForExit(0)) {
        TerminateProcess(m_handle, 255);
        WaitForExit(5000);
    }
}

void Process::Close()
{
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
    m_id = 0;
}

bool WaitForProcessExit(DWORD processId, DWORD timeoutMs)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process (any more)
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::optional<unsigned> CountHandles(DWORD processId)
{
    // The table holds every handle of the system; it can grow between two calls.
    ULONG size = 1 << 16;
    for (int attempt = 0; attempt < 12; ++attempt) {
        std::vector<unsigned char> buffer(size);
        ULONG needed = 0;
        const NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                                         size, &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            size = needed > size ? needed + 4096 : size * 2;
            continue;
        }
        if (status < 0)
            return std::nullopt;
        const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        const SYSTEM_HANDLE_ENTRY* entry = table->Handle;
        const size_t room = (size - offsetof(SYSTEM_HANDLE_INFORMATION, Handle)) / sizeof(SYSTEM_HANDLE_ENTRY);
        unsigned count = 0;
        for (size_t i = 0; i < table->Count && i < room; ++i) {
            if (entry[i].OwnerPid == processId)
                ++count;
        }
        return count;
    }
    return std::nullopt;
}

std::optional<unsigned> CountThreads(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return std::nullopt;
    unsigned count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace automation

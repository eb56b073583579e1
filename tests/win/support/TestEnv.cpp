#include "TestEnv.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <type_traits>
#include <utility>

namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kReplyTimeoutMs = 5000;  // of the simulator's control connection

HKEY OpenSerialComm(REGSAM access)
{
    HKEY key = nullptr;
    const LONG error =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, nullptr, REG_OPTION_VOLATILE, access, nullptr, &key, nullptr);
    return error == ERROR_SUCCESS ? key : nullptr;
}

// Where a thread stopped by SuspendThread may be terminated with the process left sound
// under Wine 8: in a wait (its context is then the return address in the system call's
// stub) or in the test's or the port library's own code. Inside Wine's other system calls
// it may not: a thread killed inside the comm-event wait's setup leaves a server thread
// that never starts, and its handle, behind; one killed inside ntdll's locked sections can
// take an ntdll lock with it (Wine 8 does not hold the termination signal back there), and
// the next CreateThread hangs. Both were seen in this test rig. The places are found
// before any thread is suspended: looking them up takes the loader lock, which a
// suspended thread may hold.
std::vector<std::pair<ULONG_PTR, ULONG_PTR>> SafePoints()
{
    std::vector<std::pair<ULONG_PTR, ULONG_PTR>> ranges;
    for (HMODULE module : {GetModuleHandleA(nullptr), GetModuleHandleA("linkport.dll")}) {
        if (module == nullptr)
            continue;
        const auto base = reinterpret_cast<ULONG_PTR>(module);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<ULONG_PTR>(dos->e_lfanew));
        ranges.push_back({base, base + nt->OptionalHeader.SizeOfImage});
    }
    for (const char* wait : {"NtWaitForSingleObject", "NtWaitForMultipleObjects", "NtDelayExecution"}) {
        const auto stub = reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleA("ntdll.dll"), wait));
        if (stub != 0)
            ranges.push_back({stub + 1, stub + 32});
    }
    return ranges;
}

}  // namespace

std::string WindowsPathFromEnv(const char* variable)
{
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << "environment variable " << variable << " is not set";
        return std::string();
    }
    std::string path = std::string("Z:") + value;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::wstring UseTempFolder(const std::string& name)
{
    const std::string utf8 = WindowsPathFromEnv("QUILLANE_RUN_DIR") + "\\" + name;
    std::wstring folder(utf8.size(), L'\0');
    folder.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                          &folder[0], static_cast<int>(folder.size()))));
    CreateDirectoryW(folder.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    return folder;
}

const LinkportApi& Linkport()
{
    static const LinkportApi api = [] {
        LinkportApi loaded = {};
        const std::string path = WindowsPathFromEnv("QUILLANE_LINKPORT");
        loaded.module = LoadLibraryA(path.c_str());
        EXPECT_NE(loaded.module, nullptr) << "cannot load " << path << ", error " << GetLastError();
        auto bind = [&](const char* name, auto& entry) {
            entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
                reinterpret_cast<void*>(GetProcAddress(loaded.module, name)));
            EXPECT_NE(entry, nullptr) << "export " << name;
        };
        bind("TestPort", loaded.TestPort);
        bind("OpenPort", loaded.OpenPort);
        bind("ClosePort", loaded.ClosePort);
        bind("senddata", loaded.senddata);
        bind("ListSerialComm", loaded.ListSerialComm);
        bind("recvdata", loaded.recvdata);
        bind("WaitRecvdata", loaded.WaitRecvdata);
        return loaded;
    }();
    return api;
}

Simulator::Simulator(unsigned comPort)
{
    static WSADATA winsock;
    static const int started = WSAStartup(MAKEWORD(2, 2), &winsock);
    const std::string portFile =
        WindowsPathFromEnv("QUILLANE_RUN_DIR") + "\\sim-com" + std::to_string(comPort) + ".port";
    int tcpPort = 0;
    std::ifstream(portFile) >> tcpPort;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(tcpPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (started != 0 || tcpPort <= 0 || connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot reach the simulator of COM" << comPort << " (control port in " << portFile
                      << "), error " << WSAGetLastError();
        return;
    }
    const DWORD timeout = kReplyTimeoutMs;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}

Simulator::~Simulator()
{
    closesocket(m_socket);
}

// Sends one command and reads its answer: data lines, then "OK" or "ERR ...".
std::vector<std::string> Simulator::Command(const std::string& line)
{
    std::vector<std::string> data;
    const std::string text = line + "\n";
    if (send(m_socket, text.data(), static_cast<int>(text.size()), 0) <= 0) {
        ADD_FAILURE() << "no simulator connection for: " << line;
        return data;
    }
    for (;;) {
        const size_t end = m_pending.find('\n');
        if (end == std::string::npos) {
            char chunk[512];
            const int n = recv(m_socket, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ADD_FAILURE() << "simulator command '" << line << "': connection lost or no answer";
                return data;
            }
            m_pending.append(chunk, static_cast<size_t>(n));
            continue;
        }
        const std::string reply = m_pending.substr(0, end);
        m_pending.erase(0, end + 1);
        if (reply == "OK")
            return data;
        if (reply.compare(0, 3, "ERR") == 0) {
            ADD_FAILURE() << "simulator command '" << line << "' failed: " << reply;
            return data;
        }
        data.push_back(reply);
    }
}

std::vector<FrameRecord> Simulator::Frames()
{
    std::vector<FrameRecord> frames;
    for (const std::string& line : Command("frames")) {  // "frame DB 01 ... DD baud=9600 parity=N stop=1 t=..."
        FrameRecord frame;
        const size_t setting = std::min(line.find(" baud="), line.size());
        std::istringstream in(line.substr(0, setting));
        std::string word;
        for (in >> word; in >> word;)
            frame.bytes.push_back(static_cast<unsigned char>(std::strtoul(word.c_str(), nullptr, 16)));
        std::sscanf(line.c_str() + setting, " baud=%d parity=%c stop=%d", &frame.baud, &frame.parity, &frame.stopBits);
        frames.push_back(frame);
    }
    return frames;
}

int Simulator::Count(const std::string& command)
{
    const std::vector<std::string> lines = Command(command);
    return lines.empty() ? -1 : std::atoi(lines[0].c_str() + command.size() + 1);
}

SerialCommOverride::SerialCommOverride()
{
    HKEY key = OpenSerialComm(KEY_QUERY_VALUE);
    for (DWORD index = 0; key != nullptr; ++index) {
        char name[260];
        DWORD nameLength = sizeof name;
        BYTE data[512];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        m_saved.emplace_back(name, type, std::vector<unsigned char>(data, data + size));
    }
    RegCloseKey(key);
}

SerialCommOverride::~SerialCommOverride()
{
    Clear();
    for (const auto& [name, type, data] : m_saved)
        SetRaw(name, type, data);
}

void SerialCommOverride::Clear()
{
    HKEY key = OpenSerialComm(KEY_ALL_ACCESS);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(RegDeleteTreeA(key, nullptr), ERROR_SUCCESS);  // its values, the key stays
    RegCloseKey(key);
}

void SerialCommOverride::SetString(const std::string& name, const std::string& data)
{
    SetRaw(name, REG_SZ, std::vector<unsigned char>(data.c_str(), data.c_str() + data.size() + 1));
}

void SerialCommOverride::SetRaw(const std::string& name, DWORD type, const std::vector<unsigned char>& data)
{
    EXPECT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSerialCommKey, name.c_str(), type, data.data(),
                              static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
}

void SerialCommOverride::RemoveKey()
{
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSerialCommKey), ERROR_SUCCESS);
}

TestThread::TestThread(std::function<void()> fn) : m_fn(new std::function<void()>(std::move(fn)))
{
    m_thread = CreateThread(nullptr, 0, &TestThread::Run, m_fn, 0, nullptr);
}

DWORD WINAPI TestThread::Run(LPVOID fn)
{
    (*static_cast<std::function<void()>*>(fn))();
    return 0;
}

TestThread::~TestThread()
{
    // A thread that never ended is left alone (its test has failed); its state leaks.
    if (WaitForSingleObject(m_thread, 10000) == WAIT_OBJECT_0)
        delete m_fn;
    CloseHandle(m_thread);
}

// Suspends the thread until it is found at a safe point (a thread of these tests spends
// nearly all its time in waits), then terminates it there.
bool TestThread::Terminate()
{
    const std::vector<std::pair<ULONG_PTR, ULONG_PTR>> safe = SafePoints();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (SuspendThread(m_thread) == static_cast<DWORD>(-1))
            return false;
        if (!GetThreadContext(m_thread, &context)) {  // returns once the thread has stopped
            ResumeThread(m_thread);
            return false;
        }
#ifdef _WIN64
        const ULONG_PTR ip = context.Rip;
#else
        const ULONG_PTR ip = context.Eip;
#endif
        for (const auto& range : safe)
            if (ip >= range.first && ip < range.second)
                return TerminateThread(m_thread, 0) != FALSE;
        ResumeThread(m_thread);
        Sleep(1);
    }
    return false;
}

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

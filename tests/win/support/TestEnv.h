// What the Windows tests stand on: the test run's folder, the port library loaded by
// path, the digitizer simulators behind the virtual COM ports, and the registry's list
// of serial ports.
#ifndef QUILLANE_TESTS_TESTENV_H
#define QUILLANE_TESTS_TESTENV_H

#include <windows.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Frame.h"
#include "linkport.h"

// Unix paths handed over in the environment, in their Windows form (drive Z:).
std::string WindowsPathFromEnv(const char* variable);

// Creates a folder (name in UTF-8) below the test run's folder and makes it this
// process's temporary folder, which the programs it starts inherit; returns its path.
std::wstring UseTempFolder(const std::string& name);

// The seven exports, bound by name from the library built in this tree.
struct LinkportApi {
    HMODULE module;
    decltype(&::TestPort) TestPort;
    decltype(&::OpenPort) OpenPort;
    decltype(&::ClosePort) ClosePort;
    decltype(&::senddata) senddata;
    decltype(&::ListSerialComm) ListSerialComm;
    decltype(&::recvdata) recvdata;
    decltype(&::WaitRecvdata) WaitRecvdata;
};
const LinkportApi& Linkport();  // loaded once per process; fails the test when an export is missing

// Virtual ports of the test run (see fixture.sh).
constexpr unsigned kSimPort = 5;        // a simulated digitizer
constexpr unsigned kHighPort = 17;      // simulated, number above 16
constexpr unsigned kMissingPort = 7;    // defined, device missing
constexpr unsigned kUndefinedPort = 9;  // not defined at all

// A frame that reached the simulator, with the line setting its pty's terminal settings
// were at when it came in.
struct FrameRecord {
    std::vector<unsigned char> bytes;
    int baud = 0;
    char parity = '?';
    int stopBits = 0;
};

// A command frame, and the reply the simulator gives to it.
inline const std::vector<unsigned char> kFrame = {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD};
inline const std::vector<unsigned char> kReply = {0xEA, 0x0E, 0x5A, 0x98, 0xDD};

// Control connection to the simulator behind COMn; a failed command fails the test.
class Simulator {
public:
    explicit Simulator(unsigned comPort);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    std::vector<std::string> Command(const std::string& line);  // returns its data lines
    void Reset() { Command("reset"); }
    void Behave(const std::string& behaviour) { Command("behave " + behaviour); }
    void Send(const std::vector<unsigned char>& bytes) { Command("send " + HexText(bytes.data(), bytes.size())); }
    std::vector<FrameRecord> Frames();
    int Holders() { return Count("holders"); }  // other processes holding the port's device open
    int Replies() { return Count("replies"); }

private:
    int Count(const std::string& command);  // the number after the command's word
    UINT_PTR m_socket;                      // a SOCKET
    std::string m_pending;
};

// Replaces the registry's list of serial ports for the lifetime of the object and puts
// the original values back afterwards.
class SerialCommOverride {
public:
    SerialCommOverride();
    ~SerialCommOverride();
    SerialCommOverride(const SerialCommOverride&) = delete;
    SerialCommOverride& operator=(const SerialCommOverride&) = delete;

    void Clear();
    void SetString(const std::string& name, const std::string& data);
    void SetRaw(const std::string& name, DWORD type, const std::vector<unsigned char>& data);
    void RemoveKey();

private:
    std::vector<std::tuple<std::string, DWORD, std::vector<unsigned char>>> m_saved;  // name, type, data
};

// Runs fn on a thread of its own; Join waits at most timeoutMs and tells whether it ended.
class TestThread {
public:
    explicit TestThread(std::function<void()> fn);
    ~TestThread();
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    bool Join(DWORD timeoutMs) { return WaitForSingleObject(m_thread, timeoutMs) == WAIT_OBJECT_0; }
    // TerminateThread, once the thread is stopped in a wait or in code of its own rather
    // than inside a system call (see TestEnv.cpp); like TerminateThread it returns before
    // the thread is gone. For a thread that has started running fn: one still starting
    // may be in the program's own code while it holds the loader lock.
    bool Terminate();

private:
    static DWORD WINAPI Run(LPVOID fn);
    std::function<void()>* m_fn;  // freed once the thread has ended
    HANDLE m_thread;
};

double NowMs();  // a monotonic clock in milliseconds
inline std::vector<unsigned char> Bytes(std::initializer_list<int> values) { return {values.begin(), values.end()}; }
// Names each case of a parameterised test after its row's name.
inline constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

#endif

// Holds a COM port as another program would, for vr7's tests: port_holder COMn [exclusive]
// [named]. "exclusive" opens \\.\COMn with share mode 0, which makes another open fail on
// a port whose target is a regular file (fixture.sh); Wine names that handle by its Unix
// path. "named" opens the port by its NT device name, which Wine names as Windows names a
// port's handle. Says "holding COMn as PID n" and holds it until its input is closed.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    wchar_t device[256] = {};
    if (argc < 2 || QueryDosDeviceW(argv[1], device, 256) == 0)
        return 2;
    for (int i = 2; i < argc; ++i) {
        const std::wstring path = std::wstring(argv[i]) == L"exclusive" ? L"\\\\.\\" + std::wstring(argv[1])
                                                                         : L"\\\\?\\GLOBALROOT" + std::wstring(device);
        if (CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
            INVALID_HANDLE_VALUE)
            return 3;
    }
    std::printf("holding %ls as PID %lu\n", argv[1], GetCurrentProcessId());
    std::fflush(stdout);
    char byte = 0;
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr);  // ends when the test closes the pipe
    return 0;  // the system closes the port's handles
}

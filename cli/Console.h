// The console program's output. Texts are UTF-8 inside the program; how they leave it is
// decided by where the handle leads (GetConsoleMode): a console gets WriteConsoleW, so
// Chinese labels show right whatever its code page; a file or a pipe gets UTF-8 without a
// byte-order mark. Lines end with CR LF either way, as Windows programs' do.
#ifndef VR7_CONSOLE_H
#define VR7_CONSOLE_H

#include <windows.h>

#include <string>
#include <string_view>

class ConsoleStream {
public:
    explicit ConsoleStream(DWORD standardHandle);  // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE
    ConsoleStream(const ConsoleStream&) = delete;
    ConsoleStream& operator=(const ConsoleStream&) = delete;

    // Writes the text at once; a "\n" that does not follow a "\r" goes out as "\r\n".
    void Write(std::string_view utf8);
    void Line(std::string_view utf8 = {});

private:
    void Emit(std::string_view utf8);

    HANDLE m_handle;  // not owned: the process's standard handle
    bool m_console;
};

// Standard output and standard error. Used from one thread at a time.
ConsoleStream& Out();
ConsoleStream& Err();

// Windows' UTF-16 as UTF-8.
std::string Utf8(std::wstring_view wide);

// The system's own sentence for an error code, without its line end.
std::string SystemMessage(DWORD code);

#endif

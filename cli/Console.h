// vr7's output. Texts are UTF-8 inside the program; how they leave it is the system's
// (cli/win: a console gets the wide console functions, a file or pipe UTF-8, lines end
// with CR LF; cli/linux: UTF-8 with LF).
#ifndef VR7_CONSOLE_H
#define VR7_CONSOLE_H

#include <string_view>

class ConsoleStream {
public:
    enum class Which { Out, Err };
    explicit ConsoleStream(Which which);
    ConsoleStream(const ConsoleStream&) = delete;
    ConsoleStream& operator=(const ConsoleStream&) = delete;

    // Writes the text at once, with the system's line ends.
    void Write(std::string_view utf8);
    void Line(std::string_view utf8 = {});

private:
    void Emit(std::string_view text);

    void* m_handle = nullptr;  // Windows: the process's standard handle (not owned)
    int m_fd = -1;             // Linux: the standard descriptor
    bool m_console = false;    // Windows: the handle leads to a console
};

// Standard output and standard error. Used from one thread at a time.
inline ConsoleStream& Out()
{
    static ConsoleStream stream(ConsoleStream::Which::Out);
    return stream;
}

inline ConsoleStream& Err()
{
    static ConsoleStream stream(ConsoleStream::Which::Err);
    return stream;
}

#endif

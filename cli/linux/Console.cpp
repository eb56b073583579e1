// vr7's output on Linux: UTF-8 with LF line ends, written at once.
#include "Console.h"

#include <unistd.h>

#include <cerrno>

ConsoleStream::ConsoleStream(Which which) : m_fd(which == Which::Out ? STDOUT_FILENO : STDERR_FILENO) {}

void ConsoleStream::Write(std::string_view utf8)
{
    Emit(utf8);
}

void ConsoleStream::Line(std::string_view utf8)
{
    Emit(utf8);
    Emit("\n");
}

void ConsoleStream::Emit(std::string_view text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = write(m_fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // a closed pipe: the reader has gone
        done += static_cast<std::size_t>(written);
    }
}

// vr7's output on Windows: a console gets WriteConsoleW, so Chinese labels show right
// whatever its code page; a file or a pipe gets UTF-8 without a byte-order mark. Lines end
// with CR LF either way, as Windows programs' do.
#include "Console.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "Utf16.h"

namespace {

constexpr DWORD kChunk = 4096;  // characters or bytes per write call

}  // namespace

ConsoleStream::ConsoleStream(Which which)
    : m_handle(GetStdHandle(which == Which::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE))
{
    DWORD mode = 0;
    if (m_handle == INVALID_HANDLE_VALUE)
        m_handle = nullptr;
    m_console = m_handle != nullptr && GetConsoleMode(m_handle, &mode) != 0;
}

void ConsoleStream::Write(std::string_view utf8)
{
    std::string text;
    text.reserve(utf8.size() + utf8.size() / 16);
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\n' && (i == 0 || utf8[i - 1] != '\r'))
            text += '\r';
        text += utf8[i];
    }
    Emit(text);
}

void ConsoleStream::Line(std::string_view utf8)
{
    Write(utf8);
    Emit("\r\n");
}

void ConsoleStream::Emit(std::string_view utf8)
{
    if (m_handle == nullptr || utf8.empty())
        return;
    if (m_console) {
        const std::u16string wide = Utf8ToUtf16(utf8);
        for (std::size_t done = 0; done < wide.size();) {
            DWORD count = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, kChunk));
            if (count > 1 && wide[done + count - 1] >= 0xD800 && wide[done + count - 1] <= 0xDBFF)
                --count;  // a surrogate pair stays in one call
            DWORD written = 0;
            if (!WriteConsoleW(m_handle, wide.data() + done, count, &written, nullptr) || written == 0)
                return;
            done += written;
        }
        return;
    }
    for (std::size_t done = 0; done < utf8.size();) {
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(utf8.size() - done, kChunk));
        DWORD written = 0;
        if (!WriteFile(m_handle, utf8.data() + done, count, &written, nullptr) || written == 0)
            return;  // a closed pipe: the reader has gone
        done += written;
    }
}

// Windows' text as vr7 uses it.
#ifndef VR7_WINTEXT_H
#define VR7_WINTEXT_H

#include <windows.h>

#include <string>
#include <string_view>

// Windows' UTF-16 as UTF-8.
std::string Utf8(std::wstring_view wide);

// The system's own sentence for an error code, without its line end.
std::string SystemMessage(DWORD code);

#endif

// UTF-8 to UTF-16, for handing the catalogue's texts to the wide Windows
// functions (whose wchar_t is 16-bit). Portable: standard C++ only.
#pragma once

#include <string>
#include <string_view>

// Strict conversion: code points above U+FFFF become surrogate pairs; each
// ill-formed part (stray continuation byte, overlong form, encoded surrogate,
// value above U+10FFFF, truncated sequence) becomes one U+FFFD per maximal
// invalid subpart, and decoding resumes at the byte that broke the sequence.
std::u16string Utf8ToUtf16(std::string_view utf8);

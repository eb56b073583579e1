#include "Utf16.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

std::string Units(const std::u16string& text)
{
    std::string out;
    char unit[8];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

struct Conversion {
    const char* name;
    std::string_view utf8;
    std::u16string utf16;
};

using namespace std::string_view_literals;

const Conversion kConversions[] = {
    {"empty", ""sv, u""},
    {"ASCII", "Status:OK!\r\n"sv, u"Status:OK!\r\n"},
    {"embedded NUL kept", "A\0B"sv, std::u16string(u"A\0B", 3)},
    {"Chinese label", "天虹绣花"sv, {0x5929, 0x8679, 0x7EE3, 0x82B1}},
    {"ideographic comma", "1、"sv, {0x0031, 0x3001}},
    {"two-byte sequence", "\xC3\xA9"sv, {0x00E9}},
    {"last three-byte code point", "\xEF\xBF\xBF"sv, {0xFFFF}},
    {"four bytes, U+1F600", "\xF0\x9F\x98\x80"sv, {0xD83D, 0xDE00}},
    {"four bytes, U+10000", "\xF0\x90\x80\x80"sv, {0xD800, 0xDC00}},
    {"four bytes, U+10FFFF", "\xF4\x8F\xBF\xBF"sv, {0xDBFF, 0xDFFF}},
    {"stray continuation byte", "a\x80z"sv, {u'a', 0xFFFD, u'z'}},
    {"bytes that never start a sequence", "\xC0\xC1\xF5\xFF"sv, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"F5 cannot lead a sequence", "\xF5\x80\x80\x80"sv, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"overlong two-byte slash", "\xC0\xAF"sv, {0xFFFD, 0xFFFD}},
    {"overlong three-byte NUL", "\xE0\x80\x80"sv, {0xFFFD, 0xFFFD, 0xFFFD}},
    {"overlong four-byte U+FFFF", "\xF0\x8F\xBF\xBF"sv, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"encoded surrogate", "\xED\xA0\x80"sv, {0xFFFD, 0xFFFD, 0xFFFD}},
    {"above U+10FFFF", "\xF4\x90\x80\x80"sv, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"truncated at the end", "x\xE5\xA4"sv, {u'x', 0xFFFD}},
    {"truncated before ASCII", "\xF0\x9F\x98Q"sv, {0xFFFD, u'Q'}},
    {"truncated before a new lead", "\xE5\xE5\xA4\xA9"sv, {0xFFFD, 0x5929}},
};

TEST(Utf16Conversion, Cases)
{
    for (const auto& c : kConversions)
        EXPECT_EQ(Units(Utf8ToUtf16(c.utf8)), Units(c.utf16)) << c.name;
}

}  // namespace

#include "Utf16.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Number of continuation bytes after lead, and the range the first of them
// must lie in (which rules out overlong forms, surrogates and values above
// U+10FFFF). Returns -1 for a byte that cannot start a sequence.
int SequenceShape(unsigned char lead, unsigned char& low, unsigned char& high)
{
    low = 0x80;
    high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 1;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
        return 2;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
        return 3;
    }
    return -1;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i++]);
        if (lead < 0x80) {
            out.push_back(lead);
            continue;
        }
        unsigned char low = 0, high = 0;
        int remaining = SequenceShape(lead, low, high);
        if (remaining < 0) {
            out.push_back(kReplacement);
            continue;
        }
        char32_t code = lead & (0x3Fu >> remaining);
        for (; remaining > 0 && i < utf8.size(); --remaining, ++i) {
            const auto next = static_cast<unsigned char>(utf8[i]);
            if (next < low || next > high)
                break;
            code = (code << 6) | (next & 0x3Fu);
            low = 0x80;
            high = 0xBF;
        }
        if (remaining > 0) {
            out.push_back(kReplacement);
        } else if (code > 0xFFFF) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

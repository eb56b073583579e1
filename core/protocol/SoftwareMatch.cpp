#include "SoftwareMatch.h"

#include <cstddef>

#include "Catalogue.h"

namespace {

char FoldLatin(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when text is the beginning of label (or all of it), Latin letters folded. UTF-8
// bytes of other characters are all above 0x7F, so they are compared as they are.
bool Begins(std::string_view label, std::string_view text)
{
    if (text.size() > label.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (FoldLatin(label[i]) != FoldLatin(text[i]))
            return false;
    }
    return true;
}

bool AllDigits(std::string_view text)
{
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The row a text of digits names, or -1 (also for a number too long to be a row).
int RowNumber(std::string_view digits)
{
    constexpr std::size_t kMaxDigits = 4;
    if (digits.size() > kMaxDigits)
        return -1;
    int row = 0;
    for (char c : digits)
        row = row * 10 + (c - '0');
    return row < kCatalogueSize ? row : -1;
}

}  // namespace

SoftwareMatch MatchSoftware(std::string_view text)
{
    SoftwareMatch match;
    if (text.empty())
        return match;
    if (AllDigits(text)) {
        const int row = RowNumber(text);
        if (row >= 0)
            match.rows.push_back(row);
        return match;
    }
    for (int row = 0; row < kCatalogueSize; ++row) {
        const std::string_view label = CatalogueLabel(row);
        if (label.size() == text.size() && Begins(label, text))
            return SoftwareMatch{{row}};
        if (Begins(label, text))
            match.rows.push_back(row);
    }
    return match;
}

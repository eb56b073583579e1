// Finding a catalogue row from what a user typed: the row number, or the program's name.
// Portable: standard C++ only.
#pragma once

#include <string_view>
#include <vector>

struct SoftwareMatch {
    // Matched rows in catalogue order: exactly one when the text names a row, none when
    // it names nothing, several when it fits more than one label.
    std::vector<int> rows;
};

// A text of decimal digits is a row number (0 to kCatalogueSize-1). Any other text is a
// label: one that equals it, or else the labels it is the beginning of. Latin letters
// match whatever their case; every other character (Chinese included) must be the same.
SoftwareMatch MatchSoftware(std::string_view text);

// The built-in catalogue of CAD programs the digitizer can be set up for.
// Portable: standard C++ only.
//
// Row r (0 to kCatalogueSize-1) is row r of the software list, which shows
// the labels in catalogue order, unsorted. Each row gives the mode code the
// configuration frame carries and the instruction text shown to the user:
// the driver to pick inside that CAD program, and for some rows notes in
// Chinese. Labels and texts are UTF-8, NUL-terminated, with "\r\n" line
// breaks; an empty text means the instruction box stays empty.
#pragma once

#include <cstdint>

constexpr int kCatalogueSize = 50;

struct CatalogueEntry {
    std::uint8_t modeCode;
    const char* instructions;  // never null; "" when the row has no text
};

// The row's mode code and instruction text; mode code 0 and "" for any row
// outside 0 to kCatalogueSize-1.
CatalogueEntry LookUpCatalogue(int row);

// The row's label as shown in the software list; "" outside the catalogue.
const char* CatalogueLabel(int row);

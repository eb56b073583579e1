#include "Catalogue.h"

#include <iterator>

// The texts below are UTF-8 in this file and must stay UTF-8 in the program.
static_assert(sizeof("天") == 4, "compile with a UTF-8 execution character set");

namespace {

struct CatalogueRow {
    const char* label;
    std::uint8_t modeCode;
    const char* instructions;
};

// Shared pieces of the instruction texts, joined by literal concatenation.
// Notes: restart the computer after a successful setup, otherwise the
// digitizer and the garment software cannot connect; after the restart,
// do not run this assistant again.
#define NOTES_BLOCK                                                            \
    "注意事项：\r\n"                                                           \
    "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"    \
    "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"
// Use the E key in place of *, the F key in place of #.
#define KEY_SUBSTITUTION_LINES                                                 \
    "* 键用 E 键代替\r\n"                                                      \
    "# 键用 F 键代替\r\n"

constexpr CatalogueRow kRows[] = {
    /*  0 */ {"Quillane", 1, ""},
    /*  1 */ {"Richpeace", 0, "Please select: CD-912 A0 16_key  A0 (48 x 36)"},
    /*  2 */ {"ET", 1, ""},
    /*  3 */ {"PAD(Calcomp DrawingBoard iii", 8, "Please select: Calcomp DrawingBoard iii 16"},
    /*  4 */ {"BKR", 3, "Please select: CD"},
    /*  5 */ {"Winda", 0, ""},
    /*  6 */ {"Silk Road", 3, "Please select: CD"},
    /*  7 */ {"Genis", 3, "Please select: CD"},
    /*  8 */ {"PGM", 4, "Please select: Calcomp(GTCO DIGI-PAD format)"},
    /*  9 */ {"GeBer", 5, "Please select: AccuMark\r\n" KEY_SUBSTITUTION_LINES NOTES_BLOCK},
    /* 10 */ {"Garment Master", 6, "Please select: CD"},
    /* 11 */ {"Boke", 3, "Please select: CD"},
    /* 12 */ {"Right hand", 7, ""},
    /* 13 */ {"ECHO", 9, "Please select: Calcomp"},
    /* 14 */ {"Aerospace", 9, ""},
    /* 15 */ {"Toray", 11, "Please select: Calcomp\r\n" NOTES_BLOCK},
    /* 16 */ {"天虹绣花", 11, "Please select: GTCO\r\n" NOTES_BLOCK},
    /* 17 */ {"ACAD 200X", 11, "Please select: Calcomp\r\n" NOTES_BLOCK},
    /* 18 */ {"Map/Info", 11, "Please select: Calcomp\r\n" NOTES_BLOCK},
    /* 19 */ {"Billy", 11, NOTES_BLOCK},
    /* 20 */ {"MapCad", 11, "Please select: K.CD-FAMILY(N81)\r\n" NOTES_BLOCK},
    /* 21 */ {"西班牙爱维", 2, "Please select: TMCXXXXXYYYYYQQ,9600,NONE,8,1"},
    /* 22 */ {"日升NAC2000(德卡)", 13, "Please select: DIG"},
    /* 23 */ {"HeYing", 10, NOTES_BLOCK},
    /* 24 */ {"GMCad", 11, NOTES_BLOCK},
    /* 25 */ {"AutoCad r14", 11, NOTES_BLOCK},
    /* 26 */ {"MicroStation", 11, NOTES_BLOCK},
    /* 27 */ {"MapGis", 11, NOTES_BLOCK},
    /* 28 */ {"Arc/info", 11, NOTES_BLOCK},
    /* 29 */ {"Arisa", 11, NOTES_BLOCK},
    /* 30 */ {"Cyber", 13, ""},
    /* 31 */ {"思路达绣花", 12, ""},
    /* 32 */ {"思路达CAD", 9, ""},
    /* 33 */ {"Lectra", 14, ""},
    /* 34 */ {"天目", 16, ""},
    /* 35 */ {"智尊宝纺(deprecated)", 22, ""},
    /* 36 */ {"智尊宝纺(2005/6.5)", 25, ""},
    /* 37 */ {"DOCAD", 4, ""},
    /* 38 */ {"Optitex", 4, ""},
    /* 39 */ {"HuanCAD", 17, ""},
    /* 40 */ {"艾维斯", 18, ""},
    /* 41 */ {"Supermap", 18, ""},
    /* 42 */ {"富怡绣花", 19, ""},
    /* 43 */ {"YUKA", 20, ""},
    /* 44 */ {"Audaces", 21, ""},
    /* 45 */ {"博凯", 0, ""},
    /* 46 */ {"樵夫", 23, ""},
    /* 47 */ {"突破", 24, ""},
    /* 48 */ {"style cad", 5, "Please select: AccuMark\r\n" KEY_SUBSTITUTION_LINES NOTES_BLOCK},
    /* 49 */ {"redtree cad", 2, "Please select: TMCXXXXXYYYYYQQ,9600,NONE,8,1"},
};

#undef NOTES_BLOCK
#undef KEY_SUBSTITUTION_LINES

static_assert(std::size(kRows) == kCatalogueSize, "one row per list entry");

bool InCatalogue(int row)
{
    return row >= 0 && row < kCatalogueSize;
}

}  // namespace

CatalogueEntry LookUpCatalogue(int row)
{
    if (!InCatalogue(row))
        return {0, ""};
    return {kRows[row].modeCode, kRows[row].instructions};
}

const char* CatalogueLabel(int row)
{
    return InCatalogue(row) ? kRows[row].label : "";
}

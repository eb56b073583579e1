#include "Catalogue.h"
#include "Utf16.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

namespace {

// The label and the mode code of every row: the code decides the frame the digitizer gets.
const struct {
    const char* label;
    int mode;
} kRows[kCatalogueSize] = {
    /*  0 */ {"Quillane", 1}, {"Richpeace", 0}, {"ET", 1}, {"PAD(Calcomp DrawingBoard iii", 8}, {"BKR", 3},
    /*  5 */ {"Winda", 0}, {"Silk Road", 3}, {"Genis", 3}, {"PGM", 4}, {"GeBer", 5},
    /* 10 */ {"Garment Master", 6}, {"Boke", 3}, {"Right hand", 7}, {"ECHO", 9}, {"Aerospace", 9},
    /* 15 */ {"Toray", 11}, {"天虹绣花", 11}, {"ACAD 200X", 11}, {"Map/Info", 11}, {"Billy", 11},
    /* 20 */ {"MapCad", 11}, {"西班牙爱维", 2}, {"日升NAC2000(德卡)", 13}, {"HeYing", 10}, {"GMCad", 11},
    /* 25 */ {"AutoCad r14", 11}, {"MicroStation", 11}, {"MapGis", 11}, {"Arc/info", 11}, {"Arisa", 11},
    /* 30 */ {"Cyber", 13}, {"思路达绣花", 12}, {"思路达CAD", 9}, {"Lectra", 14}, {"天目", 16},
    /* 35 */ {"智尊宝纺(deprecated)", 22}, {"智尊宝纺(2005/6.5)", 25}, {"DOCAD", 4}, {"Optitex", 4}, {"HuanCAD", 17},
    /* 40 */ {"艾维斯", 18}, {"Supermap", 18}, {"富怡绣花", 19}, {"YUKA", 20}, {"Audaces", 21},
    /* 45 */ {"博凯", 0}, {"樵夫", 23}, {"突破", 24}, {"style cad", 5}, {"redtree cad", 2},
};

const std::set<int> kRowsWithText = {1,  3,  4,  6,  7,  8,  9,  10, 11, 13, 15, 16, 17, 18,
                                     19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 48, 49};
const std::set<int> kRowsWithNotes = {9, 15, 16, 17, 18, 19, 20, 23, 24, 25, 26, 27, 28, 29, 48};

const std::string kNotes =
    "注意事项：\r\n"
    "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
    "2、电脑重启以后请不要打开本软件再次进行设置！\r\n";
const std::string kKeyLines = "* 键用 E 键代替\r\n# 键用 F 键代替\r\n";

std::string Text(int row)
{
    return LookUpCatalogue(row).instructions;
}

TEST(Catalogue, LabelsAndModeCodesRowByRow)
{
    for (int row = 0; row < kCatalogueSize; ++row) {
        EXPECT_STREQ(CatalogueLabel(row), kRows[row].label) << "row " << row;
        EXPECT_EQ(LookUpCatalogue(row).modeCode, kRows[row].mode) << "row " << row;
    }
}

TEST(Catalogue, RowsOutsideGiveModeZeroAndNoText)
{
    for (int row : {-1, 50, INT_MAX, INT_MIN}) {
        EXPECT_EQ(LookUpCatalogue(row).modeCode, 0) << "row " << row;
        EXPECT_STREQ(LookUpCatalogue(row).instructions, "") << "row " << row;
        EXPECT_STREQ(CatalogueLabel(row), "") << "row " << row;
    }
}

// Which rows show a text, which end with the notes block, and that every text is valid
// UTF-8 with "\r\n" line breaks only.
TEST(Catalogue, TextsAndNotesAreOnTheirRows)
{
    for (int row = 0; row < kCatalogueSize; ++row) {
        const std::string text = Text(row);
        EXPECT_EQ(!text.empty(), kRowsWithText.count(row) == 1) << "row " << row;
        const bool notes =
            text.size() >= kNotes.size() && text.compare(text.size() - kNotes.size(), kNotes.size(), kNotes) == 0;
        EXPECT_EQ(notes, kRowsWithNotes.count(row) == 1) << "row " << row;
        EXPECT_EQ(text.find("注意"), notes ? text.size() - kNotes.size() : std::string::npos) << "row " << row;
        for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "row " << row << ", a bare line feed at " << i;
        EXPECT_EQ(Utf8ToUtf16(text).find(u'\uFFFD'), std::u16string::npos) << "row " << row;
    }
}

// Rows whose texts are easy to get subtly wrong, byte for byte.
TEST(Catalogue, HardTextsByteForByte)
{
    EXPECT_EQ(Text(1), "Please select: CD-912 A0 16_key  A0 (48 x 36)");  // two blanks
    EXPECT_EQ(Text(9), "Please select: AccuMark\r\n" + kKeyLines + kNotes);
    EXPECT_EQ(Text(48), Text(9));
    EXPECT_EQ(Text(13), "Please select: Calcomp");  // no line break, unlike row 15
    EXPECT_EQ(Text(15), "Please select: Calcomp\r\n" + kNotes);
    EXPECT_EQ(Text(19), kNotes);
    EXPECT_EQ(Text(20), "Please select: K.CD-FAMILY(N81)\r\n" + kNotes);
    EXPECT_EQ(Text(21), "Please select: TMCXXXXXYYYYYQQ,9600,NONE,8,1");
    EXPECT_EQ(Text(49), Text(21));
    // The Chinese of a label and of the notes as UTF-8 bytes, whatever this file's encoding.
    EXPECT_STREQ(CatalogueLabel(16), "\xE5\xA4\xA9\xE8\x99\xB9\xE7\xBB\xA3\xE8\x8A\xB1");
    EXPECT_EQ(kNotes.substr(0, 15), "\xE6\xB3\xA8\xE6\x84\x8F\xE4\xBA\x8B\xE9\xA1\xB9\xEF\xBC\x9A");
}

}  // namespace

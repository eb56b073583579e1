#include "Catalogue.h"
#include "Frame.h"
#include "Utf16.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

struct ExpectedRow {
    const char* label;
    int modeCode;
    const char* text;
};

// The catalogue as the product defines it, every text written out in full.
const ExpectedRow kExpected[] = {
    /*  0 */ {"Quillane", 0x01, ""},
    /*  1 */ {"Richpeace", 0x00, "Please select: CD-912 A0 16_key  A0 (48 x 36)"},
    /*  2 */ {"ET", 0x01, ""},
    /*  3 */ {"PAD(Calcomp DrawingBoard iii", 0x08, "Please select: Calcomp DrawingBoard iii 16"},
    /*  4 */ {"BKR", 0x03, "Please select: CD"},
    /*  5 */ {"Winda", 0x00, ""},
    /*  6 */ {"Silk Road", 0x03, "Please select: CD"},
    /*  7 */ {"Genis", 0x03, "Please select: CD"},
    /*  8 */ {"PGM", 0x04, "Please select: Calcomp(GTCO DIGI-PAD format)"},
    /*  9 */ {"GeBer", 0x05,
              "Please select: AccuMark\r\n"
              "* 键用 E 键代替\r\n"
              "# 键用 F 键代替\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 10 */ {"Garment Master", 0x06, "Please select: CD"},
    /* 11 */ {"Boke", 0x03, "Please select: CD"},
    /* 12 */ {"Right hand", 0x07, ""},
    /* 13 */ {"ECHO", 0x09, "Please select: Calcomp"},
    /* 14 */ {"Aerospace", 0x09, ""},
    /* 15 */ {"Toray", 0x0B,
              "Please select: Calcomp\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 16 */ {"天虹绣花", 0x0B,
              "Please select: GTCO\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 17 */ {"ACAD 200X", 0x0B,
              "Please select: Calcomp\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 18 */ {"Map/Info", 0x0B,
              "Please select: Calcomp\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 19 */ {"Billy", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 20 */ {"MapCad", 0x0B,
              "Please select: K.CD-FAMILY(N81)\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 21 */ {"西班牙爱维", 0x02, "Please select: TMCXXXXXYYYYYQQ,9600,NONE,8,1"},
    /* 22 */ {"日升NAC2000(德卡)", 0x0D, "Please select: DIG"},
    /* 23 */ {"HeYing", 0x0A,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 24 */ {"GMCad", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 25 */ {"AutoCad r14", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 26 */ {"MicroStation", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 27 */ {"MapGis", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 28 */ {"Arc/info", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 29 */ {"Arisa", 0x0B,
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 30 */ {"Cyber", 0x0D, ""},
    /* 31 */ {"思路达绣花", 0x0C, ""},
    /* 32 */ {"思路达CAD", 0x09, ""},
    /* 33 */ {"Lectra", 0x0E, ""},
    /* 34 */ {"天目", 0x10, ""},
    /* 35 */ {"智尊宝纺(deprecated)", 0x16, ""},
    /* 36 */ {"智尊宝纺(2005/6.5)", 0x19, ""},
    /* 37 */ {"DOCAD", 0x04, ""},
    /* 38 */ {"Optitex", 0x04, ""},
    /* 39 */ {"HuanCAD", 0x11, ""},
    /* 40 */ {"艾维斯", 0x12, ""},
    /* 41 */ {"Supermap", 0x12, ""},
    /* 42 */ {"富怡绣花", 0x13, ""},
    /* 43 */ {"YUKA", 0x14, ""},
    /* 44 */ {"Audaces", 0x15, ""},
    /* 45 */ {"博凯", 0x00, ""},
    /* 46 */ {"樵夫", 0x17, ""},
    /* 47 */ {"突破", 0x18, ""},
    /* 48 */ {"style cad", 0x05,
              "Please select: AccuMark\r\n"
              "* 键用 E 键代替\r\n"
              "# 键用 F 键代替\r\n"
              "注意事项：\r\n"
              "1、设置成功以后，请重启电脑！否则数字化仪与服装软件不能正常连接！\r\n"
              "2、电脑重启以后请不要打开本软件再次进行设置！\r\n"},
    /* 49 */ {"redtree cad", 0x02, "Please select: TMCXXXXXYYYYYQQ,9600,NONE,8,1"},
};

constexpr int kExpectedRows = static_cast<int>(sizeof(kExpected) / sizeof(kExpected[0]));
static_assert(kExpectedRows == 50, "fifty rows");

class CatalogueRow : public ::testing::TestWithParam<int> {};

TEST_P(CatalogueRow, MatchesTheTable)
{
    const int row = GetParam();
    const ExpectedRow& expected = kExpected[row];
    const CatalogueEntry entry = LookUpCatalogue(row);

    EXPECT_STREQ(CatalogueLabel(row), expected.label);
    EXPECT_EQ(entry.modeCode, expected.modeCode);
    ASSERT_NE(entry.instructions, nullptr);
    EXPECT_STREQ(entry.instructions, expected.text);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueRow, ::testing::Range(0, kExpectedRows));

TEST(CatalogueProperties, RowsOutsideGiveNothing)
{
    for (int row : {-1, 50, 51, 1000, INT_MAX, INT_MIN}) {
        const CatalogueEntry entry = LookUpCatalogue(row);
        EXPECT_EQ(entry.modeCode, 0) << "row " << row;
        ASSERT_NE(entry.instructions, nullptr) << "row " << row;
        EXPECT_STREQ(entry.instructions, "") << "row " << row;
        ASSERT_NE(CatalogueLabel(row), nullptr) << "row " << row;
        EXPECT_STREQ(CatalogueLabel(row), "") << "row " << row;
    }
}

TEST(CatalogueProperties, CodesInUseAreZeroToTwentyFiveButNotFifteen)
{
    for (int row = 0; row < kCatalogueSize; ++row) {
        const int code = LookUpCatalogue(row).modeCode;
        EXPECT_LE(code, 25) << "row " << row;
        EXPECT_NE(code, 15) << "row " << row;
    }
}

TEST(CatalogueProperties, RowPairsShareCodeAndText)
{
    const struct { int a, b; } pairs[] = {{9, 48}, {21, 49}, {15, 17}, {15, 18}};
    for (const auto& pair : pairs) {
        const CatalogueEntry a = LookUpCatalogue(pair.a);
        const CatalogueEntry b = LookUpCatalogue(pair.b);
        EXPECT_EQ(a.modeCode, b.modeCode) << pair.a << " vs " << pair.b;
        EXPECT_STREQ(a.instructions, b.instructions) << pair.a << " vs " << pair.b;
        EXPECT_STRNE(a.instructions, "") << pair.a;
    }
}

TEST(CatalogueProperties, GeBerTextHasSixCrLfLines)
{
    const std::string text = LookUpCatalogue(9).instructions;
    int lines = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        ++lines;
    EXPECT_EQ(lines, 6);
    EXPECT_EQ(start, text.size()) << "text goes on after its last line break";
}

TEST(CatalogueProperties, EveryLineBreakIsCrLfAndEveryTextIsValidUtf8)
{
    for (int row = 0; row < kCatalogueSize; ++row) {
        const std::string text = LookUpCatalogue(row).instructions;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "row " << row << " at " << i;
            }
            if (text[i] == '\r') {
                EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "row " << row << " at " << i;
            }
        }
        for (const std::string& s : {text, std::string(CatalogueLabel(row))})
            EXPECT_EQ(Utf8ToUtf16(s).find(u'\uFFFD'), std::u16string::npos) << "row " << row;
    }
}

TEST(CatalogueProperties, LectraSendsItsWorkedFrame)
{
    const CatalogueEntry lectra = LookUpCatalogue(33);
    unsigned char frame[kFrameBufferSize] = {0xDB, 0x01, lectra.modeCode};
    ASSERT_TRUE(CompleteFrame(frame, kFrameLength));
    const unsigned char expected[] = {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD};
    EXPECT_EQ(std::memcmp(frame, expected, sizeof expected), 0);
}

}  // namespace

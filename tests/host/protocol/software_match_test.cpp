#include "SoftwareMatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* text;
    std::vector<int> rows;
};

// More are matched through vr7 (tests/vr7/vr7_cases.py, tests/win/vr7_test.py): 33, 50,
// Lectrax, Map (three rows), 天 (two rows), 天虹.
const Case kCases[] = {
    // Row numbers.
    {"0", {0}},
    {"49", {49}},
    {"007", {7}},
    {"99999999999", {}},
    {"", {}},
    {"-1", {}},
    // Whole labels and beginnings, Latin letters in any case.
    {"Lectra", {33}},
    {"LECTRA", {33}},
    {"lec", {33}},
    {"mapcad", {20}},
    {"PAD(Calcomp DrawingBoard iii", {3}},
    {"e", {2, 13}},
    {"ET", {2}},
    {"Lectra ", {}},
    {"3D", {}},
    // Chinese labels: the same characters; Latin letters after them still fold.
    {"天目", {34}},
    {"智尊宝纺", {35, 36}},
    {"智尊宝纺(2005", {36}},
    {"思路达cad", {32}},
    {"思路达", {31, 32}},
    {"艾维斯绣花", {}},
};

TEST(SoftwareMatch, FindsTheRowsATextNames)
{
    for (const Case& c : kCases)
        EXPECT_EQ(MatchSoftware(c.text).rows, c.rows) << "text \"" << c.text << "\"";
}

}  // namespace

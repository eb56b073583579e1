#include "SoftwareMatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* text;
    std::vector<int> rows;
};

const Case kCases[] = {
    // Row numbers.
    {"0", {0}},
    {"33", {33}},
    {"49", {49}},
    {"007", {7}},
    {"50", {}},
    {"99999999999", {}},
    {"", {}},
    {"-1", {}},
    // Whole labels and beginnings, Latin letters in any case.
    {"Lectra", {33}},
    {"LECTRA", {33}},
    {"lec", {33}},
    {"mapcad", {20}},
    {"PAD(Calcomp DrawingBoard iii", {3}},
    {"Map", {18, 20, 27}},
    {"e", {2, 13}},
    {"ET", {2}},
    {"Lectra ", {}},
    {"Lectrax", {}},
    {"3D", {}},
    // Chinese labels: the same characters; Latin letters after them still fold.
    {"天虹", {16}},
    {"天目", {34}},
    {"天", {16, 34}},
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

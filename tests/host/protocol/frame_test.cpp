#include "Frame.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Buffer = std::array<unsigned char, kFrameBufferSize>;

constexpr unsigned char kFills[] = {0x00, 0xFF};

// A buffer filled with 0x00 or 0xFF behind its first bytes: a byte the function must not
// touch keeps its fill.
Buffer Filled(unsigned char fill, const Bytes& prefix)
{
    Buffer buffer;
    buffer.fill(fill);
    std::copy(prefix.begin(), prefix.end(), buffer.begin());
    return buffer;
}

// Every mode code gives a balanced frame whose check bytes are never a start or end byte,
// the worked frames exactly; a second completion changes nothing; no byte past it is touched.
TEST(CompleteFrame, GivesTheFrameForEveryModeCode)
{
    const std::map<int, Bytes> worked = {
        {0, {0xDB, 0x01, 0x00, 0x77, 0x88, 0xDD}},  {1, {0xDB, 0x01, 0x01, 0x76, 0x88, 0xDD}},
        {11, {0xDB, 0x01, 0x0B, 0x74, 0x80, 0xDD}}, {14, {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD}},
        {25, {0xDB, 0x01, 0x19, 0x66, 0x80, 0xDD}},
    };
    for (int mode = 0; mode <= 255; ++mode) {
        for (const unsigned char fill : kFills) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", fill " + std::to_string(fill));
            Buffer buffer = Filled(fill, {0xDB, 0x01, static_cast<unsigned char>(mode)});
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
            const Bytes frame(buffer.begin(), buffer.begin() + 6);
            if (worked.count(mode) == 1) {
                EXPECT_EQ(frame, worked.at(mode));
            }
            EXPECT_EQ((frame[1] + frame[2] + frame[3] + frame[4]) % 256, 0);
            EXPECT_TRUE((frame[3] & 0x88) == 0 && (frame[4] & 0x77) == 0 && frame[5] == 0xDD);
            EXPECT_EQ(buffer, Filled(fill, frame)) << "a byte past the frame was touched";
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
            EXPECT_EQ(buffer, Filled(fill, frame)) << "completed twice";
        }
    }
}

// Other lengths: the last three bytes are written, the check covers bytes 1 to n-4, and
// byte 0 is never summed. Lengths below 3, and no buffer, are refused untouched.
TEST(CompleteFrame, OtherLengthsAndRefusals)
{
    const struct {
        int n;
        Bytes before, after;
    } cases[] = {
        {3, {0x5A, 0x5A, 0x5A}, {0x00, 0x00, 0xDD}},
        {5, {0xDB, 0x10, 0x5A, 0x5A, 0x5A}, {0xDB, 0x10, 0x70, 0x80, 0xDD}},
        {7, {0xDB, 0xFF, 0xFF, 0x03, 0x5A, 0x5A, 0x5A}, {0xDB, 0xFF, 0xFF, 0x03, 0x77, 0x88, 0xDD}},
        {6, {0x42, 0x01, 0x0E, 0x5A, 0x5A, 0x5A}, {0x42, 0x01, 0x0E, 0x71, 0x80, 0xDD}},
        {2, {0xDB, 0x01, 0x0E}, {}}, {0, {0xDB, 0x01, 0x0E}, {}}, {-1, {0xDB, 0x01, 0x0E}, {}},
        {INT_MIN, {0xDB, 0x01, 0x0E}, {}},
    };
    for (const auto& c : cases) {
        Buffer buffer = Filled(0xFF, c.before);
        EXPECT_EQ(CompleteFrame(buffer.data(), c.n), !c.after.empty()) << "n " << c.n;
        EXPECT_EQ(buffer, Filled(0xFF, c.after.empty() ? c.before : c.after)) << "n " << c.n;
    }
    EXPECT_FALSE(CompleteFrame(nullptr, kFrameLength));
}

// Start, end and a content sum of zero; no length below 1 (reading reply[-1] or reply[0]
// with n = 0 would find a valid EA .. DD), no buffer, no byte past n.
TEST(CheckReply, JudgesStartEndAndContentSum)
{
    const struct {
        const char* name;
        Bytes bytes;
        int n;
        bool valid;
    } cases[] = {
        {"zero content", {0xEA, 0x00, 0x00, 0x00, 0xDD}, 5, true},
        {"content wraps to zero", {0xEA, 0x01, 0xFF, 0x00, 0xDD}, 5, true},
        {"content sums to 1", {0xEA, 0x01, 0x00, 0x00, 0xDD}, 5, false},
        {"wrong start, wrapping sum", {0xEB, 0x01, 0xFF, 0x00, 0xDD}, 5, false},
        {"the frame's start byte", {0xDB, 0x00, 0x00, 0x00, 0xDD}, 5, false},
        {"wrong end", {0xEA, 0x00, 0x00, 0x00, 0xDC}, 5, false},
        {"nothing received", {0x00, 0x00, 0x00, 0x00, 0x00}, 5, false},
        {"length 2, no content", {0xEA, 0xDD}, 2, true},
        {"length 1", {0xEA}, 1, false},
        {"length 3, content 1", {0xEA, 0x01, 0xDD}, 3, false},
        {"length 6, content sums to 0x100", {0xEA, 0x01, 0x02, 0xFD, 0x00, 0xDD}, 6, true},
        {"bytes past n would spoil it", {0xEA, 0x01, 0xFF, 0x00, 0xDD, 0x07, 0xEA}, 5, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckReply(c.bytes.data(), c.n), c.valid) << c.name;
    const unsigned char around[] = {0xDD, 0xEA, 0xDD};  // from around[1], reply[-1] and reply[0] look valid
    for (int n : {0, -1, INT_MIN})
        EXPECT_FALSE(CheckReply(around + 1, n)) << "n " << n;
    EXPECT_FALSE(CheckReply(nullptr, kReplyLength));
}

}  // namespace

#include "Frame.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Buffer = std::array<unsigned char, kFrameBufferSize>;

// Every case runs on a buffer filled with 0x00 and again with 0xFF: a byte the function
// must not touch keeps its fill.
constexpr unsigned char kFills[] = {0x00, 0xFF};

Buffer Filled(unsigned char fill, const Bytes& prefix)
{
    Buffer buffer;
    buffer.fill(fill);
    std::copy(prefix.begin(), prefix.end(), buffer.begin());
    return buffer;
}

Bytes Head(const Buffer& buffer, std::size_t n)
{
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
}

// The worked frames, and every mode code: balanced, masked check bytes, idempotent.
TEST(CompleteFrame, GivesTheFrameForEveryModeCode)
{
    const struct {
        int mode;
        Bytes frame;
    } worked[] = {
        {0, {0xDB, 0x01, 0x00, 0x77, 0x88, 0xDD}},  {1, {0xDB, 0x01, 0x01, 0x76, 0x88, 0xDD}},
        {11, {0xDB, 0x01, 0x0B, 0x74, 0x80, 0xDD}}, {14, {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD}},
        {25, {0xDB, 0x01, 0x19, 0x66, 0x80, 0xDD}},
    };
    for (const auto& w : worked) {
        Buffer buffer = Filled(0x00, {0xDB, 0x01, static_cast<unsigned char>(w.mode)});
        ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
        EXPECT_EQ(Head(buffer, 6), w.frame) << "mode " << w.mode;
    }
    for (int mode = 0; mode <= 255; ++mode) {
        for (unsigned char fill : kFills) {
            Buffer buffer = Filled(fill, {0xDB, 0x01, static_cast<unsigned char>(mode)});
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
            const Bytes frame = Head(buffer, 6);
            EXPECT_EQ((frame[1] + frame[2] + frame[3] + frame[4]) % 256, 0) << "mode " << mode;
            EXPECT_EQ(frame[3] & 0x88, 0) << "mode " << mode;  // never a start or end byte
            EXPECT_EQ(frame[4] & 0x77, 0) << "mode " << mode;
            EXPECT_EQ(frame[5], 0xDD) << "mode " << mode;
            EXPECT_EQ(buffer, Filled(fill, frame)) << "mode " << mode << ": a byte past the frame was touched";
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
            EXPECT_EQ(Head(buffer, 6), frame) << "mode " << mode << ", completed twice";
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
    };
    for (const auto& c : cases) {
        for (unsigned char fill : kFills) {
            Buffer buffer = Filled(fill, c.before);
            ASSERT_TRUE(CompleteFrame(buffer.data(), c.n));
            EXPECT_EQ(buffer, Filled(fill, c.after)) << "n " << c.n;
        }
    }
    for (int n : {2, 0, -1, INT_MIN}) {
        Buffer buffer = Filled(0xFF, {0xDB, 0x01, 0x0E});
        EXPECT_FALSE(CompleteFrame(buffer.data(), n)) << "n " << n;
        EXPECT_EQ(buffer, Filled(0xFF, {0xDB, 0x01, 0x0E})) << "n " << n;
    }
    EXPECT_FALSE(CompleteFrame(nullptr, kFrameLength));
}

TEST(CheckReply, JudgesStartEndAndContentSum)
{
    const struct {
        const char* name;
        Bytes bytes;  // n is their number
        bool valid;
    } cases[] = {
        {"zero content", {0xEA, 0x00, 0x00, 0x00, 0xDD}, true},
        {"content wraps to zero", {0xEA, 0x01, 0xFF, 0x00, 0xDD}, true},
        {"content sums to 1", {0xEA, 0x01, 0x00, 0x00, 0xDD}, false},
        {"wrong start, wrapping sum", {0xEB, 0x01, 0xFF, 0x00, 0xDD}, false},
        {"the frame's start byte", {0xDB, 0x00, 0x00, 0x00, 0xDD}, false},
        {"wrong end", {0xEA, 0x00, 0x00, 0x00, 0xDC}, false},
        {"nothing received", {0x00, 0x00, 0x00, 0x00, 0x00}, false},
        {"length 2, no content", {0xEA, 0xDD}, true},
        {"length 1", {0xEA}, false},
        {"length 3, content 1", {0xEA, 0x01, 0xDD}, false},
        {"length 6, content sums to 0x100", {0xEA, 0x01, 0x02, 0xFD, 0x00, 0xDD}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckReply(c.bytes.data(), static_cast<int>(c.bytes.size())), c.valid) << c.name;

    const Bytes longer = {0xEA, 0x01, 0xFF, 0x00, 0xDD, 0x07, 0xEA};  // bytes past n would spoil it
    EXPECT_TRUE(CheckReply(longer.data(), kReplyLength));
}

TEST(CheckReply, RefusesLengthsBelowOneAndNoBuffer)
{
    // Reading reply[-1] or reply[0] with n = 0 would find a valid EA .. DD.
    const unsigned char bytes[] = {0xDD, 0xEA, 0xDD};
    for (int n : {0, -1, INT_MIN})
        EXPECT_FALSE(CheckReply(bytes + 1, n)) << "n " << n;
    EXPECT_FALSE(CheckReply(nullptr, kReplyLength));
}

}  // namespace

#include "Frame.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Buffer = std::array<unsigned char, kFrameBufferSize>;

// Both sentinel fills: a byte the function must not touch keeps its fill.
constexpr unsigned char kFills[] = {0x00, 0xFF};

Buffer Filled(unsigned char fill, const Bytes& prefix)
{
    Buffer buffer;
    buffer.fill(fill);
    std::copy(prefix.begin(), prefix.end(), buffer.begin());
    return buffer;
}

std::string Hex(const unsigned char* bytes, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

void ExpectRestIsFill(const Buffer& buffer, std::size_t from, unsigned char fill)
{
    for (std::size_t i = from; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], fill) << "byte " << i << " was touched";
}

// --- CompleteFrame -----------------------------------------------------------

struct WorkedFrame {
    int modeCode;
    Bytes frame;
};

const WorkedFrame kWorkedFrames[] = {
    {0, {0xDB, 0x01, 0x00, 0x77, 0x88, 0xDD}},
    {1, {0xDB, 0x01, 0x01, 0x76, 0x88, 0xDD}},
    {11, {0xDB, 0x01, 0x0B, 0x74, 0x80, 0xDD}},
    {14, {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD}},
    {25, {0xDB, 0x01, 0x19, 0x66, 0x80, 0xDD}},
};

TEST(FrameComplete, WorkedFramesOnBothFills)
{
    for (const auto& example : kWorkedFrames) {
        for (unsigned char fill : kFills) {
            SCOPED_TRACE("mode " + std::to_string(example.modeCode) + ", fill " +
                         Hex(&fill, 1));
            Buffer buffer = Filled(fill, {0xDB, 0x01,
                                          static_cast<unsigned char>(example.modeCode)});
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
            EXPECT_EQ(Hex(buffer.data(), 6), Hex(example.frame.data(), 6));
            ExpectRestIsFill(buffer, 6, fill);
        }
    }
}

TEST(FrameComplete, EveryModeCodeGivesABalancedStableFrame)
{
    for (int mode = 0; mode <= 255; ++mode) {
        for (unsigned char fill : kFills) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", fill " + Hex(&fill, 1));
            Buffer buffer = Filled(fill, {0xDB, 0x01, static_cast<unsigned char>(mode)});
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));

            EXPECT_EQ(buffer[0], 0xDB);
            EXPECT_EQ(buffer[1], 0x01);
            EXPECT_EQ(buffer[2], mode);
            EXPECT_EQ(buffer[5], 0xDD);
            EXPECT_EQ((buffer[1] + buffer[2] + buffer[3] + buffer[4]) % 256, 0)
                << Hex(buffer.data(), 6);
            // The check bytes keep to their masks, so they never look like
            // a start or end byte.
            EXPECT_EQ(buffer[3] & 0x88, 0) << Hex(buffer.data(), 6);
            EXPECT_EQ(buffer[4] & 0x77, 0) << Hex(buffer.data(), 6);
            ExpectRestIsFill(buffer, 6, fill);

            const Buffer once = buffer;
            ASSERT_TRUE(CompleteFrame(buffer.data(), kFrameLength));
            EXPECT_EQ(Hex(buffer.data(), 6), Hex(once.data(), 6)) << "completed twice";
        }
    }
}

// Other lengths: the last three bytes are written, the check is taken over
// bytes 1 to n-4 (none below n = 5), and byte 0 is never summed.
struct OtherLength {
    const char* name;
    int n;
    Bytes before;  // the first n bytes as given
    Bytes after;   // the first n bytes as expected
};

const OtherLength kOtherLengths[] = {
    {"n=3 writes bytes 0 to 2, no sum", 3, {0x5A, 0x5A, 0x5A}, {0x00, 0x00, 0xDD}},
    {"n=4 keeps byte 0, no sum", 4, {0xDB, 0x5A, 0x5A, 0x5A}, {0xDB, 0x00, 0x00, 0xDD}},
    {"n=5 sums byte 1 only", 5, {0xDB, 0x01, 0x5A, 0x5A, 0x5A}, {0xDB, 0x01, 0x77, 0x88, 0xDD}},
    {"n=5 sums byte 1, 0x10", 5, {0xDB, 0x10, 0x5A, 0x5A, 0x5A}, {0xDB, 0x10, 0x70, 0x80, 0xDD}},
    {"n=7 sums bytes 1 to 3", 7, {0xDB, 0x01, 0x0E, 0x05, 0x5A, 0x5A, 0x5A},
     {0xDB, 0x01, 0x0E, 0x05, 0x64, 0x88, 0xDD}},
    {"n=7 sum wraps past 256", 7, {0xDB, 0xFF, 0xFF, 0x03, 0x5A, 0x5A, 0x5A},
     {0xDB, 0xFF, 0xFF, 0x03, 0x77, 0x88, 0xDD}},
    {"n=6 byte 0 is not summed", 6, {0x42, 0x01, 0x0E, 0x5A, 0x5A, 0x5A},
     {0x42, 0x01, 0x0E, 0x71, 0x80, 0xDD}},
};

TEST(FrameComplete, OtherLengths)
{
    for (const auto& c : kOtherLengths) {
        for (unsigned char fill : kFills) {
            SCOPED_TRACE(std::string(c.name) + ", fill " + Hex(&fill, 1));
            Buffer buffer = Filled(fill, c.before);
            ASSERT_TRUE(CompleteFrame(buffer.data(), c.n));
            EXPECT_EQ(Hex(buffer.data(), c.after.size()), Hex(c.after.data(), c.after.size()));
            ExpectRestIsFill(buffer, c.after.size(), fill);
        }
    }
}

TEST(FrameComplete, RefusesShortLengthsAndNullWithoutTouching)
{
    for (int n : {2, 1, 0, -1, INT_MIN}) {
        for (unsigned char fill : kFills) {
            SCOPED_TRACE("n " + std::to_string(n) + ", fill " + Hex(&fill, 1));
            Buffer buffer = Filled(fill, {0xDB, 0x01, 0x0E});
            const Buffer original = buffer;
            EXPECT_FALSE(CompleteFrame(buffer.data(), n));
            EXPECT_EQ(Hex(buffer.data(), buffer.size()), Hex(original.data(), original.size()));
        }
    }
    EXPECT_FALSE(CompleteFrame(nullptr, kFrameLength));
}

// --- CheckReply --------------------------------------------------------------

struct ReplyCase {
    const char* name;
    Bytes bytes;  // all of them are checked: n = size
    bool valid;
};

const ReplyCase kReplies[] = {
    {"zero content", {0xEA, 0x00, 0x00, 0x00, 0xDD}, true},
    {"content wraps to zero", {0xEA, 0x01, 0xFF, 0x00, 0xDD}, true},
    {"content 7F 80 01", {0xEA, 0x7F, 0x80, 0x01, 0xDD}, true},
    {"content sums to 1", {0xEA, 0x01, 0x00, 0x00, 0xDD}, false},
    {"content sums to 0xFF", {0xEA, 0x00, 0xFF, 0x00, 0xDD}, false},
    {"wrong start", {0xEB, 0x00, 0x00, 0x00, 0xDD}, false},
    {"wrong start, wrapping sum", {0xEB, 0x01, 0xFF, 0x00, 0xDD}, false},
    {"frame start byte", {0xDB, 0x00, 0x00, 0x00, 0xDD}, false},
    {"wrong end", {0xEA, 0x00, 0x00, 0x00, 0xDC}, false},
    {"nothing received", {0x00, 0x00, 0x00, 0x00, 0x00}, false},
    {"length 2, no content", {0xEA, 0xDD}, true},
    {"length 2, wrong end", {0xEA, 0xEA}, false},
    {"length 1, start byte", {0xEA}, false},
    {"length 1, end byte", {0xDD}, false},
    {"length 3, zero content", {0xEA, 0x00, 0xDD}, true},
    {"length 3, content 1", {0xEA, 0x01, 0xDD}, false},
    {"length 6, content sums to 0x100", {0xEA, 0x01, 0x02, 0xFD, 0x00, 0xDD}, true},
};

TEST(FrameCheckReply, Cases)
{
    for (const auto& c : kReplies) {
        EXPECT_EQ(CheckReply(c.bytes.data(), static_cast<int>(c.bytes.size())), c.valid)
            << c.name << ": " << Hex(c.bytes.data(), c.bytes.size());
    }
}

TEST(FrameCheckReply, ReadsOnlyTheFirstNBytes)
{
    // A valid reply followed by bytes that would spoil it if read.
    const Bytes bytes = {0xEA, 0x01, 0xFF, 0x00, 0xDD, 0x07, 0xEA};
    EXPECT_TRUE(CheckReply(bytes.data(), kReplyLength));
}

TEST(FrameCheckReply, RefusesLengthsBelowOneAndNull)
{
    // Reading at reply[-1] or reply[0] with n = 0 would see a valid EA..DD.
    const unsigned char bytes[] = {0xDD, 0xEA, 0xDD};
    EXPECT_FALSE(CheckReply(bytes + 1, 0));
    for (int n : {-1, -5, INT_MIN})
        EXPECT_FALSE(CheckReply(bytes + 1, n)) << "n " << n;
    EXPECT_FALSE(CheckReply(nullptr, kReplyLength));
    EXPECT_FALSE(CheckReply(nullptr, 0));
}

}  // namespace

// Fuzz target for the reply check and the frame completion: arbitrary bytes of every
// length, each call on a heap buffer of exactly n bytes, so that AddressSanitizer stops
// any access beyond it; each result is held against what the frames mean. The frame of
// every mode code is held against it once, and the seeds in corpus/reply are the cases
// worth naming (valid and invalid replies, frames of 3 to 7 bytes, byte 0 never summed).
#include "Frame.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Require(bool holds, const char* what, int n)
{
    if (!holds) {
        std::fprintf(stderr, "reply_fuzz: %s (n = %d)\n", what, n);
        std::abort();
    }
}

unsigned SumOf(const std::vector<unsigned char>& bytes, int from, int to)
{
    unsigned sum = 0;
    for (int i = from; i <= to; ++i)
        sum += bytes[static_cast<std::size_t>(i)];
    return sum & 0xFFu;
}

// The frame: only the last three bytes change, the check bytes keep to their masks and
// balance bytes 1 to n-4 (byte 0 is never summed); lengths below 3 are refused untouched.
void CheckCompletion(const std::vector<unsigned char>& input, int below)
{
    const std::size_t size = input.size();
    const int n = static_cast<int>(size);
    std::vector<unsigned char> frame(input);
    for (const int refused : {0, below, INT_MIN})
        Require(!CompleteFrame(frame.data(), refused) && !CompleteFrame(nullptr, n) && frame == input,
                "a length below 1 or no buffer was taken", n);
    const bool done = CompleteFrame(frame.data(), n);
    Require(done == (n >= 3), "CompleteFrame refused a length of 3 or more, or took a shorter one", n);
    if (!done) {
        Require(frame == input, "CompleteFrame touched a frame it refused", n);
        return;
    }
    Require(std::memcmp(frame.data(), input.data(), size - 3) == 0, "CompleteFrame touched a byte before its own", n);
    Require(frame[size - 1] == kFrameEnd, "no end byte", n);
    Require((frame[size - 3] & ~kCheckLowMask) == 0 && (frame[size - 2] & ~kCheckHighMask) == 0,
            "a check byte has bits outside its mask", n);
    Require(((frame[size - 3] + frame[size - 2] + SumOf(frame, 1, n - 4)) & 0xFFu) == 0,
            "the check bytes do not balance bytes 1 to n-4", n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool everyModeCode = [] {  // the configuration run's frames, once
        for (int mode = 0; mode <= 255; ++mode)
            CheckCompletion({kFrameStart, kFrameFixed, static_cast<unsigned char>(mode), 0xFF, 0xFF, 0xFF}, -1);
        return true;
    }();
    if (!everyModeCode || size == 0 || size > 4096)
        return 0;
    const int n = static_cast<int>(size);
    const std::vector<unsigned char> input(data, data + size);

    // The reply: a start and an end byte, and content that sums to 0.
    std::vector<unsigned char> reply(input);
    const bool framed = reply[0] == kReplyStart && reply[size - 1] == kReplyEnd;
    Require(CheckReply(reply.data(), n) == (framed && (n < 3 || SumOf(reply, 1, n - 2) == 0)),
            "CheckReply disagrees with the reply frame", n);
    Require(reply == input, "CheckReply changed the reply", n);
    for (const int below : {0, -static_cast<int>(data[0]), INT_MIN})  // reply[-1] and reply[0] may look valid
        Require(!CheckReply(reply.data(), below) && !CheckReply(nullptr, n), "a length below 1 or no buffer passed", n);

    CheckCompletion(input, -static_cast<int>(data[0]));
    return 0;
}

// Fuzz target for the reply check and the frame completion: arbitrary bytes of every
// length, each call on a heap buffer of exactly n bytes, so that AddressSanitizer stops
// any access beyond it; each result is held against what the frames mean.
#include "Frame.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    const int n = static_cast<int>(size);
    const std::vector<unsigned char> input(data, data + size);

    // The reply: a start and an end byte, and content that sums to 0.
    std::vector<unsigned char> reply(input);
    const bool framed = reply[0] == kReplyStart && reply[size - 1] == kReplyEnd;
    Require(CheckReply(reply.data(), n) == (framed && (n < 3 || SumOf(reply, 1, n - 2) == 0)),
            "CheckReply disagrees with the reply frame", n);
    Require(reply == input, "CheckReply changed the reply", n);
    Require(!CheckReply(reply.data(), -static_cast<int>(data[0])) && !CheckReply(nullptr, n),
            "a length below 1 or no buffer was accepted", n);

    // The frame: only the last three bytes change, the check bytes keep to their masks,
    // bytes 1 to n-2 sum to 0; lengths below 3 are refused untouched.
    std::vector<unsigned char> frame(input);
    const bool done = CompleteFrame(frame.data(), n);
    Require(done == (n >= 3), "CompleteFrame refused a length of 3 or more, or took a shorter one", n);
    if (!done) {
        Require(frame == input, "CompleteFrame touched a frame it refused", n);
        return 0;
    }
    Require(std::memcmp(frame.data(), data, size - 3) == 0, "CompleteFrame touched a byte before its own", n);
    Require(frame[size - 1] == kFrameEnd, "no end byte", n);
    Require((frame[size - 3] & ~kCheckLowMask) == 0 && (frame[size - 2] & ~kCheckHighMask) == 0,
            "a check byte has bits outside its mask", n);
    Require(SumOf(frame, 1, n - 2) == 0, "bytes 1 to n-2 of the completed frame do not sum to 0", n);
    return 0;
}

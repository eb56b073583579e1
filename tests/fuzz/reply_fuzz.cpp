// Fuzz target for the reply check and the frame completion: arbitrary bytes, every
// length, each call on a heap buffer of exactly n bytes so that AddressSanitizer
// stops any access beyond it.
#include "Frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Fail(const char* what, int n)
{
    std::fprintf(stderr, "reply_fuzz: %s (n = %d)\n", what, n);
    std::abort();
}

unsigned SumOf(const unsigned char* bytes, int from, int to)
{
    unsigned sum = 0;
    for (int i = from; i <= to; ++i)
        sum += bytes[i];
    return sum & 0xFFu;
}

// CheckReply's verdict, and its agreement with what the reply frame means: start and
// end byte, and content that sums to 0. Any content byte changed alone breaks the sum.
void CheckTheReplyCheck(const unsigned char* data, int n)
{
    std::unique_ptr<unsigned char[]> reply(new unsigned char[n]);
    std::memcpy(reply.get(), data, static_cast<std::size_t>(n));

    const bool valid = CheckReply(reply.get(), n);
    const bool framed = reply[0] == kReplyStart && reply[n - 1] == kReplyEnd;
    if (valid != (framed && (n < 3 || SumOf(reply.get(), 1, n - 2) == 0)))
        Fail("CheckReply disagrees with the reply frame's definition", n);
    if (std::memcmp(reply.get(), data, static_cast<std::size_t>(n)) != 0)
        Fail("CheckReply changed the reply", n);

    if (valid && n >= 3) {
        const int i = 1 + data[n / 2] % (n - 2);
        reply[i] = static_cast<unsigned char>(reply[i] + 1 + data[0] % 255);
        if (CheckReply(reply.get(), n))
            Fail("a reply with one content byte changed still passes", n);
    }
}

// CompleteFrame on a copy: only the last three bytes change, the end byte is set, the
// check bytes keep to their masks (so never DB, DD or EA), bytes 1 to n-2 sum to 0,
// and the same bytes with a reply's start byte pass CheckReply.
void CheckTheFrameCompletion(const unsigned char* data, int n)
{
    std::unique_ptr<unsigned char[]> frame(new unsigned char[n]);
    std::memcpy(frame.get(), data, static_cast<std::size_t>(n));

    const bool done = CompleteFrame(frame.get(), n);
    if (n < 3) {
        if (done)
            Fail("CompleteFrame accepted a length below 3", n);
        if (std::memcmp(frame.get(), data, static_cast<std::size_t>(n)) != 0)
            Fail("CompleteFrame touched a frame it refused", n);
        return;
    }
    if (!done)
        Fail("CompleteFrame refused a length of 3 or more", n);
    if (std::memcmp(frame.get(), data, static_cast<std::size_t>(n - 3)) != 0)
        Fail("CompleteFrame touched a byte before the check bytes", n);
    if (frame[n - 1] != kFrameEnd)
        Fail("no end byte", n);
    if ((frame[n - 3] & ~kCheckLowMask) != 0 || (frame[n - 2] & ~kCheckHighMask) != 0)
        Fail("a check byte has bits outside its mask", n);
    for (int i = n - 3; i <= n - 2; ++i) {
        if (frame[i] == kFrameStart || frame[i] == kFrameEnd || frame[i] == kReplyStart)
            Fail("a check byte equals a start or end byte", n);
    }
    if (SumOf(frame.get(), 1, n - 2) != 0)
        Fail("bytes 1 to n-2 of the completed frame do not sum to 0", n);

    frame[0] = kReplyStart;
    if (!CheckReply(frame.get(), n))
        Fail("a completed frame with a reply start byte fails CheckReply", n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    const int n = static_cast<int>(size);

    if (CheckReply(nullptr, n) || CompleteFrame(nullptr, n))
        Fail("a null buffer was accepted", n);
    if (n >= 1) {
        // Lengths below 1 (or below 3) are refused whatever the buffer holds.
        const int refused = -static_cast<int>(data[0]);
        std::unique_ptr<unsigned char[]> copy(new unsigned char[n]);
        std::memcpy(copy.get(), data, size);
        if (CheckReply(copy.get(), refused) || CompleteFrame(copy.get(), refused))
            Fail("a length below 1 was accepted", refused);
        if (std::memcmp(copy.get(), data, size) != 0)
            Fail("a refused call changed the buffer", refused);

        CheckTheReplyCheck(data, n);
    }
    CheckTheFrameCompletion(data, n);
    return 0;
}

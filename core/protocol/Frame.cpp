#include "Frame.h"

#include <cstdio>

bool CompleteFrame(unsigned char* frame, int n)
{
    if (frame == nullptr || n < 3)
        return false;

    unsigned int sum = 0;
    for (int i = 1; i <= n - 4; ++i)
        sum += frame[i];
    // (256 - S) mod 256: unsigned negation, truncated to a byte.
    const auto check = static_cast<unsigned char>(0u - sum);

    frame[n - 3] = static_cast<unsigned char>(check & kCheckLowMask);
    frame[n - 2] = static_cast<unsigned char>(check & kCheckHighMask);
    frame[n - 1] = kFrameEnd;
    return true;
}

bool CheckReply(const unsigned char* reply, int n)
{
    if (reply == nullptr || n < 1)
        return false;
    if (reply[0] != kReplyStart || reply[n - 1] != kReplyEnd)
        return false;

    // For n below 3 the loop is empty: a bare start and end byte are valid.
    unsigned int sum = 0;
    for (int i = 1; i <= n - 2; ++i)
        sum += reply[i];
    return (sum & 0xFFu) == 0;
}

std::string HexText(const unsigned char* bytes, std::size_t count)
{
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, i ? " %02X" : "%02X", bytes[i]);
        text += cell;
    }
    return text;
}

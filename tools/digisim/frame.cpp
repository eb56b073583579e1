#include "frame.h"

#include <algorithm>

namespace digisim {

namespace {

constexpr std::uint8_t kFrameStart = 0xDB;
constexpr std::uint8_t kFrameEnd = 0xDD;
constexpr std::uint8_t kReplyStart = 0xEA;
constexpr std::uint8_t kReplyEnd = 0xDD;
constexpr std::size_t kFloodLength = 4096;

struct BehaviourName {
    Behaviour behaviour;
    const char* name;
};

constexpr BehaviourName kBehaviourNames[] = {
    {Behaviour::Reply, "reply"},     {Behaviour::Silence, "silence"},
    {Behaviour::BadSum, "badsum"},   {Behaviour::Garbage, "garbage"},
    {Behaviour::Partial, "partial"}, {Behaviour::Flood, "flood"},
    {Behaviour::XonXoff, "xonxoff"}, {Behaviour::Hangup, "hangup"},
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool isConfigurationFrame(const Frame& bytes)
{
    const unsigned sum = bytes[1] + bytes[2] + bytes[3] + bytes[4];
    return bytes[0] == kFrameStart && bytes[5] == kFrameEnd && sum % 256 == 0;
}

std::optional<Frame> FrameScanner::push(std::uint8_t byte)
{
    if (count_ == kFrameSize) {
        std::copy(window_.begin() + 1, window_.end(), window_.begin());
        --count_;
    }
    window_[count_++] = byte;
    if (count_ == kFrameSize && isConfigurationFrame(window_)) {
        count_ = 0;
        return window_;
    }
    return std::nullopt;
}

std::optional<Behaviour> parseBehaviour(std::string_view name)
{
    for (const BehaviourName& entry : kBehaviourNames) {
        if (name == entry.name)
            return entry.behaviour;
    }
    return std::nullopt;
}

const char* behaviourName(Behaviour behaviour)
{
    for (const BehaviourName& entry : kBehaviourNames) {
        if (entry.behaviour == behaviour)
            return entry.name;
    }
    return "?";
}

Bytes answerFor(Behaviour behaviour, const Frame& frame)
{
    switch (behaviour) {
    case Behaviour::Reply: {
        // Content bytes sum to 0 mod 256; the first echoes the frame's mode.
        const std::uint8_t mode = frame[2];
        const auto check = static_cast<std::uint8_t>((256 - mode - 0x5A) & 0xFF);
        return {kReplyStart, mode, 0x5A, check, kReplyEnd};
    }
    case Behaviour::BadSum:
        return {kReplyStart, 0x01, 0x00, 0x00, kReplyEnd};
    case Behaviour::Garbage:
        return {0x5A, 0xA5, 0x00, 0xFF, 0x13};
    case Behaviour::Partial:
        return {kReplyStart, 0x00};
    case Behaviour::Flood:
        return Bytes(kFloodLength, 0x55);
    case Behaviour::XonXoff:
        // A valid reply whose content is XON, XOFF and 0xDC: a line with software
        // flow control on would swallow the first two.
        return {kReplyStart, 0x11, 0x13, 0xDC, kReplyEnd};
    case Behaviour::Silence:
    case Behaviour::Hangup:
        break;
    }
    return {};
}

std::string toHex(const std::uint8_t* bytes, std::size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<std::uint8_t> parseHexByte(std::string_view text)
{
    if (text.empty() || text.size() > 2)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace digisim

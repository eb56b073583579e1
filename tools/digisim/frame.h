// Configuration frames the digitizer recognises, and what it answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace digisim {

using Bytes = std::vector<std::uint8_t>;

// DB 01 <mode> <K&0x77> <K&0x88> DD, bytes 1..4 summing to 0 mod 256.
constexpr std::size_t kFrameSize = 6;
using Frame = std::array<std::uint8_t, kFrameSize>;

bool isConfigurationFrame(const Frame& bytes);

// Finds frames in a byte stream that may hold noise and arrive in pieces.
// A recognised frame is consumed whole: frames never overlap.
class FrameScanner {
public:
    // Feeds one byte; returns the frame it completes, if any.
    std::optional<Frame> push(std::uint8_t byte);
    void reset() { count_ = 0; }

private:
    Frame window_{};
    std::size_t count_ = 0;
};

enum class Behaviour { Reply, Silence, BadSum, Garbage, Partial, Flood, XonXoff, Hangup };

std::optional<Behaviour> parseBehaviour(std::string_view name);
const char* behaviourName(Behaviour behaviour);

// The bytes the device sends back for a frame; empty for silence and hangup.
Bytes answerFor(Behaviour behaviour, const Frame& frame);

// "DB 01 0E" (uppercase, space-separated).
std::string toHex(const std::uint8_t* bytes, std::size_t count);
inline std::string toHex(const Bytes& bytes) { return toHex(bytes.data(), bytes.size()); }

// Parses one byte written as one or two hex digits.
std::optional<std::uint8_t> parseHexByte(std::string_view text);

} // namespace digisim

// The control commands. Each is carried out completely before its answer is
// returned, so a client that has read "OK" can rely on the effect.
#include "simulator.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <sstream>

namespace digisim {

namespace {

constexpr unsigned kMaxBaud = 4000000;
constexpr unsigned kMaxMs = 600000;
constexpr std::size_t kPtyInputBuffer = 4095;  // what the pty master takes before it holds back

std::string ok() { return "OK\n"; }
std::string err(const std::string& message) { return "ERR " + message + "\n"; }

std::vector<std::string> splitWords(const std::string& line)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

std::optional<unsigned> parseUnsigned(const std::string& text, unsigned max)
{
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value > max)
        return std::nullopt;
    return value;
}

std::optional<char> parseParity(const std::string& text)
{
    if (text.size() != 1)
        return std::nullopt;
    switch (text[0]) {
    case 'N': case 'n': return 'N';
    case 'E': case 'e': return 'E';
    case 'O': case 'o': return 'O';
    case '-': return '-';
    default: return std::nullopt;
    }
}

const char* flag(bool on) { return on ? "1" : "0"; }

} // namespace

std::string Simulator::handleCommand(const std::string& line)
{
    const std::vector<std::string> words = splitWords(line);
    if (words.empty())
        return err("empty command");
    const std::string& command = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());

    if (command == "behave" || command == "only-baud" || command == "only-parity" ||
        command == "delay" || command == "turnaround" || command == "instant")
        return setPolicy(command, args);
    if (command == "send")
        return send(args);
    if (command == "lag")
        return lag(args);
    if (!args.empty())
        return err(command + " takes no arguments");
    if (command == "frames" || command == "rx" || command == "replies" || command == "line" ||
        command == "holders")
        return report(command);
    if (command == "clear") {
        clearLogs();
        return ok();
    }
    if (command == "reset") {
        // Back to the start-up settings of the command line; pending output is dropped.
        clearLogs();
        policy_ = options_.policy;
        output_.clear();
        return ok();
    }
    if (command == "unplug") {
        if (!link_.plugged())
            return err("already unplugged");
        hangUp();
        return ok();
    }
    if (command == "plug")
        return plugCommand();
    if (command == "quit") {
        quitRequested_ = true;
        return ok();
    }
    return err("unknown command " + command);
}

std::string Simulator::setPolicy(const std::string& command, const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return err(command + " takes one argument");
    const std::string& value = args[0];
    if (command == "behave") {
        const std::optional<Behaviour> behaviour = parseBehaviour(value);
        if (!behaviour)
            return err("unknown behaviour " + value +
                       " (reply silence badsum garbage partial flood xonxoff hangup)");
        policy_.behaviour = *behaviour;
    } else if (command == "only-parity") {
        const std::optional<char> parity = parseParity(value);
        if (!parity)
            return err("parity must be N, E, O or -");
        policy_.onlyParity = *parity;
    } else if (command == "instant") {
        if (value != "on" && value != "off")
            return err("instant takes on or off");
        policy_.instant = value == "on";
    } else {
        const unsigned max = command == "only-baud" ? kMaxBaud : kMaxMs;
        const std::optional<unsigned> number = parseUnsigned(value, max);
        if (!number)
            return err(command + " takes a number from 0 to " + std::to_string(max));
        unsigned& target = command == "only-baud" ? policy_.onlyBaud
                           : command == "delay"   ? policy_.delayMs
                                                  : policy_.turnaroundMs;
        target = *number;
    }
    return ok();
}

// A slow adapter: what the program writes next waits in the line's output queue for the
// given time before the device sees it, so a transmit purge in that time loses it. The
// queue is made to hold it by filling the pty's input buffer with bytes of our own, which
// are skipped when the line is read again.
std::string Simulator::lag(const std::vector<std::string>& args)
{
    const std::optional<unsigned> ms = args.size() == 1 ? parseUnsigned(args[0], kMaxMs) : std::nullopt;
    if (!ms || *ms == 0)
        return err("lag takes a number of milliseconds from 1 to " + std::to_string(kMaxMs));
    if (!link_.plugged())
        return err("unplugged");
    readLine(Clock::now());  // nothing of the program's may sit behind the filler
    const std::vector<std::uint8_t> filler(kPtyInputBuffer, 0);
    const long written = link_.writeToSlave(filler.data(), filler.size());
    if (written <= 0)
        return err(std::string("cannot fill the line: ") + std::strerror(errno));
    fillerLeft_ += static_cast<std::size_t>(written);
    readDue_ = Clock::now() + std::chrono::milliseconds(*ms);
    return ok();
}

// OK means the bytes have been written when instant is on (unless the line is
// full), or are queued to go out one character time apart from now otherwise.
std::string Simulator::send(const std::vector<std::string>& args)
{
    if (!link_.plugged())
        return err("unplugged");
    if (args.empty())
        return err("send takes one or more hex bytes");
    Bytes bytes;
    for (const std::string& arg : args) {
        const std::optional<std::uint8_t> byte = parseHexByte(arg);
        if (!byte)
            return err("not a hex byte: " + arg);
        bytes.push_back(*byte);
    }
    const LineSetting line = readLineSetting(link_.master()).value_or(LineSetting{});
    const auto spacing = policy_.instant ? std::chrono::nanoseconds(0) : line.charTime();
    const Clock::time_point now = Clock::now();
    output_.schedule(bytes, now, spacing, false);
    flushOutput(now);
    return ok();
}

std::string Simulator::report(const std::string& command)
{
    if (command == "frames") {
        std::string text;
        for (const FrameRecord& record : frames_) {
            text += "frame " + toHex(record.bytes.data(), record.bytes.size()) + " " +
                    record.line.describe() + " t=" + std::to_string(record.receivedMs) + "\n";
        }
        return text + ok();
    }
    if (command == "rx")
        return (received_.empty() ? "rx" : "rx " + toHex(received_)) + "\n" + ok();
    if (command == "replies")
        return "replies " + std::to_string(replies_) + "\n" + ok();
    if (command == "holders") {
        const int holders = countOtherHolders(link_.slavePath(), link_.plugged());
        return "holders " + std::to_string(holders) + "\n" + ok();
    }

    // line
    if (!link_.plugged())
        return err("unplugged");
    const std::optional<LineSetting> line = readLineSetting(link_.master());
    if (!line)
        return err("cannot read the line setting");
    return "line " + line->describe() + " ixon=" + flag(line->ixon) + " ixoff=" +
           flag(line->ixoff) + " crtscts=" + flag(line->crtscts) + "\n" + ok();
}

std::string Simulator::plugCommand()
{
    if (link_.plugged())
        return err("already plugged");
    std::string error;
    if (!link_.plug(error))
        return err(error);
    scanner_.reset();
    say("plugged " + link_.slavePath() + " as " + link_.linkPath());
    return ok();
}

void Simulator::clearLogs()
{
    frames_.clear();
    received_.clear();
    replies_ = 0;
    scanner_.reset();
}

} // namespace digisim

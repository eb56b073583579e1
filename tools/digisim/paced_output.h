// Bytes waiting to go out on the line, each with the monotonic time it is due.
#pragma once

#include "frame.h"

#include <chrono>
#include <deque>
#include <optional>

namespace digisim {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC on Linux

class PacedOutput {
public:
    enum class Flush { Ok, WouldBlock, Failed };

    // Queues bytes: the first is due at `first` (or one spacing after whatever is
    // already queued, whichever is later), the others `spacing` apart. A zero
    // spacing sends them in one go. `isAnswer` marks the bytes as one answer to a
    // frame, counted once its last byte is written.
    void schedule(const Bytes& bytes, Clock::time_point first, std::chrono::nanoseconds spacing,
                  bool isAnswer);

    // Writes every byte due at `now` to fd (non-blocking). WouldBlock means the
    // line is full: wait for POLLOUT before calling again.
    Flush flush(int fd, Clock::time_point now);

    // When the next byte is due; nullopt when nothing is queued.
    std::optional<Clock::time_point> nextDue() const;

    // Answers whose last byte was written since the previous call.
    unsigned takeCompletedAnswers();

    void clear() { queue_.clear(); }
    bool empty() const { return queue_.empty(); }

private:
    struct Item {
        std::uint8_t byte;
        Clock::time_point due;
        bool endsAnswer;
    };

    std::deque<Item> queue_;
    unsigned completedAnswers_ = 0;
};

} // namespace digisim

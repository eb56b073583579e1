#include "paced_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace digisim {

void PacedOutput::schedule(const Bytes& bytes, Clock::time_point first,
                           std::chrono::nanoseconds spacing, bool isAnswer)
{
    if (bytes.empty())
        return;
    Clock::time_point due = first;
    if (!queue_.empty())
        due = std::max(due, queue_.back().due + spacing);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        queue_.push_back({bytes[i], due, isAnswer && i + 1 == bytes.size()});
        due += spacing;
    }
}

PacedOutput::Flush PacedOutput::flush(int fd, Clock::time_point now)
{
    while (!queue_.empty() && queue_.front().due <= now) {
        std::uint8_t chunk[512];
        std::size_t count = 0;
        while (count < sizeof chunk && count < queue_.size() && queue_[count].due <= now) {
            chunk[count] = queue_[count].byte;
            ++count;
        }
        const ssize_t written = ::write(fd, chunk, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN ? Flush::WouldBlock : Flush::Failed;
        }
        for (ssize_t i = 0; i < written; ++i) {
            if (queue_.front().endsAnswer)
                ++completedAnswers_;
            queue_.pop_front();
        }
        if (static_cast<std::size_t>(written) < count)
            return Flush::WouldBlock;
    }
    return Flush::Ok;
}

std::optional<Clock::time_point> PacedOutput::nextDue() const
{
    if (queue_.empty())
        return std::nullopt;
    return queue_.front().due;
}

unsigned PacedOutput::takeCompletedAnswers()
{
    return std::exchange(completedAnswers_, 0u);
}

} // namespace digisim

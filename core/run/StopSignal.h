// A stop request that configuration runs watch: set once (the console program's Ctrl+C,
// SIGINT or SIGTERM), never reset; it keeps a code that tells what set it. Standard C++, so the same runs stop the same way on every system; Set is
// called from an ordinary thread (a console control handler, or a signal-waiting thread),
// never from a signal handler.
#ifndef QUILLANE_STOPSIGNAL_H
#define QUILLANE_STOPSIGNAL_H

#include <chrono>
#include <condition_variable>
#include <mutex>

class StopSignal {
public:
    void Set(int code = 0)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_set)
                m_code = code;
            m_set = true;
        }
        m_changed.notify_all();
    }
    bool IsSet() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_set;
    }
    int Code() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_code;
    }
    // Waits at most `limit` for the stop; true when it is set.
    bool WaitFor(std::chrono::milliseconds limit) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_set; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_set = false;
    int m_code = 0;
};

#endif

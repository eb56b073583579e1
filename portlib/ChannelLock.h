// Holds the serial channel's guard mutex for a scope. The wait ends: the guard is held only
// over steps that never wait, and a thread killed while holding it abandons it to this waiter.
#ifndef LINKPORT_CHANNELLOCK_H
#define LINKPORT_CHANNELLOCK_H

#include <windows.h>

class ChannelLock {
public:
    explicit ChannelLock(HANDLE mutex) : m_mutex(mutex)
    {
        const DWORD result = WaitForSingleObject(m_mutex, INFINITE);
        m_owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    ~ChannelLock()
    {
        if (m_owned)
            ReleaseMutex(m_mutex);
    }
    ChannelLock(const ChannelLock&) = delete;
    ChannelLock& operator=(const ChannelLock&) = delete;

private:
    HANDLE m_mutex;
    bool m_owned;
};

#endif

#include "ExclusiveUse.h"

#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace {

// A tty that has no such request (EINVAL, ENOTTY) cannot be made exclusive; that is no fault.
bool Unsupported(int error)
{
    return error == EINVAL || error == ENOTTY;
}

}  // namespace

ExclusiveUse::Outcome ExclusiveUse::Take(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? Outcome::Locked : Outcome::Failed;
    m_locked = true;
    int alreadySet = 0;
    if (ioctl(fd, TIOCGEXCL, &alreadySet) != 0 && !Unsupported(errno)) {
        const int error = errno;
        Release(fd);
        errno = error;
        return Outcome::Failed;
    }
    if (alreadySet != 0) {
        Release(fd);
        return Outcome::Exclusive;
    }
    if (ioctl(fd, TIOCEXCL) == 0)
        m_exclusive = true;
    else if (!Unsupported(errno)) {
        const int error = errno;
        Release(fd);
        errno = error;
        return Outcome::Failed;
    }
    return Outcome::Taken;
}

void ExclusiveUse::Release(int fd)
{
    if (m_exclusive)
        ioctl(fd, TIOCNXCL);
    if (m_locked)
        flock(fd, LOCK_UN);
    m_exclusive = m_locked = false;
}

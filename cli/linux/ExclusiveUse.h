// Exclusive use of an open tty, taken the way other programs expect and undone only as far
// as it was taken: first flock (honoured by programs that lock), then, only once that
// succeeded and only where nobody set it before, TIOCEXCL (which keeps out programs that
// only open). TIOCEXCL belongs to the tty, not to a descriptor: clearing one that another
// program set would let anyone open its port, so vr7 clears only the one it set itself.
#ifndef VR7_EXCLUSIVEUSE_H
#define VR7_EXCLUSIVEUSE_H

class ExclusiveUse {
public:
    enum class Outcome {
        Taken,
        Locked,     // another open file holds the flock
        Exclusive,  // another program set TIOCEXCL (only root gets this far: others cannot open)
        Failed,     // a call failed; errno says why
    };

    // On any outcome but Taken, nothing is left taken.
    Outcome Take(int fd);
    // Undoes what Take took on fd; nothing more.
    void Release(int fd);

private:
    bool m_locked = false;
    bool m_exclusive = false;
};

#endif

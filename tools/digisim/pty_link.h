// The simulated cable: a pseudo-terminal whose slave side is reached through a
// symlink that the program under test opens as its serial port.
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <string>
#include <utility>

namespace digisim {

class PtyLink {
public:
    explicit PtyLink(std::string linkPath) : linkPath_(std::move(linkPath)) {}
    ~PtyLink() { unplug(); }

    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Creates a fresh raw pty, opens a slave fd of our own and points the link at the
    // slave. On failure nothing stays open and `error` says which step failed.
    //
    // Our slave fd keeps master reads from failing with EIO while the program has the
    // port closed. It is kept in flight in a socket of our own (sent with SCM_RIGHTS and
    // never received) rather than among our descriptors: so no process shows in /proc as
    // holding the port, as with a real serial line, and a program that treats a port
    // another process holds as busy can open it.
    bool plug(std::string& error);

    // Closes the master (the program's end sees a hang-up) and removes the link.
    // Idempotent. Our slave fd is kept, hung up, until the next plug: while it is
    // open the kernel cannot give the pty's number to a new pty, so the number
    // names this dead pty alone when countOtherHolders() looks for it.
    void unplug();

    bool plugged() const { return master_.valid(); }
    // The master: a pty's termios is one for both ends, so the line setting the program
    // sets on the slave is read here too.
    int master() const { return master_.get(); }
    // Writes into the slave's output, toward the master, as write() does; the fd lives
    // only for the call.
    long writeToSlave(const void* data, std::size_t size);
    // /dev/pts/N of the current pty, or of the last one after an unplug.
    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }

private:
    std::string linkPath_;
    std::string slavePath_;
    UniqueFd master_;
    UniqueFd slaveHold_;     // the socket our slave fd is in flight to
    UniqueFd deadSlaveHold_; // the same for the unplugged pty, see unplug()
};

// Replaces `path` by a symlink to `target` in one step (symlink to a temporary
// name, then rename), so a reader never finds the link missing or half-made.
bool replaceSymlink(const std::string& target, const std::string& path);

// How many processes other than this one hold the pty slave `devicePath` open,
// found by scanning the readlinks of /proc/*/fd. Once its master is closed, the
// kernel shows a slave as "<path> (deleted)", and keeps its number from being
// reused until the last holder lets go; a new pty with the same number shows the
// plain path. So `live` (our pty is plugged) picks the plain form, otherwise the
// deleted one (PtyLink keeps the number from being reused meanwhile). Processes
// we may not inspect are not counted.
int countOtherHolders(const std::string& devicePath, bool live);

} // namespace digisim

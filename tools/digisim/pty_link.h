// The simulated cable: a pseudo-terminal whose slave side is reached through a
// symlink that the program under test opens as its serial port.
#pragma once

#include "unique_fd.h"

#include <string>
#include <utility>

namespace digisim {

class PtyLink {
public:
    explicit PtyLink(std::string linkPath) : linkPath_(std::move(linkPath)) {}
    ~PtyLink() { unplug(); }

    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Creates a fresh raw pty, opens our own slave fd and points the link at the
    // slave. On failure nothing stays open and `error` says which step failed.
    bool plug(std::string& error);

    // Closes the master (the program's end sees a hang-up) and removes the link.
    // Idempotent. Our slave fd is kept, hung up, until the next plug: while it is
    // open the kernel cannot give the pty's number to a new pty, so the number
    // names this dead pty alone when countOtherHolders() looks for it.
    void unplug();

    bool plugged() const { return master_.valid(); }
    int master() const { return master_.get(); }
    // Our own slave fd: it keeps master reads from failing with EIO while the
    // program has the port closed, and it is where the line setting is read.
    int slave() const { return slave_.get(); }
    // /dev/pts/N of the current pty, or of the last one after an unplug.
    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }

private:
    std::string linkPath_;
    std::string slavePath_;
    UniqueFd master_;
    UniqueFd slave_;
    UniqueFd deadSlave_; // the slave of the unplugged pty, see unplug()
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

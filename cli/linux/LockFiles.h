// UUCP lock files (/var/lock/LCK..ttyUSB0), which programs that lock only that way leave. The
// folders are writable by every user, so a file there is untrusted input: no link is
// followed, only a regular file is read, and only a few bytes of it.
#ifndef VR7_LOCKFILES_H
#define VR7_LOCKFILES_H

#include <optional>
#include <string>
#include <vector>

// The PID a lock file's contents name: the ASCII form (the PID in decimal, optional leading
// spaces, a line end), or the old binary form (a native 4-byte integer) for a file of exactly
// 4 bytes that is not the ASCII form. Nullopt when they name none.
std::optional<long> LockFilePid(const std::string& contents);

// The live processes that lock files name for the device at `path` (its resolved /dev path),
// each once. A stale lock (its process is gone) and one that cannot be read or parsed name
// none.
std::vector<long> LockFileHolders(const std::string& path);

#endif

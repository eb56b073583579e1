// Who else holds a serial device on Linux, as far as this user can see: the busy verdict,
// apart from the port's transport, so that configure, detect and ports --test judge alike.
//  - Processes that have the device open, found in /proc by each descriptor's link text:
//    readlink never touches the descriptor's target, so a file on a hung network mount
//    cannot block the scan (stat would).
//  - Not the far end of a pseudo-terminal: a process that holds the master side (a bridge
//    such as socat, a serial simulator) is the line's other end, whatever it holds besides.
//  - The live processes that UUCP lock files name.
#ifndef VR7_PORTHOLDERS_H
#define VR7_PORTHOLDERS_H

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Ports.h"
#include "StopSignal.h"

struct HolderVerdict {
    std::vector<Holder> holders;  // each process once
    bool complete = true;         // false: the stop was set and the scan gave up
};

// A look through /proc for the processes that hold devices, which runs beside whatever its
// asker does meanwhile (an open, an exclusive lock: nothing that writes to the port). One
// scan serves every question asked before it began, so ports opened side by side share it,
// and no answer is older than its question. The scan looks at the stop between processes.
struct OpenDescriptors;
using HolderScan = std::shared_future<std::shared_ptr<const OpenDescriptors>>;
HolderScan ScanForHolders(std::chrono::steady_clock::time_point asked, const StopSignal* stop);

// The scan's verdict on one device (it waits for the scan). deviceNumber: the character
// device; path: its resolved /dev path, which lock files are named after.
HolderVerdict HoldersOf(const HolderScan& scan, unsigned long long deviceNumber, const std::string& path);

#endif

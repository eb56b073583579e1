// A stand-in device for a test build of vr7, linked in place of the real
// Win32 calls (DeviceApi). QUILLANE_STANDIN names the ports it plays and how, for example
// "COM4=quick COM6=stuck-open"; every other port is the real one.
//   quick         answers a configuration frame the moment the write completes: the reply
//                 is already waiting when the sender starts to receive
//   stuck-open    the open blocks for 60 s, as an outgoing Bluetooth port can
//   never-cancel  silent; an operation it was asked to cancel never completes, as some
//                 virtual and Bluetooth drivers do: it keeps the record (KeptOperations)
#ifndef QUILLANE_TESTS_STANDIN_H
#define QUILLANE_TESTS_STANDIN_H

#include <windows.h>

#include <string>

// The operations a never-cancel port holds, as a driver would: their records, events and
// the storage it would complete them into. On the heap, never freed, so that they can be
// looked at after the channels that recorded them are destroyed.
struct KeptOperations {
    struct Kept {
        OVERLAPPED* record;
        HANDLE event;  // the record's event when the operation started
        HANDLE own;    // the stand-in's own handle of that event, to know it again
        BYTE* target;  // the byte or event word it would write
    };
    LONG count;
    Kept kept[64];
};

// vr7's test build reports it at exit.
extern "C" KeptOperations* StandInKept();

// Completes every kept operation, as a late driver would, after checking that its
// storage is still the one it was given: *intact counts records that still hold their
// event, *open events that are still open.
void CompleteKept(KeptOperations& kept, int* intact, int* open);

// A line on standard error, "stand-in: " first.
void SayStandIn(const std::string& line);

#endif

// The line setting of a tty, stated whole rather than as a change to what another program
// left on it (its CMSPAR would send attempt 2 with space parity, its IGNPAR drop bad bytes):
//  - input: INPCK where parity is on, and nothing else: no IGNPAR or PARMRK (a byte with a
//    parity error arrives as 0 and spoils the reply, rather than vanishing), no ISTRIP, no
//    IXON, IXOFF or IXANY (0x11 and 0x13 are reply bytes), no CR or NL translation, breaks
//    read as 0;
//  - output and local modes: none (raw: no processing, echo, canonical lines or signals);
//  - control: CREAD, CLOCAL (no wait for a carrier that adapters report unreliably), HUPCL
//    (the last close drops DTR and RTS, as closing a port does on Windows), the data bits,
//    CSTOPB for two stop bits, PARENB (and PARODD for odd parity); no CMSPAR, no CRTSCTS;
//  - reads return what is there (VMIN 1 with a non-blocking descriptor, VTIME 0);
//  - the baud rate from the table of standard rates: one not in it is refused, never rounded.
// What the device kept is read back and compared field by field, so a rate or a setting the
// driver did not take fails the open. A pseudo-terminal clears PARENB and forces 8 data bits
// on every change; there INPCK alone carries the parity, which is what a simulator reads.
#ifndef VR7_TTYLINE_H
#define VR7_TTYLINE_H

#include <termios.h>

#include "PortLink.h"

// Sets the line setting on fd and checks what the device kept. False with errno: EINVAL
// for a setting vr7 cannot state or that the device did not keep, or the call's own.
bool SetLineSetting(int fd, const LineSetting& line, bool pseudoTerminal);

#endif

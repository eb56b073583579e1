// The serial ports the system lists under HKLM\hardware\devicemap\serialcomm.
#ifndef LINKPORT_PORTLIST_H
#define LINKPORT_PORTLIST_H

// Stores the port numbers of the key's values in the registry's order (neither sorted nor
// made unique) into ports[0..capacity-1] and returns how many were stored. Values whose
// data is not a port name ("COM" and a number from 1 to 255) are skipped.
int ListSerialPorts(unsigned short* ports, int capacity);

#endif

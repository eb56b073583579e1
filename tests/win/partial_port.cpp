// A port library that lacks ClosePort, for the deployment test of a missing entry.
#include "linkport.h"

extern "C" {
int LINKPORT_CALL TestPort(unsigned int) { return 0; }
int LINKPORT_CALL OpenPort(unsigned int, int, int, int, int) { return 0; }
int LINKPORT_CALL senddata(const unsigned char*, int) { return 0; }
int LINKPORT_CALL ListSerialComm(unsigned short*, int) { return 0; }
int LINKPORT_CALL recvdata(unsigned char*, int, unsigned int) { return 0; }
int LINKPORT_CALL WaitRecvdata(unsigned char*, int, int) { return 0; }
}

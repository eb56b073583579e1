// linkport: the serial port library's contract, shared by the library and by the
// program's entry-point table, so the compiler checks both sides against one set of types.
//
// One process-wide port. A caller names the port by number when it opens it and never
// holds a handle; every later call works on the port opened last. Every export returns
// 1 for success and 0 for failure (ClosePort always 1; ListSerialComm a count); no
// reason is reported.
//
// | ord | export         | parameters                                   | result / behaviour                          |
// |-----|----------------|----------------------------------------------|---------------------------------------------|
// | 1   | TestPort       | port (1..16)                                 | closes, opens at 9600 N 8 1; stays open     |
// | 2   | OpenPort       | port, baud, parity (low byte), data, stop    | closes, opens with that line setting        |
// | 3   | ClosePort      | -                                            | always 1; purges and closes; DTR, RTS off   |
// | 4   | senddata       | data, length                                 | writes length bytes                         |
// | 5   | ListSerialComm | ports (16-bit array), capacity               | number of port numbers stored               |
// | 6   | recvdata       | buffer, length, timeoutMs                    | purges input, reads up to length bytes      |
// | 7   | WaitRecvdata   | buffer, capacity, count                      | 0 if count > capacity; purges input, waits  |
// |     |                |                                              | for exactly count bytes, no time limit      |
//
// senddata, recvdata and WaitRecvdata need an open port and return 0 without one.
// Stopping a blocked WaitRecvdata: a ClosePort called on another thread makes it return 0
// within a few milliseconds; ClosePort returns only after the blocked call has left the
// port, so no handle it waits on is closed under it. A caller may instead terminate the
// blocked thread: until the next ClosePort, OpenPort or TestPort, senddata, recvdata and
// WaitRecvdata return 0 at once; that call then releases the device promptly (also right
// after TerminateThread, before the thread is gone) and the port works again.
#ifndef LINKPORT_H
#define LINKPORT_H

#if defined(_WIN32)
#define LINKPORT_CALL __stdcall
#else
#define LINKPORT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

int LINKPORT_CALL TestPort(unsigned int port);
int LINKPORT_CALL OpenPort(unsigned int port, int baud, int parity, int dataBits, int stopBits);
int LINKPORT_CALL ClosePort(void);
int LINKPORT_CALL senddata(const unsigned char* data, int length);
int LINKPORT_CALL ListSerialComm(unsigned short* ports, int capacity);
int LINKPORT_CALL recvdata(unsigned char* buffer, int length, unsigned int timeoutMs);
int LINKPORT_CALL WaitRecvdata(unsigned char* buffer, int capacity, int count);

#ifdef __cplusplus
}
#endif

#endif

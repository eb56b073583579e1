// The library's two global objects, its seven exports and its entry point.
#include <windows.h>

#include "DeviceApi.h"
#include "PortDriver.h"
#include "SerialChannel.h"
#include "linkport.h"

// Defined in this order in one file: the channel is constructed first and destroyed last,
// so the driver's destructor (which closes the port) still finds it.
CSerialChannel g_channel(DeviceApi());
static CPortDriver g_driver(g_channel);

extern "C" {

int LINKPORT_CALL TestPort(unsigned int port)
{
    return g_driver.Test(port);
}

int LINKPORT_CALL OpenPort(unsigned int port, int baud, int parity, int dataBits, int stopBits)
{
    return g_driver.Open(port, baud, parity, dataBits, stopBits);
}

int LINKPORT_CALL ClosePort(void)
{
    return g_driver.Close();
}

int LINKPORT_CALL senddata(const unsigned char* data, int length)
{
    return g_driver.Send(data, length);
}

int LINKPORT_CALL ListSerialComm(unsigned short* ports, int capacity)
{
    return g_driver.ListPorts(ports, capacity);
}

int LINKPORT_CALL recvdata(unsigned char* buffer, int length, unsigned int timeoutMs)
{
    return g_driver.Receive(buffer, length, timeoutMs);
}

int LINKPORT_CALL WaitRecvdata(unsigned char* buffer, int capacity, int count)
{
    return g_driver.WaitReceive(buffer, capacity, count);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

}  // extern "C"

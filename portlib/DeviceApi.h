// The platform calls of the channels a binary makes: the real Win32 functions in every
// shipped binary (SystemDeviceApi.cpp). A test build of the library or of vr7 links a
// stand-in device in its place, from the same sources otherwise; no shipped binary has a
// switch for it.
#ifndef LINKPORT_DEVICEAPI_H
#define LINKPORT_DEVICEAPI_H

#include "CommApi.h"

const CommApi& DeviceApi();

#endif

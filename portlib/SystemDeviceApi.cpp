#include "DeviceApi.h"

const CommApi& DeviceApi()
{
    return Win32CommApi();
}

// The USB ids of a serial port, read from the ids Windows gives its device. Portable: standard C++ only.
#pragma once

#include <optional>
#include <string_view>

#include "PortInfo.h"

// The ids in a device instance id ("USB\VID_0403&PID_6001\A50285BI") or a hardware id
// ("USB\VID_0403&PID_6001&REV_0600") of the USB or FTDIBUS enumerator; nullopt for any other enumerator and for
// a malformed id. The instance part is the serial unless it has '&' in it (a location Windows made up). An
// interface of a composite device (MI_00) gives the interface and no serial. FTDI's bus driver writes
// "VID_0403+PID_6001+A50285BIA": the serial followed by the channel letter.
std::optional<UsbIds> UsbIdsOf(std::string_view deviceId);

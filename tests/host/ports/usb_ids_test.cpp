#include "UsbIds.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace std::string_view_literals;

namespace {

// "vid pid serial interface" with "-" for none; "not USB" for nullopt.
std::string Text(const std::optional<UsbIds>& ids)
{
    if (!ids)
        return "not USB";
    return ids->vid + " " + ids->pid + " " + ids->serial.value_or("-") + " " + ids->interface.value_or("-");
}

struct Case {
    std::string_view id;
    const char* ids;
};

// The instance ids of tests/win/vr7_test.py's adapters are read there, through SetupAPI.
const Case kCases[] = {
    // Instance ids.
    {R"(usb\vid_0403&pid_6001\a50285bi)", "0403 6001 a50285bi -"},
    {R"(USB\VID_2341&PID_0043&MI_00\6&3A757EEC&0&0000)", "2341 0043 - 00"},
    {R"(USB\VID_2341&PID_0043&MI_02\7583)", "2341 0043 - 02"},
    // Hardware ids.
    {R"(USB\VID_0403&PID_6001&REV_0600)", "0403 6001 - -"},
    {R"(FTDIBUS\COMPORT&VID_0403&PID_6001)", "0403 6001 - -"},
    // Not on USB, though some carry a VID and PID.
    {R"(BTHENUM\{00001101-0000-1000-8000-00805F9B34FB}_VID&00010057_PID&0023\8&2B3C4D&0&0012_C00000000)", "not USB"},
    {R"(HID\VID_046D&PID_C52B&MI_00\7&1A2B3C4D&0&0000)", "not USB"},
    {R"(USBSTOR\VID_0403&PID_6001\1)", "not USB"},
    // Malformed.
    {"", "not USB"},
    {R"(USB\VID_403&PID_6001)", "not USB"},
    {R"(USB\VID_04G3&PID_6001)", "not USB"},
    {R"(USB\VID_0403&PID_6001&MI_0)", "not USB"},
    {R"(USB\VID_0403&PID_6001\A50285BI\0)", "not USB"},
    {"USB\\VID_\xff\xfe\xfd\xfc&PID_6001"sv, "not USB"},
    {"USB\\VID_0403&PID_6001\\A5\0\x01"sv, "0403 6001 - -"},
};

TEST(UsbIds, ReadsTheIdsOfAUsbDevice)
{
    for (const Case& c : kCases)
        EXPECT_EQ(Text(UsbIdsOf(c.id)), c.ids) << "id \"" << c.id << "\"";
}

}  // namespace

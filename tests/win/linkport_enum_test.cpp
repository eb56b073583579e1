// ListSerialComm over the registry's list of serial ports, with data of every form. Which
// names are ports: tests/fuzz/portname_fuzz.cpp, one seed for each kind of name.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestEnv.h"

namespace {

using Ports = std::vector<unsigned short>;
constexpr unsigned short kUntouched = 0xBEEF;

class PortListTest : public ::testing::Test {
protected:
    void SetUp() override { values.Clear(); }

    // Lists into a sentinel-filled array of 300 entries, of which it may fill `capacity`.
    Ports List(int capacity = 256)
    {
        Ports ports(300, kUntouched);
        const int count = lib.ListSerialComm(ports.data(), capacity);
        EXPECT_TRUE(count >= 0 && count <= std::max(capacity, 0)) << "count " << count;
        const size_t listed = static_cast<size_t>(std::clamp(count, 0, 300));
        for (size_t i = listed; i < ports.size(); ++i)
            EXPECT_EQ(ports[i], kUntouched) << "entry " << i << " beyond the result was written";
        ports.resize(listed);
        return ports;
    }

    const LinkportApi& lib = Linkport();
    SerialCommOverride values;
};

TEST_F(PortListTest, KeepsTheRegistryOrderAndDuplicatesAndSkipsDataThatDoesNotFit)
{
    // Values enumerate sorted by name; the ports they name are deliberately in another order.
    const std::string twenty = "COM1xxxxxxxxxxxxxxxx";  // fills the data buffer: no terminator
    values.SetRaw("\\Device\\Serial0", REG_SZ, std::vector<unsigned char>(twenty.begin(), twenty.end()));
    values.SetString("\\Device\\Serial1", "COM9");
    values.SetString("\\Device\\Serial2", std::string(40, 'C'));  // longer than the buffer
    values.SetString("\\Device\\Serial3", "COM2");
    // The value's type is not asked for: data that names a port counts, whatever its type.
    values.SetRaw("\\Device\\Serial4", REG_BINARY, Bytes({'C', 'O', 'M', '5', 0}));
    values.SetRaw("\\Device\\Serial5", REG_DWORD, Bytes({6, 0, 0, 0}));
    values.SetString("\\Device\\Serial6", "COM12");
    values.SetRaw("\\Device\\Serial7", REG_SZ, Bytes({'C', 'O', 'M', '7'}));  // unterminated, short
    values.SetString("\\Device\\Serial8", "COM2");
    values.SetString("\\Device\\Serial9", "COM1");
    EXPECT_EQ(List(), (Ports{9, 2, 5, 12, 7, 2, 1}));
}

TEST_F(PortListTest, CapacityLimitsWhatIsStoredAndNoValuesOrNoKeyMeansNoPorts)
{
    for (int i = 0; i < 300; ++i)  // names of one length: they enumerate in this order
        values.SetString("\\Device\\Serial" + std::to_string(1000 + i), "COM" + std::to_string(i % 255 + 1));
    const Ports listed = List(256);
    ASSERT_EQ(listed.size(), 256u);
    EXPECT_EQ(listed[254], 255);
    EXPECT_EQ(listed[255], 1);
    EXPECT_EQ(List(3), (Ports{1, 2, 3}));
    EXPECT_EQ(List(0), Ports{});
    EXPECT_EQ(List(-1), Ports{});
    EXPECT_EQ(lib.ListSerialComm(nullptr, 10), 0);
    values.Clear();
    EXPECT_EQ(List(), Ports{});
    values.RemoveKey();
    EXPECT_EQ(List(), Ports{});
}

}  // namespace

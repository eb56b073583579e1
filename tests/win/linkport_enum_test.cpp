// ListSerialComm over the registry's list of serial ports, with data of every form.
#include <gtest/gtest.h>

#include "TestEnv.h"

namespace {

constexpr unsigned short kUntouched = 0xBEEF;

class PortListTest : public ::testing::Test {
protected:
    void SetUp() override { values.Clear(); }

    // Lists with the given capacity into a sentinel-filled array of 300 entries.
    std::vector<unsigned short> List(int capacity = 256)
    {
        ports.assign(300, kUntouched);
        const int count = lib.ListSerialComm(ports.data(), capacity);
        EXPECT_GE(count, 0);
        EXPECT_LE(count, capacity < 0 ? 0 : capacity);
        for (size_t i = static_cast<size_t>(count); i < ports.size(); ++i)
            EXPECT_EQ(ports[i], kUntouched) << "entry " << i << " beyond the result was written";
        return std::vector<unsigned short>(ports.begin(), ports.begin() + count);
    }

    const LinkportApi& lib = Linkport();
    SerialCommOverride values;
    std::vector<unsigned short> ports;
};

using Ports = std::vector<unsigned short>;

TEST_F(PortListTest, KeepsTheRegistryOrderWithoutSortingOrMerging)
{
    // Values enumerate sorted by name; their data is deliberately in another order.
    values.SetString("\\Device\\SerialA", "COM9");
    values.SetString("\\Device\\SerialB", "COM2");
    values.SetString("\\Device\\SerialC", "COM12");
    values.SetString("\\Device\\SerialD", "COM2");
    values.SetString("\\Device\\SerialE", "COM1");
    EXPECT_EQ(List(), (Ports{9, 2, 12, 2, 1}));
}

TEST_F(PortListTest, ListsOnlyDataThatNamesAPort)
{
    const struct {
        const char* data;
        unsigned short port;  // 0: skipped
    } cases[] = {
        {"COM3", 3},  {"COM16", 16}, {"COM17", 17}, {"COM255", 255}, {"COM256", 0}, {"COM999", 0},
        {"COM", 0},   {"COM0", 0},   {"COM03", 0},  {"COMX", 0},     {"COM1X", 0},  {"com4", 0},
        {"LPT1", 0},  {"", 0},       {"COM 5", 0},  {"COM1234", 0},
    };
    for (const auto& c : cases) {
        values.Clear();
        values.SetString("\\Device\\Serial0", c.data);
        values.SetString("\\Device\\Serial1", "COM8");  // the next value is still listed
        const Ports expected = c.port ? Ports{c.port, 8} : Ports{8};
        EXPECT_EQ(List(), expected) << "data \"" << c.data << "\"";
    }
}

TEST_F(PortListTest, DataOfTwentyBytesOrMoreIsSkippedAndOnlyTheDataCounts)
{
    // Exactly 20 bytes, no terminator: fills the whole data buffer.
    const std::string twenty = "COM1xxxxxxxxxxxxxxxx";
    ASSERT_EQ(twenty.size(), 20u);
    values.SetRaw("\\Device\\Serial0", REG_SZ, std::vector<unsigned char>(twenty.begin(), twenty.end()));
    values.SetString("\\Device\\Serial1", "COM4");
    values.SetString("\\Device\\Serial2", std::string(40, 'C'));  // longer than the buffer
    // The value's type is not asked for: data that names a port counts, whatever its type.
    values.SetRaw("\\Device\\Serial3", REG_BINARY, Bytes({'C', 'O', 'M', '5', 0}));
    values.SetRaw("\\Device\\Serial4", REG_DWORD, Bytes({6, 0, 0, 0}));
    values.SetRaw("\\Device\\Serial5", REG_SZ, Bytes({'C', 'O', 'M', '7'}));  // unterminated, short
    EXPECT_EQ(List(), (Ports{4, 5, 7}));
}

TEST_F(PortListTest, CapacityLimitsWhatIsStored)
{
    for (int i = 0; i < 5; ++i)
        values.SetString("\\Device\\Serial" + std::to_string(i), "COM" + std::to_string(i + 1));
    EXPECT_EQ(List(3), (Ports{1, 2, 3}));
    EXPECT_EQ(List(0), Ports{});
    EXPECT_EQ(List(-1), Ports{});
    EXPECT_EQ(lib.ListSerialComm(nullptr, 10), 0);
}

TEST_F(PortListTest, ThreeHundredValuesFillACapacityOf256)
{
    for (int i = 0; i < 300; ++i) {
        char name[32];
        snprintf(name, sizeof name, "\\Device\\Serial%03d", i);
        values.SetString(name, "COM" + std::to_string(i % 255 + 1));
    }
    const Ports listed = List(256);
    ASSERT_EQ(listed.size(), 256u);
    EXPECT_EQ(listed.front(), 1);
    EXPECT_EQ(listed[254], 255);
    EXPECT_EQ(listed.back(), 1);
}

TEST_F(PortListTest, NoKeyOrNoValuesMeansNoPorts)
{
    EXPECT_EQ(List(), Ports{});
    values.RemoveKey();
    EXPECT_EQ(List(), Ports{});
}

}  // namespace

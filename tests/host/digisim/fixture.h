// A fresh simulator per test, with a control connection and the frames we send.
#pragma once

#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace digisim_test {

// DB 01 <mode> <K&0x77> <K&0x88> DD with bytes 1..4 summing to 0 mod 256.
inline const Bytes kFrameMode0E = {0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD};
inline const Bytes kFrameMode02 = {0xDB, 0x01, 0x02, 0x75, 0x88, 0xDD};
// The valid reply to kFrameMode0E.
inline const Bytes kReplyMode0E = {0xEA, 0x0E, 0x5A, 0x98, 0xDD};

// Long enough for any answer under test to arrive, yet bounded.
inline constexpr milliseconds kArrival{2000};
// How long "nothing arrives" is watched.
inline constexpr milliseconds kQuiet{300};

class DigisimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string error = sim_.start();
        ASSERT_EQ(error, "");
        ASSERT_TRUE(control_.connect(sim_.port()));
    }

    // Opens the test's end of the line; fails the test when it cannot.
    void openLine(unsigned baud, char parity = 'N', unsigned stopBits = 1)
    {
        ASSERT_TRUE(line_.open(sim_.link(), baud, parity, stopBits))
            << sim_.link() << ": " << std::strerror(errno);
    }

    void expectOk(const std::string& command)
    {
        EXPECT_EQ(control_.command(command).status, "OK") << command;
    }

    SimProcess sim_;
    ControlClient control_;
    SerialEnd line_; // declared last: closed before the simulator stops
};

} // namespace digisim_test

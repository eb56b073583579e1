// The line setting in force on the pty, as the program under test set it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace digisim {

struct LineSetting {
    unsigned baud = 0;   // 0 when the speed is B0 or not a standard rate
    char parity = 'N';   // 'N', 'E' or 'O'
    unsigned stopBits = 1;
    bool ixon = false;
    bool ixoff = false;
    bool crtscts = false;

    // 1 start + 8 data + parity bit if any + stop bits.
    unsigned bitsPerChar() const;
    // Time one character takes on the wire; zero when the baud rate is unknown.
    std::chrono::nanoseconds charTime() const;
    // "baud=9600 parity=N stop=1"
    std::string describe() const;
};

// Reads the terminal settings of fd (a pty slave). A pty clears PARENB, but Wine
// sets INPCK (plus PARODD for odd) exactly when parity is on, so parity comes
// from those flags.
std::optional<LineSetting> readLineSetting(int fd);

// Puts a serial device into raw mode with this baud rate, parity and stop bits (parity
// as Wine sets it: PARENB with INPCK, PARODD for odd). False when the device refuses.
bool applyLineSetting(int fd, const LineSetting& line);

} // namespace digisim

#include "line_setting.h"

#include <termios.h>

namespace digisim {

namespace {

struct SpeedEntry {
    speed_t code;
    unsigned baud;
};

constexpr SpeedEntry kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

unsigned baudFromSpeed(speed_t code)
{
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.code == code)
            return entry.baud;
    }
    return 0;
}

std::optional<speed_t> speedFromBaud(unsigned baud)
{
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud == baud)
            return entry.code;
    }
    return std::nullopt;
}

} // namespace

unsigned LineSetting::bitsPerChar() const
{
    return 1 + 8 + (parity == 'N' ? 0u : 1u) + stopBits;
}

std::chrono::nanoseconds LineSetting::charTime() const
{
    if (baud == 0)
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(bitsPerChar() * 1000000000ULL / baud);
}

std::string LineSetting::describe() const
{
    return "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity) +
           " stop=" + std::to_string(stopBits);
}

std::optional<LineSetting> readLineSetting(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return std::nullopt;

    LineSetting line;
    line.baud = baudFromSpeed(::cfgetospeed(&tio));
    // PARENB is honoured too, for a device node that keeps it; a pty never does.
    const bool parityOn = (tio.c_iflag & INPCK) != 0 || (tio.c_cflag & PARENB) != 0;
    line.parity = parityOn ? ((tio.c_cflag & PARODD) != 0 ? 'O' : 'E') : 'N';
    line.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    line.ixon = (tio.c_iflag & IXON) != 0;
    line.ixoff = (tio.c_iflag & IXOFF) != 0;
    line.crtscts = (tio.c_cflag & CRTSCTS) != 0;
    return line;
}

bool applyLineSetting(int fd, const LineSetting& line)
{
    termios tio{};
    const std::optional<speed_t> speed = speedFromBaud(line.baud);
    if (!speed || ::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (line.parity != 'N') {
        tio.c_cflag |= PARENB | (line.parity == 'O' ? PARODD : 0);
        tio.c_iflag |= INPCK;
    }
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    return ::cfsetspeed(&tio, *speed) == 0 && ::tcsetattr(fd, TCSADRAIN, &tio) == 0;
}

} // namespace digisim

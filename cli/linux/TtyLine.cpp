#include "TtyLine.h"

#include <cerrno>
#include <iterator>
#include <optional>

namespace {

struct Rate {
    int baud;
    speed_t speed;
};

constexpr Rate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedOf(int baud)
{
    for (const Rate& rate : kRates) {
        if (rate.baud == baud)
            return rate.speed;
    }
    return std::nullopt;
}

std::optional<tcflag_t> DataBits(int bits)
{
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    constexpr int kFewest = 5;
    if (bits < kFewest || bits >= kFewest + static_cast<int>(std::size(kSizes)))
        return std::nullopt;
    return kSizes[bits - kFewest];
}

// The whole termios for a line setting; nullopt for one that cannot be stated.
std::optional<termios> Stated(const LineSetting& line)
{
    const std::optional<speed_t> speed = SpeedOf(line.baud);
    const std::optional<tcflag_t> size = DataBits(line.dataBits);
    const bool parityKnown = line.parity == 'N' || line.parity == 'E' || line.parity == 'O';
    if (!speed || !size || !parityKnown || (line.stopBits != 1 && line.stopBits != 2))
        return std::nullopt;
    termios tio = {};
    tio.c_cflag = CREAD | CLOCAL | HUPCL | *size;
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (line.parity != 'N') {
        tio.c_cflag |= PARENB | (line.parity == 'O' ? PARODD : 0);
        tio.c_iflag = INPCK;
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    return tio;
}

// Every field vr7 states, as the device kept it.
bool Kept(const termios& asked, const termios& kept, bool pseudoTerminal)
{
    tcflag_t stated = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CREAD | CLOCAL | HUPCL;
    if (pseudoTerminal)
        stated &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    return kept.c_iflag == asked.c_iflag && kept.c_oflag == asked.c_oflag && kept.c_lflag == asked.c_lflag &&
           (kept.c_cflag & stated) == (asked.c_cflag & stated) && cfgetospeed(&kept) == cfgetospeed(&asked) &&
           cfgetispeed(&kept) == cfgetispeed(&asked) && kept.c_cc[VMIN] == asked.c_cc[VMIN] &&
           kept.c_cc[VTIME] == asked.c_cc[VTIME];
}

}  // namespace

bool SetLineSetting(int fd, const LineSetting& line, bool pseudoTerminal)
{
    const std::optional<termios> asked = Stated(line);
    if (!asked) {
        errno = EINVAL;
        return false;
    }
    termios kept = {};
    if (tcsetattr(fd, TCSANOW, &*asked) != 0 || tcgetattr(fd, &kept) != 0)
        return false;
    if (!Kept(*asked, kept, pseudoTerminal)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

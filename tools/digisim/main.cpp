// digisim: a simulated serial digitizer on the far end of a pseudo-terminal.
#include "relay.h"
#include "simulator.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using digisim::Options;

const char kUsage[] =
    "usage: digisim --link PATH [--behaviour NAME] [--turnaround MS] [--instant] [--verbose]\n"
    "       digisim --link PATH --relay DEVICE\n"
    "  Creates a pty, links PATH to its slave, writes the control port to PATH.port.\n"
    "  behaviours: reply silence badsum garbage partial flood xonxoff hangup\n"
    "  --relay passes the bytes to and from a real serial device instead, with the line\n"
    "  setting the program sets, and logs the frames and the replies.\n";

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue) {
            options.linkPath = argv[++i];
        } else if (arg == "--relay" && hasValue) {
            options.relayDevice = argv[++i];
        } else if (arg == "--behaviour" && hasValue) {
            const auto behaviour = digisim::parseBehaviour(argv[++i]);
            if (!behaviour)
                return false;
            options.policy.behaviour = *behaviour;
        } else if (arg == "--turnaround" && hasValue) {
            const std::string value = argv[++i];
            const char* end = value.data() + value.size();
            const auto result = std::from_chars(value.data(), end, options.policy.turnaroundMs);
            if (value.empty() || result.ec != std::errc() || result.ptr != end)
                return false;
        } else if (arg == "--instant") {
            options.policy.instant = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            return false;
        }
    }
    return !options.linkPath.empty();
}

// Written to a temporary name and renamed, so a reader sees the whole number or
// no file.
bool writePortFile(const std::string& path, std::uint16_t port)
{
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::string text = std::to_string(port) + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // SIGTERM and SIGINT arrive through a signalfd in the poll loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::perror("digisim: sigprocmask");
        return 1;
    }
    const digisim::UniqueFd signalFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signalFd.valid()) {
        std::perror("digisim: signalfd");
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!options.relayDevice.empty()) {
        digisim::Relay relay(options.linkPath, options.relayDevice);
        if (!relay.start(error)) {
            std::fprintf(stderr, "digisim: %s\n", error.c_str());
            return 1;
        }
        const bool ok = relay.run(signalFd.get());
        relay.shutdown();
        return ok ? 0 : 1;
    }

    digisim::Simulator simulator(options);
    if (!simulator.start(error)) {
        std::fprintf(stderr, "digisim: %s\n", error.c_str());
        return 1;
    }
    const std::string portFile = options.linkPath + ".port";
    if (!writePortFile(portFile, simulator.controlPort())) {
        std::fprintf(stderr, "digisim: cannot write %s: %s\n", portFile.c_str(),
                     std::strerror(errno));
        simulator.shutdown();
        return 1;
    }

    simulator.run(signalFd.get());

    simulator.shutdown();
    ::unlink(portFile.c_str());
    return 0;
}

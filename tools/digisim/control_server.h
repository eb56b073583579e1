// Line-based ASCII control channel on TCP 127.0.0.1 for tests and people.
#pragma once

#include "unique_fd.h"

#include <poll.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace digisim {

class ControlServer {
public:
    // Receives one command line (without its end of line) and returns the whole
    // answer text: data lines, then "OK" or "ERR <message>", each ending in "\n".
    using Handler = std::function<std::string(const std::string& line)>;

    // Listens on 127.0.0.1 at an ephemeral port.
    bool listen(std::string& error);
    std::uint16_t port() const { return port_; }

    // Appends the fds to watch; returns how many were appended.
    std::size_t addPollFds(std::vector<pollfd>& fds) const;
    // Handles the events of the fds appended by addPollFds, starting at `first`.
    void handleEvents(const std::vector<pollfd>& fds, std::size_t first, const Handler& handler);

private:
    struct Client {
        UniqueFd fd;
        std::string input;
        std::string output;
        bool inputEnded = false; // peer shut down its side: finish sending, then close
        bool closed = false;
    };

    void accept();
    void receive(Client& client, const Handler& handler);
    static void send(Client& client);

    UniqueFd listener_;
    std::uint16_t port_ = 0;
    std::vector<Client> clients_;
};

} // namespace digisim

#include "control_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace digisim {

namespace {

// A client that sends a longer line without an end of line is talking nonsense.
constexpr std::size_t kMaxLine = 64 * 1024;

} // namespace

bool ControlServer::listen(std::string& error)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 16) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        return false;
    }
    port_ = ntohs(address.sin_port);
    listener_ = std::move(fd);
    return true;
}

std::size_t ControlServer::addPollFds(std::vector<pollfd>& fds) const
{
    fds.push_back({listener_.get(), POLLIN, 0});
    for (const Client& client : clients_) {
        // At end of input POLLIN would be reported forever: watch only POLLOUT then.
        short events = client.inputEnded ? 0 : POLLIN;
        if (!client.output.empty())
            events = short(events | POLLOUT);
        fds.push_back({client.fd.get(), events, 0});
    }
    return 1 + clients_.size();
}

void ControlServer::handleEvents(const std::vector<pollfd>& fds, std::size_t first,
                                 const Handler& handler)
{
    // Clients accepted now are not in fds yet: handle the known ones first.
    const std::size_t known = clients_.size();
    for (std::size_t i = 0; i < known; ++i) {
        const short revents = fds[first + 1 + i].revents;
        Client& client = clients_[i];
        if ((revents & POLLOUT) != 0)
            send(client);
        if ((revents & (POLLHUP | POLLERR)) != 0 && client.inputEnded)
            client.closed = true;
        else if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            receive(client, handler);
    }
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const Client& client) { return client.closed; }),
                   clients_.end());
    if ((fds[first].revents & POLLIN) != 0)
        accept();
}

void ControlServer::accept()
{
    for (;;) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid())
            return; // EAGAIN: no more pending; other errors: the client is gone
        Client client;
        client.fd = std::move(fd);
        clients_.push_back(std::move(client));
    }
}

void ControlServer::receive(Client& client, const Handler& handler)
{
    char buffer[4096];
    const ssize_t count = ::recv(client.fd.get(), buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count < 0) {
        client.closed = true;
        return;
    }
    if (count == 0) {
        client.inputEnded = true;
        client.closed = client.output.empty();
        return;
    }
    client.input.append(buffer, static_cast<std::size_t>(count));
    std::size_t end;
    while ((end = client.input.find('\n')) != std::string::npos) {
        std::string line = client.input.substr(0, end);
        client.input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        client.output += handler(line);
    }
    if (client.input.size() > kMaxLine) {
        client.input.clear();
        client.output += "ERR line too long\n";
    }
    send(client);
}

void ControlServer::send(Client& client)
{
    while (!client.output.empty() && !client.closed) {
        const ssize_t sent =
            ::send(client.fd.get(), client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                client.closed = true;
            return; // EAGAIN: POLLOUT resumes
        }
        client.output.erase(0, static_cast<std::size_t>(sent));
    }
    if (client.output.empty() && client.inputEnded)
        client.closed = true;
}

} // namespace digisim

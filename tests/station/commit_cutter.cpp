#include "commit_cutter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// The server's CommandComplete messages: for a COMMIT, 'C', its length 11, "COMMIT" and a NUL;
// for an INSERT, its tag "INSERT 0 ROWS".
const std::string kCommitComplete("C\0\0\0\x0b"
                                  "COMMIT\0",
                                  12);
const std::string kInsertTag("INSERT 0 ");

int connect_unix(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool send_all(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

} // namespace

CommitCutter::CommitCutter(std::string socket_path) : socket_path_(std::move(socket_path))
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe(stop_pipe_) != 0)
        return;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

CommitCutter::~CommitCutter()
{
    if (thread_.joinable()) {
        const char stop = 0;
        [[maybe_unused]] const ssize_t written = write(stop_pipe_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {listener_, stop_pipe_[0], stop_pipe_[1]})
        if (fd >= 0)
            close(fd);
}

bool CommitCutter::relay(Pair& pair, bool from_server)
{
    char buffer[65536];
    const ssize_t got = recv(from_server ? pair.server : pair.client, buffer, sizeof buffer, 0);
    if (got <= 0)
        return false;
    const std::string_view bytes(buffer, static_cast<std::size_t>(got));
    if (from_server) {
        const std::string seen = pair.tail + std::string(bytes);
        pair.inserted = pair.inserted || seen.find(kInsertTag) != std::string::npos;
        if (!cut_ && pair.inserted && seen.find(kCommitComplete) != std::string::npos) {
            cut_ = true;
            return false;
        }
        pair.tail = seen.substr(seen.size() - std::min(seen.size(), kCommitComplete.size()));
    }
    return send_all(from_server ? pair.client : pair.server, bytes.data(), bytes.size());
}

void CommitCutter::serve()
{
    std::vector<Pair> pairs;
    const auto close_pair = [](Pair& pair) {
        close(pair.client);
        close(pair.server);
        pair.client = pair.server = -1;
    };
    for (;;) {
        std::vector<pollfd> fds{{stop_pipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Pair& pair : pairs)
            fds.insert(fds.end(), {{pair.client, POLLIN, 0}, {pair.server, POLLIN, 0}});
        if (poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0)
            break;
        for (std::size_t i = 0; i < pairs.size(); ++i)
            for (const bool from_server : {false, true})
                if (pairs[i].client >= 0 && fds[2 + 2 * i + (from_server ? 1 : 0)].revents != 0 &&
                    !relay(pairs[i], from_server))
                    close_pair(pairs[i]);
        std::erase_if(pairs, [](const Pair& pair) { return pair.client < 0; });
        if (fds[1].revents & POLLIN) {
            const int client = accept(listener_, nullptr, nullptr);
            const int server = client >= 0 ? connect_unix(socket_path_) : -1;
            if (server >= 0)
                pairs.push_back({client, server, {}, false});
            else if (client >= 0)
                close(client);
        }
    }
    for (Pair& pair : pairs)
        close_pair(pair);
}

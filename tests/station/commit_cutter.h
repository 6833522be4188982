#pragma once
// A TCP proxy on 127.0.0.1 to a PostgreSQL server's Unix socket that cuts a connection, once,
// at the moment the server confirms the COMMIT of a transaction that inserted rows: the server
// has committed them, and the client never learns it. Everything else, before and after, is
// passed through as it is.

#include <atomic>
#include <string>
#include <thread>

class CommitCutter {
public:
    explicit CommitCutter(std::string socket_path);
    ~CommitCutter();
    CommitCutter(const CommitCutter&) = delete;
    CommitCutter& operator=(const CommitCutter&) = delete;

    // The port on 127.0.0.1; 0 when the proxy could not listen.
    int port() const { return port_; }
    // True once a COMMIT's confirmation was cut.
    bool cut() const { return cut_; }

private:
    struct Pair {
        int client = -1, server = -1;
        std::string tail;      // the server's last bytes, for a message split between two reads
        bool inserted = false; // the server confirmed an INSERT on this connection
    };

    void serve();
    // Passes on what one side of the pair sent; false when the pair is to be closed.
    bool relay(Pair& pair, bool from_server);

    std::string socket_path_;
    int listener_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> cut_ = false;
    std::thread thread_;
};

// Kestrin's end of the wire, for the simulator's own tests: opens the
// simulator's pseudo-terminal (in raw mode) or connects to its TCP port on
// 127.0.0.1, sends bytes and reads what the unit answers.
//
// Interface:
//   WirePeer::openPty(path), WirePeer::connectTcp(port)
//   valid()
//   send(bytes)                  all of them, or false
//   readUntil(text, timeout)     what came up to and including text (or all that
//                                came when the time ran out); later bytes are kept
//   readFor(duration)            everything that comes within the duration
//   waitClosed(timeout)          true once the far end has gone (EOF, EIO or hang-up)
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

class WirePeer {
public:
    using Milliseconds = std::chrono::milliseconds;

    static WirePeer openPty(const std::string& path);
    static WirePeer connectTcp(std::uint16_t port);

    WirePeer(WirePeer&& other) noexcept;
    WirePeer& operator=(WirePeer&& other) noexcept;
    ~WirePeer();

    bool valid() const { return fd_ >= 0; }
    bool send(std::string_view bytes);
    std::string readUntil(std::string_view text, Milliseconds timeout);
    std::string readFor(Milliseconds duration);
    bool waitClosed(Milliseconds timeout);

private:
    explicit WirePeer(int fd) : fd_(fd) {}
    // Reads what is there within the time; false once the far end has gone.
    bool readSome(Milliseconds timeout);

    int fd_ = -1;
    std::string pending_;
    bool closed_ = false;
};

// Helpers shared by the serial port tests: pseudo-terminal pairs standing in
// for serial devices, the KESTRIN_COM<n> mapping, and waiting on the event loop.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class TApdComPort;

// Pumps the event loop until pred() holds or timeout_ms have passed; returns pred().
bool pump_until(const std::function<bool()>& pred, int timeout_ms = 5000);
// Pumps the event loop for about ms milliseconds.
void pump_for(int ms);

// Maps COM numbers to paths for the lifetime of the object; every other
// KESTRIN_COM<n> is removed, so unmapped numbers do not exist.
class ComMapping {
public:
    explicit ComMapping(const std::map<int, std::string>& ports);
    ~ComMapping();
    ComMapping(const ComMapping&) = delete;
    ComMapping& operator=(const ComMapping&) = delete;
};

// A pseudo-terminal pair: the port opens the slave path, the test plays the
// unit on the master side.
class Pty {
public:
    explicit Pty(bool unlock = true);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slave_path() const { return slave_; }
    int master() const { return master_; }
    void write(const std::string& bytes);
    // Reads exactly n bytes, or what came within timeout_ms.
    std::string read(size_t n, int timeout_ms = 3000);
    // Closes the master side: the slave's reader sees the device gone.
    void hang_up();

private:
    int master_ = -1;
    std::string slave_;
};

// Holds a device the way another program would (open and flock'ed).
class HeldElsewhere {
public:
    explicit HeldElsewhere(const std::string& path);
    ~HeldElsewhere();
    HeldElsewhere(const HeldElsewhere&) = delete;
    HeldElsewhere& operator=(const HeldElsewhere&) = delete;
    bool holding() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// What a data listener took on the reader thread, readable from the test's thread.
class Collected {
public:
    // The terminal view's way: take every waiting byte.
    void take_all(TApdComPort& port, size_t count);
    std::string text() const;

private:
    mutable std::mutex m_;
    std::string text_;
};

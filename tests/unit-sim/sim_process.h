// Runs the unit simulator (kestrin-unit-sim) as a child process for tests.
//
// The constructor starts the simulator with the given arguments and waits
// for its first event line (for --pty "pty PATH -> SLAVE", for --tcp
// "listening PORT"), so that the link is there when the constructor returns,
// or for the simulator to end without one: however long a loaded machine
// takes to start it.
// A thread reads the child's standard output (the event log, see
// tools/unit-sim/unit_protocol.h) and standard error while it runs. The
// destructor stops a simulator that is still running.
//
//   SimProcess sim({"--pty", path, "--baud", "38400"});
//   ASSERT_TRUE(sim.started()) << sim.errors();
//   ... let Kestrin talk to it ...
//   EXPECT_TRUE(sim.waitForEvent("mode loader", std::chrono::seconds(10)));
//   EXPECT_EQ(sim.stop(), 0);
//
// An event matches a pattern when it equals the pattern or begins with the
// pattern followed by a blank: "checksum" matches "checksum ok 1a2b",
// "command LOADR" matches "command LOADR" but not "command LOADRX".
// waitForEvent reads the log in order, like a conversation: each call looks
// only at the events after the one the previous successful call returned,
// so successive calls check the order of events.
//
// Interface:
//   SimProcess(args, program) program: the simulator of this build
//   started()                 the first event line arrived
//   waitForEvent(pattern, timeout)   the next matching event, or nothing once the
//                             time is up or the simulator has ended
//   events()                  every event line so far
//   errors()                  what the simulator wrote to standard error
//   tcpPort()                 the port of the "listening PORT" event (0 if none)
//   waitForExit(timeout)      the exit status once it has ended by itself
//   stop(timeout)             SIGTERM, SIGKILL after timeout; the exit status,
//                             or -1 when it had to be killed
//   control(line)             a line to the simulator's standard input (see
//                             its --control: "absent", "present")
//   pid()
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class SimProcess {
public:
    using Milliseconds = std::chrono::milliseconds;

    explicit SimProcess(const std::vector<std::string>& args, const std::string& program = defaultProgram());
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return started_; }
    std::optional<std::string> waitForEvent(std::string_view pattern, Milliseconds timeout);
    std::vector<std::string> events() const;
    std::string errors() const;
    std::uint16_t tcpPort() const;
    std::optional<int> waitForExit(Milliseconds timeout);
    int stop(Milliseconds timeout = Milliseconds(5000));
    bool control(const std::string& line);
    pid_t pid() const { return pid_; }

    static std::string defaultProgram();

private:
    void readOutput(int out_fd, int err_fd);
    bool reap(bool block);
    void joinReader();

    pid_t pid_ = -1;
    int control_fd_ = -1;
    bool started_ = false;
    std::optional<int> exit_status_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::string partial_line_;
    std::string errors_;
    bool output_ended_ = false;
    std::size_t cursor_ = 0;
    std::thread reader_;
};

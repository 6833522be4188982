#include "tests/unit-sim/sim_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr auto kReapPoll = std::chrono::milliseconds(10);

bool matches(std::string_view event, std::string_view pattern)
{
    return event.substr(0, pattern.size()) == pattern &&
           (event.size() == pattern.size() || event[pattern.size()] == ' ');
}

int exit_status_of(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

}  // namespace

std::string SimProcess::defaultProgram()
{
    return KESTRIN_UNIT_SIM_PATH;
}

SimProcess::SimProcess(const std::vector<std::string>& args, const std::string& program)
{
    int out_pipe[2];
    int err_pipe[2];
    int in_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0)
        return;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return;
    }
    if (pipe2(in_pipe, O_CLOEXEC) != 0) {
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        return;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    // The simulator must get SIGTERM and SIGINT whatever the test's threads
    // block or ignore.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t stop_signals;
    sigemptyset(&none);
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &stop_signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(in_pipe[0]);
    control_fd_ = in_pipe[1];
    if (spawned != 0) {
        pid_ = -1;
        close(out_pipe[0]);
        close(err_pipe[0]);
        return;
    }
    reader_ = std::thread([this, out = out_pipe[0], err = err_pipe[0]] { readOutput(out, err); });

    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !events_.empty() || output_ended_; });
    started_ = !events_.empty();
}

SimProcess::~SimProcess()
{
    stop();
    if (control_fd_ >= 0)
        close(control_fd_);
}

bool SimProcess::control(const std::string& line)
{
    const std::string bytes = line + "\n";
    return control_fd_ >= 0 && write(control_fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void SimProcess::readOutput(int out_fd, int err_fd)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (pollfd& entry : fds) {
            if (entry.fd < 0 || entry.revents == 0)
                continue;
            char buffer[4096];
            const ssize_t count = read(entry.fd, buffer, sizeof buffer);
            if (count <= 0) {
                close(entry.fd);
                entry.fd = -1;
                continue;
            }
            std::lock_guard lock(mutex_);
            if (&entry == &fds[1]) {
                errors_.append(buffer, static_cast<std::size_t>(count));
                continue;
            }
            partial_line_.append(buffer, static_cast<std::size_t>(count));
            for (std::size_t end; (end = partial_line_.find('\n')) != std::string::npos;) {
                events_.push_back(partial_line_.substr(0, end));
                partial_line_.erase(0, end + 1);
            }
            changed_.notify_all();
        }
    }
    for (const pollfd& entry : fds)
        if (entry.fd >= 0)
            close(entry.fd);
    std::lock_guard lock(mutex_);
    output_ended_ = true;
    changed_.notify_all();
}

std::optional<std::string> SimProcess::waitForEvent(std::string_view pattern, Milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    std::size_t next = cursor_;
    std::optional<std::string> found;
    changed_.wait_for(lock, timeout, [&] {
        for (; next < events_.size(); ++next) {
            if (matches(events_[next], pattern)) {
                found = events_[next];
                cursor_ = next + 1;
                return true;
            }
        }
        return output_ended_;
    });
    return found;
}

std::vector<std::string> SimProcess::events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

std::string SimProcess::errors() const
{
    std::lock_guard lock(mutex_);
    return errors_;
}

std::uint16_t SimProcess::tcpPort() const
{
    std::lock_guard lock(mutex_);
    for (const std::string& event : events_)
        if (matches(event, "listening"))
            return static_cast<std::uint16_t>(std::atoi(event.c_str() + 10));
    return 0;
}

// Collects the child's exit status once it has ended; true when it has.
bool SimProcess::reap(bool block)
{
    if (exit_status_ || pid_ < 0)
        return true;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != pid_)
        return false;
    exit_status_ = exit_status_of(status);
    return true;
}

std::optional<int> SimProcess::waitForExit(Milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(kReapPoll);
    }
    joinReader();
    return exit_status_;
}

int SimProcess::stop(Milliseconds timeout)
{
    if (pid_ < 0)
        return -1;
    if (!reap(false)) {
        kill(pid_, SIGTERM);
        if (!waitForExit(timeout)) {
            kill(pid_, SIGKILL);
            reap(true);
            exit_status_ = -1;
        }
    }
    joinReader();
    return *exit_status_;
}

void SimProcess::joinReader()
{
    if (reader_.joinable())
        reader_.join();
}

#include "app/stop_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace {

constexpr std::array kStopSignals = {SIGINT, SIGTERM, SIGHUP};

int pipe_ends[2] = {-1, -1};
struct sigaction previous[std::size(kStopSignals)] = {};
struct sigaction previous_pipe = {};
StopSignals* active = nullptr;

void write_signal_number(int signal)
{
    const int saved_errno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe drops the byte: a stop is already waiting to be read.
    [[maybe_unused]] const ssize_t written = write(pipe_ends[1], &byte, 1);
    errno = saved_errno;
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (pipe2(pipe_ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(pipe_ends[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::readPipe);
    struct sigaction action = {};
    action.sa_handler = write_signal_number;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        sigaction(kStopSignals[i], &action, &previous[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous_pipe);
    active = this;
}

StopSignals::~StopSignals()
{
    if (!notifier_)
        return;
    active = nullptr;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        sigaction(kStopSignals[i], &previous[i], nullptr);
    sigaction(SIGPIPE, &previous_pipe, nullptr);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    pipe_ends[0] = pipe_ends[1] = -1;
}

QString StopSignals::nameOf(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return QString("signal %1").arg(signal);
    }
}

int StopSignals::wakeFd()
{
    return active ? pipe_ends[0] : -1;
}

void StopSignals::deliverPending()
{
    if (active)
        active->readPipe();
}

void StopSignals::readPipe()
{
    unsigned char numbers[16];
    ssize_t count;
    while ((count = read(pipe_ends[0], numbers, sizeof numbers)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            emit stopRequested(numbers[i]);
}

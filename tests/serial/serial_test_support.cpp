#include "serial_test_support.h"

#include "serial/com_port.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

bool pump_until(const std::function<bool()>& pred, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void pump_for(int ms)
{
    pump_until([] { return false; }, ms);
}

namespace {

void unset_all_com_mappings()
{
    std::vector<std::string> names;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        if (entry.starts_with("KESTRIN_COM"))
            names.emplace_back(entry.substr(0, entry.find('=')));
    }
    for (const std::string& name : names)
        ::unsetenv(name.c_str());
}

}  // namespace

ComMapping::ComMapping(const std::map<int, std::string>& ports)
{
    unset_all_com_mappings();
    for (const auto& [n, path] : ports)
        ::setenv(("KESTRIN_COM" + std::to_string(n)).c_str(), path.c_str(), 1);
}

ComMapping::~ComMapping() { unset_all_com_mappings(); }

Pty::Pty(bool unlock)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || (unlock && ::unlockpt(master_) != 0))
        throw std::runtime_error("cannot make a pseudo-terminal");
    slave_ = ::ptsname(master_);
}

Pty::~Pty() { hang_up(); }

void Pty::write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            throw std::runtime_error("pseudo-terminal write failed");
        if (n > 0)
            done += static_cast<size_t>(n);
    }
}

std::string Pty::read(size_t n, int timeout_ms)
{
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        if (!(p.revents & POLLIN)) {  // no slave open yet: the master reports a hang-up
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        char buf[4096];
        ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0)
            got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

void Pty::hang_up()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

HeldElsewhere::HeldElsewhere(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

HeldElsewhere::~HeldElsewhere()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void Collected::take_all(TApdComPort& port, size_t count)
{
    std::string chunk(count, '\0');
    port.GetBlock(chunk.data(), count);
    std::lock_guard lk(m_);
    text_ += chunk;
}

std::string Collected::text() const
{
    std::lock_guard lk(m_);
    return text_;
}

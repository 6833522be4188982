#include "serial/serial_device.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::pair<int32_t, speed_t> kRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// Unix 98 pseudo-terminal slaves have the major numbers 136 to 143.
bool is_pseudo_terminal(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

bool speed_of(int32_t baud, speed_t& speed)
{
    for (auto [rate, code] : kRates) {
        if (rate == baud) {
            speed = code;
            return true;
        }
    }
    return false;
}

tcflag_t size_flag(uint16_t data_bits)
{
    switch (data_bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t parity_flags(TParity parity)
{
    switch (parity) {
    case pOdd: return PARENB | PARODD;
    case pEven: return PARENB;
    case pMark: return PARENB | PARODD | CMSPAR;
    case pSpace: return PARENB | CMSPAR;
    case pNone: break;
    }
    return 0;
}

bool lost_errno(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

void drain(int fd)
{
    char scratch[64];
    while (::read(fd, scratch, sizeof scratch) > 0) {
    }
}

}  // namespace

OpenError classify_open_errno(int err)
{
    switch (err) {
    case EBUSY:
    case EWOULDBLOCK:
    case EACCES:
        return OpenError::HeldByOther;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return OpenError::NoSuchDevice;
    default:
        return OpenError::Other;
    }
}

PosixSerialDevice::PosixSerialDevice()
{
    for (WakePipe* wake : {&reader_wake_, &writer_wake_}) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            wake->read_end = ends[0];
            wake->write_end = ends[1];
        }
    }
}

PosixSerialDevice::~PosixSerialDevice()
{
    close();
    for (WakePipe* wake : {&reader_wake_, &writer_wake_}) {
        if (wake->read_end >= 0)
            ::close(wake->read_end);
        if (wake->write_end >= 0)
            ::close(wake->write_end);
    }
}

OpenResult PosixSerialDevice::open(const std::string& path)
{
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        return {classify_open_errno(err), err};
    }
    // flock first: it holds against every other program, including ones run by
    // root, which TIOCEXCL does not stop.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        int err = errno;
        ::close(fd);
        return {classify_open_errno(err), err};
    }
    fd_ = fd;
    pseudo_terminal_ = is_pseudo_terminal(fd);
    drain(reader_wake_.read_end);
    drain(writer_wake_.read_end);
    return {};
}

bool PosixSerialDevice::apply(const LineSettings& settings)
{
    termios tio{};
    speed_t speed = 0;
    if (fd_ < 0 || !speed_of(settings.baud, speed)) {
        last_error_ = fd_ < 0 ? EBADF : EINVAL;
        return false;
    }
    if (::tcgetattr(fd_, &tio) != 0) {
        last_error_ = errno;
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | HUPCL | size_flag(settings.data_bits) | parity_flags(settings.parity);
    if (settings.stop_bits == 2)
        tio.c_cflag |= CSTOPB;
    if (settings.rts_cts)
        tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    // TCSANOW: a new rate takes effect at once, even with output still queued.
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        last_error_ = errno;
        return false;
    }
    return true;
}

PosixSerialDevice::WaitResult PosixSerialDevice::wait_for(short events, const WakePipe& wake, int timeout_ms)
{
    pollfd fds[2] = {{fd_, events, 0}, {wake.read_end, POLLIN, 0}};
    int ready = ::poll(fds, 2, timeout_ms);
    if (ready < 0)
        return errno == EINTR ? WaitResult::TimedOut : WaitResult::Error;
    if (fds[1].revents & POLLIN) {
        drain(wake.read_end);
        return WaitResult::Woken;
    }
    if (ready == 0)
        return WaitResult::TimedOut;
    if (fds[0].revents & (POLLNVAL | POLLERR))
        return WaitResult::Error;
    if (fds[0].revents & events)
        return WaitResult::Ready;
    return WaitResult::Hangup;
}

IoResult PosixSerialDevice::read(void* buf, size_t n, int timeout_ms)
{
    if (fd_ < 0)
        return {IoStatus::Lost, 0, EBADF};
    WaitResult waited = wait_for(POLLIN, reader_wake_, timeout_ms);
    if (waited == WaitResult::TimedOut || waited == WaitResult::Woken)
        return {};
    // Pending input is still read after a hang-up; only then is the device lost.
    ssize_t got = ::read(fd_, buf, n);
    if (got > 0)
        return {IoStatus::Done, static_cast<size_t>(got), 0};
    if (got < 0 && (errno == EAGAIN || errno == EINTR) && waited == WaitResult::Ready)
        return {};
    return {IoStatus::Lost, 0, got < 0 ? errno : EIO};
}

IoResult PosixSerialDevice::write(const void* buf, size_t n, int timeout_ms)
{
    if (fd_ < 0)
        return {IoStatus::Lost, 0, EBADF};
    WaitResult waited = wait_for(POLLOUT, writer_wake_, timeout_ms);
    if (waited == WaitResult::TimedOut || waited == WaitResult::Woken)
        return {};
    if (waited != WaitResult::Ready)
        return {IoStatus::Lost, 0, EIO};
    ssize_t put = ::write(fd_, buf, n);
    if (put >= 0)
        return {IoStatus::Done, static_cast<size_t>(put), 0};
    int err = errno;
    if (err == EAGAIN || err == EINTR)
        return {};
    return {lost_errno(err) ? IoStatus::Lost : IoStatus::Failed, 0, err};
}

void PosixSerialDevice::wake_reader()
{
    char one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(reader_wake_.write_end, &one, 1);
}

void PosixSerialDevice::wake_writer()
{
    char one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(writer_wake_.write_end, &one, 1);
}

size_t PosixSerialDevice::output_queued()
{
    int queued = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return static_cast<size_t>(queued);
}

ModemLines PosixSerialDevice::modem_lines()
{
    int bits = 0;
    if (fd_ < 0)
        return {};
    if (::ioctl(fd_, TIOCMGET, &bits) != 0)
        return errno == ENOTTY || errno == EINVAL ? ModemLines{true, true, true, false} : ModemLines{};
    return {(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_CAR) != 0,
            (bits & TIOCM_RNG) != 0};
}

void PosixSerialDevice::set_modem_bit(int bit, bool on)
{
    if (fd_ >= 0)
        ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);  // a pseudo-terminal has no lines to drive
}

void PosixSerialDevice::set_dtr(bool on) { set_modem_bit(TIOCM_DTR, on); }
void PosixSerialDevice::set_rts(bool on) { set_modem_bit(TIOCM_RTS, on); }

void PosixSerialDevice::purge_input()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

// A pseudo-terminal has no transmitter: what was written has already reached the program on the
// other side, which may not have read it yet. Flushing it there would cut bytes out of the
// middle of what that program receives, so only a real line's untransmitted bytes are dropped.
void PosixSerialDevice::purge_output()
{
    if (fd_ >= 0 && !pseudo_terminal_)
        ::tcflush(fd_, TCOFLUSH);
}

void PosixSerialDevice::close()
{
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

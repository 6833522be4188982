#include "tools/station/station_lock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

StationLock::~StationLock()
{
    ::close(fd_); // lets go of the lock
}

std::unique_ptr<StationLock> StationLock::take(const QString& path, QString& error)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        const ssize_t count = pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        const QString holder = QString::fromLatin1(pid, count > 0 ? static_cast<qsizetype>(count) : 0).trimmed();
        error = "another kestrin-station runs this station file" +
                (holder.isEmpty() ? QString() : " (pid " + holder + ")") + "; its lock is " + path;
        return nullptr;
    }
    const std::string own = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, own.data(), own.size(), 0) != static_cast<ssize_t>(own.size())) {
        error = path + ": " + QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<StationLock>(new StationLock(fd));
}

#include "tools/station/journal_file.h"

#include "tools/station/private_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString system_error(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all of `bytes`, through interrupted and short writes; false with errno on a failure.
bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

QString unique_journal_path(const QString& folder, const QString& unit)
{
    const QDir dir(folder);
    QString path = dir.filePath(unit + ".log");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir.filePath(QString("%1-%2.log").arg(unit).arg(n));
    return path;
}

JournalFile::~JournalFile()
{
    close();
}

bool JournalFile::open(const QString& path)
{
    return openWith(path, O_EXCL);
}

bool JournalFile::openToAppend(const QString& path)
{
    return openWith(path, O_APPEND);
}

bool JournalFile::openWith(const QString& path, int flags)
{
    close();
    path_ = path;
    error_.clear();
    if (!make_private_folders(QFileInfo(path).path())) {
        error_ = QFileInfo(path).path() + ": the folder cannot be made";
        return false;
    }
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0600);
    if (fd_ < 0)
        error_ = path + ": " + system_error(errno);
    return fd_ >= 0;
}

void JournalFile::write(std::string_view line)
{
    if (fd_ < 0 || !error_.isEmpty())
        return;
    std::string bytes(line);
    bytes += '\n';
    if (!write_all(fd_, bytes))
        error_ = path_ + ": " + system_error(errno);
}

void JournalFile::close()
{
    if (fd_ >= 0 && ::close(fd_) != 0 && error_.isEmpty())
        error_ = path_ + ": " + system_error(errno);
    fd_ = -1;
}

std::string read_journal_file(const QString& path, std::size_t limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::string text = file.read(static_cast<qint64>(limit)).toStdString();
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

#include "tools/station/private_files.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool make_private_file(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        return ::close(fd) == 0;
    return errno == EEXIST;
}

bool make_private_folders(const QString& path)
{
    const QFileInfo folder(path);
    if (folder.isDir())
        return true;
    const QString parent = folder.absolutePath();
    if (parent != folder.absoluteFilePath() && !make_private_folders(parent))
        return false;
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || (errno == EEXIST && QFileInfo(path).isDir());
}

std::optional<QString> readable_by_others(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || (info.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return std::nullopt;
    const bool folder = S_ISDIR(info.st_mode);
    return QString("%1 can be read by other users (mode %2): chmod %3 keeps it to its owner")
        .arg(path)
        .arg(info.st_mode & 07777, 4, 8, QChar('0'))
        .arg(folder ? "700" : "600");
}

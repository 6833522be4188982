#include "app/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_regular(const struct stat& info)
{
    return S_ISREG(info.st_mode);
}

} // namespace

UniqueFile open_regular_file(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !is_regular(info))
        return nullptr;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !is_regular(info) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    UniqueFile file(fdopen(fd, "rb"));
    if (!file)
        close(fd);
    return file;
}

#pragma once
// Files that are no regular files, for the tests of everything Kestrin opens: a named pipe that
// no one writes to (an ordinary open blocks on it for ever), a symbolic link to /dev/zero (a
// device that never ends) and a directory.
//
//   for (NonRegular kind : kNonRegularKinds) make_non_regular(path, kind);

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

enum class NonRegular { fifo, device, directory };

inline constexpr NonRegular kNonRegularKinds[] = {NonRegular::fifo, NonRegular::device,
                                                  NonRegular::directory};

inline const char* name_of(NonRegular kind)
{
    switch (kind) {
    case NonRegular::fifo:
        return "fifo";
    case NonRegular::device:
        return "device";
    case NonRegular::directory:
        return "directory";
    }
    return "";
}

// Puts a file of that kind at `path`, replacing whatever is there.
inline bool make_non_regular(const std::string& path, NonRegular kind)
{
    std::filesystem::remove_all(path);
    switch (kind) {
    case NonRegular::fifo:
        return mkfifo(path.c_str(), 0600) == 0;
    case NonRegular::device:
        return symlink("/dev/zero", path.c_str()) == 0;
    case NonRegular::directory:
        return std::filesystem::create_directory(path);
    }
    return false;
}

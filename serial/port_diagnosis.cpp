#include "serial/port_diagnosis.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool is_one_of(int err, std::initializer_list<int> errors)
{
    for (int candidate : errors)
        if (err == candidate)
            return true;
    return false;
}

// As ls shows them: crw-rw----
std::string permissions(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
    const char letters[] = "rwx";
    for (int bit = 8; bit >= 0; --bit)
        text += (mode & (1u << bit)) ? letters[(8 - bit) % 3] : '-';
    return text;
}

std::string holder_list(const std::vector<DeviceHolder>& holders)
{
    std::string text;
    for (const DeviceHolder& holder : holders) {
        if (!text.empty())
            text += ", ";
        text += holder.program + " (process " + std::to_string(holder.pid) + ")";
    }
    return text;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Entries of a directory; an unreadable one (another user's process) has none.
std::vector<fs::path> entries_of(const fs::path& dir)
{
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    return entries;
}

bool has_open(const fs::path& fd_dir, const struct stat& device)
{
    for (const fs::path& fd : entries_of(fd_dir)) {
        struct stat opened {};
        if (::stat(fd.c_str(), &opened) == 0 && same_file(opened, device))
            return true;
    }
    return false;
}

std::string program_of(const fs::path& process)
{
    std::string name;
    std::getline(std::ifstream(process / "comm"), name);
    return name.empty() ? "a program" : name;
}

// The name of a user or group id (getpwuid_r, getgrgid_r); the number when it has none.
template <typename Entry, typename Id>
std::string name_of(Id id, int (*lookup)(Id, Entry*, char*, size_t, Entry**), char* Entry::*name)
{
    char buffer[4096];
    Entry entry {};
    Entry* found = nullptr;
    if (lookup(id, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->*name;
    return std::to_string(id);
}

}  // namespace

std::string open_failure_reason(int os_error, const DeviceFacts& facts)
{
    const std::string device = facts.target.empty() ? facts.path : facts.path + " (" + facts.target + ")";
    if (is_one_of(os_error, {EACCES, EPERM})) {
        if ((facts.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
            return "Permission denied: " + device + " belongs to group " + facts.group +
                   ", and only its members may open it. Fix: sudo usermod -aG " + facts.group +
                   " $USER, then log in again.";
        return "Permission denied: this user may not open " + device + " (owner " + facts.owner + ", group " +
               facts.group + ", " + permissions(facts.mode) + ").";
    }
    if (is_one_of(os_error, {EBUSY, EWOULDBLOCK})) {
        if (facts.holders.empty())
            return device + " is held by another program: an exclusive open or a lock on the device holds it, "
                            "and no process that this user may look into has it open.";
        return device + " is in use by " + holder_list(facts.holders) + ".";
    }
    if (os_error == ENOTTY)
        return device + " is not a serial device.";
    if (is_one_of(os_error, {ENOENT, ENODEV, ENXIO, EIO}))
        return device + " is gone: unplugged, or removed by its driver.";
    return device + ": " + std::strerror(os_error) + ".";
}

std::vector<DeviceHolder> device_holders(const std::string& path, const fs::path& proc)
{
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0)
        return {};
    std::vector<DeviceHolder> holders;
    for (const fs::path& process : entries_of(proc)) {
        const std::string pid = process.filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid.size() > 9)
            continue;
        if (has_open(process / "fd", device))
            holders.push_back({program_of(process), static_cast<pid_t>(std::stol(pid))});
    }
    return holders;
}

std::string why_open_failed(const std::string& path, int os_error)
{
    if (path.empty() || os_error == 0)
        return {};
    DeviceFacts facts;
    facts.path = path;
    std::error_code error;
    if (fs::is_symlink(path, error)) {
        const fs::path target = fs::canonical(path, error);
        facts.target = error ? fs::read_symlink(path, error).string() : target.string();
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        facts.mode = st.st_mode;
        facts.owner = name_of(st.st_uid, ::getpwuid_r, &passwd::pw_name);
        facts.group = name_of(st.st_gid, ::getgrgid_r, &group::gr_name);
    }
    if (is_one_of(os_error, {EBUSY, EWOULDBLOCK}))
        facts.holders = device_holders(path);
    return open_failure_reason(os_error, facts);
}

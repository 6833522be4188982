// Why a serial device would not open, in words a technician can act on.
//
// Opening fails in a few ways that look alike from the port's own errors:
//  - permission denied (EACCES, EPERM): the device belongs to a group, typically
//    dialout, that this user is not in, or was added to after logging in. When
//    the group may read and write the device the fix is to join it:
//    sudo usermod -aG GROUP $USER, then log in again.
//  - held by another program (EBUSY from an exclusive open, EWOULDBLOCK from
//    its lock): the programs that have the device open are found in /proc/*/fd,
//    by name and process id; a process of another user cannot be looked into,
//    and then the text says that an exclusive open or a lock holds it.
//  - gone (ENOENT, ENODEV, ENXIO, EIO), or not a serial device (ENOTTY).
//
// This runs only after an opening has failed, so looking for the reason costs
// nothing while ports open normally (the start-up's search over all ports).
// Nothing here touches a port or a window.
//
// Interface:
//   open_failure_reason(err, facts)    the text, from the errno and what is known
//                                      of the device (pure)
//   device_holders(path, proc)         the processes that have the device open
//   why_open_failed(path, err)         looks the facts up and explains; empty
//                                      when there is nothing to say (no path or
//                                      no errno)
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

struct DeviceHolder {
    std::string program;  // its name, /proc/PID/comm
    pid_t pid = 0;
};

struct DeviceFacts {
    std::string path;    // as the COM number names it
    std::string target;  // where a symbolic link at `path` leads; empty for no link
    mode_t mode = 0;     // file type and permission bits
    std::string owner;
    std::string group;
    std::vector<DeviceHolder> holders;  // looked for only when the device is held
};

std::string open_failure_reason(int os_error, const DeviceFacts& facts);

std::vector<DeviceHolder> device_holders(const std::string& path,
                                         const std::filesystem::path& proc = "/proc");

std::string why_open_failed(const std::string& path, int os_error);

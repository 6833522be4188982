#pragma once
// One station at a time on a station file.
//
// The lock is an flock(2) on <station base name>.lock in the station folder, taken without
// waiting; the file holds the holder's process id as text. The kernel lets go of the lock when
// its holder ends however it ends (SIGKILL, a crash), so a lock that can be taken means that no
// station of this file is alive: whatever the state file says was running belonged to a station
// that is gone. The file itself stays.
//
//   StationLock::take(path, error)   the lock, or nothing and the message (another station holds
//                                    it: its pid; or the file cannot be made)

#include <QString>

#include <memory>

class StationLock {
public:
    ~StationLock();
    StationLock(const StationLock&) = delete;
    StationLock& operator=(const StationLock&) = delete;

    static std::unique_ptr<StationLock> take(const QString& path, QString& error);

private:
    explicit StationLock(int fd) : fd_(fd) {}
    int fd_;
};

#pragma once
// Times for files in tests: a local calendar time, and a file's last-write time set to it.

#include <sys/stat.h>

#include <fcntl.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>

inline std::time_t local_time(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

inline void set_write_time(const std::string& path, std::time_t time)
{
    const timespec times[2] = {{time, 0}, {time, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

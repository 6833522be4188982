// The upload header line and the image's date text over any values. The header is the five
// fields joined by single blanks and ended by one carriage return, the length in decimal and the
// checksum in lower-case hexadecimal without leading zeros. The date text of any time_t, also one
// whose year is near the end of the int range, is month/day/year_hour:minutes:seconds within the
// DOS range, with two-digit minutes and even seconds, and it is the local time itself whenever
// that lies within the range.
//
// Input: eight bytes of time, four of length, four of checksum, then the word, the address and
// the version separated by NUL bytes.

#include "fuzz/fuzz_check.h"
#include "upload/image_file.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

namespace {

template <typename T>
T take(const uint8_t*& data, size_t& size)
{
    T value{};
    const size_t n = std::min(sizeof value, size);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

std::string_view take_field(std::string_view& rest)
{
    const size_t end = rest.find('\0');
    const std::string_view field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return field;
}

std::string hex(uint32_t value)
{
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text, value, 16);
    return std::string(text, result.ptr);
}

void check_date_text(std::time_t time)
{
    const std::string text = dos_date_text(time);
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, length = 0;
    FUZZ_CHECK(std::sscanf(text.c_str(), "%d/%d/%d_%d:%d:%d%n", &month, &day, &year, &hour, &minute,
                           &second, &length) == 6);
    FUZZ_CHECK(static_cast<size_t>(length) == text.size());
    FUZZ_CHECK(month >= 1 && month <= 12 && day >= 1 && day <= 31);
    FUZZ_CHECK(year >= 1980 && year <= 2107);
    FUZZ_CHECK(hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59);
    FUZZ_CHECK(second >= 0 && second <= 58 && second % 2 == 0);
    char expected[40];
    std::snprintf(expected, sizeof expected, "%d/%d/%d_%d:%02d:%02d", month, day, year, hour, minute, second);
    FUZZ_CHECK(text == expected);

    std::tm local{};
    if (localtime_r(&time, &local) && local.tm_year >= 80 && local.tm_year <= 207) {
        std::snprintf(expected, sizeof expected, "%d/%d/%d_%d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                      local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec / 2 * 2);
        FUZZ_CHECK(text == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A zone with summer time, spelled out so that no zone file is needed.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    check_date_text(take<int64_t>(data, size));
    const int32_t length = take<int32_t>(data, size);
    const uint32_t checksum = take<uint32_t>(data, size);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view word = take_field(rest);
    const std::string_view address = take_field(rest);
    const std::string_view version = rest;
    const std::string expected = std::string(word) + " " + std::string(address) + " " + std::to_string(length) +
                                 " " + hex(checksum) + " " + std::string(version) + "\r";
    FUZZ_CHECK(upload_header_line(word, address, length, checksum, version) == expected);
    return 0;
}

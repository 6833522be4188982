// The length, checksum and date text of an image file, and the upload header line.

#include "upload/image_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <limits>

namespace {

constexpr int kFirstDosYear = 1980;
constexpr int kLastDosYear = 2107;

} // namespace

ImageFileReader::ImageFileReader(const std::string& path) : file_(open_regular_file(path)) {}

size_t ImageFileReader::read(void* buffer, size_t count)
{
    return file_ && count > 0 ? std::fread(buffer, 1, count, file_.get()) : 0;
}

bool ImageFileReader::failed() const
{
    return !file_ || std::ferror(file_.get());
}

std::optional<std::time_t> ImageFileReader::write_time() const
{
    struct stat info {};
    if (!file_ || fstat(fileno(file_.get()), &info) != 0)
        return std::nullopt;
    return info.st_mtime;
}

ImageSum sum_image_file(const std::string& path)
{
    ImageFileReader file(path);
    if (!file.is_open())
        return {};
    uint64_t length = 0;
    uint32_t sum = 0;
    unsigned char buffer[65536];
    size_t got;
    while ((got = file.read(buffer, sizeof buffer)) > 0) {
        for (size_t i = 0; i < got; ++i)
            sum += buffer[i];
        length += got;
        if (length > uint64_t{std::numeric_limits<int32_t>::max()})
            return {ImageReadResult::too_large};
    }
    if (file.failed())
        return {ImageReadResult::read_failed};
    return {ImageReadResult::ok, sum & 0xFFFFu, static_cast<int32_t>(length)};
}

std::optional<std::time_t> image_file_time(const std::string& path)
{
    return ImageFileReader(path).write_time();
}

std::string dos_date_text(std::time_t time)
{
    constexpr const char* kFirst = "1/1/1980_0:00:00";
    constexpr const char* kLast = "12/31/2107_23:59:58";
    constexpr int kTmYearBase = 1900;
    std::tm local{};
    // Only a time whose year does not fit an int fails to convert. The year is compared before
    // the 1900 is added: tm_year may lie near INT_MAX.
    if (!localtime_r(&time, &local))
        return time < 0 ? kFirst : kLast;
    if (local.tm_year < kFirstDosYear - kTmYearBase)
        return kFirst;
    if (local.tm_year > kLastDosYear - kTmYearBase)
        return kLast;
    char text[72];
    std::snprintf(text, sizeof text, "%d/%d/%d_%d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + kTmYearBase, local.tm_hour, local.tm_min, local.tm_sec / 2 * 2);
    return text;
}

std::string upload_header_line(std::string_view word, std::string_view address, int32_t length,
                               uint32_t checksum, std::string_view version)
{
    char numbers[24];
    std::snprintf(numbers, sizeof numbers, "%d %x", static_cast<int>(length),
                  static_cast<unsigned>(checksum));
    std::string line;
    line.append(word).append(" ").append(address).append(" ").append(numbers);
    line.append(" ").append(version).append("\r");
    return line;
}

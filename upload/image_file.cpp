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
    const size_t got = file_ && count > 0 ? std::fread(buffer, 1, count, file_.get()) : 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (size_t i = 0; i < got; ++i)
        sum_ += bytes[i];
    bytes_read_ += got;
    return got;
}

bool ImageFileReader::failed() const
{
    return !file_ || std::ferror(file_.get());
}

std::optional<ImageStamp> ImageFileReader::stamp() const
{
    struct stat info {};
    if (!file_ || fstat(fileno(file_.get()), &info) != 0)
        return std::nullopt;
    return ImageStamp{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                      static_cast<int64_t>(info.st_size), static_cast<int64_t>(info.st_mtim.tv_sec),
                      static_cast<int64_t>(info.st_mtim.tv_nsec)};
}

ImageSum sum_image_file(const std::string& path, const ImageBytesSeen& also)
{
    ImageFileReader file(path);
    const std::optional<ImageStamp> stamp = file.stamp();
    if (!stamp)
        return {};
    unsigned char buffer[65536];
    size_t count;
    while ((count = file.read(buffer, sizeof buffer)) > 0) {
        if (also)
            also(buffer, count);
        if (file.bytes_read() > uint64_t{std::numeric_limits<int32_t>::max()})
            return {ImageReadResult::too_large};
    }
    if (file.failed())
        return {ImageReadResult::read_failed};
    return {ImageReadResult::ok, file.checksum(), static_cast<int32_t>(file.bytes_read()), *stamp};
}

std::optional<ImageStamp> image_file_stamp(const std::string& path)
{
    return ImageFileReader(path).stamp();
}

std::optional<std::time_t> image_file_time(const std::string& path)
{
    const std::optional<ImageStamp> stamp = image_file_stamp(path);
    if (!stamp)
        return std::nullopt;
    return static_cast<std::time_t>(stamp->write_seconds);
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

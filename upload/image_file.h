#pragma once
// What the unit is told about a flash image before it is sent: its length, its checksum, its
// date text, and the upload header line that carries them; and the file opened for the transfer.
//
// An image must be a regular file: a named pipe, a device or a directory does not open (see
// app/regular_file.h), so every step that reads the image reports it as a file that cannot be
// opened and nothing ever blocks on it or reads it without end.
//
// The checksum is the plain byte sum of the whole file truncated to 16 bits (no initial value, no
// complement, no carry folding): the bytes "abc" give 0x126. The file is read whole, as raw
// bytes; a read that fails before the end (a failing disk) makes the sum worthless, and so does a
// file longer than the header's length field can say (2147483647 bytes).
//
// The date text is the file's last-write time in local time at the 2-second resolution of a DOS
// date: month/day/year_hour:minutes:seconds, month, day and hour without leading zeros, minutes
// and seconds with two digits, the seconds rounded down to even (7/4/2003_9:05:08). A time
// outside the DOS range is clamped to its ends: 1/1/1980_0:00:00 and 12/31/2107_23:59:58; any
// time_t gives a text, also one whose year is near the end of the int range.
//
// A file's stamp (device, inode, size, last-write time to the nanosecond) tells one version of
// it from another: a file rewritten in place gets a new time, a file replaced by another gets a
// new inode. The reader also sums what it reads, so the transfer can tell whether the bytes it
// sent are the bytes that were measured.
//
//   ImageFileReader(path)         the regular file open for reading raw bytes, closed when
//                                 destroyed;
//     is_open()
//     read(buffer, n)             the count read: short at the end of the file or on an error
//     failed()                    not open, or a read failed
//     bytes_read(), checksum()    how many bytes all reads gave, and their checksum
//     stamp()                     the open file's stamp
//   sum_image_file(path, also)    the file's length, checksum and stamp, or why there are none;
//                                 `also`, when given, sees every byte of the same single read
//                                 (for a digest of the bytes that were measured)
//   image_file_stamp(path)        the file's stamp; nothing when it does not open
//   image_file_time(path)         the file's last-write time; nothing when it does not open
//   dos_date_text(time)           the date text of a time
//   upload_header_line(...)       "%s %s %d %x %s\r": word, address, length in decimal,
//                                 checksum in lower-case hex without leading zeros, version

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/regular_file.h"

struct ImageStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t write_seconds = 0; // last-write time since the epoch
    int64_t write_nanoseconds = 0;

    bool operator==(const ImageStamp&) const = default;
};

class ImageFileReader {
public:
    explicit ImageFileReader(const std::string& path);

    bool is_open() const { return file_ != nullptr; }
    size_t read(void* buffer, size_t count);
    bool failed() const;
    uint64_t bytes_read() const { return bytes_read_; }
    uint32_t checksum() const { return sum_ & 0xFFFFu; }
    std::optional<ImageStamp> stamp() const;

private:
    UniqueFile file_;
    uint64_t bytes_read_ = 0;
    uint32_t sum_ = 0;
};

enum class ImageReadResult { ok, cannot_open, read_failed, too_large };

struct ImageSum {
    ImageReadResult result = ImageReadResult::cannot_open;
    uint32_t checksum = 0; // 0..65535
    int32_t length = 0;
    ImageStamp stamp{}; // taken before the file is read
};

using ImageBytesSeen = std::function<void(const unsigned char* bytes, size_t count)>;

ImageSum sum_image_file(const std::string& path, const ImageBytesSeen& also = {});

std::optional<ImageStamp> image_file_stamp(const std::string& path);

std::optional<std::time_t> image_file_time(const std::string& path);

std::string dos_date_text(std::time_t time);

std::string upload_header_line(std::string_view word, std::string_view address, int32_t length,
                               uint32_t checksum, std::string_view version);

// The image file's checksum, length and date text, and the upload header line.

#include "upload/image_file.h"

#include "tests/support/file_times.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

TEST(ImageChecksum, IsThePlainByteSumTruncatedTo16Bits)
{
    TempWorkDir dir;
    ImageSum sum = sum_image_file(dir.write("abc.bin", "abc"));
    EXPECT_EQ(sum.result, ImageReadResult::ok);
    EXPECT_EQ(sum.checksum, 0x126u);
    EXPECT_EQ(sum.length, 3);

    // 70000 bytes of 0xFF... and every byte value, so no sign extension creeps in.
    std::string bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += static_cast<char>(i & 0xFF);
    sum = sum_image_file(dir.write("big.bin", bytes));
    EXPECT_EQ(sum.length, 70000);
    uint32_t expected = 0;
    for (unsigned char b : bytes)
        expected += b;
    EXPECT_EQ(sum.checksum, expected & 0xFFFFu);
}

TEST(ImageChecksum, AnEmptyFileGivesZeroAndZero)
{
    TempWorkDir dir;
    const ImageSum sum = sum_image_file(dir.write("empty.bin", ""));
    EXPECT_EQ(sum.result, ImageReadResult::ok);
    EXPECT_EQ(sum.checksum, 0u);
    EXPECT_EQ(sum.length, 0);
}

TEST(ImageChecksum, SaysWhyThereIsNone)
{
    TempWorkDir dir;
    EXPECT_EQ(sum_image_file(dir.path("missing.bin")).result, ImageReadResult::cannot_open);
}

// A pipe would block the open and a device would never end: neither is an image.
TEST(ImageFile, APipeADeviceOrADirectoryDoesNotOpenForAnyStep)
{
    TempWorkDir dir;
    const std::string path = dir.path("odd.bin");
    for (NonRegular kind : kNonRegularKinds) {
        SCOPED_TRACE(name_of(kind));
        ASSERT_TRUE(make_non_regular(path, kind));
        EXPECT_FALSE(ImageFileReader(path).is_open());
        EXPECT_EQ(sum_image_file(path).result, ImageReadResult::cannot_open);
        EXPECT_FALSE(image_file_time(path));
    }
}

TEST(ImageFileReader, ReadsRawBytesAndComesUpShortAtTheEnd)
{
    TempWorkDir dir;
    ImageFileReader reader(dir.write("image.bin", std::string("a\r\n\x1a\0z", 6)));
    ASSERT_TRUE(reader.is_open());
    char buffer[16];
    EXPECT_EQ(reader.read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "a\r\n\x1a");
    EXPECT_EQ(reader.read(buffer, 16), 2u);
    EXPECT_EQ(reader.read(buffer, 16), 0u);
    EXPECT_FALSE(reader.failed());
    EXPECT_FALSE(ImageFileReader(dir.path("missing.bin")).is_open());
}

TEST(ImageDate, IsTheLocalWriteTimeWithoutLeadingZerosAndEvenSeconds)
{
    EXPECT_EQ(dos_date_text(local_time(2003, 7, 4, 9, 5, 8)), "7/4/2003_9:05:08");
    EXPECT_EQ(dos_date_text(local_time(2003, 7, 4, 9, 5, 9)), "7/4/2003_9:05:08");
    EXPECT_EQ(dos_date_text(local_time(1999, 12, 31, 23, 59, 59)), "12/31/1999_23:59:58");
    EXPECT_EQ(dos_date_text(local_time(2024, 1, 2, 0, 0, 1)), "1/2/2024_0:00:00");
}

TEST(ImageDate, OutsideTheDosRangeIsClampedToItsEnds)
{
    EXPECT_EQ(dos_date_text(local_time(1980, 1, 1, 0, 0, 0)), "1/1/1980_0:00:00");
    EXPECT_EQ(dos_date_text(local_time(1979, 12, 31, 23, 59, 58)), "1/1/1980_0:00:00");
    EXPECT_EQ(dos_date_text(0), "1/1/1980_0:00:00");
    EXPECT_EQ(dos_date_text(local_time(2107, 12, 31, 23, 59, 59)), "12/31/2107_23:59:58");
    EXPECT_EQ(dos_date_text(local_time(2108, 1, 1, 0, 0, 0)), "12/31/2107_23:59:58");
    EXPECT_EQ(dos_date_text(std::numeric_limits<std::time_t>::max()), "12/31/2107_23:59:58");
    EXPECT_EQ(dos_date_text(std::numeric_limits<std::time_t>::min()), "1/1/1980_0:00:00");
}

TEST(ImageDate, AYearNearTheEndOfTheIntRangeIsClampedWithoutOverflow)
{
    // Times whose tm_year lies within 1900 of INT_MAX, and the first time that no tm holds.
    constexpr std::time_t kAverageYear = 31556952;
    for (long long years_before_end : {1000LL, 100LL, 1LL}) {
        const std::time_t time =
            (std::numeric_limits<int>::max() - years_before_end + 1900LL - 1970LL) * kAverageYear;
        EXPECT_EQ(dos_date_text(time), "12/31/2107_23:59:58");
        EXPECT_EQ(dos_date_text(-time), "1/1/1980_0:00:00");
    }
}

TEST(ImageDate, ComesFromTheFilesLastWriteTime)
{
    TempWorkDir dir;
    const std::string path = dir.write("image.bin", "abc");
    set_write_time(path, local_time(2003, 7, 4, 9, 5, 8));
    const std::optional<std::time_t> written = image_file_time(path);
    ASSERT_TRUE(written);
    EXPECT_EQ(dos_date_text(*written), "7/4/2003_9:05:08");
    EXPECT_FALSE(image_file_time(dir.path("missing.bin")));
}

TEST(UploadHeader, JoinsTheFiveFieldsWithSingleBlanksAndEndsInACarriageReturn)
{
    EXPECT_EQ(upload_header_line("LF", "0x10000", 1234, 0x1A2B, "V1.0"),
              "LF 0x10000 1234 1a2b V1.0\r");
    EXPECT_EQ(upload_header_line("LF", "0x0", 0, 0, "7/4/2003_9:05:08"), "LF 0x0 0 0 7/4/2003_9:05:08\r");
    EXPECT_EQ(upload_header_line("", "0x10000", 1234, 0x1170, "V1.0"), " 0x10000 1234 1170 V1.0\r");
    EXPECT_EQ(upload_header_line("LF", "", 2147483647, 0xFFFF, ""), "LF  2147483647 ffff \r");
}

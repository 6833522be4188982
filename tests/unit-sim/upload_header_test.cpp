#include "tools/unit-sim/upload_header.h"

#include <gtest/gtest.h>

#include <string>

using unit_sim::begins_with_word;
using unit_sim::byte_sum16;
using unit_sim::parse_upload_header;

TEST(UploadHeader, TakesTheFiveFieldsKestrinSends)
{
    const auto header = parse_upload_header("LF 0x10000 1234 1a2b 7/4/2003_9:05:08", "LF");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->word, "LF");
    EXPECT_EQ(header->address, "0x10000");
    EXPECT_EQ(header->length, 1234u);
    EXPECT_EQ(header->checksum, 0x1a2b);
    EXPECT_EQ(header->checksum_text, "1a2b");
    EXPECT_EQ(header->version, "7/4/2003_9:05:08");
}

TEST(UploadHeader, TakesTheLimitsOfLengthAndChecksum)
{
    const auto empty = parse_upload_header("LF 0 0 0 V", "LF");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->length, 0u);
    EXPECT_EQ(empty->checksum, 0);
    const auto largest = parse_upload_header("UP a 2147483647 ffff V", "UP");
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->length, 2147483647u);
    EXPECT_EQ(largest->checksum, 0xffff);
}

TEST(UploadHeader, RefusesEveryMalformedLine)
{
    for (const char* line : {
             "",                          // empty
             "LF",                        // word alone
             "LF 0x10000 1234 1a2b",      // short
             "LF 0x10000 1234 1a2b V X",  // long
             "LF  0x10000 1234 1a2b V",   // two blanks make an empty field
             "LF 0x10000 1234 1a2b V ",   // trailing blank
             " LF 0x10000 1234 1a2b V",   // leading blank
             "LX 0x10000 1234 1a2b V",    // another word
             "LF 0x10000 -1 1a2b V",      // length not decimal
             "LF 0x10000 12a 1a2b V",
             "LF 0x10000 2147483648 1a2b V",  // beyond a signed 32-bit length
             "LF 0x10000 99999999999 1a2b V",
             "LF 0x10000 1234 1A2B V",    // upper-case hex
             "LF 0x10000 1234 12345 V",   // more than 16 bits
             "LF 0x10000 1234 0x1a V",
         }) {
        EXPECT_FALSE(parse_upload_header(line, "LF")) << '"' << line << '"';
    }
}

TEST(UploadHeader, FirstWordMustBeTheWholeWord)
{
    EXPECT_TRUE(begins_with_word("LF", "LF"));
    EXPECT_TRUE(begins_with_word("LF rest", "LF"));
    EXPECT_FALSE(begins_with_word("LFX rest", "LF"));
    EXPECT_FALSE(begins_with_word("L", "LF"));
    EXPECT_FALSE(begins_with_word(" LF", "LF"));
}

TEST(ByteSum, IsThePlainByteSumTruncatedTo16Bits)
{
    std::string image(1234, static_cast<char>(56));  // 69104
    for (std::size_t i = 0; i < 896; ++i)
        image[i] = static_cast<char>(57);  // 70000 in all
    EXPECT_EQ(byte_sum16(image), 0x1170);
    EXPECT_EQ(byte_sum16(image.substr(700), byte_sum16(image.substr(0, 700))), 0x1170);
    EXPECT_EQ(byte_sum16("abc"), 0x126);
    EXPECT_EQ(byte_sum16("\xff\xff"), 0x1fe);  // bytes count as 0 to 255
    EXPECT_EQ(byte_sum16(""), 0);
}

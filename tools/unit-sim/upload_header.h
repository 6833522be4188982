// The upload header and the image checksum.
//
// In loader mode the unit takes a line of exactly five fields separated by
// single blanks as the announcement of a flash image:
//
//     LF 0x10000 1234 1a2b 7/4/2003_9:05:08
//     word address length checksum version
//
// The word is the unit's upload word (LF unless configured otherwise), the
// address and the version are free texts without blanks, the length is a
// decimal byte count (0 to 2147483647) and the checksum is the 16-bit sum of
// all image bytes in lower-case hexadecimal (one to four digits). The
// checksum is the plain byte sum truncated to 16 bits: no complement, no
// carry folding, so the bytes "abc" give 126.
//
// Interface:
//   parse_upload_header(line, word)  the header, or nothing when the line is
//                                    not a well-formed header for that word
//   begins_with_word(line, word)     whether the line's first blank-separated
//                                    field is exactly word
//   byte_sum16(bytes, sum)           sum plus the bytes, modulo 65536
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace unit_sim {

struct UploadHeader {
    std::string word;
    std::string address;
    std::uint32_t length = 0;
    std::uint16_t checksum = 0;
    std::string checksum_text;  // as the header wrote it
    std::string version;
};

std::optional<UploadHeader> parse_upload_header(std::string_view line, std::string_view word);

bool begins_with_word(std::string_view line, std::string_view word);

std::uint16_t byte_sum16(std::string_view bytes, std::uint16_t sum = 0);

}  // namespace unit_sim

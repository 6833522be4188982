#include "tools/unit-sim/upload_header.h"

#include <array>

namespace unit_sim {
namespace {

constexpr std::size_t kFieldCount = 5;
constexpr std::uint32_t kMaxLength = 2147483647;

// Splits on single blanks; fails on any other count of fields or on an empty
// field, which is what two blanks in a row or a blank at either end make.
std::optional<std::array<std::string_view, kFieldCount>> split_fields(std::string_view line)
{
    std::array<std::string_view, kFieldCount> fields;
    std::size_t count = 0;
    while (true) {
        const std::size_t blank = line.find(' ');
        const std::string_view field = line.substr(0, blank);
        if (field.empty() || count == kFieldCount)
            return std::nullopt;
        fields[count++] = field;
        if (blank == std::string_view::npos)
            break;
        line.remove_prefix(blank + 1);
    }
    if (count != kFieldCount)
        return std::nullopt;
    return fields;
}

std::optional<std::uint32_t> parse_length(std::string_view text)
{
    if (text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > kMaxLength)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint16_t> parse_checksum(std::string_view text)
{
    if (text.size() > 4)
        return std::nullopt;
    std::uint16_t value = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

}  // namespace

bool begins_with_word(std::string_view line, std::string_view word)
{
    return line.substr(0, line.find(' ')) == word;
}

std::optional<UploadHeader> parse_upload_header(std::string_view line, std::string_view word)
{
    const auto fields = split_fields(line);
    if (!fields || (*fields)[0] != word)
        return std::nullopt;
    const auto length = parse_length((*fields)[2]);
    const auto checksum = parse_checksum((*fields)[3]);
    if (!length || !checksum)
        return std::nullopt;
    UploadHeader header;
    header.word = std::string((*fields)[0]);
    header.address = std::string((*fields)[1]);
    header.length = *length;
    header.checksum = *checksum;
    header.checksum_text = std::string((*fields)[3]);
    header.version = std::string((*fields)[4]);
    return header;
}

std::uint16_t byte_sum16(std::string_view bytes, std::uint16_t sum)
{
    for (const char c : bytes)
        sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
    return sum;
}

}  // namespace unit_sim

// The argument forms and escapes of a script command line.

#include "script/script_args.h"

#include <limits>

std::optional<std::string_view> quoted_text(std::string_view line)
{
    const size_t quote = line.find('"');
    if (quote == std::string_view::npos || quote + 1 == line.size())
        return std::nullopt;
    // The quote is not the last character, so the line has a last character to drop.
    return line.substr(quote + 1, line.size() - quote - 2);
}

std::optional<char> first_char_after_quote(std::string_view line)
{
    const size_t quote = line.find('"');
    if (quote == std::string_view::npos)
        return std::nullopt;
    return quote + 1 < line.size() ? line[quote + 1] : '\0';
}

std::optional<std::string_view> word_argument(std::string_view line)
{
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const size_t start = line.find_first_not_of(' ', blank);
    return start == std::string_view::npos ? std::string_view{} : line.substr(start);
}

std::optional<CompareArgument> compare_argument(std::string_view line)
{
    const size_t open = line.find('"');
    if (open == std::string_view::npos)
        return std::nullopt;
    const size_t close = line.find('"', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    const size_t command = line.find_first_not_of(' ', close + 1);
    return CompareArgument{line.substr(open + 1, close - open - 1),
                           command == std::string_view::npos ? std::string_view{}
                                                             : line.substr(command)};
}

namespace {

// Every pair `first` `second` becomes the one character `with`, left to right.
std::string replace_pairs(std::string_view text, char first, char second, char with)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == first && i + 1 < text.size() && text[i + 1] == second) {
            out += with;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string replace_caret_m(std::string_view text, char with)
{
    return replace_pairs(text, '^', 'M', with);
}

std::string replace_line_escapes(std::string_view text)
{
    return replace_pairs(replace_pairs(text, '\\', 'r', '\r'), '\\', 'n', '\n');
}

int32_t leading_integer(std::string_view word)
{
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-'))
        negative = word[i++] == '-';
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (word[i] - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    if (negative)
        return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude == limit ? limit - 1 : magnitude);
}

std::string upper_ascii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

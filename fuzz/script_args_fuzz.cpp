// The argument forms of a script command line over any line: each form finds its text exactly
// where app's rules put it (script/script_args.h), as a view into the line itself; the escapes
// and conversions keep their counts and ranges.

#include "fuzz/fuzz_check.h"
#include "script/script_args.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace {

constexpr auto npos = std::string_view::npos;

bool ends_the_line(std::string_view part, std::string_view line)
{
    return part.data() + part.size() == line.data() + line.size();
}

void check_quoted_forms(std::string_view line)
{
    const std::size_t quote = line.find('"');
    const auto text = quoted_text(line);
    if (quote == npos || quote + 1 == line.size()) {
        FUZZ_CHECK(!text);
    } else {
        FUZZ_CHECK(text);
        FUZZ_CHECK(text->data() == line.data() + quote + 1);
        FUZZ_CHECK(text->size() == line.size() - quote - 2); // the last character is dropped
    }
    const auto first = first_char_after_quote(line);
    FUZZ_CHECK(first.has_value() == (quote != npos));
    if (first)
        FUZZ_CHECK(*first == (quote + 1 < line.size() ? line[quote + 1] : '\0'));
}

void check_word(std::string_view line)
{
    const std::size_t blank = line.find(' ');
    const auto word = word_argument(line);
    FUZZ_CHECK(word.has_value() == (blank != npos));
    if (!word)
        return;
    if (word->empty()) {
        FUZZ_CHECK(line.find_first_not_of(' ', blank) == npos);
        return;
    }
    FUZZ_CHECK(word->front() != ' ');
    FUZZ_CHECK(ends_the_line(*word, line));
    const std::size_t start = static_cast<std::size_t>(word->data() - line.data());
    FUZZ_CHECK(start > blank);
    FUZZ_CHECK(line.substr(blank, start - blank).find_first_not_of(' ') == npos);
}

void check_caret_m(std::string_view line)
{
    std::size_t pairs = 0;
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        if (line[i] == '^' && line[i + 1] == 'M')
            ++pairs, ++i;
    const std::string replaced = replace_caret_m(line, '\r');
    FUZZ_CHECK(replaced.size() == line.size() - pairs);
    FUZZ_CHECK(replaced.find("^M") == std::string::npos);
    FUZZ_CHECK(std::ranges::count(replaced, '\r') == std::ranges::count(line, '\r') + static_cast<std::ptrdiff_t>(pairs));
}

// The leading integer as a plain reading of sign and digits, with the int32 range as its ends.
int32_t expected_integer(std::string_view word)
{
    std::size_t i = 0;
    const bool negative = !word.empty() && word[0] == '-';
    if (!word.empty() && (word[0] == '-' || word[0] == '+'))
        ++i;
    long double value = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i)
        value = std::min<long double>(value * 10 + (word[i] - '0'), 1e12L);
    if (negative)
        value = -value;
    value = std::clamp<long double>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(value);
}

void check_upper(std::string_view line)
{
    const std::string upper = upper_ascii(line);
    FUZZ_CHECK(upper.size() == line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        FUZZ_CHECK(upper[i] == (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    check_quoted_forms(line);
    check_word(line);
    check_caret_m(line);
    FUZZ_CHECK(leading_integer(line) == expected_integer(line));
    if (const auto word = word_argument(line))
        FUZZ_CHECK(leading_integer(*word) == expected_integer(*word));
    check_upper(line);
    return 0;
}

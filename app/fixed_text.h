#pragma once
// Fixed-size text fields.
//
// The system's texts live in fixed arrays of single-byte characters holding NUL-terminated text
// (`cmd_buf` of 400 bytes holds at most 399 characters, and so on). These helpers are the only way
// the code writes into such a field: a text that does not fit is cut at the field's limit and the
// field always stays terminated.

#include <cstddef>
#include <cstring>
#include <string_view>

template <std::size_t N>
void set_text(char (&field)[N], std::string_view text)
{
    static_assert(N > 0);
    const std::size_t count = text.size() < N - 1 ? text.size() : N - 1;
    if (count > 0)
        std::memmove(field, text.data(), count);
    field[count] = '\0';
}

template <std::size_t N>
std::string_view text_of(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// True when `text` fits into the field without being cut.
template <std::size_t N>
constexpr bool fits(const char (&)[N], std::string_view text)
{
    return text.size() <= N - 1;
}

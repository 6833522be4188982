#pragma once
// The argument forms and escapes of a script command line.
//
// A command line is the text from its `_` up to, not including, its line feed; its first three
// characters are the keyword, and the argument is found by one of two forms, never by position:
//
//   quoted text   after the line's first double quote, up to the end of the line less the
//                 line's last character (which the script writes as the closing quote; it is
//                 dropped whatever it is). A line whose first quote is its last character has
//                 no text at all, like a line without a quote.
//   word          after the line's first blank, further blanks skipped, to the end of the line,
//                 taken unchanged (blanks inside and at the end kept, quotes kept). A line that
//                 has a blank but nothing after its blanks gives the empty word.
//
// A command whose form finds nothing (no quote, no text, no blank) does nothing.
//
//   quoted_text(line)               the quoted text, or nothing
//   first_char_after_quote(line)    the character right after the first quote ('\0' when the
//                                   quote ends the line), or nothing without a quote (_PC)
//   word_argument(line)             the word, or nothing
//   replace_caret_m(text, with)     every "^M" pair becomes the one character `with`, left to
//                                   right, the rest closing up behind it
//   leading_integer(word)           the leading decimal integer (optional sign, then digits);
//                                   0 without digits; saturates at the int32 range
//   upper_ascii(text)               the letters a..z upper-cased, every other byte unchanged

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::optional<std::string_view> quoted_text(std::string_view line);
std::optional<char> first_char_after_quote(std::string_view line);
std::optional<std::string_view> word_argument(std::string_view line);
std::string replace_caret_m(std::string_view text, char with);
int32_t leading_integer(std::string_view word);
std::string upper_ascii(std::string_view text);

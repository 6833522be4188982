#pragma once
// The argument forms and escapes of a script command line.
//
// A command line is the text from its `_` up to, not including, its line feed; its first three
// characters are the keyword, and the argument is found by one of three forms, never by position:
//
//   quoted text   after the line's first double quote, up to the end of the line less the
//                 line's last character (which the script writes as the closing quote; it is
//                 dropped whatever it is). A line whose first quote is its last character has
//                 no text at all, like a line without a quote.
//   word          after the line's first blank, further blanks skipped, to the end of the line,
//                 taken unchanged (blanks inside and at the end kept, quotes kept). A line that
//                 has a blank but nothing after its blanks gives the empty word.
//   compare text  the characters between the line's first quote and the next quote; the
//   and command   command is what follows that closing quote, leading blanks skipped. A line
//                 without the closing quote has neither, like a line without a quote: a text
//                 that ran to the end of the line would leave no command to carry out.
//
// A command whose form finds nothing (no quote, no text, no blank) does nothing.
//
//   quoted_text(line)               the quoted text, or nothing
//   first_char_after_quote(line)    the character right after the first quote ('\0' when the
//                                   quote ends the line), or nothing without a quote (_PC)
//   word_argument(line)             the word, or nothing
//   compare_argument(line)          the compare text and the command, or nothing
//   replace_caret_m(text, with)     every "^M" pair becomes the one character `with`, left to
//                                   right, the rest closing up behind it
//   replace_line_escapes(text)      every backslash-r pair becomes a carriage return over the
//                                   whole text; then, in a second pass, every backslash-n pair
//                                   a line feed
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

struct CompareArgument {
    std::string_view text;
    std::string_view command; // empty when nothing follows the closing quote
};
std::optional<CompareArgument> compare_argument(std::string_view line);

std::string replace_caret_m(std::string_view text, char with);
std::string replace_line_escapes(std::string_view text);
int32_t leading_integer(std::string_view word);
std::string upper_ascii(std::string_view text);

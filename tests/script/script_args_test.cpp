// The argument forms and escapes of a command line.

#include "script/script_args.h"

#include <gtest/gtest.h>

TEST(QuotedText, RunsFromTheFirstQuoteToTheLineLessItsLastCharacter)
{
    EXPECT_EQ(quoted_text("_SC \"VER\""), "VER");
    EXPECT_EQ(quoted_text("_SC\"\""), "");
    EXPECT_EQ(quoted_text("_DM \"say \"hi\"\""), "say \"hi\"");
    // Blanks after the closing quote: the quote joins the text and only the last blank goes.
    EXPECT_EQ(quoted_text("_SC \"AB\"  "), "AB\" ");
    // No closing quote at all: the last character is dropped whatever it is.
    EXPECT_EQ(quoted_text("_SC \"ABC"), "AB");
}

TEST(QuotedText, IsMissingWithoutAQuoteOrWhenTheQuoteEndsTheLine)
{
    EXPECT_FALSE(quoted_text("_SC VER"));
    EXPECT_FALSE(quoted_text("_SC \""));
    EXPECT_FALSE(quoted_text(""));
}

TEST(QuotedCharacter, IsTheCharacterAfterTheFirstQuote)
{
    EXPECT_EQ(first_char_after_quote("_PC \"]\""), ']');
    EXPECT_EQ(first_char_after_quote("_PC \"]>\""), ']');
    EXPECT_EQ(first_char_after_quote("_PC \""), '\0');
    EXPECT_FALSE(first_char_after_quote("_PC ]"));
}

TEST(WordArgument, BeginsAfterTheFirstBlankAndItsFollowersAndKeepsTheRest)
{
    EXPECT_EQ(word_argument("_LF image.bin"), "image.bin");
    EXPECT_EQ(word_argument("_LF    my image.bin  "), "my image.bin  ");
    EXPECT_EQ(word_argument("_LF \"quoted\""), "\"quoted\"");
    EXPECT_EQ(word_argument("_LT "), "");
    EXPECT_EQ(word_argument("_LT    "), "");
    EXPECT_FALSE(word_argument("_LFimage.bin"));
    EXPECT_FALSE(word_argument(""));
}

TEST(CaretM, EachPairBecomesOneCharacterLeftToRight)
{
    EXPECT_EQ(replace_caret_m("AB^MCD", '\r'), "AB\rCD");
    EXPECT_EQ(replace_caret_m("^M^M", '\r'), "\r\r");
    EXPECT_EQ(replace_caret_m("^^MM", ' '), "^ M");
    EXPECT_EQ(replace_caret_m("^m ^ M^", '\r'), "^m ^ M^");
    EXPECT_EQ(replace_caret_m("", '\r'), "");
}

TEST(LeadingInteger, ReadsAnOptionalSignAndDigits)
{
    EXPECT_EQ(leading_integer("10"), 10);
    EXPECT_EQ(leading_integer("-4"), -4);
    EXPECT_EQ(leading_integer("+7s"), 7);
    EXPECT_EQ(leading_integer("12 34"), 12);
    EXPECT_EQ(leading_integer("x12"), 0);
    EXPECT_EQ(leading_integer("-"), 0);
    EXPECT_EQ(leading_integer(""), 0);
}

TEST(LeadingInteger, SaturatesAtTheInt32Range)
{
    EXPECT_EQ(leading_integer("2147483647"), 2147483647);
    EXPECT_EQ(leading_integer("99999999999999999999"), 2147483647);
    EXPECT_EQ(leading_integer("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(leading_integer("-99999999999999999999"), -2147483647 - 1);
}

TEST(UpperAscii, UpperCasesOnlyTheLettersAToZ)
{
    EXPECT_EQ(upper_ascii("date"), "DATE");
    EXPECT_EQ(upper_ascii("v1.0-rc_b"), "V1.0-RC_B");
    EXPECT_EQ(upper_ascii("\xe9t\xe9"), "\xe9T\xe9");
}

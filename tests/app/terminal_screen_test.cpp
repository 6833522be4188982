// The terminal's teletype emulation: cursor movement, wrapping, scrolling into the
// scroll-back and the limit of 100 held rows.
#include "app/terminal_screen.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int kColumns = TerminalScreen::kColumns;
constexpr int kRows = TerminalScreen::kVisibleRows;

std::string Trimmed(std::string_view row)
{
    const auto end = row.find_last_not_of(' ');
    return std::string(row.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

std::string Line(int n)
{
    return "line " + std::to_string(n);
}

// Writes lines 0 .. count-1, each ended by CR LF.
void WriteLines(TerminalScreen& screen, int count)
{
    for (int n = 0; n < count; ++n)
        screen.Write(Line(n) + "\r\n");
}

TEST(TerminalScreen, EveryByteFrom32UpIsWrittenAsItIs)
{
    TerminalScreen screen;
    screen.Write("ab \x7f\xe9\xff");
    EXPECT_EQ(screen.VisibleRow(0).substr(0, 6), "ab \x7f\xe9\xff");
    EXPECT_EQ(screen.CursorColumn(), 6);
}

TEST(TerminalScreen, LastColumnWrapsOnlyWithTheNextPrintable)
{
    TerminalScreen screen;
    screen.Write(std::string(kColumns - 1, 'a') + "Z");
    EXPECT_EQ(screen.CursorRow(), 0);
    EXPECT_EQ(screen.CursorColumn(), kColumns - 1);
    EXPECT_EQ(screen.VisibleRow(0).back(), 'Z');

    screen.Put('b');
    EXPECT_EQ(screen.VisibleRow(0).back(), 'Z');
    EXPECT_EQ(Trimmed(screen.VisibleRow(1)), "b");
    EXPECT_EQ(screen.CursorRow(), 1);
    EXPECT_EQ(screen.CursorColumn(), 1);
}

TEST(TerminalScreen, CursorMovesCancelAPendingWrap)
{
    TerminalScreen full_then_crlf;
    full_then_crlf.Write(std::string(kColumns, 'a') + "\r\nb");
    EXPECT_EQ(Trimmed(full_then_crlf.VisibleRow(1)), "b"); // no blank row between

    TerminalScreen full_then_lf;
    full_then_lf.Write(std::string(kColumns, 'a') + "\nb");
    EXPECT_EQ(full_then_lf.CursorRow(), 1);
    EXPECT_EQ(full_then_lf.VisibleRow(1).back(), 'b');

    TerminalScreen full_then_bs;
    full_then_bs.Write(std::string(kColumns, 'a') + "\bZ");
    EXPECT_EQ(full_then_bs.CursorRow(), 0);
    EXPECT_EQ(full_then_bs.VisibleRow(0)[kColumns - 2], 'Z');
}

TEST(TerminalScreen, WrapOnTheBottomRowScrolls)
{
    TerminalScreen screen;
    screen.Write("top\r" + std::string(kRows - 1, '\n'));
    screen.Write(std::string(kColumns + 1, 'x'));
    EXPECT_EQ(screen.ScrollbackSize(), 1);
    EXPECT_EQ(Trimmed(screen.ScrollbackRow(0)), "top");
    EXPECT_EQ(screen.VisibleRow(kRows - 2), std::string(kColumns, 'x'));
    EXPECT_EQ(Trimmed(screen.VisibleRow(kRows - 1)), "x");
    EXPECT_EQ(screen.CursorRow(), kRows - 1);
    EXPECT_EQ(screen.CursorColumn(), 1);
}

TEST(TerminalScreen, CarriageReturnAndLineFeed)
{
    TerminalScreen screen;
    screen.Write("hello\rJ");
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), "Jello"); // CR erases nothing
    screen.Write("abc\nd");
    EXPECT_EQ(Trimmed(screen.VisibleRow(1)), "    d"); // LF keeps the column
    EXPECT_EQ(screen.CursorRow(), 1);
    EXPECT_EQ(screen.CursorColumn(), 5);
}

TEST(TerminalScreen, LineFeedOnTheBottomRowMovesTheTopRowIntoTheScrollback)
{
    TerminalScreen screen;
    WriteLines(screen, kRows);
    EXPECT_EQ(screen.ScrollbackSize(), 1);
    EXPECT_EQ(Trimmed(screen.ScrollbackRow(0)), Line(0));
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), Line(1));
    EXPECT_EQ(Trimmed(screen.VisibleRow(kRows - 2)), Line(kRows - 1));
    EXPECT_EQ(Trimmed(screen.VisibleRow(kRows - 1)), "");
    EXPECT_EQ(screen.CursorRow(), kRows - 1);
    EXPECT_EQ(screen.HeldRow(0), screen.ScrollbackRow(0));
    EXPECT_EQ(screen.HeldRow(1), screen.VisibleRow(0));
}

TEST(TerminalScreen, HoldsOneHundredRowsAndDropsTheOldestFirst)
{
    TerminalScreen screen;
    WriteLines(screen, 250);
    EXPECT_EQ(screen.ScrollbackSize(), TerminalScreen::kScrollbackLimit);
    EXPECT_EQ(screen.HeldRowCount(), TerminalScreen::kHeldRows);
    // Line 249's CR LF leaves the cursor on a blank bottom row.
    const int oldest_kept = 249 - (TerminalScreen::kHeldRows - 2);
    for (int index = 0; index < TerminalScreen::kHeldRows - 1; ++index)
        ASSERT_EQ(Trimmed(screen.HeldRow(index)), Line(oldest_kept + index)) << index;
    EXPECT_EQ(screen.VisibleRow(kRows - 1), std::string(kColumns, ' '));
}

TEST(TerminalScreen, BackspaceMovesLeftWithoutErasingAndStopsAtTheFirstColumn)
{
    TerminalScreen screen;
    screen.Write("abc\b\b");
    EXPECT_EQ(screen.CursorColumn(), 1);
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), "abc");
    screen.Write("\b\b\b\bX");
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), "Xbc");
    screen.Write("\r\n\b");
    EXPECT_EQ(screen.CursorRow(), 1); // never back to the row above
    EXPECT_EQ(screen.CursorColumn(), 0);
}

TEST(TerminalScreen, TabGoesToTheNextMultipleOfEightButNotPastTheLastColumn)
{
    TerminalScreen screen;
    screen.Put('\t');
    EXPECT_EQ(screen.CursorColumn(), 8);
    screen.Write("abc\t");
    EXPECT_EQ(screen.CursorColumn(), 16);
    screen.Write("\rabcdefg\t");
    EXPECT_EQ(screen.CursorColumn(), 8);
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), "abcdefg abc"); // nothing erased

    screen.Write("\r" + std::string(75, 'a') + "\t");
    EXPECT_EQ(screen.CursorColumn(), kColumns - 1);
    screen.Write("\t\tZ");
    EXPECT_EQ(screen.CursorRow(), 0);
    EXPECT_EQ(screen.VisibleRow(0).back(), 'Z');
}

TEST(TerminalScreen, BellCallsTheHandlerAndOtherControlsAreIgnored)
{
    TerminalScreen screen;
    screen.Put('\a'); // no handler yet
    int bells = 0;
    screen.SetBellHandler([&] { ++bells; });
    std::string controls;
    for (int c = 0; c < 32; ++c)
        if (c != 8 && c != 9 && c != 10 && c != 13)
            controls += static_cast<char>(c);
    screen.Write("ab" + controls + "c");
    EXPECT_EQ(bells, 1);
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), "abc");
    EXPECT_EQ(screen.CursorRow(), 0);
    EXPECT_EQ(screen.CursorColumn(), 3);
}

TEST(TerminalScreen, ClearErasesRowsAndScrollbackAndHomesTheCursor)
{
    TerminalScreen screen;
    WriteLines(screen, 40);
    screen.Write(std::string(kColumns, 'w')); // leaves a wrap pending
    screen.Clear();
    EXPECT_EQ(screen.ScrollbackSize(), 0);
    EXPECT_EQ(screen.CursorRow(), 0);
    EXPECT_EQ(screen.CursorColumn(), 0);
    for (int row = 0; row < kRows; ++row)
        EXPECT_EQ(screen.VisibleRow(row), std::string(kColumns, ' '));
    screen.Put('n');
    EXPECT_EQ(Trimmed(screen.VisibleRow(0)), "n");
}

TEST(TerminalScreen, BadInputStaysInsideTheRows)
{
    TerminalScreen screen;
    for (int round = 0; round < 50; ++round)
        for (int c = 0; c < 256; ++c) {
            screen.Put(static_cast<char>(c));
            ASSERT_LT(static_cast<unsigned>(screen.CursorColumn()), unsigned{kColumns});
            ASSERT_LT(static_cast<unsigned>(screen.CursorRow()), unsigned{kRows});
        }
    EXPECT_LE(screen.HeldRowCount(), TerminalScreen::kHeldRows);
    EXPECT_TRUE(screen.VisibleRow(-1).empty());
    EXPECT_TRUE(screen.VisibleRow(kRows).empty());
    EXPECT_TRUE(screen.ScrollbackRow(-1).empty());
    EXPECT_TRUE(screen.ScrollbackRow(screen.ScrollbackSize()).empty());
    EXPECT_TRUE(screen.HeldRow(screen.HeldRowCount()).empty());
}

} // namespace

#include "app/terminal_screen.h"

#include <algorithm>
#include <utility>

namespace {

constexpr char kBell = 7;
constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr char kLineFeed = 10;
constexpr char kCarriageReturn = 13;

bool IsPrintable(char c)
{
    return static_cast<unsigned char>(c) >= 32;
}

} // namespace

TerminalScreen::TerminalScreen()
{
    Clear();
}

void TerminalScreen::Write(std::string_view bytes)
{
    for (char c : bytes)
        Put(c);
}

void TerminalScreen::Put(char c)
{
    ++bytes_taken_;
    if (IsPrintable(c)) {
        PutPrintable(c);
        return;
    }
    switch (c) {
    case kCarriageReturn:
        cursor_column_ = 0;
        wrap_pending_ = false;
        break;
    case kLineFeed:
        LineFeed();
        wrap_pending_ = false;
        break;
    case kBackspace:
        cursor_column_ = std::max(cursor_column_ - 1, 0);
        wrap_pending_ = false;
        break;
    case kTab:
        cursor_column_ = std::min((cursor_column_ / kTabWidth + 1) * kTabWidth, kColumns - 1);
        wrap_pending_ = false;
        break;
    case kBell:
        if (on_bell_)
            on_bell_();
        break;
    default:
        break;
    }
}

void TerminalScreen::Clear()
{
    for (Row& row : ring_)
        row.fill(' ');
    first_ = 0;
    held_ = kVisibleRows;
    cursor_row_ = 0;
    cursor_column_ = 0;
    wrap_pending_ = false;
}

void TerminalScreen::SetBellHandler(std::function<void()> on_bell)
{
    on_bell_ = std::move(on_bell);
}

std::string_view TerminalScreen::VisibleRow(int row) const
{
    if (row < 0 || row >= kVisibleRows)
        return {};
    return HeldRow(ScrollbackSize() + row);
}

std::string_view TerminalScreen::ScrollbackRow(int index) const
{
    if (index < 0 || index >= ScrollbackSize())
        return {};
    return HeldRow(index);
}

std::string_view TerminalScreen::HeldRow(int index) const
{
    if (index < 0 || index >= held_)
        return {};
    const Row& row = RowAt(index);
    return {row.data(), row.size()};
}

int TerminalScreen::HeldRowCount() const
{
    return held_;
}

int TerminalScreen::ScrollbackSize() const
{
    return held_ - kVisibleRows;
}

int TerminalScreen::CursorRow() const
{
    return cursor_row_;
}

int TerminalScreen::CursorColumn() const
{
    return cursor_column_;
}

void TerminalScreen::PutPrintable(char c)
{
    if (wrap_pending_) {
        cursor_column_ = 0;
        LineFeed();
        wrap_pending_ = false;
    }
    CursorLine()[cursor_column_] = c;
    if (cursor_column_ == kColumns - 1)
        wrap_pending_ = true;
    else
        ++cursor_column_;
}

void TerminalScreen::LineFeed()
{
    if (cursor_row_ == kVisibleRows - 1)
        ScrollUp();
    else
        ++cursor_row_;
}

// The top visible row becomes the newest scroll-back row; once the scroll-back is
// full the oldest row's slot is reused for the new bottom row.
void TerminalScreen::ScrollUp()
{
    if (held_ < kHeldRows)
        ++held_;
    else
        first_ = (first_ + 1) % kHeldRows;
    RowAt(held_ - 1).fill(' ');
}

TerminalScreen::Row& TerminalScreen::RowAt(int held_index)
{
    return ring_[static_cast<std::size_t>((first_ + held_index) % kHeldRows)];
}

const TerminalScreen::Row& TerminalScreen::RowAt(int held_index) const
{
    return ring_[static_cast<std::size_t>((first_ + held_index) % kHeldRows)];
}

TerminalScreen::Row& TerminalScreen::CursorLine()
{
    return RowAt(ScrollbackSize() + cursor_row_);
}

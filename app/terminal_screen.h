#pragma once

// TerminalScreen: the screen model behind the terminal view, a plain teletype.
//
// The screen is 80 columns by 16 visible rows. Rows that scroll off the top go into
// a scroll-back of at most 84 rows, so 100 rows are held in all; beyond that the
// oldest row is dropped. Bytes are single-byte characters, stored as they come.
//
// Emulation, byte by byte:
//   32..255  written at the cursor, which advances. Written in the last column the
//            cursor stays there with a wrap pending: the next printable byte goes to
//            the start of the following row (scrolling on the bottom row).
//   CR (13)  to the first column.
//   LF (10)  down one row in the same column; on the bottom row the screen scrolls
//            up one row, the top row going into the scroll-back.
//   BS (8)   one column left without erasing; stops at the first column.
//   TAB (9)  to the next multiple of 8 columns, never past the last column.
//   BEL (7)  calls the bell handler.
//   others   ignored.
// Any cursor movement (CR, LF, BS, TAB) cancels a pending wrap.
//
// Rows and columns are counted from 0 here; row 0, column 0 is the top left.

#include <array>
#include <functional>
#include <string_view>

class TerminalScreen {
public:
    static constexpr int kColumns = 80;
    static constexpr int kVisibleRows = 16;
    static constexpr int kHeldRows = 100;
    static constexpr int kScrollbackLimit = kHeldRows - kVisibleRows;
    static constexpr int kTabWidth = 8;

    TerminalScreen();

    void Write(std::string_view bytes);
    void Put(char c);
    // Visible rows and scroll-back erased, cursor to the top left.
    void Clear();

    void SetBellHandler(std::function<void()> on_bell);

    // Each row is kColumns bytes long, blank where nothing was written; an index out
    // of range gives an empty view.
    std::string_view VisibleRow(int row) const;      // 0 .. kVisibleRows-1
    std::string_view ScrollbackRow(int index) const; // 0 = oldest .. ScrollbackSize()-1
    // All held rows: the scroll-back first (oldest at 0), then the visible rows.
    std::string_view HeldRow(int index) const; // 0 .. HeldRowCount()-1
    int HeldRowCount() const;
    int ScrollbackSize() const;

    int CursorRow() const; // among the visible rows
    int CursorColumn() const;

    // Every byte the screen has interpreted since it was made, controls and ignored bytes
    // included; Clear does not reset it.
    unsigned long long BytesTaken() const { return bytes_taken_; }

private:
    using Row = std::array<char, kColumns>;

    void PutPrintable(char c);
    void LineFeed();
    void ScrollUp();
    Row& RowAt(int held_index);
    const Row& RowAt(int held_index) const;
    Row& CursorLine();

    std::array<Row, kHeldRows> ring_;
    int first_ = 0; // ring slot of the oldest held row
    int held_ = kVisibleRows;
    int cursor_row_ = 0;
    int cursor_column_ = 0;
    bool wrap_pending_ = false;
    unsigned long long bytes_taken_ = 0;
    std::function<void()> on_bell_;
};

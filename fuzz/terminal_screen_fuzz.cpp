// The terminal view's screen model over any bytes, written in pieces of any size: after every
// piece it holds exactly what a plain teletype built from the emulation rules of
// app/terminal_screen.h holds (the same cursor and bells after every piece, the same rows and
// scroll-back at the end), its cursor stays on the screen, it keeps at most 100 rows, and it has
// counted every byte.
//
// Input: a byte choosing the piece sizes, then the bytes to show.

#include "app/terminal_screen.h"
#include "fuzz/fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace {

constexpr int kColumns = TerminalScreen::kColumns;
constexpr int kRows = TerminalScreen::kVisibleRows;

// The emulation rules, written down once more as plainly as possible.
class Teletype {
public:
    Teletype() : rows_(kRows, blank()) {}

    void put(char c)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32) {
            if (wrap_pending_) {
                column_ = 0;
                line_feed();
            }
            wrap_pending_ = false;
            visible(row_)[static_cast<std::size_t>(column_)] = c;
            if (column_ == kColumns - 1)
                wrap_pending_ = true;
            else
                ++column_;
            return;
        }
        switch (byte) {
        case 13:
            column_ = 0;
            wrap_pending_ = false;
            break;
        case 10:
            line_feed();
            wrap_pending_ = false;
            break;
        case 8:
            column_ = std::max(column_ - 1, 0);
            wrap_pending_ = false;
            break;
        case 9:
            column_ = std::min((column_ / 8 + 1) * 8, kColumns - 1);
            wrap_pending_ = false;
            break;
        case 7:
            ++bells_;
            break;
        default:
            break;
        }
    }

    const std::deque<std::string>& rows() const { return rows_; }
    int row() const { return row_; }
    int column() const { return column_; }
    int bells() const { return bells_; }

private:
    static std::string blank() { return std::string(kColumns, ' '); }
    std::string& visible(int row) { return rows_[rows_.size() - kRows + static_cast<std::size_t>(row)]; }
    void line_feed()
    {
        if (row_ < kRows - 1) {
            ++row_;
            return;
        }
        rows_.push_back(blank());
        if (rows_.size() > static_cast<std::size_t>(TerminalScreen::kHeldRows))
            rows_.pop_front();
    }

    std::deque<std::string> rows_;
    int row_ = 0;
    int column_ = 0;
    bool wrap_pending_ = false;
    int bells_ = 0;
};

// The cursor, the counts and the bells, after every piece.
void check_cursor(const TerminalScreen& screen, const Teletype& teletype, int bells)
{
    FUZZ_CHECK(screen.HeldRowCount() == static_cast<int>(teletype.rows().size()));
    FUZZ_CHECK(screen.HeldRowCount() <= TerminalScreen::kHeldRows);
    FUZZ_CHECK(screen.ScrollbackSize() == screen.HeldRowCount() - kRows);
    FUZZ_CHECK(screen.ScrollbackSize() <= TerminalScreen::kScrollbackLimit);
    FUZZ_CHECK(screen.CursorRow() == teletype.row());
    FUZZ_CHECK(screen.CursorColumn() == teletype.column());
    FUZZ_CHECK(screen.CursorRow() >= 0 && screen.CursorRow() < kRows);
    FUZZ_CHECK(screen.CursorColumn() >= 0 && screen.CursorColumn() < kColumns);
    FUZZ_CHECK(bells == teletype.bells());
}

// Every held row, at the end.
void check_rows(const TerminalScreen& screen, const Teletype& teletype)
{
    const auto& rows = teletype.rows();
    for (int i = 0; i < screen.HeldRowCount(); ++i)
        FUZZ_CHECK(screen.HeldRow(i) == rows[static_cast<std::size_t>(i)]);
    for (int r = 0; r < kRows; ++r)
        FUZZ_CHECK(screen.VisibleRow(r) == screen.HeldRow(screen.ScrollbackSize() + r));
    FUZZ_CHECK(screen.VisibleRow(kRows).empty() && screen.HeldRow(-1).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = std::size_t{data[0]} % 64 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    TerminalScreen screen;
    int bells = 0;
    screen.SetBellHandler([&bells] { ++bells; });
    Teletype teletype;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::string_view part = bytes.substr(at, piece);
        screen.Write(part);
        for (char c : part)
            teletype.put(c);
        check_cursor(screen, teletype, bells);
    }
    check_rows(screen, teletype);
    FUZZ_CHECK(screen.BytesTaken() == bytes.size());
    return 0;
}

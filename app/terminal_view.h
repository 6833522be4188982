#pragma once

// TAdTerminal: the terminal view AdTerminal1 of the main window.
//
// The view paints a TerminalScreen (80 columns x 16 rows, 84 rows of scroll-back
// reachable with the vertical scroll bar) as a plain teletype with a block cursor,
// in a fixed-pitch font on a solid background.
//
// Text reaches the screen through one queue. WriteString and WriteChar (UI thread)
// and EnqueueReceived (any thread: the serial listener calls it from the port's
// background thread) append to it under a mutex and post one drain to the UI thread
// when none is pending; the drain interprets the bytes in arrival order and
// repaints. So text written with WriteString shows when the UI thread next
// processes events, never from inside the call.
//
// Keys: only character keys reach the view; Tab, the arrows and other navigation
// keys go on to the window (focus chain). Enter gives 13, Backspace 8, Ctrl+letter
// its control code, Escape 27, other keys their Latin-1 character. Each character
// goes first to OnKeyPress, which may set it to 0 to consume it; a character left
// over goes to OnSendChar, with backspace (8) turned into DEL (127) first. The view
// never echoes typed characters itself; typing scrolls it back to the cursor. A
// disabled view takes no keys but goes on showing text, in its normal colours.
//
// ClearAll erases what is shown (visible rows and scroll-back) and puts the cursor
// at the top left. Bytes already queued but not yet drained are kept: they show
// after the clear, from the top left.
//
// Lifetime: whoever calls EnqueueReceived from another thread must stop doing so
// before the view is destroyed.

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "app/terminal_screen.h"

class QPainter;

class TAdTerminal : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TAdTerminal(QWidget* parent = nullptr);

    // Queue text for display (UI thread).
    void WriteString(std::string_view text);
    void WriteChar(char c);
    // Queue received bytes for display; safe to call from any thread.
    void EnqueueReceived(const char* bytes, std::size_t count);

    // Erase visible rows and scroll-back; cursor to row 1, column 1.
    void ClearAll();

    // Black at start.
    void SetBackgroundColor(QColor color);
    QColor BackgroundColor() const;
    // Courier New (or the installed monospace font), 12 pixels, at start.
    void SetTerminalFont(const QFont& font);
    QFont TerminalFont() const;
    // The font's colour, kept beside the font; silver (192, 192, 192) at start.
    void SetTextColor(QColor color);
    QColor TextColor() const;

    // The form's AdTerminal1KeyPress; may set key to 0 to consume it.
    std::function<void(char& key)> OnKeyPress;
    // A typed character not consumed by OnKeyPress (backspace already turned into 127).
    std::function<void(char c)> OnSendChar;
    // The form's AdTerminal1DblClick.
    std::function<void()> OnDblClick;

    const TerminalScreen& Screen() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Enqueue(std::string_view bytes);
    void DrainQueue();
    void UpdateScrollBars();
    void ScrollToBottom();
    int FirstShownRow() const;
    void PaintRow(QPainter& painter, int held_row, int y) const;
    void PaintCursor(QPainter& painter) const;

    TerminalScreen screen_;
    QFont font_;
    QColor background_color_;
    QColor text_color_;
    int cell_width_ = 0;
    int cell_height_ = 0;
    int ascent_ = 0;

    std::mutex queue_mutex_;
    std::string queue_;         // guarded by queue_mutex_
    bool drain_posted_ = false; // guarded by queue_mutex_
    std::string draining_;      // UI thread only: the bytes taken out by the current drain
};

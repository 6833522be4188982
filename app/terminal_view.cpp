#include "app/terminal_view.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <optional>

namespace {

constexpr char kBackspace = 8;
constexpr char kCarriageReturn = 13;
constexpr char kEscape = 27;
constexpr char kDelete = 127;

// Courier New, or one of the fonts made with its metrics where it is not installed.
QFont DefaultTerminalFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("Cousine"), QStringLiteral("Nimbus Mono PS")});
    font.setPixelSize(12);
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(12);
    }
    return font;
}

QString Latin1(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The byte a key types, or nothing for keys that are not characters (Tab, arrows,
// function keys, Alt combinations), which are left to the window.
std::optional<char> TypedCharacter(const QKeyEvent& event)
{
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return kCarriageReturn;
    if (key == Qt::Key_Backspace)
        return kBackspace;
    if (key == Qt::Key_Escape)
        return kEscape;
    if ((modifiers & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<char>(key - Qt::Key_A + 1);
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return std::nullopt;
    const QString text = event.text();
    if (text.size() != 1)
        return std::nullopt;
    const char16_t code = text.front().unicode();
    if (code < 32 || code == kDelete || code > 255)
        return std::nullopt;
    return static_cast<char>(code);
}

} // namespace

TAdTerminal::TAdTerminal(QWidget* parent)
    : QAbstractScrollArea(parent), background_color_(Qt::black), text_color_(QColor(192, 192, 192))
{
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    screen_.SetBellHandler([] { QApplication::beep(); });
    SetTerminalFont(DefaultTerminalFont());
}

void TAdTerminal::WriteString(std::string_view text)
{
    Enqueue(text);
}

void TAdTerminal::WriteChar(char c)
{
    Enqueue(std::string_view(&c, 1));
}

void TAdTerminal::EnqueueReceived(const char* bytes, std::size_t count)
{
    if (bytes == nullptr)
        return;
    Enqueue(std::string_view(bytes, count));
}

void TAdTerminal::Enqueue(std::string_view bytes)
{
    if (bytes.empty())
        return;
    {
        std::lock_guard lock(queue_mutex_);
        queue_.append(bytes);
        if (drain_posted_)
            return;
        drain_posted_ = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { DrainQueue(); }, Qt::QueuedConnection);
}

void TAdTerminal::DrainQueue()
{
    draining_.clear();
    {
        std::lock_guard lock(queue_mutex_);
        draining_.swap(queue_);
        drain_posted_ = false;
    }
    const bool was_at_bottom = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    screen_.Write(draining_);
    UpdateScrollBars();
    if (was_at_bottom)
        ScrollToBottom();
    viewport()->update();
}

void TAdTerminal::ClearAll()
{
    screen_.Clear();
    UpdateScrollBars();
    viewport()->update();
}

void TAdTerminal::SetBackgroundColor(QColor color)
{
    background_color_ = color;
    viewport()->update();
}

QColor TAdTerminal::BackgroundColor() const
{
    return background_color_;
}

void TAdTerminal::SetTerminalFont(const QFont& font)
{
    font_ = font;
    const QFontMetrics metrics(font_);
    cell_width_ = std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1);
    cell_height_ = std::max(metrics.height(), 1);
    ascent_ = metrics.ascent();
    UpdateScrollBars();
    updateGeometry();
    viewport()->update();
}

QFont TAdTerminal::TerminalFont() const
{
    return font_;
}

void TAdTerminal::SetTextColor(QColor color)
{
    text_color_ = color;
    viewport()->update();
}

QColor TAdTerminal::TextColor() const
{
    return text_color_;
}

const TerminalScreen& TAdTerminal::Screen() const
{
    return screen_;
}

QSize TAdTerminal::sizeHint() const
{
    const int frame = 2 * frameWidth();
    return {TerminalScreen::kColumns * cell_width_ + verticalScrollBar()->sizeHint().width() +
                frame,
            TerminalScreen::kVisibleRows * cell_height_ + frame};
}

void TAdTerminal::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), background_color_);
    painter.setFont(font_);
    painter.setPen(text_color_);
    const int first = FirstShownRow();
    for (int row = 0; row < TerminalScreen::kVisibleRows; ++row)
        PaintRow(painter, first + row, row * cell_height_);
    PaintCursor(painter);
}

void TAdTerminal::PaintRow(QPainter& painter, int held_row, int y) const
{
    const std::string_view text = screen_.HeldRow(held_row);
    painter.drawText(-horizontalScrollBar()->value(), y + ascent_, Latin1(text));
}

// A block in the text colour over the cursor cell, the character under it drawn in
// the background colour; shown only while the cursor's row is scrolled into view.
void TAdTerminal::PaintCursor(QPainter& painter) const
{
    const int shown_row = screen_.ScrollbackSize() + screen_.CursorRow() - FirstShownRow();
    if (shown_row < 0 || shown_row >= TerminalScreen::kVisibleRows)
        return;
    const std::string_view line = screen_.VisibleRow(screen_.CursorRow());
    const auto column = static_cast<std::size_t>(screen_.CursorColumn());
    const QFontMetrics metrics(font_);
    const int x =
        metrics.horizontalAdvance(Latin1(line.substr(0, column))) - horizontalScrollBar()->value();
    const QString under = Latin1(line.substr(column, 1));
    const int width = std::max(metrics.horizontalAdvance(under), cell_width_);
    const int y = shown_row * cell_height_;
    painter.fillRect(QRect(x, y, width, cell_height_), text_color_);
    painter.setPen(background_color_);
    painter.drawText(x, y + ascent_, under);
}

void TAdTerminal::keyPressEvent(QKeyEvent* event)
{
    const std::optional<char> typed = TypedCharacter(*event);
    if (!typed) {
        event->ignore();
        return;
    }
    event->accept();
    char key = *typed;
    if (OnKeyPress)
        OnKeyPress(key);
    if (key == 0)
        return;
    if (key == kBackspace)
        key = kDelete;
    ScrollToBottom();
    if (OnSendChar)
        OnSendChar(key);
}

void TAdTerminal::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (OnDblClick)
        OnDblClick();
}

void TAdTerminal::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TAdTerminal::UpdateScrollBars()
{
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, screen_.ScrollbackSize());
    vertical->setPageStep(TerminalScreen::kVisibleRows);
    vertical->setSingleStep(1);
    QScrollBar* horizontal = horizontalScrollBar();
    const int text_width = TerminalScreen::kColumns * cell_width_;
    horizontal->setRange(0, std::max(text_width - viewport()->width(), 0));
    horizontal->setPageStep(std::max(viewport()->width(), 1));
    horizontal->setSingleStep(cell_width_);
}

void TAdTerminal::ScrollToBottom()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

int TAdTerminal::FirstShownRow() const
{
    return verticalScrollBar()->value();
}

// The terminal view: its queue (ordering, hand-over from a second thread, clear while
// text arrives), the keys it passes on, and what it paints.
#include "app/terminal_view.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kColumns = TerminalScreen::kColumns;

std::string Trimmed(std::string_view row)
{
    const auto end = row.find_last_not_of(' ');
    return std::string(row.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

std::string Numbered(int n)
{
    const std::string digits = std::to_string(n);
    return "LINE " + std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
}

// Everything held, scroll-back and visible rows, as one text.
std::string HeldText(const TerminalScreen& screen)
{
    std::string text;
    for (int index = 0; index < screen.HeldRowCount(); ++index)
        text += screen.HeldRow(index);
    return text;
}

void Drain()
{
    QCoreApplication::sendPostedEvents();
}

// A view with every typed character and key press recorded.
struct TypingView {
    TAdTerminal view;
    std::vector<char> pressed;
    std::vector<char> sent;

    TypingView()
    {
        view.OnKeyPress = [this](char& key) { pressed.push_back(key); };
        view.OnSendChar = [this](char c) { sent.push_back(c); };
    }
};

TEST(TerminalViewQueue, WrittenTextShowsOnlyWhenEventsAreProcessed)
{
    TAdTerminal view;
    view.WriteString("abc");
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(0)), "");
    Drain();
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(0)), "abc");
}

TEST(TerminalViewQueue, WritesAndReceivedBytesKeepTheirOrder)
{
    TAdTerminal view;
    view.EnqueueReceived("ab", 2);
    view.WriteString("cd");
    view.WriteChar('e');
    view.EnqueueReceived("f\r\ng", 4);
    view.WriteChar('\0');
    view.WriteString("h");
    Drain();
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(0)), "abcdef");
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(1)), "gh");
}

TEST(TerminalViewQueue, EmptyAndNullInputIsHarmless)
{
    TAdTerminal view;
    view.EnqueueReceived(nullptr, 5);
    view.EnqueueReceived("x", 0);
    view.WriteString({});
    Drain();
    EXPECT_EQ(view.Screen().CursorColumn(), 0);
}

TEST(TerminalViewQueue, ScrollBarReachesTheScrollbackAndFollowsNewText)
{
    TAdTerminal view;
    for (int n = 0; n < 150; ++n)
        view.WriteString(Numbered(n) + "\r\n");
    Drain();
    QScrollBar* bar = view.verticalScrollBar();
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), TerminalScreen::kScrollbackLimit);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(TerminalViewQueue, ClearAllKeepsTextQueuedButNotYetShown)
{
    TAdTerminal view;
    for (int n = 0; n < 40; ++n)
        view.WriteString(Numbered(n) + "\r\n");
    Drain();
    view.WriteString("after");
    view.ClearAll();
    EXPECT_EQ(view.Screen().ScrollbackSize(), 0);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(0)), "");
    Drain();
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(0)), "after");
    EXPECT_EQ(Trimmed(view.Screen().VisibleRow(1)), "");
}

// 100 rows of 80 bytes fit the view exactly, so every byte sent by the second
// thread, in many small writes, can be checked in place.
TEST(TerminalViewQueue, SecondThreadFillsTheQueueWhileTheInterfaceThreadDrains)
{
    TAdTerminal view;
    std::string sent;
    for (int n = 0; sent.size() < kColumns * TerminalScreen::kHeldRows; ++n)
        sent += static_cast<char>('!' + n % 90);
    std::atomic<bool> done = false;
    std::thread listener([&] {
        for (std::size_t at = 0; at < sent.size(); at += 2)
            view.EnqueueReceived(sent.data() + at, 2);
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents();
    listener.join();
    Drain();
    EXPECT_EQ(view.Screen().HeldRowCount(), TerminalScreen::kHeldRows);
    EXPECT_EQ(HeldText(view.Screen()), sent);
}

TEST(TerminalViewQueue, LongStreamFromASecondThreadEndsInOrder)
{
    TAdTerminal view;
    constexpr int kLines = 20000;
    std::atomic<bool> done = false;
    std::thread listener([&] {
        for (int n = 0; n < kLines; ++n) {
            const std::string line = Numbered(n) + "\r\n";
            for (char c : line)
                view.EnqueueReceived(&c, 1);
        }
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents();
    listener.join();
    Drain();
    const TerminalScreen& screen = view.Screen();
    const int newest = screen.HeldRowCount() - 2;
    for (int index = 0; index <= newest; ++index)
        ASSERT_EQ(Trimmed(screen.HeldRow(index)), Numbered(kLines - 1 - newest + index)) << index;
}

// The view is cleared once line 999 has been shown, while the second thread is
// sending the lines after it: nothing from before the clear may remain, and every
// line after it must be there, from the top left.
TEST(TerminalViewQueue, ClearWhileTextArrives)
{
    TAdTerminal view;
    constexpr int kBefore = 1000;
    constexpr int kAfter = 50;
    std::atomic<bool> go_on = false;
    std::atomic<bool> done = false;
    std::thread listener([&] {
        for (int n = 0; n < kBefore + kAfter; ++n) {
            if (n == kBefore)
                while (!go_on)
                    std::this_thread::yield();
            const std::string line = Numbered(n) + "\r\n";
            view.EnqueueReceived(line.data(), line.size());
        }
        done = true;
    });
    auto last_shown_line = [&] {
        return Trimmed(view.Screen().VisibleRow(view.Screen().CursorRow() - 1));
    };
    while (last_shown_line() != Numbered(kBefore - 1))
        QCoreApplication::processEvents();
    go_on = true;
    view.ClearAll();
    while (!done)
        QCoreApplication::processEvents();
    listener.join();
    Drain();

    const TerminalScreen& screen = view.Screen();
    ASSERT_EQ(screen.HeldRowCount(), kAfter + 1); // the cursor's blank row at the end
    for (int index = 0; index < kAfter; ++index)
        ASSERT_EQ(Trimmed(screen.HeldRow(index)), Numbered(kBefore + index)) << index;
}

TEST(TerminalViewKeys, CharacterKeysGoToKeyPressAndThenToSendChar)
{
    TypingView t;
    QTest::keyClicks(&t.view, "a1 ");
    QTest::keyClick(&t.view, Qt::Key_Return);
    QTest::keyClick(&t.view, Qt::Key_Enter);
    QTest::keyClick(&t.view, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&t.view, Qt::Key_Escape);
    EXPECT_EQ(t.pressed, (std::vector<char>{'a', '1', ' ', 13, 13, 3, 27}));
    EXPECT_EQ(t.sent, t.pressed);
    Drain();
    EXPECT_EQ(t.view.Screen().VisibleRow(0), std::string(kColumns, ' ')); // no local echo
}

TEST(TerminalViewKeys, Latin1CharactersAreSentAsOneByte)
{
    TypingView t;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xe9)));
    QApplication::sendEvent(&t.view, &press);
    EXPECT_EQ(t.sent, (std::vector<char>{'\xe9'}));
}

TEST(TerminalViewKeys, BackspaceIsSentAsDelete)
{
    TypingView t;
    QTest::keyClick(&t.view, Qt::Key_Backspace);
    EXPECT_EQ(t.pressed, (std::vector<char>{8}));
    EXPECT_EQ(t.sent, (std::vector<char>{127}));
}

TEST(TerminalViewKeys, AConsumedKeyGoesNowhere)
{
    TypingView t;
    t.view.OnKeyPress = [](char& key) { key = 0; };
    QTest::keyClick(&t.view, Qt::Key_Backspace);
    QTest::keyClicks(&t.view, "x");
    EXPECT_TRUE(t.sent.empty());
}

TEST(TerminalViewKeys, NavigationKeysDoNotReachKeyPress)
{
    TypingView t;
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Left, Qt::Key_Right, Qt::Key_Up,
                        Qt::Key_Down, Qt::Key_Home, Qt::Key_PageUp, Qt::Key_Delete, Qt::Key_F1})
        QTest::keyClick(&t.view, key);
    QTest::keyClick(&t.view, Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(t.pressed.empty());
    EXPECT_TRUE(t.sent.empty());
}

TEST(TerminalViewKeys, TabMovesTheFocusOnInTheWindow)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new TAdTerminal;
    auto* next = new QLineEdit;
    layout->addWidget(view);
    layout->addWidget(next);
    int pressed = 0;
    view->OnKeyPress = [&](char&) { ++pressed; };
    window.show();
    QApplication::setActiveWindow(&window);
    view->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(view, Qt::Key_Tab);
    EXPECT_EQ(pressed, 0);
    EXPECT_TRUE(next->hasFocus());
}

TEST(TerminalViewKeys, DisabledViewTakesNoKeysButShowsText)
{
    TypingView t;
    t.view.setEnabled(false);
    QTest::keyClicks(&t.view, "abc");
    QTest::keyClick(&t.view, Qt::Key_Backspace);
    EXPECT_TRUE(t.pressed.empty());
    EXPECT_TRUE(t.sent.empty());
    t.view.WriteString("shown");
    Drain();
    EXPECT_EQ(Trimmed(t.view.Screen().VisibleRow(0)), "shown");
}

TEST(TerminalViewKeys, DoubleClickRunsTheClearAction)
{
    TAdTerminal view;
    int clicks = 0;
    view.OnDblClick = [&] { ++clicks; };
    QTest::mouseDClick(view.viewport(), Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

// What the view paints, taken from a picture of its viewport: the block cursor is
// a solid cell of the text colour at the top left, the rest is background.
class TerminalViewPaint : public ::testing::Test {
protected:
    TAdTerminal view;

    void SetUp() override { view.resize(513, 281); }

    QImage Picture() { return view.viewport()->grab().toImage(); }
    QColor CursorCentre() { return Picture().pixelColor(3, 5); }
    QColor FarCorner()
    {
        const QImage picture = Picture();
        return picture.pixelColor(picture.width() - 2, picture.height() - 2);
    }
};

TEST_F(TerminalViewPaint, StartsSilverOnBlackInTheTerminalFont)
{
    EXPECT_EQ(view.BackgroundColor(), QColor(0, 0, 0));
    EXPECT_EQ(view.TextColor(), QColor(192, 192, 192));
    EXPECT_EQ(view.TerminalFont().pixelSize(), 12);
    const QFontMetrics metrics(view.TerminalFont());
    EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')),
              metrics.horizontalAdvance(QLatin1Char('M')));
    EXPECT_EQ(FarCorner(), QColor(0, 0, 0));
    EXPECT_EQ(CursorCentre(), QColor(192, 192, 192));
}

TEST_F(TerminalViewPaint, ColourChangesApplyToTheWholeView)
{
    view.WriteString("text already shown\r\n");
    Drain();
    view.SetBackgroundColor(QColor(0, 0, 255));
    view.SetTextColor(QColor(255, 255, 255));
    EXPECT_EQ(FarCorner(), QColor(0, 0, 255));
    EXPECT_EQ(view.BackgroundColor(), QColor(0, 0, 255));
    EXPECT_EQ(view.TextColor(), QColor(255, 255, 255));
}

TEST_F(TerminalViewPaint, DisabledViewIsNotGreyedOut)
{
    view.setEnabled(false);
    EXPECT_EQ(FarCorner(), QColor(0, 0, 0));
    EXPECT_EQ(CursorCentre(), QColor(192, 192, 192));
}

} // namespace

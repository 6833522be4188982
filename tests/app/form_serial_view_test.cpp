// The terminal view on the serial port: received bytes are shown, typed keys reach the unit.

#include "app/terminal_view.h"
#include "serial/com_port.h"
#include "serial_test_support.h"
#include "tests/support/form_fixture.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

struct OpenPortFixture {
    Pty pty;
    ComMapping mapping{{{1, pty.slave_path()}}};
    FormFixture f;

    OpenPortFixture()
    {
        f.form().ApdComPort1->SetComNumber(1);
        f.form().ApdComPort1->SetOpen(true);
    }
};

std::string visible_row(TKestrinForm& form, int row)
{
    std::string text(form.AdTerminal1->Screen().VisibleRow(row));
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

} // namespace

TEST(SerialTerminal, EveryReceivedByteIsShownInTheView)
{
    OpenPortFixture p;
    p.pty.write("LOADER v2\r\n>");
    ASSERT_TRUE(pump_until([&] { return visible_row(p.f.form(), 1) == ">"; }));
    EXPECT_EQ(visible_row(p.f.form(), 0), "LOADER v2");
}

TEST(SerialTerminal, TypedKeysGoToThePortAndBackspaceAsBackspaceBlankBackspace)
{
    OpenPortFixture p;
    TAdTerminal* view = p.f.form().AdTerminal1;
    view->setFocus();
    QTest::keyClick(view, Qt::Key_A);
    QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(p.pty.read(5), std::string("a\b \b\r"));
    EXPECT_EQ(p.f.form().keepalive_on, 0);
}

TEST(SerialTerminal, WithThePortClosedTypedKeysGoNowhere)
{
    Pty pty;
    ComMapping mapping{{{1, pty.slave_path()}}};
    FormFixture f;
    f.form().AdTerminal1->setFocus();
    QTest::keyClick(f.form().AdTerminal1, Qt::Key_Backspace);
    QTest::keyClick(f.form().AdTerminal1, Qt::Key_B);
    EXPECT_EQ(pty.read(1, 200), "");
}

// Serial link cases that wait out the unit's time limits: 6.6 s probes, the 15 s command
// time-out and the 15000-round drain wait.

#include "tests/link/link_test_support.h"
#include "tests/support/fake_com1.h"

#include "app/fixed_text.h"
#include "serial/com_port.h"
#include "upload/progress_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

TEST(SerialLinkSlow, AUnitThatAnswersOnlyWithTheSecondPromptIsFoundByTheSecondProbe)
{
    QTemporaryDir tmp;
    SimUnit unit(tmp.path().toStdString(), "com1", {"--prompts", ">>"});
    ComMapping mapping{{{1, unit.pty}}};
    FormFixture f;
    EXPECT_EQ(f.form().check_com(1), 1);
    EXPECT_EQ(f.form().wait_prompt_char, '>');
    EXPECT_TRUE(wire_reads(unit, "\r\r"));
}

TEST(SerialLinkSlow, TheSearchProbesUpwardAndStopsAtTheFirstMissingNumber)
{
    QTemporaryDir tmp;
    SimUnit one(tmp.path().toStdString(), "com1", {"--silent"});
    SimUnit two(tmp.path().toStdString(), "com2", {"--silent"});
    ComMapping mapping{{{1, one.pty}, {2, two.pty}, {4, tmp.path().toStdString() + "/com4"}}};
    FormFixture f(std::string("Port=COM2\n"));
    TKestrinForm& form = f.form();
    form.FormShow();
    // COM2 as configured, then the search: COM1, COM2, and COM3 does not exist.
    EXPECT_TRUE(wire_reads(one, "\r\r"));
    EXPECT_TRUE(wire_reads(two, "\r\r\r\r"));
    EXPECT_EQ(f.dialogs.statuses.back(), "Error opening Hardware via COM ports. Select new COM "
                                         "port/check RS232 connection before proceeding");
    EXPECT_TRUE(form.ApdComPort1->Open());
    EXPECT_EQ(form.ComNumberLabel->text(), "2");
    EXPECT_FALSE(form.PickButton->isEnabled());
    EXPECT_FALSE(form.ComCheckBox->isChecked());
}

TEST(SerialLinkSlow, ACommandWithoutAnswerTimesOutStopsTheRunAndFailsTheWait)
{
    QTemporaryDir tmp;
    SimUnit unit(tmp.path().toStdString(), "com1", {"--silent"});
    ComMapping mapping{{{1, unit.pty}}};
    FormFixture f;
    TKestrinForm& form = f.form();
    form.ApdComPort1->SetComNumber(1);
    form.ApdComPort1->SetOpen(true);
    set_text(form.cmd_buf, "VER");
    form.send_cmd_wait_capture(20000);
    EXPECT_EQ(form.cmd_failed, 1);
    EXPECT_EQ(form.rx_capture_on, 0);
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_EQ(form.msg_text, "Timeout error! Connection failure! Please check RS232/Ethernet "
                             "connection. Exiting script.");
    EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{form.msg_text});
    EXPECT_TRUE(wire_reads(unit, "VER\r"));
}

TEST(SerialLinkSlow, CtsHeldLowEndsTheBlockWithTheDrainMessage)
{
    FakeCom1 com1;
    FakeLine& line = com1.line;
    FormFixture& f = com1.f;
    TKestrinForm& form = com1.form;
    line.set_cts(false);
    const std::string block(2000, 'D');
    form.SendByte(2000, block.data());
    EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{
                                      "Error! Output Buffer never empties. Check RS232 connection. "
                                      "Cancel upload."});
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
}

TEST(SerialLinkSlow, CtsDroppingAfterTheBlockLeftEndsWithTheCtsMessage)
{
    FakeCom1 com1;
    FakeLine& line = com1.line;
    FormFixture& f = com1.f;
    TKestrinForm& form = com1.form;
    line.set_draining(false); // the block waits in the device until the timer below lets it go
    QTimer::singleShot(20, [&] {
        line.set_cts(false);
        form.ApdComPort1->FlushOutBuffer(); // the block has left; CTS is down after it
    });
    const std::string block(2000, 'E');
    form.SendByte(2000, block.data());
    EXPECT_EQ(f.dialogs.messages,
              std::vector<std::string>{"Error! CTS line not set. Check RS232 connection. Cancel upload."});
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
}

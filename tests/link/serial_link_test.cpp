// The serial link against the simulated unit and the in-memory device: start-up, menus,
// captures, the transmit checks and a vanishing device.

#include "tests/link/link_test_support.h"
#include "tests/support/fake_com1.h"

#include "app/fixed_text.h"
#include "serial/com_port.h"
#include "serial/status_light.h"
#include "upload/progress_form.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace std::chrono_literals;

struct UnitOnCom1 : ::testing::Test {
    QTemporaryDir tmp;
    SimUnit unit{tmp.path().toStdString(), "com1"};
    ComMapping mapping{{{1, unit.pty}, {2, tmp.path().toStdString() + "/absent"}}};
};

struct FakeOnCom1 : ::testing::Test, FakeCom1 {};

} // namespace

TEST_F(UnitOnCom1, AConfiguredPortThatAnswersIsUsedWithoutASearch)
{
    FormFixture f(std::string("Port=COM1\n"));
    TKestrinForm& form = f.form();
    form.FormShow();
    EXPECT_TRUE(form.ApdComPort1->Open());
    EXPECT_EQ(form.ApdComPort1->ComNumber(), 1);
    EXPECT_EQ(form.ComNumberLabel->text(), "1");
    EXPECT_EQ(form.last_com, 1);
    EXPECT_EQ(form.wait_prompt_char, '#');
    EXPECT_FALSE(form.Ethernet1->menuAction()->isEnabled());
    EXPECT_FALSE(form.ComCheckBox->isEnabled());
    EXPECT_EQ(f.dialogs.statuses, std::vector<std::string>{"Established communication on COM 1"});
    EXPECT_TRUE(wire_reads(unit, "\r"));
}

TEST_F(UnitOnCom1, NoneRemembersTheLastVerifiedPortAndMenusReport)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.NoneMenu->trigger();
    EXPECT_EQ(f.dialogs.statuses.back(), "Note: Last successful COM port used is: Never");

    form.COMMenus[0]->trigger();
    ASSERT_GE(f.dialogs.statuses.size(), 3u);
    EXPECT_EQ(f.dialogs.statuses[1], "Checking COM 1.... Please wait.... ");
    EXPECT_EQ(f.dialogs.statuses.back(), "Established communication on COM 1");
    EXPECT_TRUE(form.PickButton->isEnabled());
    EXPECT_EQ(form.ComNumberLabel->text(), "1");

    form.BaudMenus[6]->trigger();
    EXPECT_EQ(form.ComBaudLabel->text(), "115200");
    EXPECT_EQ(form.ApdComPort1->Baud(), 115200);
    EXPECT_TRUE(form.ApdComPort1->Open());

    form.NoneMenu->trigger();
    EXPECT_EQ(f.dialogs.statuses.back(), "Note: Last successful COM port used is: 1");
    EXPECT_FALSE(form.ApdComPort1->Open());
    EXPECT_EQ(form.ApdComPort1->ComNumber(), 0);
    EXPECT_EQ(form.ComNumberLabel->text(), "None");
    EXPECT_TRUE(form.Ethernet1->menuAction()->isEnabled());
    EXPECT_FALSE(form.PickButton->isEnabled());

    form.COMMenus[4]->trigger(); // COM5 does not exist
    EXPECT_EQ(f.dialogs.statuses.back(), "Unable to open Hardware thru COM ports. Select new COM "
                                         "port/check RS232 connection before proceeding");
    EXPECT_EQ(f.dialogs.messages.back(),
              "Error! Cannot establish communication using COM 5. Please check RS232 connection");
    EXPECT_EQ(form.ComNumberLabel->text(), "None");
    EXPECT_FALSE(form.PickButton->isEnabled());
}

TEST_F(UnitOnCom1, ANumberBeyondThePortRangeDoesNotWrapOntoAnotherPort)
{
    FormFixture f;
    EXPECT_EQ(f.form().check_com(65537), -1);
    f.form().ini_com_number = 65537;
    f.form().open_ini_com();
    EXPECT_FALSE(f.form().ApdComPort1->Open());
    EXPECT_EQ(f.form().ComNumberLabel->text(), "None");
    EXPECT_TRUE(wire_reads(unit, ""));
}

TEST_F(UnitOnCom1, TheComMenuShowsEachDeviceAsItsToolTip)
{
    FormFixture f;
    emit f.form().COMPortMenu->aboutToShow();
    EXPECT_EQ(f.form().COMMenus[0]->toolTip().toStdString(), unit.pty);
    EXPECT_EQ(f.form().COMMenus[2]->toolTip(), "COM3"); // no device: Qt shows the caption
}

TEST_F(UnitOnCom1, AReplyIsCapturedFromIndexZeroUpToThePrompt)
{
    QTemporaryDir dir;
    // No echo: one that came later than the 200 ms before the carriage return would be captured.
    SimUnit replying(dir.path().toStdString(), "com3", {"--no-echo", "--reply", "VER=V2.0"});
    ComMapping both{{{1, unit.pty}, {3, replying.pty}}};
    FormFixture f;
    TKestrinForm& form = f.form();
    ASSERT_EQ(form.check_com(3), 1);
    form.rx_len = 500; // left behind by an earlier capture that timed out
    set_text(form.cmd_buf, "VER");
    form.rx_min_len = 0;
    form.send_cmd_wait_capture(2000);
    EXPECT_EQ(form.cmd_failed, 0);
    EXPECT_EQ(form.rx_capture_on, 0);
    EXPECT_EQ(std::string(form.rx_buf), "\r\nV2.0\r\n");
    EXPECT_FALSE(form.CommandTimer->isActive());
    EXPECT_TRUE(wire_reads(replying, "\rVER\r"));
}

TEST_F(FakeOnCom1, ABlockAsLargeAsTheFreeSpaceIsSentAndOneByteMoreIsRefused)
{
    const std::string block(form.ApdComPort1->GetOutBuffFree(), 'B');
    form.SendByte(static_cast<int32_t>(block.size()), block.data());
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 0);
    ASSERT_TRUE(pump_until([&] { return line.sent().size() == block.size(); }));

    const std::string tooLarge(form.ApdComPort1->GetOutBuffFree() + 1u, 'C');
    form.SendByte(static_cast<int32_t>(tooLarge.size()), tooLarge.data());
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_EQ(f.dialogs.messages,
              std::vector<std::string>{"Error! Communications Port Output Buffer Overflow. Cancel upload."});
    pump_for(50);
    EXPECT_EQ(line.sent().size(), block.size());
}

TEST_F(FakeOnCom1, ATextAsLongAsTheFreeSpaceIsRefusedWithoutRaisingTheStop)
{
    form.SendString(std::string(form.ApdComPort1->GetOutBuffFree(), 'T'));
    EXPECT_EQ(f.dialogs.messages,
              std::vector<std::string>{"Error! Communications Port Output Buffer Overflow"});
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 0);
    form.SendString("AB");
    ASSERT_TRUE(pump_until([&] { return line.sent() == "AB"; }));
}

TEST_F(FakeOnCom1, ARefusedWriteFailsTheBlockThatWasRefusedAtOnce)
{
    const std::vector<std::string> refused{"Failed to put entire block"};
    line.fail_writes(EIO);
    const std::string block(2000, 'R');
    form.SendByte(2000, block.data());
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_EQ(f.dialogs.messages, refused);

    // A refused header fails the first block before anything of it is queued.
    f.windows->ProgressForm->cancel_flag = 0;
    f.dialogs.messages.clear();
    form.SendString("LF 0x0 3 126 V\r");
    ASSERT_TRUE(pump_until([&] { return form.ApdComPort1->GetOutBuffUsed() == 0; }));
    line.fail_writes(0);
    form.SendByte(3, "abc");
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_EQ(f.dialogs.messages, refused);
    pump_for(50);
    EXPECT_EQ(line.sent(), "");
}

TEST_F(FakeOnCom1, AVanishingDeviceStopsTheRunAndReadsAsClosed)
{
    form.Ethernet1->menuAction()->setEnabled(false); // as while the serial link was verified
    line.vanish();
    ASSERT_TRUE(pump_until([&] { return !f.dialogs.messages.empty(); }));
    EXPECT_EQ(f.dialogs.messages[0], "Note: COM Port #1 is not responding.");
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_FALSE(form.ApdComPort1->Open());
    EXPECT_EQ(form.ComNumberLabel->text(), "None");
    EXPECT_TRUE(form.Ethernet1->menuAction()->isEnabled());
    EXPECT_FALSE(form.SendCOMCmd_GetPrompt("\r"));
}

TEST_F(FakeOnCom1, ADeviceVanishingWhileABlockWaitsForCtsEndsTheBlockWithOneNotice)
{
    line.set_draining(false);
    QTimer::singleShot(20, [&] {
        line.set_cts(false);
        form.ApdComPort1->FlushOutBuffer(); // the block has left; CTS is down after it
    });
    QTimer::singleShot(60, [&] { line.vanish(); });
    const std::string block(2000, 'V');
    form.SendByte(2000, block.data());
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    pump_for(100);
    EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{"Note: COM Port #1 is not responding."});
}

TEST_F(FakeOnCom1, BackspaceTypedWithThePortOpenReachesTheUnitAs8_32_8)
{
    char key = '\b';
    form.AdTerminal1KeyPress(key);
    EXPECT_EQ(key, 0);
    ASSERT_TRUE(pump_until([&] { return line.sent() == std::string("\b \b"); }));
}

TEST_F(UnitOnCom1, TheUseComBoxClosesAnOpenPortAndReportsWhenNoPortAnswers)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    ASSERT_EQ(form.check_com(1), 1);
    form.ComCheckBox->setChecked(true); // the port is open: nothing to do
    EXPECT_TRUE(form.ApdComPort1->Open());
    form.ComCheckBox->setChecked(false);
    EXPECT_FALSE(form.ApdComPort1->Open());
    EXPECT_TRUE(f.dialogs.messages.empty());
}

TEST(SerialLinkFallback, NoPortAndNoneConfiguredLeavesTheButtonsDisabledWithItsText)
{
    ComMapping mapping{{{16, "/nonexistent/kestrin-test-port"}}};
    FormFixture f;
    TKestrinForm& form = f.form();
    form.FormShow();
    EXPECT_EQ(f.dialogs.statuses, std::vector<std::string>{
                                      "Unable to open Hardware through COM ports. Select new COM "
                                      "port before proceeding"});
    EXPECT_FALSE(form.PickButton->isEnabled());
    EXPECT_FALSE(form.ApdComPort1->Open());

    form.ComCheckBox->setChecked(true); // the search finds nothing
    EXPECT_FALSE(form.ComCheckBox->isChecked());
    EXPECT_EQ(f.dialogs.messages,
              std::vector<std::string>{"Unable to use Com Ports. Please make sure no one else is "
                                       "using the Hardware thru the Com Ports"});
}

TEST_F(UnitOnCom1, SearchFindsTheUnitEnablesTheButtonsAndStartsTheLamps)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.disable_btns();
    form.SearchAllMenu->trigger();
    EXPECT_TRUE(form.ApdComPort1->Open());
    EXPECT_TRUE(form.ComCheckBox->isChecked());
    EXPECT_FALSE(form.ComCheckBox->isEnabled());
    EXPECT_TRUE(form.PickButton->isEnabled());
    EXPECT_TRUE(form.ApdSLController1->Monitoring());
    EXPECT_EQ(f.dialogs.statuses, std::vector<std::string>{"Established communication on COM 1"});
}

// The Ethernet link and its dialog against a peer that the test drives on 127.0.0.1, and a
// serial device lost in the middle of a command.

#include "tests/link/ethernet_test_support.h"
#include "tests/support/fake_com1.h"

#include "app/fixed_text.h"
#include "link/client_socket.h"
#include "upload/progress_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

TEST(EthernetDialog, ChecksTheAddressFieldsAndThePortAndNamesTheComputersAddress)
{
    EthernetForm f;
    TClientSocketForm& d = f.dialog();
    f.form().EnetConnect1->trigger();
    EXPECT_EQ(d.EnetStatusText->text(), "Note: Computer's IP Addr = 127.0.0.1");
    for (const auto& [text, message] : {std::pair{"0", ""},
                                        {"255", ""},
                                        {"256", "Error! Number must be between 0 - 255"},
                                        {"-1", "Error! Number must be between 0 - 255"},
                                        {"", "Error! Invalid IP Address"}}) {
        f.dialogs.messages.clear();
        d.IPEdit3->setText(text);
        d.IPEdit3Exit();
        EXPECT_EQ(f.dialogs.messages,
                  *message ? std::vector<std::string>{message} : std::vector<std::string>{});
        EXPECT_EQ(d.focusWidget(), *message ? d.IPEdit3 : d.IPEdit1) << text; // back to the field
    }
    d.IPEdit3->setText("0");
    f.dialogs.messages.clear();
    d.PortNumberTxEdit->setText("65536");
    d.ConnectButton->click();
    EXPECT_FALSE(f.form().ClientSocket1->Connecting());
    d.PortNumberTxEdit->setText("65535"); // accepted: the attempt is refused, nothing listens there
    d.ConnectButton->click();
    EXPECT_EQ(f.form().ClientSocket1->Port(), 65535);
    EXPECT_EQ(f.dialogs.messages,
              (std::vector<std::string>{"Error! Port # must be less than 65535",
                                        "Error! Cannot connect to server/lost connection. Verify "
                                        "IP Address and Port #"}));
}

// Connected to a peer that never answers: the prompt check fails for both prompts, the link is up
// all the same, and the test holds the unit's end of it.
TEST(EthernetLink, ShowsCapturesTypesRecoversOnceAndGivesUpOnAnImageInFlight)
{
    EthernetForm f;
    TKestrinForm& form = f.form();
    form.CCHECKTimer1->stop(); // no keep-alive among the bytes compared
    LoopbackListener peer;
    f.connect(peer.port());
    ASSERT_TRUE(peer.accept_peer());
    const std::string probes = peer.read_for(50);
    EXPECT_EQ(probes, "\r\r\n\r\r\n");

    // Display path: the backspace rule, and a chunk larger than the buffer arriving whole.
    peer.send("ab\b");
    EXPECT_TRUE(pump_until([&] { return f.terminal_text().rfind("a ", 0) == 0; }));
    peer.send(std::string(2500, 'x'));
    const auto shown = [&] { return std::ranges::count(f.terminal_text(), 'x'); };
    EXPECT_TRUE(pump_until([&] { return shown() == 2500; })) << shown();

    // Capture path: only the awaited prompt ends it; the NUL replaces the chunk's last byte.
    form.set_wait_prompt('>');
    form.rx_capture_on = 1;
    peer.send("ab#c");
    pump_for(50);
    peer.send(">xy");
    EXPECT_TRUE(pump_until([&] { return form.rx_capture_on == 0; }));
    EXPECT_EQ(std::string(form.rx_buf), "ab#c>x");

    // Typing: one byte per key (13 for Return, 8 for Backspace), echoed locally.
    form.AdTerminal1DblClick();
    for (const Qt::Key key : {Qt::Key_Q, Qt::Key_Return, Qt::Key_Z, Qt::Key_Backspace})
        QTest::keyClick(form.AdTerminal1, key);
    EXPECT_EQ(peer.read_for(50), "q\rz\b");
    EXPECT_EQ(f.terminal_text().substr(0, 2) + f.terminal_text().substr(81, 2), "q z ");
    EXPECT_EQ(form.keepalive_on, 0);

    // A reset while idle: one recovery reconnects and sends the last command again.
    set_text(form.cmd_buf, "VER");
    f.dialogs.statuses.clear();
    peer.reset_peer();
    ASSERT_TRUE(peer.accept_peer());
    EXPECT_EQ(peer.read_for(1300), probes + "VER");
    EXPECT_EQ(f.dialogs.statuses,
              (std::vector<std::string>{"Ethernet connection closed",
                                        "Attempting Ethernet connection. Please wait....",
                                        "Connection established. Verifying prompt....",
                                        "Connect via Ethernet successful"}));
    EXPECT_TRUE(f.dialogs.messages.empty());
    EXPECT_FALSE(form.try_enet_again);

    // A reset while an image streams: the unit has lost its beginning, no recovery.
    form.image_in_flight = true;
    peer.reset_peer();
    EXPECT_TRUE(pump_until([&] { return !f.dialogs.messages.empty(); }));
    form.image_in_flight = false;
    const std::vector<std::string> lost{"Error! Cannot connect to server/lost connection."};
    EXPECT_EQ(f.dialogs.messages, lost);
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_FALSE(form.ClientSocket1->Active() || form.ClientSocket1->Connecting());
    EXPECT_TRUE(f.dialog().PortNumberTxEdit->isEnabled());

    // A unit that stays connected but reads no more: the blocks stop after CommandTimer's
    // interval. Large blocks fill the socket's buffers sooner.
    f.dialog().ConnectButton->click();
    ASSERT_TRUE(peer.accept_peer());
    f.dialogs.messages.clear();
    f.windows->ProgressForm->cancel_flag = 0;
    form.CommandTimer->setInterval(300);
    const std::string block(100000, 'U');
    for (int i = 0; i < 1000 && f.windows->ProgressForm->cancel_flag == 0; ++i)
        form.SendByte(static_cast<int32_t>(block.size()), block.data());
    EXPECT_EQ(f.dialogs.messages, lost);
    EXPECT_FALSE(form.ClientSocket1->Active());

    // Disconnect with no link does nothing.
    f.dialogs.statuses.clear();
    form.EnetDisconnect1->trigger();
    EXPECT_TRUE(f.dialogs.statuses.empty());
}

TEST(EthernetSerialFallback, ASerialDeviceLostInACommandLeavesNoneAndOpensNoConnection)
{
    FakeCom1 com1;
    TKestrinForm& form = com1.form;
    form.ComCheckBox->setChecked(true);
    form.enable_btns();
    com1.line.vanish();
    ASSERT_TRUE(pump_until([&] { return !com1.f.dialogs.messages.empty(); }));
    EXPECT_FALSE(form.SendCOMCmd_GetPrompt("\r")); // the command goes on, over no link
    EXPECT_FALSE(form.ClientSocket1->Connecting() || form.ClientSocket1->Active());
    EXPECT_TRUE(com1.f.dialogs.statuses.empty());
    EXPECT_EQ(form.ComNumberLabel->text(), "None");
    EXPECT_EQ(form.ApdComPort1->ComNumber(), 0);
    EXPECT_FALSE(form.ComCheckBox->isChecked());
    EXPECT_FALSE(form.PickButton->isEnabled());
}

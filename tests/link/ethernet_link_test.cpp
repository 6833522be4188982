// The Ethernet link and its dialog against a peer that the test drives on 127.0.0.1: the field
// checks, the display and capture paths, typing, Disconnect, a unit that stops reading, and a
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

namespace {

struct Dialog : ::testing::Test, EthernetForm {
    TKestrinForm& main = form();
    TClientSocketForm& d = dialog();
};

// Connected to a peer that never answers: the prompt check fails twice, the link is up all the
// same, and the test holds the unit's end of it.
struct SilentPeer : Dialog {
    SilentPeer()
    {
        main.CCHECKTimer1->stop(); // no keep-alive among the bytes the tests compare
        connect(peer.port());
        peer.accept_peer();
        probes = peer.read_for(100);
        dialogs.statuses.clear();
    }

    LoopbackListener peer;
    std::string probes;
};

} // namespace

TEST_F(Dialog, ChecksEachAddressFieldAndThePortAndNamesTheComputersAddress)
{
    main.EnetConnect1->trigger();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.EnetStatusText->text(), "Note: Computer's IP Addr = 127.0.0.1");
    EXPECT_EQ(d.IPEdit1->text() + "." + d.IPEdit2->text() + "." + d.IPEdit3->text() + "." +
                  d.IPEdit4->text(),
              "127.0.0.1");

    const struct {
        const char* text;
        const char* message; // nullptr: accepted
    } cases[] = {{"255", nullptr},
                 {"0", nullptr},
                 {"256", "Error! Number must be between 0 - 255"},
                 {"-1", "Error! Number must be between 0 - 255"},
                 {"", "Error! Invalid IP Address"},
                 {"1x", "Error! Invalid IP Address"}};
    for (const auto& c : cases) {
        dialogs.messages.clear();
        d.IPEdit3->setText(c.text);
        d.IPEdit3Exit();
        EXPECT_EQ(dialogs.messages, c.message ? std::vector<std::string>{c.message}
                                              : std::vector<std::string>{})
            << c.text;
        // The focus stays where the dialog put it on showing, or goes back to the field.
        EXPECT_EQ(d.focusWidget(), c.message ? d.IPEdit3 : d.IPEdit1) << c.text;
    }
    d.IPEdit3->setText("0");

    // The port is checked when Connect is pressed; nothing is opened for a refused one.
    dialogs.messages.clear();
    for (const char* port : {"65536", "abc"}) {
        d.PortNumberTxEdit->setText(port);
        d.ConnectButton->click();
        EXPECT_FALSE(main.ClientSocket1->Connecting());
        EXPECT_FALSE(main.connect_pending);
        EXPECT_TRUE(d.ConnectButton->isEnabled());
    }
    d.PortNumberTxEdit->setText("3000");
    d.IPEdit4->setText("x"); // not an address the client can open
    d.ConnectButton->click();
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Error! Port # must be less than 65535",
                                                          "Error! Invalid IP Address / Port #",
                                                          "Error! Invalid IP Address / Port #"}));
    EXPECT_EQ(dialogs.statuses, std::vector<std::string>{
                                    "Attempting Ethernet connection. Please wait...."});
    EXPECT_FALSE(main.connect_pending); // the dialog may close again
    d.close();
    EXPECT_FALSE(d.isVisible());

    // 65535 is a port; the attempt is made (nothing listens there on this computer's loopback).
    d.IPEdit4->setText("1");
    d.PortNumberTxEdit->setText("65535");
    d.Powersock1.lookup = []() -> std::string { throw ESocketError("no host name"); };
    dialogs.messages.clear();
    main.EnetConnect1->trigger();
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Error! Invalid IP Address / Port #"});
    d.ConnectButton->click();
    EXPECT_EQ(main.ClientSocket1->Port(), 65535);
    EXPECT_EQ(main.ClientSocket1->Address(), "127.0.0.1");
    EXPECT_EQ(dialogs.statuses.back(), "Attempting Ethernet connection. Please wait....");
}

TEST_F(SilentPeer, ShowsReceivedTextCapturesRepliesAndSendsWhatIsTyped)
{
    EXPECT_EQ(probes, "\r\r\n\r\r\n");
    ASSERT_TRUE(main.ClientSocket1->Active());

    // Display path: a backspace moves back, and a blank and a backspace follow the chunk.
    peer.send("ab\b");
    ASSERT_TRUE(pump_until([&] { return terminal_text().rfind("a ", 0) == 0; }));
    EXPECT_EQ(main.AdTerminal1->Screen().CursorColumn(), 1);

    // A chunk larger than the buffer arrives whole, over further read notifications.
    main.AdTerminal1DblClick();
    peer.send(std::string(2500, 'x'));
    const auto shown = [&] {
        const std::string text = terminal_text();
        return std::count(text.begin(), text.end(), 'x');
    };
    EXPECT_TRUE(pump_until([&] { return shown() == 2500; })) << shown();

    // Capture path: only the awaited prompt ends it; the NUL replaces the chunk's last byte.
    main.set_wait_prompt('>');
    main.rx_min_len = 0;
    main.rx_len = 0;
    main.rx_capture_on = 1;
    peer.send("ab#c");
    pump_for(100);
    EXPECT_EQ(main.rx_capture_on, 1);
    peer.send(">xy");
    ASSERT_TRUE(pump_until([&] { return main.rx_capture_on == 0; }));
    EXPECT_EQ(std::string(main.rx_buf), "ab#c>x");

    // Typing: the unit gets each key as one byte (13 for Return, 8 for Backspace, never 127);
    // the view echoes locally, a line feed after the carriage return.
    main.AdTerminal1DblClick();
    pump_for(20);
    main.CCHECKTimer1->start();
    main.keepalive_on = 1;
    QTest::keyClick(main.AdTerminal1, Qt::Key_Q);
    QTest::keyClick(main.AdTerminal1, Qt::Key_Return);
    QTest::keyClick(main.AdTerminal1, Qt::Key_Z);
    QTest::keyClick(main.AdTerminal1, Qt::Key_Backspace);
    EXPECT_EQ(peer.read_for(100), "q\rz\b");
    const TerminalScreen& screen = main.AdTerminal1->Screen();
    EXPECT_EQ(screen.VisibleRow(0).substr(0, 2), "q ");
    EXPECT_EQ(screen.VisibleRow(1).substr(0, 2), "z ");
    EXPECT_EQ(screen.CursorColumn(), 0);
    EXPECT_FALSE(main.CCHECKTimer1->isActive());
    EXPECT_EQ(main.keepalive_on, 0);
    EXPECT_TRUE(dialogs.messages.empty());

    // Disconnect closes the link and makes the dialog editable; a second one does nothing.
    main.EnetDisconnect1->trigger();
    EXPECT_FALSE(main.ClientSocket1->Active());
    EXPECT_TRUE(pump_until([&] { return peer.peer_closed(); }));
    EXPECT_EQ(dialogs.statuses, std::vector<std::string>{"Ethernet connection closed"});
    EXPECT_FALSE(main.EthernetCheckBox->isChecked());
    EXPECT_TRUE(main.ConfigMenu->menuAction()->isEnabled());
    EXPECT_TRUE(main.EnetConnect1->isEnabled());
    EXPECT_FALSE(main.PickButton->isEnabled());
    for (QWidget* field : {static_cast<QWidget*>(d.ConnectButton), static_cast<QWidget*>(d.IPEdit1),
                           static_cast<QWidget*>(d.PortNumberTxEdit)})
        EXPECT_TRUE(field->isEnabled());
    main.EnetDisconnect1->trigger();
    EXPECT_EQ(dialogs.statuses.size(), 1u);
}

TEST(EthernetTransmit, AUnitThatStopsReadingCancelsTheUploadWithTheLostConnectionMessage)
{
    EthernetForm f;
    TKestrinForm& form = f.form();
    LoopbackListener peer(1, 4096);
    f.connect(peer.port());
    ASSERT_TRUE(peer.accept_peer());
    ASSERT_TRUE(form.ClientSocket1->Active());
    form.CommandTimer->setInterval(300);
    f.windows->ProgressForm->cancel_flag = 0;

    // Large blocks fill the socket's buffers sooner; the socket takes them in parts.
    const std::string block(100000, 'U');
    int blocks = 0;
    for (; blocks < 1000 && f.windows->ProgressForm->cancel_flag == 0; ++blocks)
        form.SendByte(static_cast<int32_t>(block.size()), block.data());
    EXPECT_LT(blocks, 1000);
    EXPECT_EQ(f.dialogs.messages,
              std::vector<std::string>{"Error! Cannot connect to server/lost connection."});
    EXPECT_FALSE(form.ClientSocket1->Active());
    EXPECT_FALSE(form.EthernetCheckBox->isChecked());
    EXPECT_TRUE(f.dialog().PortNumberTxEdit->isEnabled());
    EXPECT_EQ(form.cmd_failed, 1);
}

TEST_F(SilentPeer, AResetLinkRecoversOnceButAnImageInFlightIsCancelledInstead)
{
    // Idle: the one recovery reconnects and sends the last command again.
    set_text(main.cmd_buf, "VER");
    peer.reset_peer();
    ASSERT_TRUE(peer.accept_peer());
    ASSERT_TRUE(pump_until([&] { return main.EthernetCheckBox->isChecked(); }));
    EXPECT_EQ(peer.read_for(1200), probes + "VER");
    EXPECT_TRUE(dialogs.messages.empty());
    std::vector<std::string> recovered{"Ethernet connection closed"};
    recovered.insert(recovered.end(), {"Attempting Ethernet connection. Please wait....",
                                       "Connection established. Verifying prompt....",
                                       "Connect via Ethernet successful"});
    EXPECT_EQ(dialogs.statuses, recovered);
    EXPECT_FALSE(main.try_enet_again);
    EXPECT_TRUE(main.PickButton->isEnabled());

    // While an image streams the unit has lost its beginning: no recovery, the upload stops.
    main.upload_idle = 0;
    windows->ProgressForm->cancel_flag = 0;
    peer.reset_peer();
    ASSERT_TRUE(pump_until([&] { return !dialogs.messages.empty(); }));
    main.upload_idle = 1;
    EXPECT_EQ(dialogs.messages,
              std::vector<std::string>{"Error! Cannot connect to server/lost connection."});
    EXPECT_EQ(windows->ProgressForm->cancel_flag, 1);
    EXPECT_FALSE(main.ClientSocket1->Active());
    EXPECT_FALSE(main.ClientSocket1->Connecting());
    EXPECT_FALSE(main.EthernetCheckBox->isChecked());
    EXPECT_TRUE(d.PortNumberTxEdit->isEnabled());
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
    EXPECT_EQ(com1.f.dialogs.messages,
              std::vector<std::string>{"Note: COM Port #1 is not responding."});
    EXPECT_FALSE(form.ClientSocket1->Connecting());
    EXPECT_FALSE(form.ClientSocket1->Active());
    EXPECT_EQ(form.ComNumberLabel->text(), "None");
    EXPECT_EQ(form.ApdComPort1->ComNumber(), 0);
    EXPECT_FALSE(form.ComCheckBox->isChecked());
    EXPECT_FALSE(form.PickButton->isEnabled());
    EXPECT_TRUE(form.Ethernet1->menuAction()->isEnabled());
}

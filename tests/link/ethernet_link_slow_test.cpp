// The Ethernet link against the simulated unit on 127.0.0.1, in runs that wait out the link's
// time limits: the 5 s connect time-out, the 6000-poll prompt wait, the keep-alive interval and
// the pauses of an upload.

#include "tests/link/ethernet_test_support.h"

#include "link/client_socket.h"
#include "upload/progress_form.h"

#include <QCheckBox>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kConnected{"Attempting Ethernet connection. Please wait....",
                                          "Connection established. Verifying prompt....",
                                          "Connect via Ethernet successful"};
const std::string kVerifyMessage =
    "Error! Cannot connect to server/lost connection. Verify IP Address and Port #";
// The connect handler's prompt check: a carriage return, the TCP line end, and the same again
// for the other prompt when the first is not the one the unit shows.
const std::string kTwoProbes = "\r\r\n\r\r\n";

std::string image_bytes(size_t length)
{
    std::string image(length, '\0');
    for (size_t i = 0; i < length; ++i)
        image[i] = static_cast<char>(i * 7 % 256);
    return image;
}

// Runs a script from the button, the file dialog answering with it.
int pick_script(EthernetForm& f, const std::string& text)
{
    f.dialogs.files.push_back(f.dir.write("run.sld", text));
    f.form().PickButtonClick();
    return f.dialogs.statuses.back() == "SUCCESS. Reading script file complete" ? 1 : 0;
}

enum class Peer { answers, refuses, closes_at_once, never_accepts };

struct Outcome {
    const char* name;
    Peer peer;
    std::vector<std::string> messages;
};

struct ConnectionOutcome : ::testing::TestWithParam<Outcome> {};

} // namespace

TEST_P(ConnectionOutcome, EndsInItsStateWithItsMessages)
{
    const Outcome& expected = GetParam();
    const bool up = expected.peer == Peer::answers;
    std::unique_ptr<TcpUnit> unit;
    LoopbackListener listener(0);
    std::uint16_t port = 0;
    switch (expected.peer) {
    case Peer::answers:
    case Peer::closes_at_once:
        unit = std::make_unique<TcpUnit>(expected.peer == Peer::answers
                                             ? std::vector<std::string>{}
                                             : std::vector<std::string>{"--refuse"});
        port = unit->port();
        break;
    case Peer::refuses:
        port = unused_loopback_port();
        break;
    case Peer::never_accepts:
        listener.fill_queue();
        port = listener.port();
        break;
    }
    EthernetForm f;
    TKestrinForm& form = f.form();
    TClientSocketForm& dialog = f.dialog();
    form.AdTerminal1->WriteString("old text");
    bool closeRefused = false;
    QTimer closer; // tries to close the dialog while the attempt may still be pending
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!form.connect_pending)
            return;
        dialog.close();
        closeRefused = dialog.isVisible() && !dialog.ConnectButton->isEnabled() &&
                       !dialog.IPEdit1->isEnabled();
    });
    closer.start(300);
    f.connect(port);
    pump_for(50);

    EXPECT_EQ(f.dialogs.messages, expected.messages);
    EXPECT_EQ(closeRefused, expected.peer == Peer::never_accepts);
    EXPECT_EQ(form.ClientSocket1->Active(), up);
    EXPECT_FALSE(form.ClientSocket1->Connecting());
    EXPECT_FALSE(form.connect_pending);
    EXPECT_FALSE(form.try_enet_again);
    EXPECT_EQ(form.EthernetCheckBox->isChecked(), up);
    EXPECT_EQ(form.EnetConnect1->isEnabled(), !up);
    EXPECT_EQ(form.ConfigMenu->menuAction()->isEnabled(), !up);
    EXPECT_EQ(dialog.isVisible(), !up);
    for (QWidget* field : {static_cast<QWidget*>(dialog.ConnectButton),
                           static_cast<QWidget*>(dialog.PortNumberTxEdit),
                           static_cast<QWidget*>(dialog.IPEdit1), static_cast<QWidget*>(dialog.IPEdit4)})
        EXPECT_EQ(field->isEnabled(), !up) << field->objectName().toStdString();
    EXPECT_EQ(f.terminal_text().find("old text"), std::string::npos);
    if (up) {
        EXPECT_EQ(f.dialogs.statuses, kConnected);
        EXPECT_TRUE(form.PickButton->isEnabled());
        EXPECT_EQ(unit->wire_bytes(), kTwoProbes);
    } else {
        EXPECT_EQ(std::count(f.dialogs.statuses.begin(), f.dialogs.statuses.end(),
                             "Connect via Ethernet successful"),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Units, ConnectionOutcome,
    ::testing::Values(Outcome{"Answers", Peer::answers, {}},
                      Outcome{"Refuses", Peer::refuses, {kVerifyMessage}},
                      Outcome{"ClosesAtOnce", Peer::closes_at_once, {kVerifyMessage}},
                      Outcome{"NeverAccepts",
                              Peer::never_accepts,
                              {"Error! Cannot connect to server. Check IP Address"}}),
    [](const ::testing::TestParamInfo<Outcome>& param) { return std::string(param.param.name); });

TEST(EthernetScript, LoaderModeTextsAndAnUploadGoOverTcpByteForByte)
{
    TcpUnit unit;
    EthernetForm f;
    TKestrinForm& form = f.form();
    const std::string image = image_bytes(4321);
    f.dir.write("image.bin", image);
    f.connect(unit.port());
    ASSERT_TRUE(form.ClientSocket1->Active());

    const int completed = pick_script(f, "_TC \"^M\"\n"
                                         "_SC \"HELLO\"\n"
                                         "_LF image.bin\n"
                                         "_LA 0x10000\n"
                                         "_LV v1.0\n"
                                         "_LP 1\n"
                                         "_LD\n"
                                         "_FI\n");
    EXPECT_EQ(completed, 1);
    EXPECT_TRUE(f.dialogs.messages.empty()) << f.dialogs.messages.front();
    unsigned sum = 0;
    for (const char c : image)
        sum += static_cast<unsigned char>(c);
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%x", sum % 65536);
    // The unit is not in loader mode: the first probe waits out its 6000 polls, then LOADR.
    EXPECT_EQ(unit.wire_bytes(), kTwoProbes + "\r\r\n" + "LOADR\r\n" + "\r\r\n" + "HELLO\r" +
                                     "\r\r\n" + "LF 0x10000 4321 " + checksum + " V1.0\r" + image +
                                     "\r\r\n");
    EXPECT_EQ(unit.saved_image(1), image);
    EXPECT_TRUE(unit.sim->waitForEvent("checksum ok", 1000ms));
    EXPECT_NE(f.terminal_text().find("UPLOAD OK"), std::string::npos);
    EXPECT_FALSE(form.try_enet_again);
    EXPECT_EQ(form.CommandTimer->interval(), 14000);
    EXPECT_TRUE(form.EthernetCheckBox->isChecked());
    EXPECT_TRUE(form.CCHECKTimer1->isActive());
}

TEST(EthernetScript, ALinkDroppedInAnUploadCancelsItAndANewConnectionWorks)
{
    TcpUnit unit({"--prompts", ">>", "--drop-after", "3000"});
    EthernetForm f;
    TKestrinForm& form = f.form();
    f.dir.write("image.bin", image_bytes(20000));
    f.connect(unit.port());
    ASSERT_TRUE(form.ClientSocket1->Active());

    EXPECT_EQ(pick_script(f, "_SC \"LOADR\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LP 1\n_LD\n_FI\n"),
              0);
    EXPECT_EQ(f.dialogs.messages,
              (std::vector<std::string>{"Error! Cannot connect to server/lost connection.",
                                        "Upload cancelled/incomplete!!! Upload for image.bin section "
                                        "was incomplete.",
                                        "Exiting script"}));
    EXPECT_EQ(f.dialogs.statuses.back(), " ");
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_FALSE(form.ClientSocket1->Active());
    EXPECT_FALSE(form.EthernetCheckBox->isChecked());
    EXPECT_FALSE(f.windows->ProgressForm->isVisible());
    EXPECT_TRUE(form.Ethernet1->menuAction()->isVisible());
    EXPECT_TRUE(unit.sim->waitForEvent("dropped after 3000", 1000ms));

    f.dialogs.statuses.clear();
    f.dialog().ConnectButton->click();
    EXPECT_TRUE(form.ClientSocket1->Active());
    EXPECT_EQ(f.dialogs.statuses, kConnected);
}

TEST(EthernetScript, TcWithoutAnswerFailsWhenItsPollsRunOutBeforeTheCommandTimeOut)
{
    TcpUnit unit({"--silent"});
    EthernetForm f;
    TKestrinForm& form = f.form();
    f.connect(unit.port());
    ASSERT_TRUE(form.ClientSocket1->Active());

    EXPECT_EQ(pick_script(f, "_TC \"^M\"\n_FI\n"), 0);
    EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{
                                      "Error! Unable to get response from unit(_TC)! Exiting script"});
    EXPECT_EQ(unit.wire_bytes(), kTwoProbes + "\r\r\n" + "LOADR\r\n" + "\r\r\n\r\r\n\r\r\n\r\r\n");
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 0);
    EXPECT_FALSE(form.try_enet_again);
    EXPECT_TRUE(form.ClientSocket1->Active());
}

TEST(EthernetScript, ACommandTimeOutReconnectsAndResendsOnceAndTheNextEndsTheScript)
{
    TcpUnit unit({"--silent"});
    EthernetForm f;
    TKestrinForm& form = f.form();
    f.connect(unit.port());
    ASSERT_TRUE(form.ClientSocket1->Active());
    form.CommandTimer->setInterval(2000); // shorter than a probe's 6000 polls

    EXPECT_EQ(pick_script(f, "_TC \"^M\"\n_FI\n"), 0);
    const std::string timeout = "Timeout error! Connection failure! Please check RS232/Ethernet "
                                "connection. Exiting script.";
    // The first time-out reconnects; every later probe of the command times out for good.
    EXPECT_EQ(f.dialogs.messages,
              (std::vector<std::string>{timeout, timeout, timeout, timeout,
                                        "Error! Unable to get response from unit(_TC)! Exiting "
                                        "script"}));
    EXPECT_EQ(unit.wire_bytes(), kTwoProbes + "\r\r\n" + kTwoProbes + "\r" + "LOADR\r\n" +
                                     "\r\r\n\r\r\n\r\r\n\r\r\n");
    EXPECT_TRUE(unit.sim->waitForEvent("connected", 100ms));
    EXPECT_TRUE(unit.sim->waitForEvent("disconnected", 100ms));
    EXPECT_TRUE(unit.sim->waitForEvent("connected", 100ms));
    const auto& s = f.dialogs.statuses;
    const auto closed = std::find(s.begin(), s.end(), "Ethernet connection closed");
    ASSERT_NE(closed, s.end());
    EXPECT_TRUE(std::equal(kConnected.begin(), kConnected.end(), closed + 1));
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_TRUE(form.try_enet_again);
    EXPECT_TRUE(form.ClientSocket1->Active());
}

TEST(EthernetKeepAlive, GoesOutEvery6010MsWhileIdleButNotInARunOrAfterAKey)
{
    TcpUnit unit;
    EthernetForm f;
    TKestrinForm& form = f.form();
    f.connect(unit.port());
    ASSERT_TRUE(form.ClientSocket1->Active());
    EXPECT_EQ(form.CCHECKTimer1->interval(), 6010);
    form.CCHECKTimer1->start();
    std::string wire = kTwoProbes;

    pump_for(6500);
    wire += "\r\n";
    EXPECT_EQ(unit.wire_bytes(), wire);

    form.com_checking = 1;
    form.CCHECKTimer1Timer();
    form.com_checking = 0;
    pump_for(50);
    EXPECT_EQ(unit.wire_bytes(), wire);

    EXPECT_EQ(pick_script(f, "_DY 1400\n"), 1); // longer than the interval, without events
    EXPECT_EQ(unit.wire_bytes(), wire);
    pump_for(6300);
    wire += "\r\n";
    EXPECT_EQ(unit.wire_bytes(), wire);

    QTest::keyClick(form.AdTerminal1, Qt::Key_K);
    pump_for(6500);
    wire += "k";
    EXPECT_EQ(unit.wire_bytes(), wire);
}

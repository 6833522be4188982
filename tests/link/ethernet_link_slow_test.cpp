// The Ethernet link against the simulated unit on 127.0.0.1, in runs that wait out the link's
// time limits: the 5 s connect time-out, the 6000-poll prompt wait, the keep-alive interval and
// the pauses of an upload.

#include "tests/link/ethernet_test_support.h"
#include "tests/support/block_hold.h"

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
const std::string kVerify =
    "Error! Cannot connect to server/lost connection. Verify IP Address and Port #";
// The prompt check of a new connection against a unit in normal mode: a carriage return and the
// TCP line end for the loader prompt, then the same for the normal one.
const std::string kTwoProbes = "\r\r\n\r\r\n";

// Runs a script from the button, the file dialog answering with it; true when it succeeded.
bool pick_script(EthernetForm& f, const std::string& text)
{
    f.dialogs.files.push_back(f.dir.write("run.sld", text));
    f.form().PickButtonClick();
    return f.dialogs.statuses.back() == "SUCCESS. Reading script file complete";
}

enum class Peer { answers, refuses, closes_at_once, never_accepts };

struct ConnectionOutcome : ::testing::TestWithParam<std::pair<Peer, std::string>> {};

std::string peer_name(const ::testing::TestParamInfo<ConnectionOutcome::ParamType>& outcome)
{
    static const char* const names[] = {"Answers", "Refuses", "ClosesAtOnce", "NeverAccepts"};
    return names[static_cast<int>(outcome.param.first)];
}

} // namespace

TEST_P(ConnectionOutcome, EndsInItsStateWithItsMessage)
{
    const auto& [peer, message] = GetParam();
    const bool up = peer == Peer::answers;
    TcpUnit unit(peer == Peer::closes_at_once ? std::vector<std::string>{"--refuse"}
                                              : std::vector<std::string>{});
    LoopbackListener listener(0);
    if (peer == Peer::never_accepts)
        listener.fill_queue();
    else if (peer == Peer::refuses)
        listener.stop_listening();
    EthernetForm f;
    TKestrinForm& form = f.form();
    TClientSocketForm& dialog = f.dialog();
    form.AdTerminal1->WriteString("old text");
    bool closeRefused = false;
    QTimer closer; // tries to close the dialog while the attempt is still pending
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        dialog.close();
        closeRefused =
            form.connect_pending && dialog.isVisible() && !dialog.ConnectButton->isEnabled();
    });
    closer.start(300);
    f.connect(up || peer == Peer::closes_at_once ? unit.port() : listener.port());
    pump_for(300);

    EXPECT_EQ(f.dialogs.messages,
              message.empty() ? std::vector<std::string>{} : std::vector<std::string>{message});
    EXPECT_EQ(closeRefused, peer == Peer::never_accepts);
    EXPECT_EQ(form.ClientSocket1->Active(), up);
    EXPECT_FALSE(form.ClientSocket1->Connecting() || form.connect_pending || form.try_enet_again);
    EXPECT_EQ(form.EthernetCheckBox->isChecked(), up);
    EXPECT_EQ(form.EnetConnect1->isEnabled() || form.ConfigMenu->menuAction()->isEnabled(), !up);
    for (QWidget* field : std::initializer_list<QWidget*>{dialog.ConnectButton,
                                                          dialog.PortNumberTxEdit, dialog.IPEdit1})
        EXPECT_EQ(field->isEnabled(), !up) << field->objectName().toStdString();
    EXPECT_EQ(f.terminal_text().find("old text"), std::string::npos);
    if (up) {
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_TRUE(form.PickButton->isEnabled());
        EXPECT_EQ(f.dialogs.statuses, kConnected);
        EXPECT_TRUE(wire_reads(unit, kTwoProbes));
    } else {
        EXPECT_EQ(std::ranges::count(f.dialogs.statuses, kConnected.back()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Units, ConnectionOutcome,
    ::testing::Values(std::pair{Peer::answers, std::string()}, std::pair{Peer::refuses, kVerify},
                      std::pair{Peer::closes_at_once, kVerify},
                      std::pair{Peer::never_accepts,
                                std::string("Error! Cannot connect to server. Check IP Address")}),
    peer_name);

TEST(EthernetScript, LoaderModeAQueryWithItsBranchesAndAnUploadGoOverTcpByteForByte)
{
    TcpUnit unit({"--reply", "VER=Version 2.03"});
    EthernetForm f;
    std::string image(4321, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 % 256); // byte sum 0x86610, sent as 6610
    f.dir.write("image.bin", image);
    f.connect(unit.port());
    ASSERT_TRUE(f.form().ClientSocket1->Active());

    EXPECT_TRUE(pick_script(f, "_TC \"^M\"\n_QC \"VER\"\n_CN \"Version 2.03\" _FI\n"
                               "_CS \"Version 2.03\" _SC \"HELLO\"\n_LF image.bin\n_LA 0x10000\n"
                               "_LV v1.0\n_LP 1\n_LD\n_FI\n"));
    EXPECT_TRUE(f.dialogs.messages.empty());
    // The answer is the echoed query and the reply, without the line ends and the prompt that
    // ended the last chunk.
    EXPECT_EQ(std::string(f.form().query_answer), "VERVersion 2.03");
    // The unit is not in loader mode yet: the first probe waits out its 6000 polls, then LOADR.
    // The query goes out as typed, its line end 200 ms later.
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\r\nLOADR\r\n\r\r\nVER\r\nHELLO\r\r\r\n" +
                                     "LF 0x10000 4321 6610 V1.0\r" + image + "\r\r\n"));
    EXPECT_EQ(unit.saved_image(1), image);
    EXPECT_TRUE(unit.sim->waitForEvent("checksum ok 6610", 1000ms));
    EXPECT_NE(f.terminal_text().find("UPLOAD OK"), std::string::npos);
    EXPECT_FALSE(f.form().try_enet_again);
    EXPECT_TRUE(f.form().EthernetCheckBox->isChecked());
}

TEST(EthernetScript, ALinkDroppedInAnUploadCancelsItAndANewConnectionWorks)
{
    TcpUnit unit({"--prompts", ">>", "--drop-after", "3000"});
    EthernetForm f;
    f.dir.write("image.bin", std::string(20000, 'i'));
    f.connect(unit.port());
    // The socket buffers would take the whole image before the unit drops the link: the
    // transfer waits after its second block until Kestrin has seen the connection go.
    TProgressForm& progress = *f.windows->ProgressForm;
    BlockHold hold(progress, 2, [&] {
        return progress.cancel_flag == 1 || !f.form().ClientSocket1->Active();
    });

    EXPECT_FALSE(pick_script(f, "_SC \"LOADR\"\n_LF image.bin\n_LA 0\n_LV V1\n_LP 1\n_LD\n_FI\n"));
    EXPECT_EQ(f.dialogs.messages, (std::vector<std::string>{
                                      "Error! Cannot connect to server/lost connection.",
                                      "Upload cancelled/incomplete!!! Upload for image.bin section "
                                      "was incomplete.",
                                      "Exiting script"}));
    EXPECT_TRUE(hold.held());
    EXPECT_EQ(progress.cancel_flag, 1);
    EXPECT_FALSE(f.form().EthernetCheckBox->isChecked());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_TRUE(unit.sim->waitForEvent("dropped after 3000", 1000ms));

    f.dialogs.statuses.clear();
    f.dialog().ConnectButton->click();
    EXPECT_EQ(f.dialogs.statuses, kConnected);
}

TEST(EthernetScript, TcWithoutAnswerFailsWhenItsPollsRunOutBeforeTheCommandTimeOut)
{
    TcpUnit unit({"--silent"});
    EthernetForm f;
    f.connect(unit.port());
    EXPECT_FALSE(pick_script(f, "_TC \"^M\"\n"));
    EXPECT_EQ(
        f.dialogs.messages,
        std::vector<std::string>{"Error! Unable to get response from unit(_TC)! Exiting script"});
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\r\nLOADR\r\n\r\r\n\r\r\n\r\r\n\r\r\n"));
    EXPECT_TRUE(f.form().ClientSocket1->Active());
}

TEST(EthernetScript, ACommandTimeOutReconnectsAndResendsOnceAndTheNextEndsTheScript)
{
    TcpUnit unit({"--silent"});
    EthernetForm f;
    f.connect(unit.port());
    f.form().CommandTimer->setInterval(2000); // shorter than a probe's 6000 polls

    EXPECT_FALSE(pick_script(f, "_TC \"^M\"\n"));
    const std::string timeout = "Timeout error! Connection failure! Please check RS232/Ethernet "
                                "connection. Exiting script.";
    // The first time-out reconnects; each later probe of the command times out for good.
    EXPECT_EQ(f.dialogs.messages,
              (std::vector<std::string>{timeout, timeout, timeout, timeout,
                                        "Error! Unable to get response from unit(_TC)! Exiting "
                                        "script"}));
    // The probe, then on the new connection its prompt check and the probe again.
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\r\n" + kTwoProbes +
                                     "\rLOADR\r\n\r\r\n\r\r\n\r\r\n\r\r\n"));
    for (const char* event : {"connected", "disconnected", "connected"})
        EXPECT_TRUE(unit.sim->waitForEvent(event, 100ms)) << event;
    const auto& s = f.dialogs.statuses;
    const auto closed = std::ranges::find(s, "Ethernet connection closed");
    ASSERT_NE(closed, s.end());
    EXPECT_TRUE(std::equal(kConnected.begin(), kConnected.end(), closed + 1));
    EXPECT_TRUE(f.form().try_enet_again);
}

TEST(EthernetKeepAlive, GoesOutEvery6010MsWhileIdleButNotInARunOrAfterAKey)
{
    TcpUnit unit;
    EthernetForm f;
    TKestrinForm& form = f.form();
    f.connect(unit.port());
    form.CCHECKTimer1->start();
    pump_for(6500);
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\n"));

    form.com_checking = 1; // a link check
    form.CCHECKTimer1Timer();
    form.com_checking = 0;
    EXPECT_TRUE(pick_script(f, "_DY 1400\n")); // longer than the interval
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\n"));
    pump_for(6300);
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\n\r\n"));

    QTest::keyClick(form.AdTerminal1, Qt::Key_K);
    pump_for(6500);
    EXPECT_TRUE(wire_reads(unit, kTwoProbes + "\r\n\r\nk"));
}

// The application shell: layout, Terminal menu, configuration, brand, start-up and closing.

#include "app/splash_form.h"
#include "app/terminal_view.h"
#include "link/client_socket_form.h"
#include "serial/com_port.h"
#include "serial/status_light.h"
#include "tests/serial/fake_serial_device.h"
#include "tests/serial/serial_test_support.h"
#include "tests/support/form_fixture.h"
#include "tests/support/non_regular_files.h"
#include "upload/progress_form.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

template <class W>
W* find(TKestrinForm& form, const char* name)
{
    return form.findChild<W*>(name);
}

std::string ini_with_line(int n, const std::string& line)
{
    std::string text = "[Loader]\n; setting lines are counted from here\n\n";
    for (int i = 1; i < n; ++i)
        text += "Setting" + std::to_string(i) + "\n"; // no '=': counts, sets nothing
    return text + line + "\n";
}

} // namespace

TEST(MainWindowLayout, ControlsStandWhereDesignedWithTheirStates)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    EXPECT_EQ(form.windowTitle(), "Orvalle :- Kestrin");
    EXPECT_EQ(form.ClientHeight(), 425);
    EXPECT_EQ(form.centralWidget()->width(), 527);

    struct Expected {
        const char* name;
        QRect geometry;
    };
    for (const Expected& e : {Expected{"Label1", QRect(208, 8, 122, 20)},
                              Expected{"UploadButton", QRect(368, 40, 65, 17)},
                              Expected{"PickButton", QRect(16, 38, 176, 25)},
                              Expected{"RS232GroupBox", QRect(72, 72, 337, 42)},
                              Expected{"AdTerminal1", QRect(8, 120, 513, 281)},
                              Expected{"EthernetCheckBox", QRect(424, 86, 65, 17)},
                              Expected{"ComCheckBox", QRect(320, 16, 49, 17)},
                              Expected{"ApdStatusLight4", QRect(17, 18, 13, 13)},
                              Expected{"ApdStatusLight1", QRect(178, 18, 13, 13)}}) {
        auto* widget = find<QWidget>(form, e.name);
        ASSERT_NE(widget, nullptr) << e.name;
        EXPECT_EQ(widget->geometry(), e.geometry) << e.name;
    }
    EXPECT_EQ(find<QStatusBar>(form, "InfoStatusBar")->geometry(), QRect(0, 406, 527, 19));

    EXPECT_EQ(form.Label1->text(), "KESTRIN");
    EXPECT_EQ(form.VersionLabel->text(), "Version : ");
    EXPECT_EQ(form.PickButton->text(), "Open script file to read and upload");
    EXPECT_EQ(form.ComNumberLabel->text(), "None");
    EXPECT_EQ(form.ComBaudLabel->text(), "38400");
    EXPECT_EQ(form.RS232GroupBox->title(), "RS-232");
    EXPECT_TRUE(form.UploadButton->isHidden());
    EXPECT_TRUE(form.CODE_NUMLabel->isHidden());
    EXPECT_TRUE(form.ComCheckBox->isHidden());
    EXPECT_FALSE(form.EthernetCheckBox->isEnabled());
    EXPECT_FALSE(form.ApdStatusLight1->Lit());

    EXPECT_EQ(form.CommandTimer->interval(), 15000);
    EXPECT_FALSE(form.CommandTimer->isActive());
    EXPECT_EQ(form.CCHECKTimer1->interval(), 6010);
    EXPECT_TRUE(form.CCHECKTimer1->isActive());
    EXPECT_EQ(form.ConnectionTimer->interval(), 5000);
    EXPECT_FALSE(form.JustUploadTimer->isActive());

    EXPECT_EQ(form.ApdComPort1->ComNumber(), 1);
    EXPECT_EQ(form.ApdComPort1->Baud(), 38400);
    EXPECT_EQ(form.ApdComPort1->InSize(), 8192);
    EXPECT_EQ(form.ApdComPort1->BufferFull(), 7000);
    EXPECT_EQ(form.ApdComPort1->BufferResume(), 400);
    EXPECT_FALSE(form.ApdComPort1->Open());
}

TEST(MainWindowLayout, MenusCarryTheirCaptionsAndStates)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    EXPECT_EQ(form.ExitMenu->text(), "Exit");
    EXPECT_EQ(form.ConfigMenu->title(), "RS232 Config");
    QStringList comItems;
    for (QAction* action : form.COMPortMenu->actions())
        comItems << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(comItems.join(","), "None,COM1,COM2,COM3,COM4,COM5,COM6,COM7,COM8,COM9,COM10,COM11,"
                                  "COM12,COM13,COM14,COM15,COM16,-,Search");
    EXPECT_EQ(form.COMMenus[2]->objectName(), "COM31");
    EXPECT_EQ(form.COMMenus[15]->objectName(), "COM161");
    EXPECT_EQ(form.SearchAllMenu->toolTip(), "Look for prompt defined in INI file on COM 1 and COM 2");
    QStringList baudItems;
    for (QAction* action : form.Baud1->actions())
        baudItems << action->text();
    EXPECT_EQ(baudItems.join(","), "1200,2400,9600,19200,38400,57600,115200");
    EXPECT_EQ(form.EnetDisconnect1->text(), "Disconnect");
    EXPECT_EQ(form.EnetConnect1->text(), "Connect");
    EXPECT_TRUE(form.VisibleMenu->isChecked());
    EXPECT_FALSE(form.ForegroundColor1->menuAction()->isVisible());
    EXPECT_EQ(form.TerminalFonts1->text(), "Terminal Fonts...");
    EXPECT_EQ(form.Clear1->text(), "Clear");
}

TEST(TerminalMenu, VisibleTogglesBetween139And420NeverBackTo425)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.VisibleMenu->trigger();
    EXPECT_FALSE(form.VisibleMenu->isChecked());
    EXPECT_EQ(form.ClientHeight(), 139);
    EXPECT_EQ(form.InfoStatusBar->geometry().top(), 120);
    form.VisibleMenu->trigger();
    EXPECT_TRUE(form.VisibleMenu->isChecked());
    EXPECT_EQ(form.ClientHeight(), 420);
    EXPECT_TRUE(form.AdTerminal1->isVisible() || !form.AdTerminal1->isHidden());
}

TEST(TerminalMenu, ColourItemsSetTheViewAndDefaultsAreBlackOnSilver)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    EXPECT_EQ(form.AdTerminal1->BackgroundColor(), QColor(0, 0, 0));
    EXPECT_EQ(form.AdTerminal1->TextColor(), QColor(192, 192, 192));
    const std::pair<QAction*, QColor> back[] = {
        {form.BackRedMenu, QColor(255, 0, 0)},   {form.BackGreenMenu, QColor(0, 128, 0)},
        {form.BackBlueMenu, QColor(0, 0, 255)},  {form.BackWhiteMenu, QColor(255, 255, 255)},
        {form.BackBlackMenu, QColor(0, 0, 0)},   {form.BackDefaultMenu, QColor(0, 0, 0)}};
    for (const auto& [action, colour] : back) {
        action->trigger();
        EXPECT_EQ(form.AdTerminal1->BackgroundColor(), colour) << action->objectName().toStdString();
    }
    const std::pair<QAction*, QColor> text[] = {
        {form.TextRedMenu, QColor(255, 0, 0)},   {form.TextGreenMenu, QColor(0, 128, 0)},
        {form.TextBlueMenu, QColor(0, 0, 255)},  {form.TextWhiteMenu, QColor(255, 255, 255)},
        {form.TextBlackMenu, QColor(0, 0, 0)},   {form.TextDefaultMenu, QColor(192, 192, 192)}};
    for (const auto& [action, colour] : text) {
        action->trigger();
        EXPECT_EQ(form.AdTerminal1->TextColor(), colour) << action->objectName().toStdString();
    }
}

TEST(TerminalMenu, FontDialogAppliesOnlyAConfirmedFont)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    const QFont before = form.AdTerminal1->TerminalFont();
    form.TerminalFonts1->trigger(); // cancelled
    EXPECT_EQ(form.AdTerminal1->TerminalFont(), before);
    QFont chosen("DejaVu Sans Mono");
    chosen.setPixelSize(16);
    f.dialogs.fonts.push_back(chosen);
    form.TerminalFonts1->trigger();
    EXPECT_EQ(form.AdTerminal1->TerminalFont().pixelSize(), 16);
}

TEST(TerminalMenu, ClearErasesTheViewAndTypingStopsTheKeepAlive)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.AdTerminal1->WriteString("hello\r\nworld");
    QCoreApplication::processEvents();
    form.Clear1->trigger();
    EXPECT_EQ(form.AdTerminal1->Screen().CursorRow(), 0);
    EXPECT_EQ(form.AdTerminal1->Screen().CursorColumn(), 0);

    form.AdTerminal1->setFocus();
    QTest::keyClick(form.AdTerminal1, Qt::Key_A);
    EXPECT_FALSE(form.CCHECKTimer1->isActive());
    EXPECT_EQ(form.keepalive_on, 0);
}

TEST(Configuration, SettingsReachTheComponentsTheyGovern)
{
    FormFixture f(std::string("[Serial]\n; comment\n\n"
                              "Port=COM3\n"       // 1
                              "Baud= 9600\n"      // 2
                              "Data=7\n"          // 3
                              "Parity=2\n"        // 4
                              "Stop=2\n"          // 5
                              "Script= /tmp/run.sld\n" // 6
                              "x\n"               // 7
                              "Mode=manual\n"     // 8
                              "9\n10\n11\n12\n13\n"
                              "Prompt1= $\n"      // 14
                              "Prompt2=]\n"       // 15
                              "16\n17\n18\n"
                              "Loader=BOOT\n"     // 19
                              "Terminal=0\n"      // 20
                              "Back=4\n"          // 21
                              "Text=2\n"          // 22
                              "Brand=7\n"         // 23
                              "Word=LX \n"        // 24
                              "Enet=true\n"       // 25
                              "IP=10.0.0.7\n"     // 26
                              "Port=0\n"));       // 27
    TKestrinForm& form = f.form();
    form.read_config();
    EXPECT_EQ(form.ini_com_number, 3);
    EXPECT_EQ(form.ApdComPort1->Baud(), 9600);
    EXPECT_EQ(form.ComBaudLabel->text(), "9600");
    EXPECT_EQ(form.ApdComPort1->DataBits(), 7);
    EXPECT_EQ(form.ApdComPort1->Parity(), pEven);
    EXPECT_EQ(form.ApdComPort1->StopBits(), 2);
    EXPECT_EQ(form.auto_script_path, "/tmp/run.sld");
    EXPECT_FALSE(form.auto_upload);
    EXPECT_EQ(form.prompt_char1, '$');
    EXPECT_EQ(form.prompt_char2, ']');
    EXPECT_EQ(form.loader_mode_cmd, "BOOT\r\n");
    EXPECT_FALSE(form.VisibleMenu->isChecked());
    EXPECT_EQ(form.ClientHeight(), 139);
    EXPECT_EQ(form.AdTerminal1->BackgroundColor(), QColor(0, 0, 255));
    EXPECT_EQ(form.AdTerminal1->TextColor(), QColor(255, 0, 0));
    EXPECT_EQ(form.upload_cmd_word, "LX ");
    EXPECT_FALSE(form.ethernet_mode);
    EXPECT_EQ(form.ClientSocketForm->IPEdit1->text(), "10");
    EXPECT_EQ(form.ClientSocketForm->IPEdit4->text(), "7");
    EXPECT_EQ(form.ClientSocketForm->PortNumberTxEdit->text(), "0");
    EXPECT_TRUE(f.dialogs.messages.empty());
}

TEST(Configuration, InvalidBaudShowsItsMessageAndKeepsTheSpeed)
{
    FormFixture f(std::string("COM=0\nBaud=14400\n"));
    f.form().read_config();
    EXPECT_EQ(f.form().ini_com_number, 0);
    EXPECT_EQ(f.form().ApdComPort1->Baud(), 38400);
    ASSERT_EQ(f.dialogs.messages.size(), 1u);
    EXPECT_EQ(f.dialogs.messages[0], "Error! Baud Rate set in INI file is invalid!");
}

TEST(Configuration, MissingFileChangesNothingAndPromptsKeepTheirDefaults)
{
    FormFixture f;
    f.form().read_config();
    EXPECT_EQ(f.form().prompt_char1, '#');
    EXPECT_EQ(f.form().prompt_char2, '>');
    EXPECT_EQ(f.form().loader_mode_cmd, "LOADR\r\n");
    EXPECT_EQ(f.form().upload_cmd_word, "LF");
    EXPECT_TRUE(f.dialogs.messages.empty());
}

TEST(Brand, LineTwentyThreeSelectsCaptionsAndSplash)
{
    struct Case {
        std::optional<std::string> ini;
        const char* main;
        const char* progress;
        const char* ethernet;
        bool orvalleShown;
        bool zenwickShown;
    };
    const Case cases[] = {
        {std::nullopt, "Orvalle :- Kestrin", "Orvalle :- File Upload Progress",
         "Orvalle :- Kestrin - Ethernet", true, true},
        {ini_with_line(23, "Brand=abc"), "Talmont :- Kestrin", "Talmont :- File Upload Progress",
         "Talmont :- Ethernet Connection", true, false},
        {ini_with_line(23, "Brand= 100"), "Zenwick :- Kestrin", "Zenwick :- File Upload Progress",
         "Zenwick :- Ethernet Connection", false, true},
        {ini_with_line(23, "Brand=7"), "Kestrin", "Kestrin", "Orvalle :- Kestrin - Ethernet", true,
         true},
        {ini_with_line(23, "Brand"), "Orvalle :- Kestrin", "Orvalle :- File Upload Progress",
         "Orvalle :- Kestrin - Ethernet", true, true},
    };
    for (const Case& c : cases) {
        FormFixture f(c.ini);
        SCOPED_TRACE(c.main);
        EXPECT_EQ(f.windows->KestrinForm->windowTitle(), c.main);
        EXPECT_EQ(f.windows->ProgressForm->windowTitle(), c.progress);
        EXPECT_EQ(f.windows->ClientSocketForm->windowTitle(), c.ethernet);
        TSplashForm& splash = *f.windows->SplashForm;
        EXPECT_EQ(!splash.OrvalleImage->isHidden(), c.orvalleShown);
        EXPECT_EQ(!splash.ZenwickImage->isHidden(), c.zenwickShown);
        const bool branded = c.orvalleShown != c.zenwickShown;
        EXPECT_EQ(splash.isVisible(), branded);
        if (branded) {
            EXPECT_EQ(splash.size(), c.zenwickShown ? QSize(800, 700) : QSize(600, 400));
        }
        f.form().FormShow();
        EXPECT_FALSE(splash.isVisible());
        EXPECT_EQ(f.form().VersionLabel->text(), "Version : 2.00");
    }
}

TEST(Closing, IdleWindowClosesAtOnceWithStatusZero)
{
    FormFixture f;
    f.form().rx_capture_on = 1;
    f.form().ExitMenu->trigger();
    EXPECT_EQ(f.exit_status, 0);
    EXPECT_EQ(f.form().rx_capture_on, 0);
    EXPECT_TRUE(f.dialogs.questions.empty());
}

TEST(Closing, DuringAnUploadAsksAndNoKeepsEverythingGoing)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.show();
    form.upload_idle = 0;
    f.dialogs.answers = {false, true};
    bool canClose = true;
    form.FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
    EXPECT_FALSE(f.exit_status.has_value());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(f.dialogs.questions.size(), 1u);
    EXPECT_EQ(f.dialogs.questions[0],
              "Loader GUI : Confirm Exit: File upload in progress.\rAre you sure you want to "
              "cancel upload and exit the application?");

    form.FormCloseQuery(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(f.exit_status, 0);
    EXPECT_FALSE(form.isVisible());
}

TEST(StartUp, AutomaticModeWithoutAPortShowsItsMessageAndEnds)
{
    FormFixture f(ini_with_line(8, "Mode = automatic"));
    TKestrinForm& form = f.form();
    form.show();
    form.FormShow();
    EXPECT_TRUE(form.auto_upload);
    ASSERT_FALSE(f.dialogs.messages.empty());
    EXPECT_EQ(f.dialogs.messages.back(), "Error!! COM port communication failed. Please check "
                                         "RS232 connection/INI settings. Exiting application");
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.exit_status.has_value(); }, 2000));
    EXPECT_EQ(f.exit_status, 0);
    EXPECT_FALSE(form.isVisible());
}

// A layer error that escapes the script run (a write the device refused, raised by the next
// command) is shown, and the unattended run still ends.
TEST(StartUp, AnErrorEscapingTheAutomaticRunIsShownAndTheProgramStillEnds)
{
    FakeLine line;
    ComMapping mapping{{{1, "/dev/fake-com1"}}};
    FormFixture f(std::string("COM=0\nBaud=38400\n8\n0\n1\nScript=auto.sld\n7\nMode=Automatic\n"));
    f.dir.write("auto.sld", "_SC \"A\"\n_SC \"B\"\n_FI\n");
    TKestrinForm& form = f.form();
    form.ApdComPort1->SetDeviceFactory(line.factory());
    form.ApdComPort1->SetComNumber(1);
    form.ApdComPort1->SetOpen(true);
    line.fail_writes(EIO);
    form.FormShow();
    EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{"Failed to put entire block"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.exit_status.has_value(); }, 2000));
    EXPECT_EQ(f.exit_status, 0);
}

TEST(Configuration, APipeOrADeviceAsTheFileReadsAsMissingAndNothingBlocks)
{
    for (NonRegular kind : {NonRegular::fifo, NonRegular::device}) {
        SCOPED_TRACE(name_of(kind));
        FormFixture f;
        ASSERT_TRUE(make_non_regular(f.dir.path("LoaderDefault.ini"), kind));
        f.windows = std::make_unique<KestrinWindows>(); // the splash window reads the brand
        f.form().SetDialogs(std::make_unique<RecordingDialogs>(f.dialogs));
        EXPECT_EQ(f.form().windowTitle(), "Orvalle :- Kestrin");
        EXPECT_FALSE(f.windows->SplashForm->isVisible());
        f.form().read_config();
        EXPECT_FALSE(f.form().auto_upload);
        EXPECT_EQ(f.form().prompt_char1, '#');
        EXPECT_TRUE(f.dialogs.messages.empty());
    }
}

TEST(StatusLine, ShowStatusReplacesTheWholeTextAndButtonsFollow)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.show_status("first");
    form.show_status("second");
    EXPECT_EQ(form.InfoStatusText->text(), "second");
    EXPECT_EQ(f.dialogs.statuses, (std::vector<std::string>{"first", "second"}));
    form.disable_btns();
    EXPECT_FALSE(form.PickButton->isEnabled());
    EXPECT_FALSE(form.UploadButton->isEnabled());
    form.enable_btns();
    EXPECT_TRUE(form.PickButton->isEnabled());
    EXPECT_TRUE(form.UploadButton->isEnabled());
}

// The main window's layout: controls, non-visual components and the menu bar, as the window is
// designed, and the wiring of every control to its handler.

#include "app/kestrin_form.h"

#include "app/form_widgets.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "serial/com_port.h"
#include "serial/status_light.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

constexpr int kClientWidth = 527;
constexpr int kClientHeight = 425;
constexpr int kStatusBarHeight = 19;
constexpr int kBaudMenuRates[7] = {1200, 2400, 9600, 19200, 38400, 57600, 115200};

QAction* make_action(QMenu* menu, const char* name, const char* caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

QAction* make_separator(QMenu* menu, const char* name)
{
    QAction* separator = menu->addSeparator();
    separator->setObjectName(name);
    return separator;
}

QMenu* make_menu(QWidget* parent, const char* name, const char* caption)
{
    auto* menu = new QMenu(caption, parent);
    menu->setObjectName(name);
    return menu;
}

// Black, Red, Green, Blue, White, a separator line and Default: the items of both colour menus.
void add_colour_items(QMenu* menu, const std::string& prefix, const std::array<QAction**, 6>& items,
                      QAction*& separator, const char* separatorName)
{
    static const char* const colours[5] = {"Black", "Red", "Green", "Blue", "White"};
    for (size_t i = 0; i < 5; ++i)
        *items[i] = make_action(menu, (prefix + colours[i] + "Menu").c_str(), colours[i]);
    separator = make_separator(menu, separatorName);
    *items[5] = make_action(menu, (prefix + "DefaultMenu").c_str(), "Default");
}

QTimer* make_timer(QObject* parent, const char* name, int intervalMs)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(name);
    timer->setInterval(intervalMs);
    timer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    return timer;
}

TApdStatusLight* make_light(QWidget* group, const char* name, int left, int top)
{
    auto* light = new TApdStatusLight(group);
    light->setObjectName(name);
    light->setGeometry(left, top, 13, 13);
    return light;
}

} // namespace

TKestrinForm::TKestrinForm(QWidget* parent) : QMainWindow(parent)
{
    SetDialogs(make_dialogs());
    setObjectName("KestrinForm");
    setWindowTitle("Orvalle :- Kestrin");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(pixel_font("MS Sans Serif", 11));
    exit_process = [](int status) {
        std::fflush(nullptr);
        _exit(status);
    };

    client_ = new QWidget(this);
    client_->setObjectName("ClientArea");
    client_->setAutoFillBackground(true);
    client_->setBackgroundRole(QPalette::Button);
    setCentralWidget(client_);

    BuildComponents();
    BuildControls(client_);
    BuildMenus();
    ConnectHandlers();
    BindSerialPort();
    BindClientSocket();
    SetClientHeight(kClientHeight);
    enet_closed = false;
}

// The port and the lamp controller outlive the widgets among the window's children: unhook them
// while the terminal view and the lamps still exist.
TKestrinForm::~TKestrinForm()
{
    ApdComPort1->RemoveDataListener(terminal_listener_);
    ApdSLController1->SetComPort(nullptr);
    ApdSLController1->Lights = {};
    ApdComPort1->SetOpen(false);
}

void TKestrinForm::SetDialogs(std::unique_ptr<Dialogs> dialogs)
{
    dialogs_ = std::move(dialogs);
    dialogs_->WatchMessages([this](std::string_view text) { run_record.MessageShown(text); });
}

int TKestrinForm::ClientHeight() const
{
    return client_->height();
}

void TKestrinForm::SetClientHeight(int height)
{
    client_->setFixedSize(kClientWidth, height);
    InfoStatusBar->setGeometry(0, height - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    InfoStatusBar->raise();
    setFixedSize(kClientWidth, height + menuBar()->sizeHint().height());
}

void TKestrinForm::BuildComponents()
{
    JustUploadTimer = make_timer(this, "JustUploadTimer", 1);
    CommandTimer = make_timer(this, "CommandTimer", 15000);
    ConnectionTimer = make_timer(this, "ConnectionTimer", 5000);
    CCHECKTimer1 = make_timer(this, "CCHECKTimer1", 6010);
    CCHECKTimer1->start();

    ApdComPort1 = new TApdComPort(this);
    ApdComPort1->setObjectName("ApdComPort1");
    ApdComPort1->SetComNumber(1);
    ApdComPort1->SetBaud(38400);
    ApdComPort1->SetInSize(8192);
    ApdComPort1->SetAutoOpen(false);
    ApdComPort1->SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    ApdComPort1->SetBufferFull(7000);
    ApdComPort1->SetBufferResume(400);

    ClientSocket1 = new TClientSocket(this);
    ClientSocket1->setObjectName("ClientSocket1");
}

void TKestrinForm::BuildControls(QWidget* client)
{
    Label1 = new QLabel("KESTRIN", client);
    Label1->setObjectName("Label1");
    Label1->setGeometry(208, 8, 122, 20);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(pixel_font("Comic Sans MS", 15));
    Label1->setStyleSheet("color: black;");

    VersionLabel = make_label(client, "VersionLabel", "Version : ", 431, 10);
    CODE_NUMLabel = make_label(client, "CODE_NUMLabel", "CODE_NUMLabel", 416, 24);
    CODE_NUMLabel->hide();

    UploadButton = new QPushButton("Upload", client);
    UploadButton->setObjectName("UploadButton");
    UploadButton->setGeometry(368, 40, 65, 17);
    UploadButton->setFocusPolicy(Qt::NoFocus);
    UploadButton->hide();

    PickButton = new QPushButton("Open script file to read and upload", client);
    PickButton->setObjectName("PickButton");
    PickButton->setGeometry(16, 38, 176, 25);

    RS232GroupBox = new QGroupBox("RS-232", client);
    RS232GroupBox->setObjectName("RS232GroupBox");
    RS232GroupBox->setGeometry(72, 72, 337, 42);

    ApdStatusLight4 = make_light(RS232GroupBox, "ApdStatusLight4", 17, 18);
    Label5 = make_label(RS232GroupBox, "Label5", "TXD", 30, 18);
    ApdStatusLight3 = make_light(RS232GroupBox, "ApdStatusLight3", 71, 18);
    Label4 = make_label(RS232GroupBox, "Label4", "RXD", 84, 18);
    ApdStatusLight2 = make_light(RS232GroupBox, "ApdStatusLight2", 121, 18);
    Label3 = make_label(RS232GroupBox, "Label3", "DCD", 135, 18);
    ApdStatusLight1 = make_light(RS232GroupBox, "ApdStatusLight1", 178, 18);
    Label2 = make_label(RS232GroupBox, "Label2", "CTS", 192, 18);
    Label6 = make_label(RS232GroupBox, "Label6", "COM:", 248, 8);
    ComNumberLabel = make_label(RS232GroupBox, "ComNumberLabel", "None", 280, 8);
    Label7 = make_label(RS232GroupBox, "Label7", "Baud:", 248, 24);
    ComBaudLabel = make_label(RS232GroupBox, "ComBaudLabel", "38400", 281, 25);

    ComCheckBox = new QCheckBox("Use COM", RS232GroupBox);
    ComCheckBox->setObjectName("ComCheckBox");
    ComCheckBox->setGeometry(320, 16, 49, 17);
    ComCheckBox->setFocusPolicy(Qt::NoFocus);
    ComCheckBox->hide();

    AdTerminal1 = new TAdTerminal(client);
    AdTerminal1->setObjectName("AdTerminal1");
    AdTerminal1->setGeometry(8, 120, 513, 281);
    AdTerminal1->setFocusPolicy(Qt::StrongFocus);

    EthernetCheckBox = new QCheckBox("Ethernet", client);
    EthernetCheckBox->setObjectName("EthernetCheckBox");
    EthernetCheckBox->setGeometry(424, 86, 65, 17);
    EthernetCheckBox->setFocusPolicy(Qt::NoFocus);
    EthernetCheckBox->setEnabled(false);

    InfoStatusBar = new QStatusBar(client);
    InfoStatusBar->setObjectName("InfoStatusBar");
    InfoStatusBar->setSizeGripEnabled(false);
    InfoStatusText = new QLabel(InfoStatusBar);
    InfoStatusText->setObjectName("InfoStatusText");
    InfoStatusBar->addWidget(InfoStatusText, 1);

    ApdSLController1 = new TApdSLController(this);
    ApdSLController1->setObjectName("ApdSLController1");
    ApdSLController1->SetComPort(ApdComPort1);
    ApdSLController1->Lights.CTSLight = ApdStatusLight1;
    ApdSLController1->Lights.DCDLight = ApdStatusLight2;
    ApdSLController1->Lights.RXDLight = ApdStatusLight3;
    ApdSLController1->Lights.TXDLight = ApdStatusLight4;
}

void TKestrinForm::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName("ControllerMainMenu");

    ExitMenu = bar->addAction("Exit");
    ExitMenu->setObjectName("ExitMenu");

    Communication1 = make_menu(bar, "Communication1", "Communication");
    bar->addMenu(Communication1);
    ConfigMenu = make_menu(Communication1, "ConfigMenu", "RS232 Config");
    Communication1->addMenu(ConfigMenu);

    COMPortMenu = make_menu(ConfigMenu, "COMPortMenu", "COM Port");
    COMPortMenu->setToolTipsVisible(true);
    ConfigMenu->addMenu(COMPortMenu);
    NoneMenu = make_action(COMPortMenu, "NoneMenu", "None");
    static const char* const comNames[16] = {"COM1Menu", "COM2Menu", "COM31",  "COM32",
                                             "COM33",    "COM34",    "COM35",  "COM36",
                                             "COM91",    "COM101",   "COM111", "COM121",
                                             "COM131",   "COM141",   "COM151", "COM161"};
    for (int i = 0; i < 16; ++i)
        COMMenus[i] = make_action(COMPortMenu, comNames[i], ("COM" + std::to_string(i + 1)).c_str());
    N1 = make_separator(COMPortMenu, "N1");
    SearchAllMenu = make_action(COMPortMenu, "SearchAllMenu", "Search");
    SearchAllMenu->setToolTip("Look for prompt defined in INI file on COM 1 and COM 2");

    Baud1 = make_menu(ConfigMenu, "Baud1", "Baud");
    ConfigMenu->addMenu(Baud1);
    static const char* const baudNames[7] = {"N12001",  "N24001",  "N96001",  "N192001",
                                             "N384001", "N576001", "N1152001"};
    for (int i = 0; i < 7; ++i)
        BaudMenus[i] = make_action(Baud1, baudNames[i], std::to_string(kBaudMenuRates[i]).c_str());

    Ethernet1 = make_menu(Communication1, "Ethernet1", "Ethernet");
    Communication1->addMenu(Ethernet1);
    EnetDisconnect1 = make_action(Ethernet1, "EnetDisconnect1", "Disconnect");
    EnetConnect1 = make_action(Ethernet1, "EnetConnect1", "Connect");

    Terminal1 = make_menu(bar, "Terminal1", "Terminal");
    bar->addMenu(Terminal1);
    VisibleMenu = make_action(Terminal1, "VisibleMenu", "Visible");
    VisibleMenu->setCheckable(true);
    VisibleMenu->setChecked(true);

    BackgroundColor1 = make_menu(Terminal1, "BackgroundColor1", "Background Color");
    Terminal1->addMenu(BackgroundColor1);
    add_colour_items(BackgroundColor1, "Back",
                     {&BackBlackMenu, &BackRedMenu, &BackGreenMenu, &BackBlueMenu, &BackWhiteMenu,
                      &BackDefaultMenu},
                     N2, "N2");

    ForegroundColor1 = make_menu(Terminal1, "ForegroundColor1", "Text Color");
    Terminal1->addMenu(ForegroundColor1);
    ForegroundColor1->menuAction()->setVisible(false);
    add_colour_items(ForegroundColor1, "Text",
                     {&TextBlackMenu, &TextRedMenu, &TextGreenMenu, &TextBlueMenu, &TextWhiteMenu,
                      &TextDefaultMenu},
                     N3, "N3");

    TerminalFonts1 = make_action(Terminal1, "TerminalFonts1", "Terminal Fonts...");
    Clear1 = make_action(Terminal1, "Clear1", "Clear");
}

void TKestrinForm::ConnectHandlers()
{
    const auto on = [this](QAction* action, void (TKestrinForm::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    on(ExitMenu, &TKestrinForm::ExitMenuClick);
    on(NoneMenu, &TKestrinForm::NoneMenuClick);
    for (int i = 0; i < 16; ++i)
        connect(COMMenus[i], &QAction::triggered, this, [this, i] { select_com(i + 1); });
    on(SearchAllMenu, &TKestrinForm::SearchAllMenuClick);
    for (int i = 0; i < 7; ++i)
        connect(BaudMenus[i], &QAction::triggered, this,
                [this, i] { SetBaudFromMenu(kBaudMenuRates[i]); });
    on(EnetDisconnect1, &TKestrinForm::EnetDisconnect1Click);
    on(EnetConnect1, &TKestrinForm::EnetConnect1Click);
    on(VisibleMenu, &TKestrinForm::FollowVisibleTick);
    on(BackBlackMenu, &TKestrinForm::BackBlackMenuClick);
    on(BackRedMenu, &TKestrinForm::BackRedMenuClick);
    on(BackGreenMenu, &TKestrinForm::BackGreenMenuClick);
    on(BackBlueMenu, &TKestrinForm::BackBlueMenuClick);
    on(BackWhiteMenu, &TKestrinForm::BackWhiteMenuClick);
    on(BackDefaultMenu, &TKestrinForm::BackDefaultMenuClick);
    on(TextBlackMenu, &TKestrinForm::TextBlackMenuClick);
    on(TextRedMenu, &TKestrinForm::TextRedMenuClick);
    on(TextGreenMenu, &TKestrinForm::TextGreenMenuClick);
    on(TextBlueMenu, &TKestrinForm::TextBlueMenuClick);
    on(TextWhiteMenu, &TKestrinForm::TextWhiteMenuClick);
    on(TextDefaultMenu, &TKestrinForm::TextDefaultMenuClick);
    on(TerminalFonts1, &TKestrinForm::TerminalFonts1Click);
    on(Clear1, &TKestrinForm::Clear1Click);

    connect(PickButton, &QPushButton::clicked, this, [this] { PickButtonClick(); });
    connect(UploadButton, &QPushButton::clicked, this, [this] { UploadButtonClick(); });
    connect(ComCheckBox, &QCheckBox::toggled, this, [this] { ComCheckBoxClick(); });

    connect(JustUploadTimer, &QTimer::timeout, this, [this] { JustUploadTimerTimer(); });
    connect(CommandTimer, &QTimer::timeout, this, [this] { CommandTimerTimer(); });
    connect(ConnectionTimer, &QTimer::timeout, this, [this] { ConnectionTimerTimer(); });
    connect(CCHECKTimer1, &QTimer::timeout, this, [this] { CCHECKTimer1Timer(); });

    AdTerminal1->OnKeyPress = [this](char& key) { AdTerminal1KeyPress(key); };
    AdTerminal1->OnDblClick = [this] { AdTerminal1DblClick(); };
    AdTerminal1->OnSendChar = [this](char c) {
        if (ApdComPort1->Open())
            ApdComPort1->PutChar(c);
    };
}

#include "link/client_socket_form.h"

#include "app/cursor.h"
#include "app/event_pump.h"
#include "app/form_widgets.h"
#include "app/kestrin_form.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <initializer_list>
#include <optional>

namespace {

// The designed default address of the unit: this computer, where the unit simulator listens.
constexpr const char* kDefaultOctets[4] = {"127", "0", "0", "1"};
constexpr int kMaxConnectPasses = 5000;
constexpr int kMaxPort = 65535;

QLineEdit* make_edit(QWidget* parent, const char* name, const char* text, int maxLength, int left)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    edit->setGeometry(left, 16, maxLength == 3 ? 33 : 49, 21);
    return edit;
}

// The field's whole text as a decimal integer; nothing when it is not one (an empty field too).
std::optional<int> decimal_value(const QLineEdit* field)
{
    bool ok = false;
    const int value = field->text().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

void focus_if_possible(QLineEdit* field)
{
    if (field->isEnabled())
        field->setFocus();
}

} // namespace

TClientSocketForm::TClientSocketForm(TKestrinForm* main) : QWidget(nullptr), main_(main)
{
    setObjectName("ClientSocketForm");
    setWindowTitle("Orvalle :- Kestrin - Ethernet");
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(398, 102);
    setFont(pixel_font("MS Sans Serif", 11));

    AddressLabel = new QLabel("IP Address", this);
    AddressLabel->setObjectName("AddressLabel");
    AddressLabel->move(8, 20);
    IPEdit1 = make_edit(this, "IPEdit1", kDefaultOctets[0], 3, 72);
    IPEdit2 = make_edit(this, "IPEdit2", kDefaultOctets[1], 3, 110);
    IPEdit3 = make_edit(this, "IPEdit3", kDefaultOctets[2], 3, 148);
    IPEdit4 = make_edit(this, "IPEdit4", kDefaultOctets[3], 3, 186);
    PortLabel = new QLabel("Port ", this);
    PortLabel->setObjectName("PortLabel");
    PortLabel->move(232, 20);
    PortNumberTxEdit = make_edit(this, "PortNumberTxEdit", "3000", 5, 264);
    PortNumberTxEdit->setEnabled(false);
    ConnectButton = new QPushButton("Connect ", this);
    ConnectButton->setObjectName("ConnectButton");
    ConnectButton->setGeometry(320, 14, 70, 25);
    EnetStatusBar = new QStatusBar(this);
    EnetStatusBar->setObjectName("EnetStatusBar");
    EnetStatusBar->setSizeGripEnabled(false);
    EnetStatusBar->setGeometry(0, 102 - 19, 398, 19);
    EnetStatusText = new QLabel(EnetStatusBar);
    EnetStatusText->setObjectName("EnetStatusText");
    EnetStatusBar->addWidget(EnetStatusText, 1);
    Powersock1.lookup = local_host_address;

    for (QLineEdit* field : {IPEdit1, IPEdit2, IPEdit3, IPEdit4})
        field->installEventFilter(this);
    connect(ConnectButton, &QPushButton::clicked, this, [this] { ConnectButtonClick(); });
}

void TClientSocketForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormShow();
}

void TClientSocketForm::FormShow()
{
    try {
        EnetStatusText->setText(
            QString::fromStdString("Note: Computer's IP Addr = " + Powersock1.GetLocalIP()));
    } catch (const ESocketError&) {
        Message("Error! Invalid IP Address / Port #");
        focus_if_possible(PortNumberTxEdit);
    }
    focus_if_possible(IPEdit1);
}

// An address field is left when the focus moves to another control of the dialog, not when the
// dialog itself loses the focus (to a message box, for one).
bool TClientSocketForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == IPEdit1)
                IPEdit1Exit();
            else if (watched == IPEdit2)
                IPEdit2Exit();
            else if (watched == IPEdit3)
                IPEdit3Exit();
            else if (watched == IPEdit4)
                IPEdit4Exit();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TClientSocketForm::IPEdit1Exit()
{
    CheckAddressField(IPEdit1);
}
void TClientSocketForm::IPEdit2Exit()
{
    CheckAddressField(IPEdit2);
}
void TClientSocketForm::IPEdit3Exit()
{
    CheckAddressField(IPEdit3);
}
void TClientSocketForm::IPEdit4Exit()
{
    CheckAddressField(IPEdit4);
}

void TClientSocketForm::CheckAddressField(QLineEdit* field)
{
    const std::optional<int> value = decimal_value(field);
    if (!value)
        Message("Error! Invalid IP Address");
    else if (*value < 0 || *value > 255)
        Message("Error! Number must be between 0 - 255");
    else
        return;
    field->setFocus();
}

void TClientSocketForm::ConnectButtonClick()
{
    if (connect_busy)
        return; // the action is already running further down the call stack
    connect_busy = true;
    show_hourglass();
    if (main_->ClientSocket1->Active()) {
        show_arrow();
        connect_busy = false;
        return;
    }
    OpenAndWait();
    show_arrow();
    if (main_->ClientSocket1->Active() && isVisible())
        hide();
    connect_busy = false;
    main_->AdTerminal1->ClearAll();
}

void TClientSocketForm::OpenAndWait()
{
    const std::optional<int> port = decimal_value(PortNumberTxEdit);
    if (!port) {
        ReportInvalidAddressOrPort();
        return;
    }
    if (*port > kMaxPort) {
        Message("Error! Port # must be less than 65535");
        PortNumberTxEdit->setFocus();
        return;
    }
    const QString address =
        IPEdit1->text() + '.' + IPEdit2->text() + '.' + IPEdit3->text() + '.' + IPEdit4->text();
    TClientSocket& socket = *main_->ClientSocket1;
    socket.SetAddress(address.toStdString());
    socket.SetPort(*port);
    main_->connect_pending = true;
    main_->show_status("Attempting Ethernet connection. Please wait....");
    try {
        socket.Open();
    } catch (const ESocketError&) {
        main_->connect_pending = false; // nothing is pending: the dialog may close again
        ReportInvalidAddressOrPort();
        return;
    }
    SetFieldsEnabled(false);
    main_->connect_timed_out = false;
    main_->ConnectionTimer->start();
    pump_events();
    WaitForConnection();
    main_->ConnectionTimer->stop();
}

// The main window's socket handlers end the wait from inside its event processing: the connect
// handler once the link is up and verified, the error handler once it has given up.
void TClientSocketForm::WaitForConnection()
{
    for (int passes = 0;
         main_->connect_pending && !main_->enet_closed && !main_->ClientSocket1->Active();
         ++passes) {
        if (passes > kMaxConnectPasses || main_->connect_timed_out) {
            GiveUpConnecting();
            return;
        }
        sleep_ms(1);
        pump_events();
    }
}

void TClientSocketForm::GiveUpConnecting()
{
    main_->ConnectionTimer->stop();
    DisconnectButtonClick();
    Message("Error! Cannot connect to server. Check IP Address");
    main_->EthernetCheckBox->setChecked(false);
    main_->connect_pending = false;
    main_->SetTryEnetAgainFlag(false);
}

void TClientSocketForm::ReportInvalidAddressOrPort()
{
    Message("Error! Invalid IP Address / Port #");
    focus_if_possible(PortNumberTxEdit);
}

void TClientSocketForm::DisconnectButtonClick()
{
    main_->ClientSocket1->Close();
    SetFieldsEnabled(true);
}

void TClientSocketForm::SetFieldsEnabled(bool enabled)
{
    for (QWidget* control : std::initializer_list<QWidget*>{ConnectButton, PortNumberTxEdit,
                                                            IPEdit1, IPEdit2, IPEdit3, IPEdit4})
        control->setEnabled(enabled);
}

void TClientSocketForm::closeEvent(QCloseEvent* event)
{
    TCloseAction action = TCloseAction::caHide;
    FormClose(action);
    if (action == TCloseAction::caNone)
        event->ignore();
    else
        event->accept();
}

void TClientSocketForm::FormClose(TCloseAction& Action)
{
    if (main_->connect_pending)
        Action = TCloseAction::caNone;
}

void TClientSocketForm::Message(const std::string& text)
{
    main_->dialogs().Message(this, text);
}

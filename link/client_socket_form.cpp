#include "link/client_socket_form.h"

#include "app/form_widgets.h"
#include "app/kestrin_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

namespace {

// The designed default address of the unit.
constexpr const char* kDefaultOctets[4] = {"192", "168", "1", "100"};

QLineEdit* make_edit(QWidget* parent, const char* name, const char* text, int maxLength, int left)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    edit->setGeometry(left, 16, maxLength == 3 ? 33 : 49, 21);
    return edit;
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
    connect(ConnectButton, &QPushButton::clicked, this, [this] { ConnectButtonClick(); });
}

// Will validate the port, open ClientSocket1 and wait for the connection with its time-out.
void TClientSocketForm::ConnectButtonClick() {}

// Will close the client's connection and enable the address, port and Connect controls.
void TClientSocketForm::DisconnectButtonClick() {}

#pragma once
// TClientSocketForm: the Ethernet connection dialog, in which the operator enters the unit's IPv4
// address and TCP port and starts the connection.
//
// A tool window that stays on top, created hidden at start. The four address fields IPEdit1 ..
// IPEdit4 take at most 3 characters each, the port field PortNumberTxEdit at most 5 ("3000" at
// start, disabled until a connection has been closed or has failed). The configuration's setting
// lines 26 and 27 fill the fields before the dialog is first shown.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TKestrinForm;

class TClientSocketForm : public QWidget {
    Q_OBJECT

public:
    explicit TClientSocketForm(TKestrinForm* main);

    // The connect action: opens the TCP link to the address and port in the fields.
    void ConnectButtonClick();
    // Closes the client's connection and makes the fields editable again.
    void DisconnectButtonClick();

    QLabel* AddressLabel = nullptr;
    QLineEdit* IPEdit1 = nullptr;
    QLineEdit* IPEdit2 = nullptr;
    QLineEdit* IPEdit3 = nullptr;
    QLineEdit* IPEdit4 = nullptr;
    QLabel* PortLabel = nullptr;
    QLineEdit* PortNumberTxEdit = nullptr;
    QPushButton* ConnectButton = nullptr;
    QStatusBar* EnetStatusBar = nullptr;

    bool connect_busy = false;

private:
    TKestrinForm* main_;
};

#pragma once
// TClientSocketForm: the Ethernet connection dialog, in which the operator enters the unit's IPv4
// address and TCP port and starts the connection.
//
// A tool window that stays on top, created hidden at start. The four address fields IPEdit1 ..
// IPEdit4 take at most 3 characters each (127.0.0.1 at start, where the unit simulator listens),
// the port field PortNumberTxEdit at most 5 ("3000" at start, disabled until a connection has
// been closed or has failed). The configuration's setting lines 26 and 27 fill the fields before
// the dialog is first shown.
//
// Leaving an address field checks it (a number from 0 to 255). ConnectButtonClick is the one way
// the program opens the TCP link: it starts the attempt and waits for its outcome, up to the
// main window's ConnectionTimer (5000 ms) or 5001 passes of its wait loop, pumping events, so that
// the main window's socket handlers run inside the wait. The action does not nest: called again
// while it runs, it returns at once, and the dialog refuses to close while an attempt is pending.
// On showing, the status line names the computer's own address (Powersock1.GetLocalIP, which
// tests replace).

#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TKestrinForm;

// The local-address component: the computer's own IPv4 address as dotted decimal text; raises
// ESocketError when it cannot be found.
class TPowersock {
public:
    std::string GetLocalIP() const { return lookup(); }
    std::function<std::string()> lookup;
};

enum class TCloseAction { caNone, caHide };

class TClientSocketForm : public QWidget {
    Q_OBJECT

public:
    explicit TClientSocketForm(TKestrinForm* main);

    void FormShow();
    void IPEdit1Exit();
    void IPEdit2Exit();
    void IPEdit3Exit();
    void IPEdit4Exit();
    void ConnectButtonClick();
    // Closes the client's connection and makes the fields editable again.
    void DisconnectButtonClick();
    void FormClose(TCloseAction& Action);
    // ConnectButton, PortNumberTxEdit and IPEdit1 .. IPEdit4 together.
    void SetFieldsEnabled(bool enabled);

    QLabel* AddressLabel = nullptr;
    QLineEdit* IPEdit1 = nullptr;
    QLineEdit* IPEdit2 = nullptr;
    QLineEdit* IPEdit3 = nullptr;
    QLineEdit* IPEdit4 = nullptr;
    QLabel* PortLabel = nullptr;
    QLineEdit* PortNumberTxEdit = nullptr;
    QPushButton* ConnectButton = nullptr;
    QStatusBar* EnetStatusBar = nullptr;
    QLabel* EnetStatusText = nullptr; // the status bar's one panel
    TPowersock Powersock1;

    bool connect_busy = false;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CheckAddressField(QLineEdit* field);
    void OpenAndWait();
    void WaitForConnection();
    void GiveUpConnecting();
    void ReportInvalidAddressOrPort();
    void Message(const std::string& text);

    TKestrinForm* main_;
};

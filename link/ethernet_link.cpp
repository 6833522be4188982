// The Ethernet link: ClientSocket1's notifications, the Ethernet menu and the one recovery.
//
// A new connection is verified by its prompt, like a serial port. Received text goes into the
// reply capture while one is armed, else to the terminal view. The first failure of a link starts
// one recovery (close, reconnect, send the last command again); a failure during a recovery, after
// the operator's Disconnect, or while an image streams closes the link with a message instead,
// and stops the running upload and script. An image cannot go on over a new connection: the unit
// has lost its beginning.

#include "app/kestrin_form.h"

#include "app/cursor.h"
#include "app/event_pump.h"
#include "app/fixed_text.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "link/client_socket_form.h"
#include "link/reply_capture.h"
#include "upload/progress_form.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>

void TKestrinForm::BindClientSocket()
{
    ClientSocket1->OnConnect = [this] { ClientSocket1Connect(); };
    ClientSocket1->OnRead = [this] { ClientSocket1Read(); };
    ClientSocket1->OnError = [this](int kind, int& code) { ClientSocket1Error(kind, code); };
}

void TKestrinForm::ClientSocket1Connect()
{
    const uint64_t connection = ClientSocket1->ConnectionId();
    if (!try_enet_again)
        AdTerminal1DblClick();
    AdTerminal1->setEnabled(true);
    AdTerminal1->setFocus();
    connect_pending = false;
    show_status("Connection established. Verifying prompt....");
    com_checking = 1;
    VerifyEthernetPrompt();
    com_checking = 0;
    // Whoever closed or replaced the connection meanwhile has reported it.
    if (ClientSocket1->ConnectionId() != connection)
        return;
    // The unit closed it while it was being verified: a failed connection, not a success.
    if (!ClientSocket1->Active()) {
        int code = ECONNRESET;
        ClientSocket1Error(eeDisconnect, code);
        return;
    }
    show_status("Connect via Ethernet successful");
    if (!try_enet_again)
        enable_btns();
    ConfigMenu->menuAction()->setEnabled(false);
    EnetConnect1->setEnabled(false);
    EthernetCheckBox->setChecked(true);
}

// The unit answers a carriage return with its prompt; the second try waits for the other one.
// A connection that is gone after the first try is not reopened from here.
void TKestrinForm::VerifyEthernetPrompt()
{
    try {
        if (SendCOMCmd_GetPrompt("\r") || !ClientSocket1->Active())
            return;
        set_wait_prompt(wait_prompt_char == prompt_char1 ? prompt_char2 : prompt_char1);
        SendCOMCmd_GetPrompt("\r");
    } catch (const std::exception&) {
        dialogs_->Message(this, "Note: Ethernet connection not responding.");
    }
}

// Takes at most what fits beside the terminating NUL; the rest stays in the socket and raises the
// next read notification.
void TKestrinForm::ClientSocket1Read()
{
    const int waiting = ClientSocket1->ReceiveLength();
    if (waiting <= 0)
        return;
    char chunk[kReplyBufferSize];
    const int n = ClientSocket1->ReceiveBuf(chunk, std::min<int>(waiting, kReplyBufferSize - 1));
    if (rx_capture_on == 1) {
        if (capture_reply_chunk(rx_buf, rx_len, rx_min_len, chunk, static_cast<size_t>(n),
                                {wait_prompt_char, wait_prompt_char}))
            rx_capture_on = 0;
        return;
    }
    ShowReceivedText(chunk, n);
}

// The view moves back on a backspace without erasing; the blank and the second backspace that
// follow the chunk erase what the unit took back. The whole chunk is shown, also past a NUL,
// which the view ignores.
void TKestrinForm::ShowReceivedText(const char* chunk, int count)
{
    if (count <= 0)
        return;
    const std::string_view text(chunk, static_cast<size_t>(count));
    AdTerminal1->WriteString(text);
    for (auto backspaces = std::count(text.begin(), text.end(), '\b'); backspaces > 0; --backspaces)
        AdTerminal1->WriteString(" \b");
}

void TKestrinForm::ClientSocket1Error(int, int& ErrorCode)
{
    ErrorCode = 0;
    if (in_socket_error) {
        // The recovery's own connection has failed: that ends the recovery; no second one is
        // nested inside it.
        connect_pending = false;
        ClientSocket1->Close();
    } else {
        in_socket_error = true;
        if (!try_enet_again && !enet_closed && !image_in_flight) {
            CommandTimer->stop();
            SetTryEnetAgainFlag(true);
            if (!ClientSocketTryAgain(true))
                close_failed_link("Error! Cannot connect to server/lost connection. Verify IP "
                                  "Address and Port #",
                                  false);
        } else {
            close_failed_link("Error! Cannot connect to server/lost connection.", true);
        }
        in_socket_error = false;
    }
    if (rx_capture_on == 1 || CommandTimer->isActive())
        cmd_failed = 1;
}

// Closes a link that failed, tells the operator, and lets a waiting command fail; `stop_run`
// also stops the running upload and script.
void TKestrinForm::close_failed_link(std::string_view message, bool stop_run)
{
    connect_pending = false;
    EnetDisconnect1Click();
    if (stop_run)
        ProgressForm->cancel_flag = 1;
    dialogs_->Message(this, message);
    ClientSocketForm->SetFieldsEnabled(true);
    EthernetCheckBox->setChecked(false);
    cmd_failed = 1;
    SetTryEnetAgainFlag(false);
}

void TKestrinForm::EnetConnect1Click()
{
    enet_closed = false;
    ClientSocketForm->show();
    ClientSocketForm->raise();
    ClientSocketForm->activateWindow();
}

void TKestrinForm::EnetDisconnect1Click()
{
    if (!ClientSocket1->Active() && EnetConnect1->isEnabled())
        return;
    enet_closed = true;
    rx_capture_on = 0;
    CommandTimer->stop();
    ClientSocket1->Close();
    show_status("Ethernet connection closed");
    disable_btns();
    ConfigMenu->menuAction()->setEnabled(true);
    EnetConnect1->setEnabled(true);
    ClientSocketForm->SetFieldsEnabled(true);
    EthernetCheckBox->setChecked(false);
    ProgressForm->HideProgressForm();
    show_arrow();
}

void TKestrinForm::SetTryEnetAgainFlag(bool flag)
{
    try_enet_again = flag;
}

// The last command is kept before reconnecting, because verifying the new connection sends
// prompt probes through cmd_buf.
bool TKestrinForm::ClientSocketTryAgain(bool clear_after)
{
    const std::string last_command(text_of(cmd_buf));
    EnetDisconnect1Click();
    sleep_ms(200);
    ClientSocketForm->ConnectButtonClick();
    pump_events();
    wait_for_recovery_connection();
    if (!ClientSocket1->Active())
        return false;
    enable_btns();
    sleep_ms(900);
    set_text(cmd_buf, last_command);
    SendString(last_command);
    if (clear_after)
        SetTryEnetAgainFlag(false);
    return true;
}

// The connect action's own wait ends at once after a disconnect, so the recovery waits for its
// connection here, up to the same connect time-out. An attempt that does not finish in time is
// given up and the dialog's fields become editable again.
void TKestrinForm::wait_for_recovery_connection()
{
    if (!ClientSocket1->Connecting())
        return;
    connect_timed_out = false;
    ConnectionTimer->start();
    while (ClientSocket1->Connecting() && !connect_timed_out)
        poll_round();
    ConnectionTimer->stop();
    if (ClientSocket1->Connecting()) {
        connect_pending = false;
        ClientSocketForm->DisconnectButtonClick();
    }
}

void TKestrinForm::ConnectionTimerTimer()
{
    ConnectionTimer->stop();
    connect_timed_out = true;
}

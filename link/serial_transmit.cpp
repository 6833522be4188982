// Sending on the current link: command text and image blocks, with the serial flow checks.
// The serial port takes precedence; without it the TCP connection is used; with neither nothing
// is sent.

#include "app/kestrin_form.h"

#include "app/event_pump.h"
#include "link/client_socket.h"
#include "serial/com_port.h"
#include "upload/progress_form.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

namespace {

constexpr int kDrainRounds = 15000;
constexpr int kCtsRounds = 5000;

} // namespace

void TKestrinForm::SendString(std::string_view s)
{
    if (ApdComPort1->Open()) {
        if (ApdComPort1->GetOutBuffFree() > s.size())
            ApdComPort1->PutString(s);
        else
            dialogs_->Message(this, "Error! Communications Port Output Buffer Overflow");
    } else if (ClientSocket1->Active()) {
        ClientSocket1->SendText(s);
    }
}

void TKestrinForm::SendByte(int32_t n, const char* bytes)
{
    if (n < 0)
        return;
    if (ApdComPort1->Open())
        SendBlockOnSerialPort(n, bytes);
    else if (ClientSocket1->Active() || EthernetCheckBox->isChecked())
        SendBlockOnSocket(n, bytes); // a link still shown as up that the unit closed fails there
}

// Refuses a block that does not fit, waits until it has left the computer, then until CTS is set,
// so that a broken cable or a unit that stops accepting data ends the upload with a message.
void TKestrinForm::SendBlockOnSerialPort(int32_t n, const char* bytes)
{
    const auto cancel = [this](const char* message) {
        dialogs_->Message(this, message);
        ProgressForm->cancel_flag = 1;
    };
    if (ApdComPort1->GetOutBuffFree() < n) {
        cancel("Error! Communications Port Output Buffer Overflow. Cancel upload.");
        return;
    }
    if (!CommandTimer->isActive())
        CommandTimer->start();
    try {
        ApdComPort1->PutBlock(bytes, static_cast<uint16_t>(n));
    } catch (const EPutBlockFail& refused) { // an earlier write, the header's say, was refused
        CommandTimer->stop();
        cancel(refused.what());
        return;
    }
    CommandTimer->stop();

    // A refused write empties the transmit buffer as a sent block does: the block fails at once.
    // A device that vanishes during either wait gives its own notice once its loss is handled;
    // the block fails at once, without a second message.
    const auto write_refused = [&] {
        if (!ApdComPort1->TakeWriteFailure())
            return false;
        cancel(EPutBlockFail().what());
        return true;
    };
    for (int rounds = 0; ApdComPort1->GetOutBuffUsed() != 0;) {
        if (write_refused())
            return;
        poll_round();
        if (++rounds >= kDrainRounds) {
            cancel("Error! Output Buffer never empties. Check RS232 connection. Cancel upload.");
            return;
        }
    }
    if (write_refused())
        return;
    for (int rounds = 0; !ApdComPort1->GetCTS();) {
        if (!ApdComPort1->Open()) {
            ProgressForm->cancel_flag = 1;
            return;
        }
        poll_round();
        if (++rounds >= kCtsRounds) {
            cancel("Error! CTS line not set. Check RS232 connection. Cancel upload.");
            return;
        }
    }
    ApdComPort1->FlushOutBuffer();
}

void TKestrinForm::SendBlockOnSocket(int32_t n, const char* bytes)
{
    sleep_ms(1);
    pump_events();
    const bool whole = send_whole_block_on_socket(n, bytes);
    pump_events();
    sleep_ms(1);
    pump_events();
    // A failure that the socket reported has been dealt with by its error handler meanwhile.
    if (!whole && ProgressForm->cancel_flag != 1)
        close_failed_link("Error! Cannot connect to server/lost connection.", true);
}

// The socket may accept part of a block; the unit expects every byte of it, in order, so the rest
// follows. False when the block could not go whole: the connection is gone, its failure stopped
// the upload, or the socket took nothing for as long as a command may wait (CommandTimer's
// interval), as when the unit stays connected but reads no more.
bool TKestrinForm::send_whole_block_on_socket(int32_t n, const char* bytes)
{
    QElapsedTimer blocked;
    for (int32_t sent = 0; sent < n;) {
        if (ProgressForm->cancel_flag == 1)
            return false;
        const int accepted = ClientSocket1->SendBuf(bytes + sent, n - sent);
        if (accepted == 0)
            return false;
        if (accepted > 0) {
            sent += accepted;
            blocked.invalidate();
            continue;
        }
        if (!blocked.isValid())
            blocked.start();
        else if (blocked.elapsed() >= CommandTimer->interval())
            return false;
        sleep_ms(1);
        pump_events();
    }
    return true;
}

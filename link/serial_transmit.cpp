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

#include <algorithm>
#include <optional>

namespace {

constexpr int kDrainLimitMs = 15000;
constexpr int kCtsRounds = 5000;

// The longest wait for the transmit thread to hand the queue to the device before the drain's
// time limit is looked at again.
constexpr int kHandOverWaitMs = 100;

// How long `bytes` take on the line with the port's settings (a start bit, the data bits, the
// parity bit, the stop bits), in whole milliseconds rounded down: no longer than they take on a
// line that runs at its setting.
int line_ms(const TApdComPort& port, uint16_t bytes)
{
    const int bits = 1 + port.DataBits() + (port.Parity() == pNone ? 0 : 1) + std::max<int>(1, port.StopBits());
    return port.Baud() > 0 ? static_cast<int>(int64_t{bytes} * bits * 1000 / port.Baud()) : 0;
}

// Watches a block drain from the device's queue, to sleep through most of it: each wait is half
// of what the bytes still queued take at the rate the queue has drained so far, and never longer
// than they take at the port's setting. The waits shrink as the end nears, and pass it neither
// when the line runs faster than its setting (a pseudo-terminal, a test's device) nor when the
// rate read so far is off by up to half.
class DrainPace {
public:
    // Milliseconds to sleep now that `used` bytes are queued; 0: look again in 1 ms.
    int waitMs(uint16_t used, int setting_ms)
    {
        if (!first_) {
            first_ = used;
            since_.start();
            return 0;
        }
        const double elapsed_ms = static_cast<double>(since_.nsecsElapsed()) / 1e6;
        if (used >= *first_ || elapsed_ms <= 0)
            return 0;
        const double remaining_ms = used * elapsed_ms / (*first_ - used);
        return std::min(setting_ms - 1, static_cast<int>(remaining_ms / 2));
    }

private:
    std::optional<uint16_t> first_;
    QElapsedTimer since_;
};

// One wait of a block that drains, serving the window's events meanwhile. The block leaves in
// two steps: the transmit thread hands it to the device, and says so with an event; then the
// device sends what it holds (a pseudo-terminal holds nothing), and the wait sleeps through most
// of that, then goes on in 1 ms rounds, so that the next block follows this one at once.
void wait_while_the_block_leaves(TApdComPort& port, uint16_t used, DrainPace& pace)
{
    if (port.GetOutBuffUnwritten() > 0) {
        pump_events_until([&port] { return port.GetOutBuffUnwritten() == 0; }, kHandOverWaitMs);
        return;
    }
    if (const int ms = pace.waitMs(used, line_ms(port, used)); ms >= 2)
        pump_events_for(ms);
    else
        poll_round();
}

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
    QElapsedTimer draining;
    draining.start();
    DrainPace pace;
    for (uint16_t used; (used = ApdComPort1->GetOutBuffUsed()) != 0;) {
        if (write_refused())
            return;
        wait_while_the_block_leaves(*ApdComPort1, used, pace);
        if (draining.elapsed() >= kDrainLimitMs) {
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

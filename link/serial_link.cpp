// The serial link: finding and verifying the unit, the COM and Baud menus, the prompt wait, the
// reply capture, the command time-out and the keep-alive.
//
// A port that exists but will not open gets its message as specified, with the reason the
// program found (serial/port_diagnosis.h) as the message's detail; the port's COM menu item
// shows the reason in its tool tip until the port opens.

#include "app/kestrin_form.h"

#include "app/cursor.h"
#include "app/event_pump.h"
#include "app/fixed_text.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "link/client_socket_form.h"
#include "link/reply_capture.h"
#include "serial/com_port.h"
#include "serial/port_diagnosis.h"
#include "serial/port_map.h"
#include "serial/status_light.h"
#include "upload/progress_form.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

constexpr int kSearchLastPort = 10;
constexpr int32_t kLinkCheckTicks = 120;
constexpr int kLinkCheckPolls = 280;
constexpr int kCommandPolls = 6000;

std::string number(long long n)
{
    return std::to_string(n);
}

// A timer that is enabled while already running keeps its schedule.
void enable_timer(QTimer* timer)
{
    if (!timer->isActive())
        timer->start();
}

// COM numbers the port can address; a configured number beyond them must not wrap onto another port.
bool is_com_number(int n)
{
    return n >= 1 && n <= UINT16_MAX;
}

// Moves the port to COM n and opens it there; raises the layer's error when it cannot.
void open_port_on(TApdComPort& port, int n)
{
    port.SetComNumber(static_cast<uint16_t>(n));
    if (!port.Open())
        port.SetOpen(true);
}

void show_number(QLabel* label, long long n)
{
    label->setText(QString::number(n));
    label->adjustSize();
}

} // namespace

// The terminal view shows everything the port receives: its listener runs on the port's dispatcher
// thread and takes every waiting byte. The main window's capture sees the same bytes on the
// interface thread.
void TKestrinForm::BindSerialPort()
{
    terminal_listener_ = ApdComPort1->AddDataListener([this](TApdComPort& port, size_t count) {
        char bytes[TApdComPort::kRingSize];
        const size_t taken = std::min(count, sizeof bytes);
        port.GetBlock(bytes, taken);
        AdTerminal1->EnqueueReceived(bytes, taken);
    });
    ApdComPort1->OnTriggerAvail = [this](TApdComPort&, uint16_t count) {
        ApdComPort1TriggerAvail(count);
    };
    ApdComPort1->OnDeviceLost = [this](TApdComPort&) { SerialDeviceLost(); };
    connect(COMPortMenu, &QMenu::aboutToShow, this, [this] {
        for (int n = 1; n <= 16; ++n)
            COMMenus[n - 1]->setToolTip(com_menu_tool_tip(n));
    });
}

// A device that went away while open (a USB adapter pulled out) stops the running upload and
// script, as a lost TCP connection does, instead of letting a half-sent upload end as a success.
// The link is left as choosing None leaves it, and the raised cancel_flag keeps the command that
// was cut off from opening a TCP connection of its own.
void TKestrinForm::SerialDeviceLost()
{
    ProgressForm->cancel_flag = 1;
    cmd_failed = 1;
    const int lost = ApdComPort1->ComNumber();
    ComCheckBox->setChecked(false);
    leave_serial_link();
    dialogs_->Message(this, "Note: COM Port #" + number(lost) + " is not responding.");
}

int32_t TKestrinForm::check_com(int n)
{
    if (!is_com_number(n) || !IsPortAvailable(static_cast<uint16_t>(n)))
        return -1;
    bool opened = true;
    try {
        open_port_on(*ApdComPort1, n);
        port_open_failures.erase(n);
    } catch (const EComError& error) {
        const std::string reason = why_open_failed(error.device(), error.os_error());
        port_open_failures[n] = reason;
        dialogs_->Message(this,
                          "Note: COM Port #" + number(n) +
                              " is not responding/being used by other applications.",
                          reason);
        ApdComPort1->SetOpen(false);
        opened = false;
    }
    com_checking = 1;
    const bool seen = opened && VerifyPrompt(n);
    com_checking = 0;
    if (!seen)
        return 0;
    show_status("Established communication on COM " + number(n));
    show_number(ComNumberLabel, ApdComPort1->ComNumber());
    last_com = ApdComPort1->ComNumber();
    show_number(ComBaudLabel, ApdComPort1->Baud());
    Ethernet1->menuAction()->setEnabled(false);
    return 1;
}

// The device, its by-id name and socket, and why it last would not open.
QString TKestrinForm::com_menu_tool_tip(int n) const
{
    std::string tip = com_port_description(n);
    if (const auto failure = port_open_failures.find(n);
        failure != port_open_failures.end() && !failure->second.empty())
        tip += "\n" + failure->second;
    return QString::fromStdString(tip);
}

// The unit answers a carriage return with its prompt: the normal one or, in loader mode, the
// second. wait_prompt_char keeps the last character tried.
bool TKestrinForm::VerifyPrompt(int n)
{
    try {
        set_wait_prompt(prompt_char1);
        if (SendCOMCmd_GetPrompt("\r"))
            return true;
        set_wait_prompt(prompt_char2);
        return SendCOMCmd_GetPrompt("\r");
    } catch (const EComError&) {
        dialogs_->Message(this, "Note: COM Port #" + number(n) + " is not responding.");
        return false;
    }
}

int TKestrinForm::process_com()
{
    show_hourglass();
    int32_t r = 0;
    for (int n = 1; n <= kSearchLastPort && r == 0; ++n)
        r = check_com(n);
    if (r > 0)
        ComCheckBox->setChecked(true);
    show_arrow();
    return r > 0 ? 1 : -1;
}

void TKestrinForm::startup_com()
{
    if (ethernet_mode) {
        disable_btns();
        return;
    }
    int r;
    if (ini_com_number == 0)
        r = process_com();
    else
        r = check_com(ini_com_number) > 0 ? 1 : process_com();
    if (r == -1 && !auto_upload)
        open_ini_com();
    else
        ComCheckBox->setEnabled(false);
    ApdSLController1->SetMonitoring(ApdComPort1->Open() && ComNumberLabel->text() != "None");
}

void TKestrinForm::open_ini_com()
{
    if (ini_com_number == 0) {
        show_status("Unable to open Hardware through COM ports. Select new COM port before "
                    "proceeding");
        disable_btns();
        return;
    }
    show_status("Error opening Hardware via COM ports. Select new COM port/check RS232 connection "
                "before proceeding");
    try {
        if (is_com_number(ini_com_number))
            open_port_on(*ApdComPort1, ini_com_number);
    } catch (const EComError&) {
        ApdComPort1->SetOpen(false);
    }
    if (ApdComPort1->Open())
        show_number(ComNumberLabel, ApdComPort1->ComNumber());
    disable_btns();
    ApdSLController1->SetMonitoring(false);
}

void TKestrinForm::select_com(int n)
{
    show_hourglass();
    show_status("Checking COM " + number(n) + ".... Please wait.... ");
    const int32_t r = check_com(n);
    if (r > 0) {
        show_status("Established communication on COM " + number(n));
        AdTerminal1DblClick();
        ComCheckBox->setChecked(true);
        ApdSLController1->SetMonitoring(true);
        enable_btns();
    } else {
        show_status("Unable to open Hardware thru COM ports. Select new COM port/check RS232 "
                    "connection before proceeding");
        dialogs_->Message(this, "Error! Cannot establish communication using COM " + number(n) +
                                    ". Please check RS232 connection");
        if (r == 0) {
            ApdSLController1->SetMonitoring(true);
            enable_btns();
        } else {
            disable_btns();
        }
    }
    if (r < 0) {
        ComNumberLabel->setText("None");
        ComNumberLabel->adjustSize();
    } else {
        show_number(ComNumberLabel, ApdComPort1->ComNumber());
    }
    show_arrow();
}

void TKestrinForm::NoneMenuClick()
{
    show_status("Note: Last successful COM port used is: " +
                (last_com <= 0 ? std::string("Never") : number(last_com)));
    leave_serial_link();
}

// No serial link in use: the port closed and numbered 0, the script buttons disabled.
void TKestrinForm::leave_serial_link()
{
    ApdComPort1->SetOpen(false);
    ApdComPort1->SetComNumber(0);
    ComNumberLabel->setText("None");
    ComNumberLabel->adjustSize();
    Ethernet1->menuAction()->setEnabled(true);
    disable_btns();
    ProgressForm->HideProgressForm();
    show_arrow();
}

void TKestrinForm::SearchAllMenuClick()
{
    if (process_com() == -1) {
        open_ini_com();
        return;
    }
    ComCheckBox->setEnabled(false);
    ApdSLController1->SetMonitoring(true);
    enable_btns();
}

// The unit is not told: it must already run at the new speed.
void TKestrinForm::SetBaudFromMenu(int32_t baud)
{
    ApdComPort1->SetBaud(baud);
    show_number(ComBaudLabel, ApdComPort1->Baud());
}

void TKestrinForm::ComCheckBoxClick()
{
    const bool checked = ComCheckBox->isChecked();
    if (!checked && ApdComPort1->Open()) {
        ApdComPort1->SetOpen(false);
        return;
    }
    if (checked && !ApdComPort1->Open() && process_com() == -1) {
        ComCheckBox->setChecked(false); // closes a port that the search left open
        dialogs_->Message(this, "Unable to use Com Ports. Please make sure no one else is using the "
                                "Hardware thru the Com Ports");
    }
}

void TKestrinForm::set_wait_prompt(char c)
{
    wait_prompt_char = c;
}

bool TKestrinForm::SendCOMCmd_GetPrompt(std::string_view cmd)
{
    if (ApdComPort1->Open()) {
        ApdComPort1->FlushInBuffer();
        SendString(cmd);
        const int32_t ticks = com_checking == 1 ? kLinkCheckTicks : prompt_wait_ticks;
        const bool seen = ApdComPort1->WaitForString(std::string_view(&wait_prompt_char, 1), ticks,
                                                     true, false);
        if (ApdComPort1->Open()) {
            ApdComPort1->FlushInBuffer();
            ApdComPort1->FlushOutBuffer();
        }
        return seen;
    }
    // A run that is stopping opens no new connection.
    if (!ClientSocket1->Active() && ProgressForm->cancel_flag != 1)
        ClientSocketForm->ConnectButtonClick();
    if (!ClientSocket1->Active())
        return false;
    set_text(cmd_buf, cmd);
    rx_min_len = 0;
    send_cmd_wait_capture(com_checking == 1 ? kLinkCheckPolls : kCommandPolls);
    pump_events();
    sleep_ms(100);
    pump_events();
    const bool seen = cmd_failed != 1;
    pump_events();
    return seen;
}

// A link exists while the serial port is open or a TCP connection is up.
bool TKestrinForm::link_exists() const
{
    return ApdComPort1->Open() || ClientSocket1->Active();
}

void TKestrinForm::send_cmd()
{
    if (link_exists())
        SendString(text_of(cmd_buf));
}

void TKestrinForm::send_cmd_wait_capture(int poll_limit)
{
    const bool ethernetAtStart = ClientSocket1->Active();
    if (!ApdComPort1->Open() && !ethernetAtStart) {
        // Without a link there is no reply: an earlier one must not pass for it.
        rx_buf[0] = '\0';
        cmd_failed = 1;
        return;
    }
    rx_capture_on = 0;
    cmd_failed = 0;
    rx_buf[0] = '\0';
    rx_len = 0; // the reply always starts at index 0, where its readers look
    if (ApdComPort1->Open())
        ApdComPort1->FlushInBuffer();
    enable_timer(CommandTimer);
    SendString(text_of(cmd_buf));
    sleep_ms(200);
    if (ApdComPort1->Open())
        ApdComPort1->FlushInBuffer();
    SendString(ApdComPort1->Open() ? "\r" : "\r\n");
    rx_capture_on = 1;
    for (int polls = 0; rx_capture_on == 1 && cmd_failed == 0;) {
        if (ethernetAtStart && !ClientSocket1->Active()) {
            rx_capture_on = 0;
            cmd_failed = 1;
            break;
        }
        poll_round();
        if (++polls >= poll_limit) {
            rx_capture_on = 0;
            cmd_failed = 1;
        }
    }
    // A wait that failed otherwise (time-out, lost device) must not leave the capture armed: it
    // would go on taking what the unit sends, and on TCP hide it from the terminal view.
    rx_capture_on = 0;
    CommandTimer->stop();
}

void TKestrinForm::ApdComPort1TriggerAvail(uint16_t count)
{
    if (rx_capture_on != 1)
        return;
    char chunk[TApdComPort::kRingSize];
    const size_t taken = std::min<size_t>(count, sizeof chunk);
    ApdComPort1->GetBlock(chunk, taken);
    if (capture_reply_chunk(rx_buf, rx_len, rx_min_len, chunk, taken, {prompt_char1, prompt_char2}))
        rx_capture_on = 0;
}

void TKestrinForm::CommandTimerTimer()
{
    CommandTimer->stop();
    if (ClientSocket1->Active() && !try_enet_again) {
        SetTryEnetAgainFlag(true);
        ClientSocketTryAgain(false);
        cmd_failed = 1; // the command that timed out got no answer; it went out again at most
        return;
    }
    ProgressForm->cancel_flag = 1;
    msg_text = "Timeout error! Connection failure! Please check RS232/Ethernet connection. "
               "Exiting script.";
    dialogs_->Message(this, msg_text);
    cmd_failed = 1;
    pump_events();
}

void TKestrinForm::CCHECKTimer1Timer()
{
    if (ClientSocket1->Active() && com_checking == 0 && keepalive_on == 1)
        SendString("\r\n");
}

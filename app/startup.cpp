// Start-up, configuration, the status line, the two script buttons and the program's end.
//
// A run that ends by itself ends through JustUploadTimer: after the automatic script run, when
// the start-up found no unit for it, and, in unattended mode, when LoaderDefault.ini could not be
// read. Without the configuration there is no automatic mode and the window would wait for a
// technician; an unattended run has none, so it ends once the start-up is done instead of
// waiting for ever. Unattended, the run's outcome is the exit status and the journal's last
// line; otherwise the status is 0.

#include "app/kestrin_form.h"

#include "app/config_reader.h"
#include "app/event_pump.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "link/client_socket_form.h"
#include "serial/com_port.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <exception>

void TKestrinForm::show_status(std::string_view text)
{
    InfoStatusText->setText(latin1(text));
    run_record.StatusShown(text);
    dialogs_->StatusShown(text);
}

void TKestrinForm::disable_btns()
{
    UploadButton->setEnabled(false);
    PickButton->setEnabled(false);
}

void TKestrinForm::enable_btns()
{
    UploadButton->setEnabled(true);
    PickButton->setEnabled(true);
    AdTerminal1->setFocus();
}

void TKestrinForm::read_config()
{
    const ConfigSettings settings = read_config_settings(kConfigFileName);
    if (!settings.file_opened)
        run_record.ConfigurationUnreadable(std::string("Error opening file ") + kConfigFileName +
                                           " for read.");
    ApplyConfigSettings(settings);
}

void TKestrinForm::ApplyConfigSettings(const ConfigSettings& settings)
{
    for (const std::string& message : settings.messages)
        dialogs_->Message(this, message);

    if (settings.ini_com_number)
        ini_com_number = *settings.ini_com_number;
    if (settings.baud) {
        ApdComPort1->SetBaud(*settings.baud);
        ComBaudLabel->setText(QString::number(ApdComPort1->Baud()));
        ComBaudLabel->adjustSize();
    }
    if (settings.data_bits)
        ApdComPort1->SetDataBits(static_cast<uint16_t>(*settings.data_bits));
    if (settings.parity)
        ApdComPort1->SetParity(static_cast<TParity>(*settings.parity));
    if (settings.stop_bits)
        ApdComPort1->SetStopBits(static_cast<uint16_t>(*settings.stop_bits));
    if (settings.auto_script_path)
        auto_script_path = *settings.auto_script_path;
    if (settings.auto_upload)
        auto_upload = *settings.auto_upload;
    if (settings.loader_mode_cmd)
        loader_mode_cmd = *settings.loader_mode_cmd;
    if (settings.terminal_visible && *settings.terminal_visible != VisibleMenu->isChecked())
        VisibleMenuClick();
    if (settings.back_color) {
        static void (TKestrinForm::*const backActions[6])() = {
            &TKestrinForm::BackDefaultMenuClick, &TKestrinForm::BackBlackMenuClick,
            &TKestrinForm::BackRedMenuClick,     &TKestrinForm::BackGreenMenuClick,
            &TKestrinForm::BackBlueMenuClick,    &TKestrinForm::BackWhiteMenuClick};
        (this->*backActions[*settings.back_color])();
    }
    if (settings.text_color) {
        static void (TKestrinForm::*const textActions[6])() = {
            &TKestrinForm::TextDefaultMenuClick, &TKestrinForm::TextBlackMenuClick,
            &TKestrinForm::TextRedMenuClick,     &TKestrinForm::TextGreenMenuClick,
            &TKestrinForm::TextBlueMenuClick,    &TKestrinForm::TextWhiteMenuClick};
        (this->*textActions[*settings.text_color])();
    }
    if (settings.upload_cmd_word)
        upload_cmd_word = *settings.upload_cmd_word;
    if (settings.ethernet_mode)
        ethernet_mode = *settings.ethernet_mode;
    if (settings.unit_address && ClientSocketForm) {
        QLineEdit* const fields[4] = {ClientSocketForm->IPEdit1, ClientSocketForm->IPEdit2,
                                      ClientSocketForm->IPEdit3, ClientSocketForm->IPEdit4};
        for (int i = 0; i < 4; ++i)
            fields[i]->setText(QString::number((*settings.unit_address)[static_cast<size_t>(i)]));
    }
    if (settings.unit_port && ClientSocketForm)
        ClientSocketForm->PortNumberTxEdit->setText(QString::number(*settings.unit_port));
    if (settings.prompt_char1)
        prompt_char1 = *settings.prompt_char1;
    if (settings.prompt_char2)
        prompt_char2 = *settings.prompt_char2;
}

void TKestrinForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_once_)
        return;
    shown_once_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QMetaObject::invokeMethod(this, &TKestrinForm::FormShow, Qt::QueuedConnection);
}

void TKestrinForm::FormShow()
{
    dialogs_->RunStarted(KESTRIN_VERSION);
    VersionLabel->setText("Version : " KESTRIN_VERSION);
    VersionLabel->adjustSize();
    read_config();
    set_wait_prompt(prompt_char2);
    startup_com();
    if (SplashForm)
        SplashForm->hide();
    if (auto_upload)
        RunAutomaticScript();
    else if (unattended_mode() && run_record.configuration_unreadable())
        JustUploadTimer->start();
    else
        AdTerminal1->setFocus();
}

void TKestrinForm::RunAutomaticScript()
{
    if (!ApdComPort1->Open()) {
        const std::string message = "Error!! COM port communication failed. Please check RS232 "
                                    "connection/INI settings. Exiting application";
        run_record.NoUnit(message);
        dialogs_->Message(this, message);
        JustUploadTimer->start();
        return;
    }
    show_status("Uploading file(s). Please wait....");
    pump_events();
    setEnabled(false);
    script_path = auto_script_path;
    run_record.ScriptStarted();
    try {
        read_ini();
    } catch (const std::exception& error) {
        // An error of the serial port layer ends the run as it would end any event handler, and
        // the program still ends: nobody may be there to close it.
        dialogs_->Message(this, error.what());
    }
    run_record.ScriptEnded();
    setEnabled(true);
    show_status(" ");
    pump_events();
    JustUploadTimer->start();
}

void TKestrinForm::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TKestrinForm::FormCloseQuery(bool& CanClose)
{
    if (upload_idle) {
        rx_capture_on = 0;
    } else if (!dialogs_->Question(this, "Loader GUI : Confirm Exit",
                                   "File upload in progress.\rAre you sure you want to cancel "
                                   "upload and exit the application?",
                                   QuestionButtons::YesNo)) {
        CanClose = false;
        return;
    }
    CanClose = true;
    if (!auto_upload)
        hide();
    exit_process(0);
}

void TKestrinForm::EndRunOnStop(std::string_view reason)
{
    if (!upload_idle)
        image_transfer_ended();
    ApdComPort1->SetOpen(false);
    ClientSocket1->Close();
    dialogs_->RunEnded("fail: " + std::string(reason));
    exit_process(kRunScriptFailed);
}

void TKestrinForm::ExitMenuClick()
{
    close();
}

void TKestrinForm::JustUploadTimerTimer()
{
    hide();
    const RunOutcome outcome = run_record.outcome();
    dialogs_->RunEnded(outcome.result);
    exit_process(unattended_mode() ? outcome.status : 0);
}

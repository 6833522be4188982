// Kestrin: reprograms the flash memory of a video processing unit over RS-232 or TCP.
// Its only arguments are --help and --version (app/command_line.h), handled before anything else.
// An unattended run that ends by itself exits with the status of its outcome
// (app/run_outcome.h); every other run ends with 0. An unattended run that is stopped (SIGINT,
// SIGTERM, SIGHUP) or loses its journal's reader ends as a failed run with status 1.

#include "app/command_line.h"
#include "app/dialogs.h"
#include "app/event_pump.h"
#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "app/stop_signals.h"

#include <QtGlobal>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

// In unattended mode standard error is the journal: the platform's chatter (the offscreen plugin's
// "does not support raise()", the runtime directory warning) stays out of it. Only a fatal error,
// which ends the program, is written, as a "qt:" line.
static void journal_qt_message(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "qt: %s\n", qPrintable(text));
}

int main(int argc, char** argv)
{
    if (const auto end = read_command_line(std::vector<std::string>(argv + 1, argv + argc))) {
        std::fputs(end->out.c_str(), stdout);
        std::fputs(end->err.c_str(), stderr);
        return end->status;
    }
    keep_sleeps_precise();
    if (unattended_mode())
        qInstallMessageHandler(journal_qt_message);
    KestrinApplication app(argc, argv);
    try {
        KestrinWindows windows;
        app.SetReporter(windows.KestrinForm.get());
        std::unique_ptr<StopSignals> stops;
        if (unattended_mode()) {
            TKestrinForm* form = windows.KestrinForm.get();
            stops = std::make_unique<StopSignals>();
            QObject::connect(stops.get(), &StopSignals::stopRequested, form, [form](int signal) {
                form->EndRunOnStop("stopped by " + StopSignals::nameOf(signal).toStdString());
            });
            on_journal_lost([form] { form->EndRunOnStop("the journal's reader has gone"); });
        }
        windows.KestrinForm->show();
        KestrinApplication::exec();
    } catch (const std::exception& error) {
        app.SetReporter(nullptr); // the windows are gone with the stack
        app.ReportException(error.what());
    } catch (...) {
        app.SetReporter(nullptr);
        app.ReportException("Unknown exception");
    }
    return 0;
}

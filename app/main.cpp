// Kestrin: reprograms the flash memory of a video processing unit over RS-232 or TCP.
// The program takes no arguments and always ends with exit status 0.

#include "app/dialogs.h"
#include "app/event_pump.h"
#include "app/kestrin_app.h"
#include "app/kestrin_form.h"

#include <QtGlobal>

#include <cstdio>
#include <exception>

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
    keep_sleeps_precise();
    if (unattended_mode())
        qInstallMessageHandler(journal_qt_message);
    KestrinApplication app(argc, argv);
    try {
        KestrinWindows windows;
        app.SetReporter(windows.KestrinForm.get());
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

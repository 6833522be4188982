// Kestrin: reprograms the flash memory of a video processing unit over RS-232 or TCP.
// The program takes no arguments and always ends with exit status 0.

#include "app/kestrin_app.h"
#include "app/kestrin_form.h"

#include <QtGlobal>

#include <cstdio>
#include <exception>

// In unattended mode standard error is the journal: Qt's own diagnostics go there as "qt:" lines
// so that they can never be mistaken for a journal line.
static void journal_qt_message(QtMsgType, const QMessageLogContext&, const QString& text)
{
    std::fprintf(stderr, "qt: %s\n", qPrintable(text));
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsEmpty("KESTRIN_UNATTENDED"))
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

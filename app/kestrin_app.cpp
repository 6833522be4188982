#include "app/kestrin_app.h"

#include "app/font_substitutes.h"
#include "app/kestrin_form.h"
#include "app/splash_form.h"
#include "link/client_socket_form.h"
#include "upload/progress_form.h"

#include <exception>

KestrinWindows::KestrinWindows()
{
    install_font_substitutes();
    KestrinForm = std::make_unique<TKestrinForm>();
    ProgressForm = std::make_unique<TProgressForm>(KestrinForm.get());
    ClientSocketForm = std::make_unique<TClientSocketForm>(KestrinForm.get());
    KestrinForm->ProgressForm = ProgressForm.get();
    KestrinForm->ClientSocketForm = ClientSocketForm.get();
    SplashForm = std::make_unique<TSplashForm>(KestrinForm.get(), ProgressForm.get(),
                                               ClientSocketForm.get());
    KestrinForm->SplashForm = SplashForm.get();
    fit_captions(*KestrinForm);
    fit_captions(*ProgressForm);
    fit_captions(*ClientSocketForm);
}

KestrinWindows::~KestrinWindows() = default;

KestrinApplication::KestrinApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName("Kestrin");
}

void KestrinApplication::ReportException(const char* message)
{
    if (reporter_)
        reporter_->dialogs().Message(reporter_, message);
    else // the windows are not there yet, or not any more
        make_dialogs()->Message(nullptr, message);
}

bool KestrinApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportException(error.what());
    } catch (...) {
        ReportException("Unknown exception");
    }
    return false;
}

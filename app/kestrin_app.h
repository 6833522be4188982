#pragma once
// The program's windows and its application object.
//
// KestrinWindows creates the four windows of the run in their order: the main window KestrinForm,
// the progress window ProgressForm, the Ethernet dialog ClientSocketForm and the splash window
// SplashForm, whose constructor applies the brand to the other three. They live until the process
// ends.
//
// KestrinApplication reports an exception that escapes an event handler with its message in a
// message box and goes on with the event loop.

#include <QApplication>

#include <memory>

class TClientSocketForm;
class TKestrinForm;
class TProgressForm;
class TSplashForm;

struct KestrinWindows {
    KestrinWindows();
    ~KestrinWindows();

    std::unique_ptr<TKestrinForm> KestrinForm;
    std::unique_ptr<TProgressForm> ProgressForm;
    std::unique_ptr<TClientSocketForm> ClientSocketForm;
    std::unique_ptr<TSplashForm> SplashForm;
};

class KestrinApplication : public QApplication {
public:
    KestrinApplication(int& argc, char** argv);

    // The main window whose dialogs report escaped exceptions; none: the dialog seam's own
    // choice (a message box, or the journal in unattended mode).
    void SetReporter(TKestrinForm* form) { reporter_ = form; }
    void ReportException(const char* message);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    TKestrinForm* reporter_ = nullptr;
};

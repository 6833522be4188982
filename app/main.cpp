// Kestrin: reprograms the flash memory of a video processing unit over RS-232 or TCP.
// The program takes no arguments and always ends with exit status 0.

#include "app/kestrin_app.h"
#include "app/kestrin_form.h"

#include <exception>

int main(int argc, char** argv)
{
    KestrinApplication app(argc, argv);
    try {
        KestrinWindows windows;
        app.SetReporter(windows.KestrinForm.get());
        windows.KestrinForm->show();
        KestrinApplication::exec();
    } catch (const std::exception& error) {
        app.ReportException(error.what());
    }
    return 0;
}

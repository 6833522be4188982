#pragma once
// Builds the program's four windows in a temporary working directory, with a recording dialog
// seam and a recorded process end, so that tests can drive the main window's operations.
// Only the COM numbers that a test maps exist (KESTRIN_COM16 points nowhere by default), so no
// test ever touches a real serial device.

#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

class FormFixture {
public:
    // `ini`: the content of LoaderDefault.ini, or nothing for a missing file.
    explicit FormFixture(const std::optional<std::string>& ini = std::nullopt)
    {
        if (!std::getenv("KESTRIN_COM1"))
            setenv("KESTRIN_COM16", "/nonexistent/kestrin-test-port", 1);
        if (ini)
            dir.write("LoaderDefault.ini", *ini);
        windows = std::make_unique<KestrinWindows>();
        form().SetDialogs(std::make_unique<RecordingDialogs>(dialogs));
        form().exit_process = [this](int status) { exit_status = status; };
    }

    TKestrinForm& form() { return *windows->KestrinForm; }

    TempWorkDir dir;
    RecordingDialogs::Shared dialogs;
    std::unique_ptr<KestrinWindows> windows;
    std::optional<int> exit_status;
};

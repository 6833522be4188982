#pragma once
// Runs a script text through the main window's reader, as a run started from the button does
// after the file dialog: the table emptied and cancel_flag cleared first.

#include "tests/support/form_fixture.h"
#include "upload/progress_form.h"

#include <string>

inline int run_script(FormFixture& f, const std::string& text, const std::string& name = "test.sld")
{
    TKestrinForm& form = f.form();
    form.script_path = f.dir.write(name, text);
    form.clear_script_lines();
    f.windows->ProgressForm->cancel_flag = 0;
    return form.read_ini();
}

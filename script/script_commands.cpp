// The command dispatcher and the script's commands.

#include "app/kestrin_form.h"

// Will carry out the command line in slot script_line_no: 1 = go on, 0 = stop.
int TKestrinForm::exec_script_line() { return 1; }

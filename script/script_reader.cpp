// The script file reader: choosing a script and carrying out its command lines in file order.

#include "app/kestrin_form.h"

// Will let the operator choose a script file and run it.
void TKestrinForm::PickButtonClick() {}
// Will read the script in script_path and carry out each command line as its line feed is read.
int TKestrinForm::read_ini() { return 0; }
// Will empty the line table and reset its indices.
void TKestrinForm::clear_script_lines() {}

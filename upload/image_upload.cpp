// The image file's checksum, length and date text, and the transfer to the unit.

#include "app/kestrin_form.h"

// Will take the 16-bit byte sum and the length of image_file_name.
int TKestrinForm::get_file_checksum() { return 0; }
// Will replace version_text with the image file's date text.
int TKestrinForm::get_date() { return 0; }
// Will stream image_file_name to the unit in 2000-byte blocks and check its prompt afterwards.
void TKestrinForm::UploadButtonClick() {}

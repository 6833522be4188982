// Sending on the current link: command text and image blocks, with the serial flow checks.

#include "app/kestrin_form.h"

// Will queue a text on the serial port, or send it on the TCP connection.
void TKestrinForm::SendString(std::string_view) {}
// Will send an image block, waiting for the serial transmit buffer to drain and for CTS.
void TKestrinForm::SendByte(int32_t, const char*) {}

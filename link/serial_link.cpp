// The serial link: finding and verifying the unit, the COM and Baud menus, the prompt wait, the
// reply capture, the command time-out and the keep-alive.

#include "app/kestrin_form.h"

// Will open COM n and verify the unit's prompt: 1 verified, 0 not verified, -1 no such port.
int32_t TKestrinForm::check_com(int) { return -1; }
// Will search COM1 to COM10 for the unit: 1 found, -1 not found.
int TKestrinForm::process_com() { return -1; }
// Will choose the serial port at start: the configured port, then the search, then the fallback.
void TKestrinForm::startup_com() {}
// Will leave the configured port open, unverified, after a search that found nothing.
void TKestrinForm::open_ini_com() {}
// Will switch to COM n from the menu and verify the unit's prompt there.
void TKestrinForm::select_com(int) {}
// Will send a text and wait for wait_prompt_char on the serial port or the TCP connection.
bool TKestrinForm::SendCOMCmd_GetPrompt(std::string_view) { return false; }
// Will make c the awaited prompt character.
void TKestrinForm::set_wait_prompt(char) {}
// Will send cmd_buf over the open link without waiting.
void TKestrinForm::send_cmd() {}
// Will send cmd_buf with a line end and capture the reply into rx_buf until a prompt arrives.
void TKestrinForm::send_cmd_wait_capture(int) {}
// Will store received serial bytes in rx_buf while a capture is armed.
void TKestrinForm::ApdComPort1TriggerAvail(uint16_t) {}
// Will end a command wait that took too long.
void TKestrinForm::CommandTimerTimer() {}
// Will send the keep-alive line end on an idle TCP connection.
void TKestrinForm::CCHECKTimer1Timer() {}
// Will close the serial port and remember the last verified port.
void TKestrinForm::NoneMenuClick() {}
// Will search the COM ports for the unit from the menu.
void TKestrinForm::SearchAllMenuClick() {}
// Will set the serial port's speed from the Baud menu.
void TKestrinForm::SetBaudFromMenu(int32_t) {}
// Will open or close the serial port as the "Use COM" box says.
void TKestrinForm::ComCheckBoxClick() {}

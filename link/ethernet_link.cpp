// The Ethernet link: ClientSocket1's notifications, the Ethernet menu and the one recovery.

#include "app/kestrin_form.h"

// Will verify the unit's prompt on a new TCP connection.
void TKestrinForm::ClientSocket1Connect() {}
// Will show received TCP text in the terminal view or store it in the reply capture.
void TKestrinForm::ClientSocket1Read() {}
// Will start one reconnect-and-resend, or close the link with a message.
void TKestrinForm::ClientSocket1Error(int, int& ErrorCode) { ErrorCode = 0; }
// Will show the Ethernet connection dialog.
void TKestrinForm::EnetConnect1Click() {}
// Will close the TCP connection and make the dialog's fields editable.
void TKestrinForm::EnetDisconnect1Click() {}
// Will mark that the one recovery is under way or used.
void TKestrinForm::SetTryEnetAgainFlag(bool) {}
// Will close, reconnect and resend the last command.
bool TKestrinForm::ClientSocketTryAgain(bool) { return false; }
// Will mark that the connection attempt took too long.
void TKestrinForm::ConnectionTimerTimer() {}

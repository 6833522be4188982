// The Terminal menu (visibility, colours, font, clearing) and the operator's typing.

#include "app/kestrin_form.h"

#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "serial/com_port.h"

#include <QAction>
#include <QTimer>

namespace {

constexpr int kClientHeightWithTerminal = 420;
constexpr int kClientHeightWithoutTerminal = 139;

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kSilver(192, 192, 192);

} // namespace

// The item is checkable: triggering it moves its tick, and the window follows the tick.
void TKestrinForm::VisibleMenuClick()
{
    VisibleMenu->trigger();
}

void TKestrinForm::FollowVisibleTick()
{
    SetClientHeight(VisibleMenu->isChecked() ? kClientHeightWithTerminal
                                             : kClientHeightWithoutTerminal);
}

void TKestrinForm::BackBlackMenuClick() { AdTerminal1->SetBackgroundColor(kBlack); }
void TKestrinForm::BackRedMenuClick() { AdTerminal1->SetBackgroundColor(kRed); }
void TKestrinForm::BackGreenMenuClick() { AdTerminal1->SetBackgroundColor(kGreen); }
void TKestrinForm::BackBlueMenuClick() { AdTerminal1->SetBackgroundColor(kBlue); }
void TKestrinForm::BackWhiteMenuClick() { AdTerminal1->SetBackgroundColor(kWhite); }
void TKestrinForm::BackDefaultMenuClick() { AdTerminal1->SetBackgroundColor(kBlack); }

void TKestrinForm::TextBlackMenuClick() { AdTerminal1->SetTextColor(kBlack); }
void TKestrinForm::TextRedMenuClick() { AdTerminal1->SetTextColor(kRed); }
void TKestrinForm::TextGreenMenuClick() { AdTerminal1->SetTextColor(kGreen); }
void TKestrinForm::TextBlueMenuClick() { AdTerminal1->SetTextColor(kBlue); }
void TKestrinForm::TextWhiteMenuClick() { AdTerminal1->SetTextColor(kWhite); }
void TKestrinForm::TextDefaultMenuClick() { AdTerminal1->SetTextColor(kSilver); }

void TKestrinForm::TerminalFonts1Click()
{
    if (const std::optional<QFont> font = dialogs_->ChooseFont(this, AdTerminal1->TerminalFont()))
        AdTerminal1->SetTerminalFont(*font);
}

void TKestrinForm::Clear1Click()
{
    AdTerminal1DblClick();
}

void TKestrinForm::AdTerminal1DblClick()
{
    AdTerminal1->ClearAll();
}

// Runs before the view's own handling, which sends a key that is left over to the serial port
// when it is open (see the view's OnSendChar in the layout).
void TKestrinForm::AdTerminal1KeyPress(char& Key)
{
    CCHECKTimer1->stop();
    keepalive_on = 0;
    if (Key == '\b' && ApdComPort1->Open()) {
        // The view would send a backspace as DEL; the unit erases with backspace, blank, backspace
        // and its echo shows the erasure.
        Key = 0;
        for (const char c : {'\b', ' ', '\b'})
            ApdComPort1->PutChar(c);
        return;
    }
    if (ClientSocket1->Active()) {
        if (ClientSocket1->SendBuf(&Key, 1) != 1)
            ClientSocket1->SendBuf(&Key, 1);
        AdTerminal1->WriteChar(Key);
        if (Key == '\r')
            AdTerminal1->WriteChar('\n');
    }
}

// The script file reader: choosing a script and carrying out its command lines in file order.
//
// The file is read a byte at a time. Carriage returns vanish wherever they stand, Ctrl-Z ends the
// file, and the first `_` or `;` of a line decides whether it is a command line or a comment.
// A command line is collected into the next free slot of script_lines and carried out as soon as
// its line feed has been read (a last line without one is carried out, whole, at the end of the
// file), so the commands run while the file is read. A run ends at the end of the file, at _FI,
// when a command returns 0, when the TCP connection that was up at the start is lost, or when
// cancel_flag is raised.
//
// Nothing is ever written outside the line table: a command line longer than 199 characters, or
// a 301st command line (nested commands counted), stops the run with a message naming the rule.

#include "app/kestrin_form.h"

#include "app/cursor.h"
#include "app/event_pump.h"
#include "app/regular_file.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "upload/progress_form.h"

#include <QCryptographicHash>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

constexpr const char* kScriptFilter = "Script files (*.sld)|*.sld|All files (*.*)|*.*";
constexpr int kEndOfFileByte = 26; // Ctrl-Z

// On a system without drive letters the initial directory is the working directory itself.
std::string current_directory_text()
{
    std::error_code error;
    const std::filesystem::path dir = std::filesystem::current_path(error);
    return error ? std::string() : dir.string();
}

// The SHA-256 of the whole file in lower-case hex; the file is then read again from its start.
std::string sha256_of(std::FILE* file)
{
    QCryptographicHash digest(QCryptographicHash::Sha256);
    char chunk[65536];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        digest.addData(QByteArrayView(chunk, static_cast<qsizetype>(count)));
    std::rewind(file);
    return digest.result().toHex().toStdString();
}

} // namespace

void TKestrinForm::PickButtonClick()
{
    ini_open_initial_dir = current_directory_text();
    const std::optional<std::string> chosen =
        dialogs().OpenFile(this, ini_open_initial_dir, kScriptFilter);
    if (!chosen)
        return;
    CCHECKTimer1->stop();
    keepalive_on = 0;
    show_hourglass();
    clear_script_lines();
    script_path = *chosen;
    ini_open_initial_dir.clear();
    ProgressForm->cancel_flag = 0;
    read_ini();
    AdTerminal1->setFocus();
    show_arrow();
    CCHECKTimer1->start();
    keepalive_on = 1;
}

void TKestrinForm::clear_script_lines()
{
    for (char(&slot)[kScriptSlotSize] : script_lines)
        slot[0] = '\0';
    script_line_no = 0;
    script_char_no = 0;
}

int TKestrinForm::read_ini()
{
    disable_btns();
    script_done = 0;
    show_status("Reading script file. Please wait....");
    pump_events();
    // A pipe or a device (an endless stream) is refused like a file that cannot be opened.
    UniqueFile file = open_regular_file(script_path);
    if (!file) {
        msg_text = "Error opening file " + script_path + " for read.";
        dialogs().Message(this, msg_text);
        run_record.ScriptUnreadable();
        return end_script_run_on_error();
    }
    dialogs().ScriptOpened(script_path, sha256_of(file.get()));
    const bool ethernet_at_start = ClientSocket1->Active();
    bool at_line_start = true;
    bool in_command = false;
    int file_line = 1;
    while (ProgressForm->cancel_flag == 0) {
        const int ch = std::fgetc(file.get());
        if (ch == EOF || ch == kEndOfFileByte) {
            if (in_command && carry_out_script_line(ethernet_at_start) == ScriptLineOutcome::stop)
                return end_script_run_on_error();
            break;
        }
        if (ch == '\r')
            continue;
        if (ch == '\n') {
            at_line_start = true;
            ++file_line;
            if (!in_command)
                continue;
            in_command = false;
            const ScriptLineOutcome outcome = carry_out_script_line(ethernet_at_start);
            if (outcome == ScriptLineOutcome::stop)
                return end_script_run_on_error();
            if (outcome == ScriptLineOutcome::done)
                break;
            continue;
        }
        if (at_line_start && (ch == '_' || ch == ';')) {
            in_command = ch == '_';
            at_line_start = false;
        }
        if (in_command && !store_script_char(static_cast<char>(ch), file_line))
            return end_script_run_on_error();
    }
    file.reset();
    show_status(ProgressForm->cancel_flag == 0 ? "SUCCESS. Reading script file complete"
                                               : "Script file reading terminated by user/error(s).");
    enable_btns();
    return 1;
}

TKestrinForm::ScriptLineOutcome TKestrinForm::carry_out_script_line(bool ethernet_at_start)
{
    if (exec_script_line() == 0)
        return ScriptLineOutcome::stop;
    if (ethernet_at_start && !ClientSocket1->Active()) {
        dialogs().Message(this, "Exiting script");
        return ScriptLineOutcome::stop;
    }
    pump_events();
    return script_done == 1 ? ScriptLineOutcome::done : ScriptLineOutcome::go_on;
}

// Stores one character of the command line being collected; false, after a message, when the
// line or the table is full.
bool TKestrinForm::store_script_char(char c, int file_line)
{
    if (script_line_no < 0 || script_line_no >= kScriptSlots) {
        report_too_many_script_lines();
        return false;
    }
    if (script_char_no < 0 || script_char_no >= kMaxCommandLineLength) {
        dialogs().Message(this, "Error! Line " + std::to_string(file_line) +
                                    " of the script is longer than " +
                                    std::to_string(kMaxCommandLineLength) +
                                    " characters. Exiting script");
        return false;
    }
    script_lines[script_line_no][script_char_no++] = c;
    return true;
}

// A run carries out at most kScriptSlots command lines, nested commands counted.
void TKestrinForm::report_too_many_script_lines()
{
    dialogs().Message(this, "Error! Script has more than " + std::to_string(kScriptSlots) +
                                " command lines. Exiting script");
}

int TKestrinForm::end_script_run_on_error()
{
    show_status(" ");
    enable_btns();
    return 0;
}

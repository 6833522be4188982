// The query and condition commands: asking the unit and the operator, and branching on the answers.
//
// _QC sends a query and keeps the unit's answer in query_answer, without any carriage return or
// line feed. _CE, _CS and _CN test that answer against a compare text (equal to it, containing
// it, not containing it); _DQ asks the operator an OK/Cancel question, and _DO and _DC act on
// the choice. The answers live for the whole program run: a later run compares with the last
// answer, and _DO and _DC ignore their lines only before the first question of all.
//
// A condition that holds carries out the rest of its line as a command of its own: the command
// text is copied over the current slot and exec_script_line runs it there. A nested command that
// runs advances the slot, and the conditional advances it once more, so the line takes one slot
// more than a plain line, and one more for each further condition nested in it. A nested command
// that stops the script stops it; a nested _FI ends the run with success after the line. A line
// that would need a slot beyond the table stops the script before its nested command runs, with
// the reader's message for a command line too many.

#include "app/kestrin_form.h"

#include "app/event_pump.h"
#include "app/fixed_text.h"
#include "script/script_args.h"

#include <string>

namespace {

constexpr int kQueryPolls = 2000;
// A prompt character among the first bytes of a reply is an echoed prompt, not its end.
constexpr int32_t kQueryPromptMinIndex = 10;
constexpr const char* kQueryCaption = "Kestrin - Query";

// Counts one more conditional command running its nested command, for as long as that runs.
class NestingLevel {
public:
    explicit NestingLevel(int32_t& depth) : depth_(depth) { ++depth_; }
    ~NestingLevel() { --depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

private:
    int32_t& depth_;
};

std::string without_line_ends(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

bool equals(std::string_view answer, std::string_view text)
{
    return answer == text;
}

bool contains(std::string_view answer, std::string_view text)
{
    return answer.find(text) != std::string_view::npos;
}

bool lacks(std::string_view answer, std::string_view text)
{
    return !contains(answer, text);
}

} // namespace

int TKestrinForm::cmd_QC(std::string_view line)
{
    const auto text = quoted_text(line);
    if (!text)
        return 1;
    sleep_ms(1);
    set_text(cmd_buf, replace_caret_m(*text, ' '));
    rx_min_len = kQueryPromptMinIndex;
    send_cmd_wait_capture(kQueryPolls);
    sleep_ms(100);
    pump_events();
    set_text(query_answer, without_line_ends(text_of(rx_buf)));
    dialogs().AnswerGiven(text_of(query_answer));
    if (query_answer[0] == '\0')
        dialogs().Message(this, "Error! No response detected with _QC command");
    return 1;
}

int TKestrinForm::cmd_CE(std::string_view line)
{
    return run_if_answer(line, equals);
}

int TKestrinForm::cmd_CS(std::string_view line)
{
    return run_if_answer(line, contains);
}

int TKestrinForm::cmd_CN(std::string_view line)
{
    return run_if_answer(line, lacks);
}

int TKestrinForm::cmd_DQ(std::string_view line)
{
    const auto text = quoted_text(line);
    if (!text)
        return 1;
    dialog_asked = 1;
    set_text(cmd_buf, replace_caret_m(*text, '\r'));
    const bool ok =
        dialogs().Question(this, kQueryCaption, text_of(cmd_buf), QuestionButtons::OkCancel);
    dialog_ok = ok ? 1 : 0;
    return 1;
}

int TKestrinForm::cmd_DO(std::string_view line)
{
    return run_if_operator_chose(line, 1);
}

int TKestrinForm::cmd_DC(std::string_view line)
{
    return run_if_operator_chose(line, 0);
}

// The compare text, its escapes resolved, is held in cmd_buf while the answer is tested.
int TKestrinForm::run_if_answer(std::string_view line, AnswerTest test)
{
    const auto argument = compare_argument(line);
    if (!argument)
        return 1;
    set_text(cmd_buf, replace_line_escapes(argument->text));
    if (!test(text_of(query_answer), text_of(cmd_buf)))
        return 1;
    return run_nested(line, argument->command);
}

int TKestrinForm::run_if_operator_chose(std::string_view line, uint8_t ok)
{
    if (dialog_asked != 1 || dialog_ok != ok)
        return 1;
    const auto command = word_argument(line);
    if (!command)
        return 1;
    return run_nested(line, *command);
}

// `command` lies in the conditional's own working copy of its line, never in the slot it
// overwrites.
int TKestrinForm::run_nested(std::string_view line, std::string_view command)
{
    if (command.empty()) {
        dialogs().Message(this, "Error! No line found after successful " +
                                    std::string(line.substr(0, 3)));
        return 1;
    }
    const bool takes_a_slot = command.front() == '_';
    if (takes_a_slot && script_line_no + nesting_depth + 1 >= kScriptSlots) {
        report_too_many_script_lines();
        return 0;
    }
    set_text(script_lines[script_line_no], command);
    script_char_no = static_cast<int32_t>(command.size());
    const NestingLevel level(nesting_depth);
    return exec_script_line();
}

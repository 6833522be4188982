// The command dispatcher and the script's commands that drive the unit and the upload.
//
// exec_script_line carries out the command line in slot script_line_no: it tries the keywords in
// a fixed order (the query and condition commands, script/query_commands.cpp, take their places
// in that order), runs the first that matches, and advances to the next slot unless the command
// stopped the script. A slot beyond the table stops the script, so that no command is ever
// skipped in silence. The upload chain _LF, _LA, _LV, _LD is a small state machine over
// image_file_set, load_address_set and version_set: a step out of turn is ignored, and every
// image needs its own chain.

#include "app/kestrin_form.h"

#include "app/event_pump.h"
#include "app/fixed_text.h"
#include "script/script_args.h"
#include "upload/image_file.h"
#include "upload/progress_form.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

namespace {

// Prompt time-outs in ticks of 55 ms.
constexpr int32_t kLoaderModeTicks = 135;
constexpr int32_t kBeforeUploadTicks = 130;
constexpr int32_t kDefaultTicks = 400;

struct ScriptCommand {
    const char* keyword;
    int (TKestrinForm::*run)(std::string_view line);
    uint8_t TKestrinForm::*gate; // the command runs only while this flag is 1; none: always
};

// In the order the dispatcher tries them.
constexpr ScriptCommand kCommands[] = {
    {"_SC", &TKestrinForm::cmd_SC, nullptr},
    {"_TC", &TKestrinForm::cmd_TC, nullptr},
    {"_DM", &TKestrinForm::cmd_DM, nullptr},
    {"_DY", &TKestrinForm::cmd_DY, nullptr},
    {"_LP", &TKestrinForm::cmd_LP, nullptr},
    {"_LC", &TKestrinForm::cmd_LC, nullptr},
    {"_LF", &TKestrinForm::cmd_LF, nullptr},
    {"_LA", &TKestrinForm::cmd_LA, &TKestrinForm::image_file_set},
    {"_LV", &TKestrinForm::cmd_LV, &TKestrinForm::load_address_set},
    {"_LD", &TKestrinForm::cmd_LD, &TKestrinForm::version_set},
    {"_PC", &TKestrinForm::cmd_PC, nullptr},
    {"_QC", &TKestrinForm::cmd_QC, nullptr},
    {"_CE", &TKestrinForm::cmd_CE, nullptr},
    {"_CS", &TKestrinForm::cmd_CS, nullptr},
    {"_CN", &TKestrinForm::cmd_CN, nullptr},
    {"_FI", &TKestrinForm::cmd_FI, nullptr},
    {"_DQ", &TKestrinForm::cmd_DQ, nullptr},
    {"_DO", &TKestrinForm::cmd_DO, nullptr},
    {"_DC", &TKestrinForm::cmd_DC, nullptr},
    {"_WP", &TKestrinForm::cmd_WP, nullptr},
    {"_LT", &TKestrinForm::cmd_LT, nullptr},
};

int32_t saturated_product(int32_t a, int32_t b)
{
    const int64_t product = int64_t{a} * b;
    if (product > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (product < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(product);
}

} // namespace

int TKestrinForm::exec_script_line()
{
    if (script_line_no < 0 || script_line_no >= kScriptSlots) {
        report_too_many_script_lines();
        return 0;
    }
    char(&slot)[kScriptSlotSize] = script_lines[script_line_no];
    if (slot[0] != '_')
        return 1;
    if (script_char_no >= 0 && script_char_no < kScriptSlotSize)
        slot[script_char_no] = '\0';
    const std::string line(text_of(slot).substr(0, kMaxCommandLineLength));
    const std::string_view keyword = std::string_view(line).substr(0, 3);
    pump_events();
    sleep_ms(1);
    pump_events();

    for (const ScriptCommand& command : kCommands) {
        if (keyword != command.keyword)
            continue;
        if (command.gate && this->*command.gate != 1)
            break;
        if ((this->*command.run)(line) == 0)
            return 0;
        break;
    }
    ++script_line_no;
    script_char_no = 0;
    return 1;
}

int TKestrinForm::cmd_SC(std::string_view line)
{
    const auto text = quoted_text(line);
    if (!text)
        return 1;
    set_text(cmd_buf, replace_caret_m(*text, '\r') + "\r");
    send_cmd();
    sleep_ms(200);
    pump_events();
    return 1;
}

// A probe: one carriage return, then the wait for wait_prompt_char.
bool TKestrinForm::probe_prompt()
{
    return SendCOMCmd_GetPrompt("\r");
}

// Sends the text, then, if the loader prompt does not come, the loader-mode command, and probes
// three more times with growing pauses.
bool TKestrinForm::ensure_loader_prompt(std::string_view text)
{
    if (SendCOMCmd_GetPrompt(text))
        return true;
    SendString(loader_mode_cmd);
    sleep_ms(500);
    if (probe_prompt())
        return true;
    sleep_ms(2500);
    pump_events();
    if (probe_prompt())
        return true;
    sleep_ms(2000);
    pump_events();
    return probe_prompt();
}

int TKestrinForm::cmd_TC(std::string_view line)
{
    const auto quoted = quoted_text(line);
    if (!quoted)
        return 1;
    const std::string text = replace_caret_m(*quoted, '\r');
    sleep_ms(100);
    set_wait_prompt(prompt_char2);
    prompt_wait_ticks = kLoaderModeTicks;
    if (!ensure_loader_prompt(text)) {
        set_wait_prompt(prompt_char1);
        dialogs().Message(this, probe_prompt()
                                    ? "Error! Unit not in Loader Mode! Exiting script"
                                    : "Error! Unable to get response from unit(_TC)! Exiting script");
        prompt_wait_ticks = kDefaultTicks;
        return 0;
    }
    prompt_wait_ticks = kDefaultTicks;
    sleep_ms(500);
    return 1;
}

int TKestrinForm::cmd_DM(std::string_view line)
{
    const auto text = quoted_text(line);
    if (!text)
        return 1;
    set_text(message_buf, replace_caret_m(*text, '\r'));
    dialogs().Message(this, text_of(message_buf));
    return 1;
}

int TKestrinForm::cmd_DY(std::string_view line)
{
    const auto word = word_argument(line);
    if (!word)
        return 1;
    pump_events();
    const int64_t sleeps = int64_t{9} * leading_integer(*word) / 2;
    for (int64_t i = 0; i < sleeps; ++i)
        sleep_ms(1);
    sleep_ms(1);
    pump_events();
    return 1;
}

int TKestrinForm::cmd_LP(std::string_view line)
{
    const auto word = word_argument(line);
    if (!word)
        return 1;
    if (const int32_t seconds = leading_integer(*word); seconds != 0)
        post_upload_delay_ms = saturated_product(seconds, 1000);
    return 1;
}

int TKestrinForm::cmd_LC(std::string_view line)
{
    if (const auto text = quoted_text(line))
        upload_cmd_word = std::string(*text);
    return 1;
}

// A new file starts a new chain: an address or version taken for another file never reaches
// the header of this one. (A command line of at most 199 characters always fits the name.)
int TKestrinForm::cmd_LF(std::string_view line)
{
    const auto word = word_argument(line);
    if (!word)
        return 1;
    set_text(image_file_name, *word);
    load_address_set = 0;
    version_set = 0;
    if (ImageFileReader(image_file_name).is_open()) {
        image_file_set = 1;
        return 1;
    }
    msg_text = "Error! Unable to open file " + std::string(text_of(image_file_name)) +
               ". Cannot upload file.";
    dialogs().Message(this, msg_text);
    return 1;
}

int TKestrinForm::cmd_LA(std::string_view line)
{
    image_file_set = 0;
    const auto word = word_argument(line);
    if (!word)
        return 1;
    if (!fits(load_address_text, *word)) {
        dialogs().Message(this, "Error! Load address " + std::string(*word) + " is longer than " +
                                    std::to_string(sizeof load_address_text - 1) +
                                    " characters. Cannot upload file.");
        return 1;
    }
    set_text(load_address_text, *word);
    if (get_file_checksum() != 0)
        load_address_set = 1;
    return 1;
}

int TKestrinForm::cmd_LV(std::string_view line)
{
    load_address_set = 0;
    const auto word = word_argument(line);
    if (!word)
        return 1;
    if (!fits(version_text, *word)) {
        dialogs().Message(this, "Error! Version text " + std::string(*word) + " is longer than " +
                                    std::to_string(sizeof version_text - 1) +
                                    " characters. Cannot upload file.");
        return 1;
    }
    set_text(version_text, upper_ascii(*word));
    if (text_of(version_text) == "DATE")
        get_date();
    version_set = 1;
    return 1;
}

// The header always fits cmd_buf: its fields are held to 195 + 49 + 11 + 4 + 89 characters.
int TKestrinForm::cmd_LD(std::string_view)
{
    pump_events();
    prompt_wait_ticks = kBeforeUploadTicks;
    if (!probe_prompt()) {
        set_wait_prompt(prompt_char2);
        if (!probe_prompt()) {
            dialogs().Message(this,
                              "Error! Unable to receive prompt before upload.... Exiting script.");
            prompt_wait_ticks = kDefaultTicks;
            return 0;
        }
    }
    pump_events();
    prompt_wait_ticks = kDefaultTicks;
    if (!image_unchanged_since_measured()) {
        // Stops the script as a failed upload does; the unit has not been told of any image.
        ProgressForm->cancel_flag = 1;
        return 1;
    }
    set_text(cmd_buf, upload_header_line(upload_cmd_word, text_of(load_address_text), file_length,
                                         file_checksum, text_of(version_text)));
    pump_events();
    send_cmd();
    image_announced(text_of(cmd_buf));
    sleep_ms(3000);
    pump_events();
    sleep_ms(1000);
    pump_events();
    UploadButtonClick();
    version_set = 0;
    pump_events();
    return 1;
}

int TKestrinForm::cmd_PC(std::string_view line)
{
    if (const auto prompt = first_char_after_quote(line))
        prompt_char2 = *prompt;
    return 1;
}

int TKestrinForm::cmd_FI(std::string_view)
{
    script_done = 1;
    return 1;
}

// Waits for either prompt, trying each in turn, so that a run can always end: a raised
// cancel_flag (a command time-out, a lost link) ends the wait and the run; no link at all (the
// probe over TCP has tried to connect) or wp_give_up_ms without a prompt stop the script.
int TKestrinForm::cmd_WP(std::string_view)
{
    const auto give_up_at =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(wp_give_up_ms);
    if (probe_prompt())
        return 1;
    while (ProgressForm->cancel_flag == 0) {
        if (!link_exists() || std::chrono::steady_clock::now() >= give_up_at) {
            dialogs().Message(this, "Error! Unable to get response from unit(_WP)! Exiting script");
            return 0;
        }
        pump_events();
        set_wait_prompt(prompt_char1);
        if (probe_prompt())
            return 1;
        set_wait_prompt(prompt_char2);
        if (probe_prompt())
            return 1;
    }
    return 1;
}

int TKestrinForm::cmd_LT(std::string_view line)
{
    const auto word = word_argument(line);
    if (!word)
        return 1;
    terminal_during_upload = word->empty() ? 0 : static_cast<uint8_t>((*word)[0]);
    return 1;
}

// The configuration reader over any bytes. The setting lines it hands on are numbered 1, 2, 3 ...
// up to 29, hold at most 299 characters, never a line feed or a NUL, and never begin with ';' or
// '['; every setting it reports lies within the range its line allows; the invalid-speed message
// and a speed never come together; and the end of the text ends the last line as a line feed
// would.

#include "app/config_reader.h"
#include "fuzz/fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool within(const std::optional<int>& value, int low, int high)
{
    return !value || (*value >= low && *value <= high);
}

void check_lines(std::string_view text)
{
    int expected_n = 1;
    for_each_setting_line_in_text(text, [&](int n, std::string_view line) {
        FUZZ_CHECK(n == expected_n++);
        FUZZ_CHECK(n >= 1 && n <= kMaxSettingLines);
        FUZZ_CHECK(!line.empty() && line.size() <= kMaxConfigLineLength);
        FUZZ_CHECK(line.front() != ';' && line.front() != '[');
        FUZZ_CHECK(line.find('\n') == std::string_view::npos);
        FUZZ_CHECK(line.find('\0') == std::string_view::npos);
    });
}

// A value that was read with its leading spaces skipped and is kept as text.
void check_text_value(const std::optional<std::string>& value, std::size_t longest)
{
    if (!value)
        return;
    FUZZ_CHECK(value->size() <= longest);
    FUZZ_CHECK(value->empty() || value->front() != ' ');
    FUZZ_CHECK(value->find('\n') == std::string::npos && value->find('\0') == std::string::npos);
}

void check_settings(const ConfigSettings& s)
{
    constexpr int kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    FUZZ_CHECK(s.file_opened);
    FUZZ_CHECK(s.messages.size() <= 1);
    for (const std::string& message : s.messages)
        FUZZ_CHECK(message == kInvalidBaudMessage);
    FUZZ_CHECK(!(s.baud && !s.messages.empty()));
    FUZZ_CHECK(!s.baud || std::ranges::find(kBaudRates, *s.baud) != std::end(kBaudRates));
    FUZZ_CHECK(!s.ini_com_number || *s.ini_com_number >= 1);
    FUZZ_CHECK(within(s.data_bits, 5, 8));
    FUZZ_CHECK(within(s.parity, 0, 4));
    FUZZ_CHECK(!s.stop_bits || *s.stop_bits == 1 || *s.stop_bits == 2);
    check_text_value(s.auto_script_path, kMaxAutoScriptPathLength);
    FUZZ_CHECK(!s.auto_upload || *s.auto_upload);
    for (const auto& prompt : {s.prompt_char1, s.prompt_char2})
        FUZZ_CHECK(!prompt || (*prompt != ' ' && *prompt != '\n'));
    if (s.loader_mode_cmd) {
        FUZZ_CHECK(s.loader_mode_cmd->size() >= 3);
        FUZZ_CHECK(s.loader_mode_cmd->ends_with("\r\n"));
        check_text_value(s.loader_mode_cmd->substr(0, s.loader_mode_cmd->size() - 2), kMaxLoaderModeCmdText);
    }
    FUZZ_CHECK(within(s.back_color, 0, 5));
    FUZZ_CHECK(within(s.text_color, 0, 5));
    check_text_value(s.upload_cmd_word, 19);
    FUZZ_CHECK(!s.upload_cmd_word || !s.upload_cmd_word->empty());
    FUZZ_CHECK(!s.ethernet_mode || *s.ethernet_mode);
    if (s.unit_address)
        for (int octet : *s.unit_address)
            FUZZ_CHECK(octet >= 0 && octet <= 255);
    FUZZ_CHECK(within(s.unit_port, 0, 65535));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_lines(text);
    const ConfigSettings settings = read_config_settings_from_text(text);
    check_settings(settings);
    // A CR at the very end is an ordinary character; otherwise a final line feed changes nothing.
    if (!text.ends_with('\r'))
        FUZZ_CHECK(read_config_settings_from_text(std::string(text) + "\n") == settings);
    return 0;
}

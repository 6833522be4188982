#include "app/config_reader.h"

#include "app/regular_file.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

// Splits a byte stream into setting lines and numbers them; see the header for the rules.
class SettingLineSplitter {
public:
    explicit SettingLineSplitter(const SettingLineHandler& handle) : handle_(handle) {}

    bool wants_more() const { return next_number_ <= kMaxSettingLines; }

    void take(char c)
    {
        if (cr_pending_) {
            cr_pending_ = false;
            if (c == '\n') {
                end_line();
                return;
            }
            append('\r');
        }
        if (c == '\r')
            cr_pending_ = true;
        else if (c == '\n')
            end_line();
        else
            append(c);
    }

    // The end of the file completes the last line.
    void finish()
    {
        if (cr_pending_)
            append('\r');
        end_line();
    }

private:
    void append(char c)
    {
        if (line_cut_)
            return;
        if (c == '\0' || line_.size() == kMaxConfigLineLength)
            line_cut_ = true;
        else
            line_.push_back(c);
    }

    void end_line()
    {
        const bool is_setting_line = !line_.empty() && line_[0] != ';' && line_[0] != '[';
        if (is_setting_line && wants_more())
            handle_(next_number_++, line_);
        line_.clear();
        line_cut_ = false;
    }

    const SettingLineHandler& handle_;
    std::string line_;
    bool line_cut_ = false;
    bool cr_pending_ = false;
    int next_number_ = 1;
};

// The value of a line worked on in the 20-character buffer.
constexpr std::size_t kShortValueLength = 19;

bool is_c_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view skip_spaces(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// Reads one decimal integer the way "%d" does (white space, optional sign, at least one digit)
// and moves `text` past it. Too large a number saturates at the int range.
std::optional<int> scan_decimal(std::string_view& text)
{
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i]))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    if (i == text.size() || !is_digit(text[i]))
        return std::nullopt;

    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; i < text.size() && is_digit(text[i]); ++i)
        if (magnitude < kLimit)
            magnitude = magnitude * 10 + (text[i] - '0');
    text.remove_prefix(i);

    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
}

// The leading integer of a value as strtol reads it; 0 when there is none.
int number_of(std::string_view text)
{
    return scan_decimal(text).value_or(0);
}

void read_com_number(std::string_view value, ConfigSettings& s)
{
    const std::size_t first = value.find_first_of("123456789");
    if (first != std::string_view::npos)
        s.ini_com_number = number_of(value.substr(first));
}

void read_baud(std::string_view value, ConfigSettings& s)
{
    constexpr std::array kBaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    const int baud = number_of(value);
    if (std::ranges::find(kBaudRates, baud) != kBaudRates.end())
        s.baud = baud;
    else
        s.messages.emplace_back(kInvalidBaudMessage);
}

void read_data_bits(std::string_view value, ConfigSettings& s)
{
    const int bits = number_of(value);
    if (bits >= 5 && bits <= 8)
        s.data_bits = bits;
}

void read_parity(std::string_view value, ConfigSettings& s)
{
    const int parity = number_of(value);
    if (parity >= 0 && parity <= 4)
        s.parity = parity;
}

void read_stop_bits(std::string_view value, ConfigSettings& s)
{
    const int bits = number_of(value);
    if (bits == 1 || bits == 2)
        s.stop_bits = bits;
}

void read_auto_script_path(std::string_view value, ConfigSettings& s)
{
    s.auto_script_path = std::string(skip_spaces(value).substr(0, kMaxAutoScriptPathLength));
}

void read_auto_upload(std::string_view value, ConfigSettings& s)
{
    std::string mode;
    for (char c : value) {
        if (c == ' ')
            continue;
        mode.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    if (mode == "AUTOMATIC")
        s.auto_upload = true;
}

char first_character(std::string_view value)
{
    const std::string_view rest = skip_spaces(value);
    return rest.empty() ? '\0' : rest[0];
}

void read_prompt_char1(std::string_view value, ConfigSettings& s)
{
    s.prompt_char1 = first_character(value);
}

void read_prompt_char2(std::string_view value, ConfigSettings& s)
{
    s.prompt_char2 = first_character(value);
}

void read_loader_mode_cmd(std::string_view value, ConfigSettings& s)
{
    const std::string_view rest = skip_spaces(value).substr(0, kMaxLoaderModeCmdText);
    if (!rest.empty())
        s.loader_mode_cmd = std::string(rest) + "\r\n";
}

void read_terminal_visible(std::string_view value, ConfigSettings& s)
{
    const int visible = number_of(skip_spaces(value));
    if (visible == 0 || visible == 1)
        s.terminal_visible = visible == 1;
}

std::optional<int> colour_of(std::string_view value)
{
    const int colour = number_of(skip_spaces(value));
    if (colour >= 0 && colour <= 5)
        return colour;
    return std::nullopt;
}

void read_back_color(std::string_view value, ConfigSettings& s)
{
    if (const auto colour = colour_of(value))
        s.back_color = colour;
}

void read_text_color(std::string_view value, ConfigSettings& s)
{
    if (const auto colour = colour_of(value))
        s.text_color = colour;
}

void read_upload_cmd_word(std::string_view value, ConfigSettings& s)
{
    const std::string_view rest = skip_spaces(value);
    if (!rest.empty())
        s.upload_cmd_word = std::string(rest);
}

void read_ethernet_mode(std::string_view value, ConfigSettings& s)
{
    if (skip_spaces(value) == "TRUE")
        s.ethernet_mode = true;
}

// "%d.%d.%d.%d": the dots must follow the numbers directly; anything after the fourth is ignored.
void read_unit_address(std::string_view value, ConfigSettings& s)
{
    std::string_view rest = skip_spaces(value);
    std::array<int, 4> octets{};
    for (std::size_t i = 0; i < octets.size(); ++i) {
        if (i > 0) {
            if (rest.empty() || rest[0] != '.')
                return;
            rest.remove_prefix(1);
        }
        const auto octet = scan_decimal(rest);
        if (!octet || *octet < 0 || *octet > 255)
            return;
        octets[i] = *octet;
    }
    s.unit_address = octets;
}

void read_unit_port(std::string_view value, ConfigSettings& s)
{
    std::string_view rest = skip_spaces(value);
    const auto port = scan_decimal(rest);
    if (port && *port >= 0 && *port <= 65535)
        s.unit_port = port;
}

using SettingRule = void (*)(std::string_view value, ConfigSettings&);

struct SettingLine {
    int n;
    bool short_value; // worked on in the 20-character buffer
    SettingRule rule;
};

// Lines 7, 9-13, 16-18, 23 (the brand) and 28-29 are counted and ignored.
constexpr SettingLine kSettingLines[] = {
    {1, false, read_com_number},
    {2, true, read_baud},
    {3, true, read_data_bits},
    {4, true, read_parity},
    {5, true, read_stop_bits},
    {6, false, read_auto_script_path},
    {8, true, read_auto_upload},
    {14, false, read_prompt_char1},
    {15, false, read_prompt_char2},
    {19, true, read_loader_mode_cmd},
    {20, false, read_terminal_visible},
    {21, false, read_back_color},
    {22, false, read_text_color},
    {24, true, read_upload_cmd_word},
    {25, true, read_ethernet_mode},
    {26, true, read_unit_address},
    {27, true, read_unit_port},
};

std::optional<std::string_view> value_of(std::string_view line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return line.substr(equals + 1);
}

void apply_setting_line(int n, std::string_view line, ConfigSettings& s)
{
    const auto value = value_of(line);
    if (!value)
        return;
    for (const SettingLine& setting : kSettingLines)
        if (setting.n == n)
            setting.rule(setting.short_value ? value->substr(0, kShortValueLength) : *value, s);
}

SettingLineHandler settings_collector(ConfigSettings& s)
{
    return [&s](int n, std::string_view line) { apply_setting_line(n, line, s); };
}

SettingLineHandler brand_collector(std::optional<int>& brand)
{
    constexpr int kBrandLine = 23;
    return [&brand](int n, std::string_view line) {
        if (n != kBrandLine)
            return;
        if (const auto value = value_of(line))
            brand = number_of(skip_spaces(*value));
    };
}

void feed(SettingLineSplitter& splitter, std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size() && splitter.wants_more(); ++i)
        splitter.take(bytes[i]);
}

} // namespace

bool for_each_setting_line(const std::string& path, const SettingLineHandler& handle)
{
    const UniqueFile file = open_regular_file(path);
    if (!file)
        return false;

    SettingLineSplitter splitter(handle);
    char chunk[4096];
    std::size_t count;
    while (splitter.wants_more() && (count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        feed(splitter, std::string_view(chunk, count));
    splitter.finish();
    return true;
}

void for_each_setting_line_in_text(std::string_view text, const SettingLineHandler& handle)
{
    SettingLineSplitter splitter(handle);
    feed(splitter, text);
    splitter.finish();
}

ConfigSettings read_config_settings(const std::string& path)
{
    ConfigSettings s;
    s.file_opened = for_each_setting_line(path, settings_collector(s));
    return s;
}

ConfigSettings read_config_settings_from_text(std::string_view text)
{
    ConfigSettings s;
    s.file_opened = true;
    for_each_setting_line_in_text(text, settings_collector(s));
    return s;
}

std::optional<int> read_brand_number(const std::string& path)
{
    std::optional<int> brand;
    for_each_setting_line(path, brand_collector(brand));
    return brand;
}

std::optional<int> read_brand_number_from_text(std::string_view text)
{
    std::optional<int> brand;
    for_each_setting_line_in_text(text, brand_collector(brand));
    return brand;
}

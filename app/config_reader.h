#pragma once
// The reader of the configuration file LoaderDefault.ini.
//
// The file is positional: a setting is known by the number of its line among the setting lines,
// never by the key before its '='. The file is read as text: a CR right before a LF is dropped,
// every other byte (a lone CR, Ctrl-Z, bytes 128..255) is an ordinary character. A line keeps at
// most 299 characters; the rest of a longer line is dropped and the line still counts once. A NUL
// byte ends the line's text in the same way, because every value ends up in NUL-terminated text.
// Empty lines and lines beginning with ';' or '[' are skipped without being counted; the others
// are setting lines 1, 2, 3, ... and reading stops before setting line 30.
//
// The value of a setting line is the text after its first '='; a setting line without '=' counts
// but sets nothing. The values of lines 2-5, 8, 19 and 24-27 are worked on in a 20-character
// buffer, so only their first 19 characters are looked at. Numbers read like strtol / "%d" and
// saturate at the int range, so an over-long number is simply out of range.
//
// Nothing here touches a window: read_config_settings() only reports what the file asks for.
// Every field of ConfigSettings holds a value only when its line asked for a valid change; the
// caller applies the fields that hold one and keeps its own value for the others. `messages`
// are the message boxes to show, in order (only line 2 has one, so showing them before applying
// the fields keeps the order the operator sees).
//
//   for_each_setting_line(path, handle)     calls handle(n, line) for setting lines 1..29;
//                                           false when the file cannot be opened or is no
//                                           regular file (a pipe, a device): as if missing.
//   read_config_settings(path)              every setting except the brand (line 23).
//   read_brand_number(path)                 the brand number of setting line 23 only.
//   ..._in_text / ..._from_text             the same over text already in memory.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kConfigFileName = "LoaderDefault.ini";
inline constexpr std::size_t kMaxConfigLineLength = 299;
inline constexpr int kMaxSettingLines = 29;
inline constexpr std::size_t kMaxAutoScriptPathLength = 199;
inline constexpr std::size_t kMaxLoaderModeCmdText = 17; // before the "\r\n" that is appended

inline constexpr const char* kInvalidBaudMessage = "Error! Baud Rate set in INI file is invalid!";

using SettingLineHandler = std::function<void(int n, std::string_view line)>;

bool for_each_setting_line(const std::string& path, const SettingLineHandler& handle);
void for_each_setting_line_in_text(std::string_view text, const SettingLineHandler& handle);

// Field comments: the setting line that sets the field, and what it may hold. The `{}` let
// callers and tests build expected settings with designated initializers.
struct ConfigSettings {
    bool file_opened = false;
    std::vector<std::string> messages{};

    std::optional<int> ini_com_number{};              // 1: from the first digit '1'..'9' on
    std::optional<int> baud{};                        // 2: one of 1200 .. 115200
    std::optional<int> data_bits{};                   // 3: 5..8
    std::optional<int> parity{};                      // 4: 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::optional<int> stop_bits{};                   // 5: 1 or 2
    std::optional<std::string> auto_script_path{};    // 6: at most 199 characters, may be empty
    std::optional<bool> auto_upload{};                // 8: only ever true ("AUTOMATIC")
    std::optional<char> prompt_char1{};               // 14: may be NUL (empty value)
    std::optional<char> prompt_char2{};               // 15: may be NUL (empty value)
    std::optional<std::string> loader_mode_cmd{};     // 19: the text followed by "\r\n"
    std::optional<bool> terminal_visible{};           // 20: 1 shown, 0 hidden
    std::optional<int> back_color{};                  // 21: 0 Default, 1 Black, 2 Red, 3 Green,
    std::optional<int> text_color{};                  // 22:   4 Blue, 5 White
    std::optional<std::string> upload_cmd_word{};     // 24: not empty, exactly as written
    std::optional<bool> ethernet_mode{};              // 25: only ever true ("TRUE")
    std::optional<std::array<int, 4>> unit_address{}; // 26: four octets 0..255
    std::optional<int> unit_port{};                   // 27: 0..65535

    bool operator==(const ConfigSettings&) const = default;
};

ConfigSettings read_config_settings(const std::string& path);
ConfigSettings read_config_settings_from_text(std::string_view text);

// nullopt when the file cannot be opened, has no setting line 23, or that line has no '='.
// Otherwise the number of the value (0 when it is not a number).
std::optional<int> read_brand_number(const std::string& path);
std::optional<int> read_brand_number_from_text(std::string_view text);

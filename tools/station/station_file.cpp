#include "tools/station/station_file.h"

#include "app/config_reader.h"
#include "app/regular_file.h"
#include "tools/station/database_url.h"

#include <charconv>
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxStationFileBytes = 1 << 20;
constexpr const char* kDefaultRecords = "records.sqlite";

enum class Section { None, Station, Units };

struct Failure {
    std::string text;
};

std::string trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::string> read_small_file(const std::string& path)
{
    const UniqueFile file = open_regular_file(path);
    if (!file)
        return std::nullopt;
    std::string text;
    char chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        text.append(chunk, count);
        if (text.size() > kMaxStationFileBytes)
            return std::nullopt;
    }
    return text;
}

std::optional<int> whole_number(const std::string& value, int low, int high)
{
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number < low || number > high)
        return std::nullopt;
    return number;
}

bool is_unit_name(const std::string& name)
{
    if (name.empty() || name[0] == '.')
        return false;
    for (char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             c == '-' || c == '_' || c == '.';
        if (!allowed)
            return false;
    }
    return true;
}

// Reads the station file's lines into `s`; the first fault ends the reading.
class StationFileParser {
public:
    StationFileParser(const std::string& file, StationSettings& s) : file_(file), s_(s) {}

    std::optional<Failure> parse(std::string_view text)
    {
        int number = 0;
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            const std::string line = trimmed(text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++number;
            if (auto failure = take_line(number, line))
                return failure;
        }
        if (s_.units.empty())
            return Failure{file_ + ": no units: list them under [units] as NAME=DEVICE"};
        return std::nullopt;
    }

private:
    Failure at(int number, const std::string& what) const
    {
        return Failure{file_ + " line " + std::to_string(number) + ": " + what};
    }

    std::optional<Failure> take_line(int number, const std::string& line)
    {
        if (line.empty() || line[0] == ';' || line[0] == '#')
            return std::nullopt;
        if (line.front() == '[' && line.back() == ']')
            return take_section(number, trimmed(std::string_view(line).substr(1, line.size() - 2)));
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return at(number, "a line must be [SECTION], NAME=VALUE or a comment beginning with ';'");
        const std::string key = trimmed(std::string_view(line).substr(0, equals));
        const std::string value = trimmed(std::string_view(line).substr(equals + 1));
        const std::string where = section_key(key);
        if (const auto first = first_line_.find(where); first != first_line_.end())
            return at(number, "'" + key + "' is given twice (first on line " + std::to_string(first->second) + ")");
        first_line_[where] = number;
        switch (section_) {
        case Section::Station:
            return take_setting(number, key, value);
        case Section::Units:
            return take_unit(number, key, value);
        default:
            return at(number, "'" + key + "' is outside the sections [station] and [units]");
        }
    }

    std::string section_key(const std::string& key) const
    {
        return std::to_string(static_cast<int>(section_)) + key;
    }

    std::optional<Failure> take_section(int number, const std::string& name)
    {
        if (name == "station")
            section_ = Section::Station;
        else if (name == "units")
            section_ = Section::Units;
        else
            return at(number, "unknown section [" + name + "] (the sections are [station] and [units])");
        return std::nullopt;
    }

    std::optional<Failure> take_setting(int number, const std::string& key, const std::string& value)
    {
        if (key == "name") {
            s_.name = value;
        } else if (key == "parallel") {
            const auto parallel = whole_number(value, 1, kMaxParallelUnits);
            if (!parallel)
                return at(number, "parallel must be a whole number from 1 to " + std::to_string(kMaxParallelUnits));
            s_.parallel = *parallel;
        } else if (key == "time_limit") {
            const auto seconds = whole_number(value, 1, kMaxTimeLimitSeconds);
            if (!seconds)
                return at(number, "time_limit must be a whole number of seconds from 1 to " +
                                      std::to_string(kMaxTimeLimitSeconds));
            s_.time_limit_s = *seconds;
        } else if (key == "records") {
            if (value.empty())
                return at(number, "records names no file");
            if (names_database(value)) {
                const auto address = parse_database_url(value);
                if (const auto* problem = std::get_if<std::string>(&address))
                    return at(number, "records: " + *problem);
            }
            s_.records = value;
        } else if (key == "start") {
            if (value != "button" && value != "when_present")
                return at(number, "start must be button or when_present");
            s_.start_when_present = value == "when_present";
        } else if (key == "require_serial") {
            if (value != "true" && value != "false")
                return at(number, "require_serial must be true or false");
            s_.require_serial = value == "true";
        } else {
            return at(number, "unknown setting '" + key +
                                  "' (the settings are name, parallel, time_limit, records, start, require_serial)");
        }
        return std::nullopt;
    }

    std::optional<Failure> take_unit(int number, const std::string& name, const std::string& device)
    {
        if (!is_unit_name(name))
            return at(number, "the unit name '" + name +
                                  "' may hold only letters, digits, '-', '_' and '.', and not begin with '.'");
        if (device.empty())
            return at(number, "unit " + name + " names no device");
        s_.units.push_back({name, device});
        return std::nullopt;
    }

    const std::string& file_;
    StationSettings& s_;
    Section section_ = Section::None;
    std::map<std::string, int> first_line_;
};

// The setting lines of LoaderDefault.ini by number, as written, for messages.
std::map<int, std::string> setting_lines_of(const std::string& path)
{
    std::map<int, std::string> lines;
    for_each_setting_line(path, [&lines](int n, std::string_view line) { lines[n] = std::string(line); });
    return lines;
}

std::optional<Failure> take_configuration(StationSettings& s)
{
    const std::string path = (fs::path(s.folder) / kConfigFileName).string();
    const ConfigSettings config = read_config_settings(path);
    if (!config.file_opened)
        return Failure{path + ": cannot be read; the station folder must hold the configuration its units run with"};
    const std::map<int, std::string> lines = setting_lines_of(path);
    const auto line = [&](int n) {
        const auto found = lines.find(n);
        return path + " setting line " + std::to_string(n) +
               (found == lines.end() ? std::string(" (missing)") : " (" + found->second + ")");
    };
    if (!config.auto_upload.value_or(false))
        return Failure{line(8) + ": automatic mode is not selected; the station needs Mode=Automatic"};
    if (!config.ini_com_number || *config.ini_com_number < 1 || *config.ini_com_number > 65535)
        return Failure{line(1) + ": names no usable COM port (for example Port=COM1)"};
    if (config.ethernet_mode.value_or(false))
        return Failure{line(25) + ": selects Ethernet; the station flashes its units over serial ports"};
    const std::string script = config.auto_script_path.value_or("");
    if (script.empty())
        return Failure{line(6) + ": names no script"};
    if (!open_regular_file((fs::path(s.folder) / script).string()))
        return Failure{line(6) + ": the script " + script + " cannot be read in " + s.folder};
    s.com_number = *config.ini_com_number;
    s.script = script;
    s.upload_word = config.upload_cmd_word.value_or(s.upload_word);
    s.line = {.baud = config.baud.value_or(s.line.baud),
              .parity = static_cast<TParity>(config.parity.value_or(pNone)),
              .data_bits = static_cast<uint16_t>(config.data_bits.value_or(8)),
              .stop_bits = static_cast<uint16_t>(config.stop_bits.value_or(1))};
    s.prompts = {config.prompt_char1.value_or('#'), config.prompt_char2.value_or('>')};
    return std::nullopt;
}

} // namespace

StationFileResult read_station_file(const std::string& path)
{
    const std::optional<std::string> text = read_small_file(path);
    if (!text)
        return {std::nullopt, path + ": cannot be read (missing, not a regular file, or over 1 MiB)"};
    StationSettings s;
    s.file = path;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    s.folder = absolute.parent_path().string();
    s.name = absolute.stem().string();
    s.records = kDefaultRecords;
    if (const auto failure = StationFileParser(path, s).parse(*text))
        return {std::nullopt, failure->text};
    const auto beside = [&](const std::string& suffix) {
        return (fs::path(s.folder) / (absolute.stem().string() + suffix)).string();
    };
    s.ledger = beside(".station.sqlite");
    s.lock = beside(".lock");
    if (names_database(s.records)) {
        s.spool = beside(".spool.sqlite");
        // The certificate and key files it names are in the station folder unless absolute.
        const auto address = std::get<DatabaseAddress>(parse_database_url(s.records));
        if (const DatabaseAddress resolved = with_files_in(address, s.folder); resolved != address)
            s.records = database_url_text(resolved);
    }
    else
        s.records = (fs::path(s.folder) / s.records).string();
    if (const auto failure = take_configuration(s))
        return {std::nullopt, failure->text};
    return {std::move(s), {}};
}

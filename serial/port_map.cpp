#include "serial/port_map.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::string_view kMapPrefix = "KESTRIN_COM";

// The number n of "<prefix><n>" when the rest of name is a plain decimal number.
std::optional<int> number_after(std::string_view name, std::string_view prefix)
{
    if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 9)
        return std::nullopt;
    name.remove_prefix(prefix.size());
    int n = 0;
    auto [end, err] = std::from_chars(name.data(), name.data() + name.size(), n);
    if (err != std::errc() || end != name.data() + name.size())
        return std::nullopt;
    return n;
}

std::string first_line_of(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool is_console(const DeviceTree& tree, const std::string& name)
{
    return first_line_of(tree.sys_tty_dir / name / "console") == "Y";
}

// A ttyS node exists for every possible 8250 line; only those with a known
// UART type (not 0) have hardware behind them.
bool has_uart(const DeviceTree& tree, const std::string& name)
{
    std::string type = first_line_of(tree.sys_tty_dir / name / "type");
    return !type.empty() && type != "0";
}

// Device names "<prefix><n>" in dev_dir, in numeric order of n.
std::vector<std::string> numbered_devices(const DeviceTree& tree, std::string_view prefix)
{
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(tree.dev_dir, ec)) {
        std::string name = entry.path().filename().string();
        if (auto n = number_after(name, prefix))
            found.emplace_back(*n, name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found)
        names.push_back(std::move(f.second));
    return names;
}

std::vector<std::string> process_environment()
{
    std::vector<std::string> entries;
    for (char** e = environ; e && *e; ++e)
        entries.emplace_back(*e);
    return entries;
}

}  // namespace

std::vector<std::string> present_serial_devices(const DeviceTree& tree)
{
    std::vector<std::string> paths;
    for (std::string_view prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        for (const std::string& name : numbered_devices(tree, prefix)) {
            if (is_console(tree, name) || (prefix == "ttyS" && !has_uart(tree, name)))
                continue;
            paths.push_back((tree.dev_dir / name).string());
        }
    }
    return paths;
}

std::optional<std::string> com_device_path(int n, const std::vector<std::string>& environment,
                                           const DeviceTree& tree)
{
    if (n < 1)
        return std::nullopt;
    bool any_mapped = false;
    std::optional<std::string> mapped;
    for (const std::string& entry : environment) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos)
            continue;
        auto number = number_after(std::string_view(entry).substr(0, eq), kMapPrefix);
        if (!number)
            continue;
        any_mapped = true;
        if (*number == n && eq + 1 < entry.size())
            mapped = entry.substr(eq + 1);
    }
    if (any_mapped)
        return mapped;
    std::vector<std::string> present = present_serial_devices(tree);
    if (static_cast<size_t>(n) > present.size())
        return std::nullopt;
    return present[static_cast<size_t>(n) - 1];
}

std::optional<std::string> com_device_path(int n)
{
    return com_device_path(n, process_environment(), DeviceTree{});
}

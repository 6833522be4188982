#include "serial/port_map.h"

#include <algorithm>
#include <cctype>
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

bool is_digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Names compared character by character, except that runs of digits compare by their value:
// "usb-0:2:1.0" comes before "usb-0:10:1.0".
bool natural_less(std::string_view a, std::string_view b)
{
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            const size_t runA = std::find_if_not(a.begin() + i, a.end(), is_digit) - a.begin();
            const size_t runB = std::find_if_not(b.begin() + j, b.end(), is_digit) - b.begin();
            std::string_view numberA = a.substr(i, runA - i);
            std::string_view numberB = b.substr(j, runB - j);
            numberA.remove_prefix(std::min(numberA.find_first_not_of('0'), numberA.size()));
            numberB.remove_prefix(std::min(numberB.find_first_not_of('0'), numberB.size()));
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = runA;
            j = runB;
        } else if (a[i] != b[j]) {
            return a[i] < b[j];
        } else {
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string device_identity(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    return ec ? std::string() : resolved.string();
}

// udev's links in dev_dir/serial/<kind> (by-path or by-id) in natural order of their names, each
// with the device it points to.
using UdevLinks = std::vector<std::pair<std::string, std::string>>;

UdevLinks udev_links(const DeviceTree& tree, const char* kind)
{
    UdevLinks links;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(tree.dev_dir / "serial" / kind, ec)) {
        std::string device = device_identity(entry.path());
        if (!device.empty())
            links.emplace_back(entry.path().filename().string(), std::move(device));
    }
    std::sort(links.begin(), links.end(),
              [](const auto& x, const auto& y) { return natural_less(x.first, y.first); });
    return links;
}

// The first of the links that points to `device`, or links.end().
UdevLinks::const_iterator link_to(const UdevLinks& links, const std::string& device)
{
    return std::find_if(links.begin(), links.end(),
                        [&device](const auto& link) { return link.second == device; });
}

// The USB and ACM adapters in the order of their sockets; those without a socket name after them
// in the kernel's numbering.
std::vector<std::string> adapters_by_socket(const DeviceTree& tree)
{
    const UdevLinks sockets = udev_links(tree, "by-path");
    std::vector<std::pair<ptrdiff_t, std::string>> ranked;
    for (std::string_view prefix : {"ttyUSB", "ttyACM"}) {
        for (std::string& name : numbered_devices(tree, prefix)) {
            const auto socket = link_to(sockets, device_identity(tree.dev_dir / name));
            ranked.emplace_back(socket - sockets.begin(), std::move(name));
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> adapters;
    for (auto& [rank, name] : ranked)
        adapters.push_back(std::move(name));
    return adapters;
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
    for (const std::string& name : adapters_by_socket(tree))
        if (!is_console(tree, name))
            paths.push_back((tree.dev_dir / name).string());
    for (const std::string& name : numbered_devices(tree, "ttyS"))
        if (has_uart(tree, name) && !is_console(tree, name))
            paths.push_back((tree.dev_dir / name).string());
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

std::string serial_by_id_name(const std::string& path, const DeviceTree& tree)
{
    const std::string device = device_identity(path);
    if (device.empty())
        return {};
    const UdevLinks ids = udev_links(tree, "by-id");
    const auto id = link_to(ids, device);
    return id == ids.end() ? std::string() : id->first;
}

std::string com_port_description(int n, const std::vector<std::string>& environment,
                                 const DeviceTree& tree)
{
    const std::optional<std::string> path = com_device_path(n, environment, tree);
    if (!path)
        return {};
    std::string description = *path;
    const std::string device = device_identity(*path);
    if (device.empty())
        return description;
    if (const std::string id = serial_by_id_name(*path, tree); !id.empty())
        description += "\nby-id: " + id;
    const UdevLinks sockets = udev_links(tree, "by-path");
    if (const auto socket = link_to(sockets, device); socket != sockets.end())
        description += "\nsocket: " + socket->first;
    return description;
}

std::string com_port_description(int n)
{
    return com_port_description(n, process_environment(), DeviceTree{});
}

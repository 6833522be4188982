#include "tools/station/database_url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>

namespace {

const std::string kForm = "write it as postgresql://USER@HOST:PORT/DBNAME";

// The text with its %XX escapes replaced; nothing when an escape is broken or gives a NUL.
std::optional<std::string> percent_decoded(const std::string& text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        unsigned char byte = 0;
        const char* first = text.data() + i + 1;
        const auto [end, error] =
            std::from_chars(first, first + std::min<std::size_t>(2, text.size() - i - 1), byte, 16);
        if (error != std::errc() || end != first + 2 || byte == 0)
            return std::nullopt;
        decoded += static_cast<char>(byte);
        i += 2;
    }
    return decoded;
}

// HOST[:PORT] into the address; the message when it is not one.
std::optional<std::string> take_host_and_port(std::string_view text, DatabaseAddress& address)
{
    std::string_view host = text;
    std::optional<std::string_view> port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return "the IPv6 address has no closing ']'";
        host = text.substr(1, close - 1);
        const std::string_view after = text.substr(close + 1);
        if (!after.empty() && !after.starts_with(':'))
            return kForm;
        if (!after.empty())
            port = after.substr(1);
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    const auto decoded = percent_decoded(std::string(host));
    if (!decoded || decoded->empty())
        return "no host: " + kForm;
    address.host = *decoded;
    if (!port)
        return std::nullopt;
    const auto [end, error] =
        std::from_chars(port->data(), port->data() + port->size(), address.port);
    if (port->empty() || error != std::errc() || end != port->data() + port->size() ||
        address.port < 1 || address.port > 65535)
        return "the port must be a whole number from 1 to 65535";
    return std::nullopt;
}

bool is_parameter(const std::string& name)
{
    return std::any_of(std::begin(kDatabaseParameters), std::end(kDatabaseParameters),
                       [&](const char* known) { return name == known; });
}

// What is wrong with a parameter's value; nothing when it is right.
std::optional<std::string> value_problem(const std::string& name, const std::string& value)
{
    if (value.empty())
        return "the parameter '" + name + "' has no value";
    if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        return "the parameter '" + name + "' holds a control character";
    if (value.find(';') != std::string::npos)
        return "the parameter '" + name + "' holds a ';', which no connection can carry";
    if (name == "sslmode") {
        static const std::string modes[] = {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"};
        if (std::find(std::begin(modes), std::end(modes), value) == std::end(modes))
            return "sslmode must be disable, allow, prefer, require, verify-ca or verify-full, not '" + value + "'";
    }
    if (name == "connect_timeout") {
        int seconds = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error != std::errc() || end != value.data() + value.size() || seconds < 1 || seconds > 3600)
            return "connect_timeout must be a whole number of seconds from 1 to 3600";
    }
    return std::nullopt;
}

// NAME=VALUE&NAME=VALUE into the address; the message when a parameter is wrong.
std::optional<std::string> take_parameters(std::string_view text, DatabaseAddress& address)
{
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text.remove_prefix(amp == std::string_view::npos ? text.size() : amp + 1);
        const std::size_t equals = pair.find('=');
        const auto name = percent_decoded(std::string(pair.substr(0, equals)));
        const auto value = percent_decoded(equals == std::string_view::npos ? std::string() : std::string(pair.substr(equals + 1)));
        if (!name || !value)
            return "each '%' must begin an escape such as %2F, and %00 is none";
        if (!is_parameter(*name))
            return "unknown parameter '" + *name +
                   "' (the parameters are sslmode, sslrootcert, sslcert, sslkey, sslcrl, connect_timeout, "
                   "application_name)";
        if (!address.parameter(*name).empty())
            return "the parameter '" + *name + "' is given twice";
        if (auto problem = value_problem(*name, *value))
            return problem;
        address.parameters.emplace_back(*name, *value);
    }
    return std::nullopt;
}

std::string escaped(const std::string& text)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        out += unreserved ? std::string(1, c) : std::string{'%', hex[byte >> 4], hex[byte & 15]};
    }
    return out;
}

} // namespace

std::string DatabaseAddress::parameter(const std::string& name) const
{
    for (const auto& [given, value] : parameters)
        if (given == name)
            return value;
    return {};
}

bool names_database(const std::string& records)
{
    return records.find("://") != std::string::npos;
}

std::variant<DatabaseAddress, std::string> parse_database_url(const std::string& url)
{
    if (!url.starts_with(kDatabaseScheme))
        return "only PostgreSQL databases can hold the records: " + kForm;
    std::string_view rest = std::string_view(url).substr(std::string_view(kDatabaseScheme).size());
    if (rest.find('#') != std::string_view::npos)
        return "a '#' is no part of an address: " + kForm;
    std::string_view query;
    if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
        query = rest.substr(mark + 1);
        rest = rest.substr(0, mark);
    }
    if (std::any_of(url.begin(), url.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        return "a control character is no part of an address: " + kForm;
    if (!percent_decoded(std::string(rest)))
        return "each '%' must begin an escape such as %2F, and %00 is none";
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return "no database name: " + kForm;
    const std::string_view authority = rest.substr(0, slash);
    const std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return "no user: " + kForm;
    const std::string_view userinfo = authority.substr(0, at);
    if (userinfo.find(':') != std::string_view::npos)
        return "a password never goes in the station file: set KESTRIN_RECORDS_PASSWORD or use "
               "~/.pgpass";
    DatabaseAddress address;
    const auto user = percent_decoded(std::string(userinfo));
    if (!user || user->empty())
        return "no user: " + kForm;
    address.user = *user;
    if (auto problem = take_host_and_port(authority.substr(at + 1), address))
        return *problem;
    const std::string_view name = rest.substr(slash + 1);
    const auto database = percent_decoded(std::string(name));
    if (!database || database->empty() || name.find('/') != std::string_view::npos)
        return "no database name: " + kForm;
    address.database = *database;
    if (auto problem = take_parameters(query, address))
        return *problem;
    return address;
}

std::string database_url_text(const DatabaseAddress& address)
{
    std::string text = std::string(kDatabaseScheme) + escaped(address.user) + "@" + escaped(address.host) + ":" +
                       std::to_string(address.port) + "/" + escaped(address.database);
    for (std::size_t i = 0; i < address.parameters.size(); ++i)
        text += (i == 0 ? "?" : "&") + address.parameters[i].first + "=" + escaped(address.parameters[i].second);
    return text;
}

bool on_this_machine(const std::string& host)
{
    if (host.starts_with('/') || host == "localhost")
        return true;
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string sslmode_of(const DatabaseAddress& address)
{
    const std::string given = address.parameter("sslmode");
    if (!given.empty() || on_this_machine(address.host))
        return given;
    return "verify-full";
}

DatabaseAddress with_files_in(DatabaseAddress address, const std::string& folder)
{
    for (auto& parameter : address.parameters) {
        const bool file = std::any_of(std::begin(kDatabaseFileParameters), std::end(kDatabaseFileParameters),
                                      [&](const char* name) { return parameter.first == name; });
        if (file && !std::filesystem::path(parameter.second).is_absolute())
            parameter.second = (std::filesystem::path(folder) / parameter.second).string();
    }
    return address;
}

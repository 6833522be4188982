#include "tools/station/database_url.h"

#include <algorithm>
#include <charconv>
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

} // namespace

bool names_database(const std::string& records)
{
    return records.find("://") != std::string::npos;
}

std::variant<DatabaseAddress, std::string> parse_database_url(const std::string& url)
{
    if (!url.starts_with(kDatabaseScheme))
        return "only PostgreSQL databases can hold the records: " + kForm;
    const std::string_view rest =
        std::string_view(url).substr(std::string_view(kDatabaseScheme).size());
    if (rest.find_first_of("?#") != std::string_view::npos)
        return "no options after the database name: " + kForm;
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
    return address;
}

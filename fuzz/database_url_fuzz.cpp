// A records database's address from any text a station file may hold: an address has a user, a
// host and a database name, none empty or holding a NUL, a port from 1 to 65535, and parameters
// of the safe set only, each once, with a value that holds no control character and no ';';
// written again by database_url_text() (every byte outside the unreserved ones as a %XX escape)
// and by hand here, it reads back the same; its TLS default is verify-full unless it names this
// machine, and only a socket folder, localhost or a loopback address does; and text that is no
// address gets one of the parser's own messages (a message about a parameter names the
// parameter).

#include "fuzz/fuzz_check.h"
#include "tools/station/database_url.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace {

std::string escaped(const std::string& text)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        out += unreserved ? std::string(1, c) : std::string{'%', hex[byte >> 4], hex[byte & 15]};
    }
    return out;
}

bool usable(const std::string& part)
{
    return !part.empty() && part.find('\0') == std::string::npos;
}

const std::set<std::string>& messages()
{
    static const std::string form = "write it as postgresql://USER@HOST:PORT/DBNAME";
    static const std::set<std::string> all = {
        "only PostgreSQL databases can hold the records: " + form,
        "a '#' is no part of an address: " + form,
        "a control character is no part of an address: " + form,
        "each '%' must begin an escape such as %2F, and %00 is none",
        "no database name: " + form,
        "no user: " + form,
        "a password never goes in the station file: set KESTRIN_RECORDS_PASSWORD or use ~/.pgpass",
        "the IPv6 address has no closing ']'",
        form,
        "no host: " + form,
        "the port must be a whole number from 1 to 65535",
    };
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string url(reinterpret_cast<const char*>(data), size);
    const auto parsed = parse_database_url(url);
    if (const auto* message = std::get_if<std::string>(&parsed)) {
        const bool about_a_parameter = message->starts_with("unknown parameter '") ||
                                       message->starts_with("the parameter '") || message->starts_with("sslmode must be ") ||
                                       message->starts_with("connect_timeout must be ");
        FUZZ_CHECK(messages().count(*message) == 1 || about_a_parameter);
        return 0;
    }
    const DatabaseAddress& address = std::get<DatabaseAddress>(parsed);
    FUZZ_CHECK(url.starts_with(kDatabaseScheme) && names_database(url));
    FUZZ_CHECK(usable(address.user) && usable(address.host) && usable(address.database));
    FUZZ_CHECK(address.port >= 1 && address.port <= 65535);
    std::set<std::string> names;
    std::string again = std::string(kDatabaseScheme) + escaped(address.user) + "@" + escaped(address.host) + ":" +
                        std::to_string(address.port) + "/" + escaped(address.database);
    for (const auto& parameter : address.parameters) {
        const std::string& name = parameter.first;
        const std::string& value = parameter.second;
        FUZZ_CHECK(std::find_if(std::begin(kDatabaseParameters), std::end(kDatabaseParameters),
                                [&](const char* known) { return parameter.first == known; }) != std::end(kDatabaseParameters));
        FUZZ_CHECK(names.insert(name).second);
        FUZZ_CHECK(!value.empty() && value.find(';') == std::string::npos);
        FUZZ_CHECK(std::none_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }));
        again += (names.size() == 1 ? "?" : "&") + name + "=" + escaped(value);
    }
    // TLS is verified by default everywhere but on this machine.
    const std::string given = address.parameter("sslmode");
    FUZZ_CHECK(sslmode_of(address) == (!given.empty() ? given : on_this_machine(address.host) ? "" : "verify-full"));
    const bool dotted_loopback = address.host.starts_with("127.") && address.host.find_first_not_of("0123456789.") == std::string::npos;
    FUZZ_CHECK(!on_this_machine(address.host) || dotted_loopback || address.host == "localhost" ||
               address.host.starts_with('/') || address.host.find(':') != std::string::npos);
    for (const std::string& written : {again, database_url_text(address)}) {
        const auto reread = parse_database_url(written);
        FUZZ_CHECK(std::holds_alternative<DatabaseAddress>(reread) && std::get<DatabaseAddress>(reread) == address);
    }
    return 0;
}

// A records database's address from any text a station file may hold: an address has a user, a
// host and a database name, none empty or holding a NUL, and a port from 1 to 65535; written
// again with every byte outside the unreserved ones as a %XX escape, it reads back the same; and
// text that is no address gets one of the parser's own messages.

#include "fuzz/fuzz_check.h"
#include "tools/station/database_url.h"

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
        "no options after the database name: " + form,
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
        FUZZ_CHECK(messages().count(*message) == 1);
        return 0;
    }
    const DatabaseAddress& address = std::get<DatabaseAddress>(parsed);
    FUZZ_CHECK(url.starts_with(kDatabaseScheme) && names_database(url));
    FUZZ_CHECK(usable(address.user) && usable(address.host) && usable(address.database));
    FUZZ_CHECK(address.port >= 1 && address.port <= 65535);
    const std::string again = std::string(kDatabaseScheme) + escaped(address.user) + "@" +
                              escaped(address.host) + ":" + std::to_string(address.port) + "/" +
                              escaped(address.database);
    const auto reread = parse_database_url(again);
    FUZZ_CHECK(std::holds_alternative<DatabaseAddress>(reread) &&
               std::get<DatabaseAddress>(reread) == address);
    return 0;
}

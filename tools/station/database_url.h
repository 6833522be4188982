#pragma once
// The address of a PostgreSQL database as a station file's `records` names it:
//
//   postgresql://USER@HOST:PORT/DBNAME
//
// HOST is a name, an IPv4 address, an IPv6 address in brackets, or a Unix socket folder written
// with %2F for each '/' (postgresql://line@%2Fvar%2Frun%2Fpostgresql/flashes); PORT is optional
// (5432). USER, HOST and DBNAME may hold %XX escapes (but not %00), the address no control
// character. A password is refused: it comes from the environment variable
// KESTRIN_RECORDS_PASSWORD or ~/.pgpass, never from the station file.
// Nothing here touches the network: text in, an address or one message out.

#include <string>
#include <variant>

struct DatabaseAddress {
    std::string user, host;
    int port = 5432;
    std::string database;

    bool operator==(const DatabaseAddress&) const = default;
};

inline constexpr const char* kDatabaseScheme = "postgresql://";

// True when `records` names a database rather than a file: it holds "://".
bool names_database(const std::string& records);

// The address, or the message that says what is wrong with it.
std::variant<DatabaseAddress, std::string> parse_database_url(const std::string& url);

#pragma once
// The address of a PostgreSQL database as a station file's `records` names it:
//
//   postgresql://USER@HOST:PORT/DBNAME?NAME=VALUE&NAME=VALUE
//
// HOST is a name, an IPv4 address, an IPv6 address in brackets, or a Unix socket folder written
// with %2F for each '/' (postgresql://line@%2Fvar%2Frun%2Fpostgresql/flashes); PORT is optional
// (5432). USER, HOST and DBNAME may hold %XX escapes (but not %00), the address no control
// character. A password is refused: it comes from the environment variable
// KESTRIN_RECORDS_PASSWORD or ~/.pgpass, never from the station file.
//
// The parameters after '?' are libpq's own connection parameters, a safe subset only: sslmode
// (disable, allow, prefer, require, verify-ca, verify-full), sslrootcert, sslcert, sslkey, sslcrl,
// connect_timeout (whole seconds, 1 to 3600) and application_name. Their values may hold %XX
// escapes; an unknown parameter, one given twice, one without a value, and a value with a control
// character or a ';' (which no connection can carry) are refused, each with a message naming it.
//
// For a host that is neither a Unix socket folder nor on the loopback (127.0.0.0/8, ::1,
// localhost), sslmode is verify-full unless the address says otherwise: the server must show a
// certificate signed by a trusted authority, for the name the address gives.
//
// Nothing here touches the network: text in, an address or one message out.

#include <string>
#include <utility>
#include <variant>
#include <vector>

struct DatabaseAddress {
    std::string user, host;
    int port = 5432;
    std::string database;
    std::vector<std::pair<std::string, std::string>> parameters{}; // in the order given

    bool operator==(const DatabaseAddress&) const = default;
    // The value of a parameter; empty when it is not given.
    std::string parameter(const std::string& name) const;
};

// The parameters an address may give.
inline constexpr const char* kDatabaseParameters[] = {"sslmode", "sslcert", "sslkey", "sslrootcert",
                                                      "sslcrl", "connect_timeout", "application_name"};
// Those whose value is a file, relative to the station folder when not absolute.
inline constexpr const char* kDatabaseFileParameters[] = {"sslcert", "sslkey", "sslrootcert", "sslcrl"};

inline constexpr const char* kDatabaseScheme = "postgresql://";

// True when `records` names a database rather than a file: it holds "://".
bool names_database(const std::string& records);

// The address, or the message that says what is wrong with it.
std::variant<DatabaseAddress, std::string> parse_database_url(const std::string& url);

// The address as text that parse_database_url() reads back the same: every byte of user, host,
// database and values outside the unreserved ones written as %XX.
std::string database_url_text(const DatabaseAddress& address);

// A Unix socket folder, localhost, or an address on the loopback (127.0.0.0/8, ::1), written as
// inet_pton(3) reads addresses.
bool on_this_machine(const std::string& host);

// The sslmode a connection uses: the address's own, else verify-full away from this machine; empty
// on this machine without one (libpq's own default).
std::string sslmode_of(const DatabaseAddress& address);

// The file parameters made absolute: a relative one is taken in `folder`.
DatabaseAddress with_files_in(DatabaseAddress address, const std::string& folder);

#include "tools/station/record_sql.h"

#include "tools/station/private_files.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>
#include <string_view>

namespace {

// The columns a record is written to and read from, in this order.
constexpr const char* kColumns =
    "station, unit, port, adapter, started, ended, seconds, result, exit_status, reason, "
    "uploads, answers, journal, record_key, images, script_sha256, kestrin_version, "
    "station_version, serial, chain, chain_seq";
constexpr int kColumnCount = 21;

// Columns that tables made by earlier versions lack; each is added when such a table is opened.
struct LaterColumn {
    const char* name;
    const char* sqlite_type;
};
constexpr LaterColumn kLaterColumns[] = {{"record_key", "TEXT"},      {"images", "TEXT"},
                                         {"script_sha256", "TEXT"},   {"kestrin_version", "TEXT"},
                                         {"station_version", "TEXT"}, {"serial", "TEXT"},
                                         {"chain", "TEXT"},           {"chain_seq", "BIGINT"}};

// Any number: the lock that makes one station at a time create the table in PostgreSQL.
constexpr qint64 kCreateLock = 0x6b65737472696e;

struct ColumnTypes {
    const char* id;
    const char* time;
    const char* real;
    const char* key;
};

ColumnTypes column_types(SqlDialect dialect)
{
    if (dialect == SqlDialect::Postgres)
        return {"BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "TIMESTAMPTZ",
                "DOUBLE PRECISION", "UUID NOT NULL UNIQUE"};
    return {"INTEGER PRIMARY KEY", "TEXT", "REAL", "TEXT"};
}

QString create_statement(SqlDialect dialect, const QString& table, const QString& extra_columns)
{
    const ColumnTypes types = column_types(dialect);
    return QString("CREATE TABLE IF NOT EXISTS %1 (id %2, station TEXT, unit TEXT, port TEXT, "
                   "adapter TEXT, "
                   "started %3, ended %3, seconds %4, result TEXT, exit_status INTEGER, reason "
                   "TEXT, uploads TEXT, "
                   "answers TEXT, journal TEXT, record_key %5, images TEXT, script_sha256 TEXT, "
                   "kestrin_version TEXT, station_version TEXT, serial TEXT, chain TEXT, chain_seq BIGINT%6)")
        .arg(table, types.id, types.time, types.real, types.key, extra_columns);
}

// PostgreSQL's text holds no NUL character: a journal's NUL is kept as U+FFFD there.
QVariant text_value(QString text, SqlDialect dialect)
{
    if (dialect == SqlDialect::Postgres)
        text.replace(QChar(0), QChar(0xfffd));
    return text;
}

QVariantList values_of(const FlashRecord& r, SqlDialect dialect)
{
    const auto text = [dialect](const QString& value) { return text_value(value, dialect); };
    return {text(r.station),
            text(r.unit),
            text(r.port),
            text(r.adapter),
            iso_utc(r.started),
            iso_utc(r.ended),
            r.seconds,
            r.passed ? "pass" : "fail",
            r.exit_status ? QVariant(*r.exit_status) : QVariant(QMetaType(QMetaType::Int)),
            text(r.reason),
            text(r.uploads),
            text(r.answers),
            text(r.journal),
            r.key,
            text(r.images),
            text(r.script_sha256),
            text(r.kestrin_version),
            text(r.station_version),
            text(r.serial),
            r.chain,
            r.chain_seq};
}


FlashRecord record_of(const QSqlQuery& row)
{
    const auto text = [&](int column) { return row.value(column).toString(); };
    FlashRecord r{.id = row.value(0).toLongLong(),
                  .station = text(1),
                  .unit = text(2),
                  .port = text(3),
                  .adapter = text(4),
                  .started = time_of(row.value(5)),
                  .ended = time_of(row.value(6)),
                  .seconds = row.value(7).toDouble(),
                  .passed = text(8) == "pass",
                  .exit_status = {},
                  .reason = text(10),
                  .uploads = text(11),
                  .answers = text(12),
                  .journal = text(13),
                  .key = text(14),
                  .images = text(15),
                  .script_sha256 = text(16),
                  .kestrin_version = text(17),
                  .station_version = text(18),
                  .serial = text(19),
                  .chain = text(20),
                  .chain_seq = row.value(21).toLongLong()};
    if (!row.isNull(9))
        r.exit_status = row.value(9).toInt();
    return r;
}

QString next_connection_name()
{
    static std::atomic<int> count = 0;
    return QString("kestrin-records-%1").arg(++count);
}

} // namespace

QString iso_utc(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime time_of(const QVariant& value)
{
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().toUTC();
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

QVariant time_value(const QDateTime& time, SqlDialect dialect)
{
    return dialect == SqlDialect::Postgres ? QVariant(time.toUTC()) : QVariant(iso_utc(time));
}

SqlConnection::SqlConnection(const QString& driver) : name_(next_connection_name())
{
    QSqlDatabase::addDatabase(driver, name_);
}

SqlConnection::~SqlConnection()
{
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

// A value as libpq's connection string takes it: in quotes, with its quotes and backslashes escaped.
QString quoted_option(const std::string& value)
{
    QString text = QString::fromStdString(value);
    text.replace("\\", "\\\\").replace("'", "\\'");
    return "'" + text + "'";
}

QString connect_options(const DatabaseAddress& address)
{
    std::vector<std::pair<std::string, std::string>> options = {
        {"connect_timeout", "2"},     {"application_name", "kestrin-station"}, {"keepalives_idle", "10"},
        {"keepalives_interval", "5"}, {"keepalives_count", "3"},              {"tcp_user_timeout", "30000"},
        {"options", "-c statement_timeout=5000 -c lock_timeout=5000"}};
    for (const auto& [name, value] : address.parameters) {
        const auto own = std::find_if(options.begin(), options.end(), [&](const auto& option) { return option.first == name; });
        if (own != options.end())
            own->second = value;
        else
            options.emplace_back(name, value);
    }
    if (const std::string sslmode = sslmode_of(address); !sslmode.empty() && address.parameter("sslmode").empty())
        options.emplace_back("sslmode", sslmode);
    QStringList text;
    for (const auto& [name, value] : options)
        text << QString::fromStdString(name) + "=" + quoted_option(value);
    return text.join(';');
}

std::unique_ptr<SqlConnection> database_connection(const DatabaseAddress& address)
{
    auto connection = std::make_unique<SqlConnection>("QPSQL");
    QSqlDatabase db = connection->db();
    db.setHostName(QString::fromStdString(address.host));
    db.setPort(address.port);
    db.setUserName(QString::fromStdString(address.user));
    db.setDatabaseName(QString::fromStdString(address.database));
    if (qEnvironmentVariableIsSet("KESTRIN_RECORDS_PASSWORD"))
        db.setPassword(qEnvironmentVariable("KESTRIN_RECORDS_PASSWORD"));
    db.setConnectOptions(connect_options(address));
    return connection;
}

QString plain_database_reason(const QString& message, const DatabaseAddress& address)
{
    const QString host = QString::fromStdString(address.host);
    const QString at = QString("%1:%2").arg(host).arg(address.port);
    const QString authority = QString::fromStdString(address.parameter("sslrootcert"));
    if (message.contains("certificate verify failed"))
        return authority.isEmpty() ? "the server's certificate is not signed by an authority this computer trusts "
                                     "(name the line's authority with sslrootcert)"
                                   : "the server's certificate is not signed by " + authority;
    if (message.contains("does not match host name") || message.contains("does not match the host"))
        return "the server's certificate is not for " + host;
    if (message.contains("server does not support SSL"))
        return "the server at " + at + " offers no encrypted connection (TLS)";
    if (message.contains("root certificate file"))
        return "the certificate authority file " + authority + " cannot be read";
    if (message.contains("Connection refused"))
        return "the server at " + at + " refuses the connection (is it running?)";
    if (message.contains("timeout expired"))
        return "the server at " + at + " did not answer in time";
    if (message.contains("password authentication failed"))
        return "the database refuses the password of " + QString::fromStdString(address.user) +
               " (KESTRIN_RECORDS_PASSWORD or ~/.pgpass)";
    return message.trimmed();
}

std::unique_ptr<SqlConnection> sqlite_connection(const QString& path, QString& error)
{
    if (!make_private_file(path)) {
        error = path + ": cannot be made";
        return nullptr;
    }
    auto connection = std::make_unique<SqlConnection>("QSQLITE");
    QSqlDatabase db = connection->db();
    db.setDatabaseName(path);
    db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
    if (!db.open()) {
        error = path + ": " + db.lastError().text();
        return nullptr;
    }
    QSqlQuery query(db);
    if (!query.exec("PRAGMA journal_mode=WAL")) {
        error = path + ": " + query.lastError().text();
        return nullptr;
    }
    return connection;
}

bool sqlite_writable(QSqlDatabase db, QString& error)
{
    QSqlQuery query(db);
    if (query.exec("PRAGMA user_version") && query.next() &&
        query.exec(QString("PRAGMA user_version = %1").arg(query.value(0).toInt())))
        return true;
    error = query.lastError().text();
    return false;
}

bool RecordTable::fail(const QString& text)
{
    error_ = text;
    return false;
}

bool RecordTable::create(const QString& extra_columns)
{
    const QString statement = create_statement(dialect_, table_, extra_columns);
    return dialect_ == SqlDialect::Postgres ? createInPostgres(statement)
                                            : createInSqlite(statement);
}

bool RecordTable::createInSqlite(const QString& statement)
{
    QSqlQuery query(db_);
    if (!query.exec(statement))
        return fail(query.lastError().text());
    const QSqlRecord columns = db_.record(table_);
    for (const LaterColumn& column : kLaterColumns)
        if (!columns.contains(column.name) &&
            !query.exec(QString("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table_, column.name, column.sqlite_type)))
            return fail(query.lastError().text());
    if (!query.exec(QString("CREATE UNIQUE INDEX IF NOT EXISTS %1_record_key ON %1 (record_key)")
                        .arg(table_)))
        return fail(query.lastError().text());
    return true;
}

// A user who may only write and read a table that is there, with every column, needs no right
// to create or alter one.
bool RecordTable::createInPostgres(const QString& statement)
{
    if (!db_.transaction())
        return fail(db_.lastError().text());
    QSqlQuery query(db_);
    const bool done = query.exec(QString("SELECT pg_advisory_xact_lock(%1)").arg(kCreateLock)) &&
                      query.exec(QString("SELECT to_regclass('%1') IS NOT NULL").arg(table_)) &&
                      query.next() && (query.value(0).toBool() || query.exec(statement)) &&
                      addLaterColumnsInPostgres(query);
    if (!done) {
        const QString error = query.lastError().text();
        db_.rollback();
        return fail(error);
    }
    return db_.commit() || fail(db_.lastError().text());
}

bool RecordTable::addLaterColumnsInPostgres(QSqlQuery& query)
{
    QStringList missing;
    for (const LaterColumn& column : kLaterColumns)
        if (std::string_view(column.name) != "record_key") // PostgreSQL tables always had it
            missing << column.name;
    const auto type_of = [](const QString& column) { return column == "chain_seq" ? "BIGINT" : "TEXT"; };
    query.prepare("SELECT column_name FROM information_schema.columns WHERE table_name = ? "
                  "AND table_schema = current_schema()");
    query.addBindValue(table_);
    if (!query.exec())
        return false;
    while (query.next())
        missing.removeAll(query.value(0).toString());
    for (const QString& column : missing)
        if (!query.exec(QString("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS %2 %3").arg(table_, column, type_of(column))))
            return false;
    return true;
}

bool RecordTable::insert(const std::vector<FlashRecord>& records)
{
    if (!db_.transaction())
        return fail(db_.lastError().text());
    QSqlQuery query(db_);
    QStringList marks;
    for (int i = 0; i < kColumnCount; ++i)
        marks << "?";
    query.prepare(QString("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (record_key) DO NOTHING")
                      .arg(table_, kColumns, marks.join(", ")));
    for (const FlashRecord& record : records) {
        for (const QVariant& value : values_of(record, dialect_))
            query.addBindValue(value);
        if (!query.exec()) {
            const QString error = query.lastError().text();
            db_.rollback();
            return fail(error);
        }
    }
    return db_.commit() || fail(db_.lastError().text());
}

std::optional<std::vector<FlashRecord>> RecordTable::select(const QString& condition, int limit)
{
    std::vector<FlashRecord> records;
    if (!each([&records](const FlashRecord& r) { records.push_back(r); }, condition, "id", limit))
        return std::nullopt;
    return records;
}

bool RecordTable::each(const std::function<void(const FlashRecord&)>& take, const QString& condition,
                       const QString& order, int limit)
{
    QString statement = QString("SELECT id, %1 FROM %2").arg(kColumns, table_);
    if (!condition.isEmpty())
        statement += " WHERE " + condition;
    statement += " ORDER BY " + order;
    if (limit > 0)
        statement += QString(" LIMIT %1").arg(limit);
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        return fail(query.lastError().text());
    while (query.next())
        take(record_of(query));
    return true;
}

std::optional<ChainLink> RecordTable::lastChain(const QString& station)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QString("SELECT chain_seq, chain FROM %1 WHERE station = ? AND chain IS NOT NULL AND chain <> '' "
                          "ORDER BY chain_seq DESC LIMIT 1")
                      .arg(table_));
    query.addBindValue(station);
    if (!query.exec()) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    return ChainLink{query.value(0).toLongLong(), query.value(1).toString()};
}

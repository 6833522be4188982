#include "tools/station/records.h"

#include "tools/station/record_spool.h"
#include "tools/station/record_sql.h"

#include <QSqlError>
#include <QUuid>

namespace {

// Records in one connection: an SQLite file, or the database itself.
class TableRecordStore : public RecordStore {
public:
    TableRecordStore(std::unique_ptr<SqlConnection> connection, SqlDialect dialect)
        : connection_(std::move(connection)), dialect_(dialect), table_(connection_->db(), dialect, "flashes")
    {
    }

    bool write(const FlashRecord& record) override { return table_.insert({record}); }
    bool checkWritable(QString& error) override
    {
        return dialect_ == SqlDialect::Postgres || sqlite_writable(table_.db(), error);
    }
    std::optional<std::vector<FlashRecord>> readAll() override { return table_.select(); }
    std::optional<ReportFigures> reportFigures(const ReportPeriod& period) override
    {
        QString error;
        auto figures = report_figures(table_.db(), dialect_, period, error);
        if (!figures)
            table_.fail(error);
        return figures;
    }
    bool eachRecord(const std::function<void(const FlashRecord&)>& take) override
    {
        return table_.each(take, {}, "station, id");
    }
    std::optional<ChainLink> lastChain(const QString& station) override { return table_.lastChain(station); }
    QString error() const override { return table_.error(); }

    // Opens the connection when it is not, and makes the table; false and error() when either fails.
    bool ready()
    {
        if (!table_.db().isOpen() && !table_.db().open())
            return table_.fail(table_.db().lastError().text());
        return table_.create();
    }

private:
    std::unique_ptr<SqlConnection> connection_;
    SqlDialect dialect_;
    RecordTable table_;
};

QByteArray csv_field(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\r') && !bytes.contains('\n'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

QByteArray csv_line(const QStringList& fields)
{
    QByteArray line;
    for (const QString& field : fields) {
        if (&field != &fields.front())
            line += ',';
        line += csv_field(field);
    }
    return line + "\r\n";
}

std::unique_ptr<RecordStore> opened(std::unique_ptr<TableRecordStore> store, const QString& where, QString& error)
{
    if (store->ready())
        return store;
    error = where + ": " + store->error();
    return nullptr;
}

} // namespace

QString new_record_key()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString records_status_text(const RecordsStatus& status)
{
    if (status.waiting == 0 && status.problem.isEmpty())
        return "records: all in the database";
    return QString("records: %1 waiting for the database").arg(status.waiting);
}

std::unique_ptr<RecordStore> open_record_store(const std::string& where, QString& error, const std::string& spool)
{
    const QString name = QString::fromStdString(where);
    if (!names_database(where)) {
        auto connection = sqlite_connection(name, error);
        return connection ? opened(std::make_unique<TableRecordStore>(std::move(connection), SqlDialect::Sqlite), name, error)
                          : nullptr;
    }
    const auto address = parse_database_url(where);
    if (const auto* problem = std::get_if<std::string>(&address)) {
        error = name + ": " + QString::fromStdString(*problem);
        return nullptr;
    }
    if (!QSqlDatabase::isDriverAvailable("QPSQL")) {
        error = name + ": the PostgreSQL driver of Qt SQL is not installed (Debian package libqt6sql6-psql)";
        return nullptr;
    }
    const DatabaseAddress& database = std::get<DatabaseAddress>(address);
    if (!spool.empty())
        return open_spooled_store(QString::fromStdString(spool), where, database, error);
    return opened(std::make_unique<TableRecordStore>(database_connection(database), SqlDialect::Postgres), name, error);
}

bool write_records_csv(const std::vector<FlashRecord>& records, QIODevice& out)
{
    bool written = out.write(csv_line({"id", "station", "unit", "port", "adapter", "started", "ended", "seconds",
                                       "result", "exit_status", "reason", "uploads", "answers", "journal",
                                       "images", "script_sha256", "kestrin_version", "station_version",
                                       "serial", "chain", "chain_seq"})) >= 0;
    for (const FlashRecord& r : records)
        written = out.write(csv_line({QString::number(r.id), r.station, r.unit, r.port, r.adapter,
                                      iso_utc(r.started), iso_utc(r.ended), QString::number(r.seconds, 'f', 3),
                                      r.passed ? "pass" : "fail",
                                      r.exit_status ? QString::number(*r.exit_status) : QString(), r.reason,
                                      r.uploads, r.answers, r.journal, r.images, r.script_sha256,
                                      r.kestrin_version, r.station_version, r.serial, r.chain,
                                      r.chain_seq > 0 ? QString::number(r.chain_seq) : QString()})) >= 0 &&
                  written;
    return written;
}

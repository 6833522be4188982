#include "tools/station/records.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>

namespace {

constexpr const char* kCreateTable = "CREATE TABLE IF NOT EXISTS flashes ("
                                     "id INTEGER PRIMARY KEY, station TEXT, unit TEXT, port TEXT, adapter TEXT, "
                                     "started TEXT, ended TEXT, seconds REAL, result TEXT, exit_status INTEGER, "
                                     "reason TEXT, uploads TEXT, answers TEXT, journal TEXT)";

constexpr const char* kInsert = "INSERT INTO flashes (station, unit, port, adapter, started, ended, seconds, result, "
                                "exit_status, reason, uploads, answers, journal) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

constexpr const char* kSelectAll = "SELECT id, station, unit, port, adapter, started, ended, seconds, result, "
                                   "exit_status, reason, uploads, answers, journal FROM flashes ORDER BY id";

QString iso_utc(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

class SqliteRecordStore : public RecordStore {
public:
    explicit SqliteRecordStore(const QString& path) : connection_(next_connection_name())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection_);
        db.setDatabaseName(path);
        if (!db.open()) {
            error_ = path + ": " + db.lastError().text();
            return;
        }
        QSqlQuery create(db);
        if (!create.exec(kCreateTable))
            error_ = path + ": " + create.lastError().text();
    }

    ~SqliteRecordStore() override
    {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }

    bool usable() const { return error_.isEmpty(); }

    bool write(const FlashRecord& r) override
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (!db.transaction())
            return fail(db.lastError());
        QSqlQuery insert(db);
        insert.prepare(kInsert);
        for (const QVariant& value :
             {QVariant(r.station), QVariant(r.unit), QVariant(r.port), QVariant(r.adapter), QVariant(iso_utc(r.started)),
              QVariant(iso_utc(r.ended)), QVariant(r.seconds), QVariant(r.passed ? "pass" : "fail"),
              r.exit_status ? QVariant(*r.exit_status) : QVariant(QMetaType(QMetaType::Int)), QVariant(r.reason),
              QVariant(r.uploads), QVariant(r.answers), QVariant(r.journal)})
            insert.addBindValue(value);
        if (!insert.exec()) {
            const QSqlError error = insert.lastError();
            db.rollback();
            return fail(error);
        }
        return db.commit() || fail(db.lastError());
    }

    std::optional<std::vector<FlashRecord>> readAll() override
    {
        QSqlQuery select(QSqlDatabase::database(connection_, false));
        if (!select.exec(kSelectAll)) {
            fail(select.lastError());
            return std::nullopt;
        }
        std::vector<FlashRecord> records;
        while (select.next()) {
            const auto text = [&](int column) { return select.value(column).toString(); };
            FlashRecord r{.id = select.value(0).toLongLong(),
                          .station = text(1),
                          .unit = text(2),
                          .port = text(3),
                          .adapter = text(4),
                          .started = QDateTime::fromString(text(5), Qt::ISODateWithMs),
                          .ended = QDateTime::fromString(text(6), Qt::ISODateWithMs),
                          .seconds = select.value(7).toDouble(),
                          .passed = text(8) == "pass",
                          .exit_status = {},
                          .reason = text(10),
                          .uploads = text(11),
                          .answers = text(12),
                          .journal = text(13)};
            if (!select.isNull(9))
                r.exit_status = select.value(9).toInt();
            records.push_back(std::move(r));
        }
        return records;
    }

    QString error() const override { return error_; }

private:
    static QString next_connection_name()
    {
        static std::atomic<int> count = 0;
        return QString("kestrin-records-%1").arg(++count);
    }

    bool fail(const QSqlError& error)
    {
        error_ = error.text();
        return false;
    }

    QString connection_;
    QString error_;
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

} // namespace

std::unique_ptr<RecordStore> open_record_store(const std::string& where, QString& error)
{
    auto store = std::make_unique<SqliteRecordStore>(QString::fromStdString(where));
    if (!store->usable()) {
        error = store->error();
        return nullptr;
    }
    return store;
}

bool write_records_csv(const std::vector<FlashRecord>& records, QIODevice& out)
{
    bool written = out.write(csv_line({"id", "station", "unit", "port", "adapter", "started", "ended", "seconds",
                                       "result", "exit_status", "reason", "uploads", "answers", "journal"})) >= 0;
    for (const FlashRecord& r : records)
        written = out.write(csv_line({QString::number(r.id), r.station, r.unit, r.port, r.adapter,
                                      iso_utc(r.started), iso_utc(r.ended), QString::number(r.seconds, 'f', 3),
                                      r.passed ? "pass" : "fail",
                                      r.exit_status ? QString::number(*r.exit_status) : QString(), r.reason,
                                      r.uploads, r.answers, r.journal})) >= 0 &&
                  written;
    return written;
}

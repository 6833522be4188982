#include "tools/station/run_ledger.h"

#include "tools/station/journal_file.h"
#include "tools/station/record_chain.h"
#include "tools/station/record_sql.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <map>

namespace {

constexpr const char* kCreate =
    "CREATE TABLE IF NOT EXISTS running (record_key TEXT PRIMARY KEY, station TEXT, unit TEXT, "
    "port TEXT, adapter TEXT, started TEXT, journal_file TEXT, ended TEXT, seconds REAL, "
    "result TEXT, exit_status INTEGER, reason TEXT, serial TEXT)";

// A journal file holds the bounded journal and the station's few lines after it.
constexpr std::size_t kJournalFileLimit = kMaxJournalBytes + (64 << 10);

QVariant optional_int(const std::optional<int>& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

LedgerEntry entry_of(const QSqlQuery& row)
{
    const auto text = [&](int column) { return row.value(column).toString(); };
    LedgerEntry entry{.record = {.station = text(1),
                                 .unit = text(2),
                                 .port = text(3),
                                 .adapter = text(4),
                                 .started = QDateTime::fromString(text(5), Qt::ISODateWithMs),
                                 .ended = QDateTime::fromString(text(7), Qt::ISODateWithMs),
                                 .seconds = row.value(8).toDouble(),
                                 .passed = text(9) == "pass",
                                 .reason = text(11),
                                 .key = text(0),
                                 .serial = text(12)},
                      .journal_file = text(6),
                      .ended = !row.isNull(9)};
    if (!row.isNull(10))
        entry.record.exit_status = row.value(10).toInt();
    return entry;
}

// A run that was running when the station ended: failed, no exit status, ended when its journal
// was last written.
void make_interrupted(LedgerEntry& entry)
{
    FlashRecord& r = entry.record;
    const QDateTime written = QFileInfo(entry.journal_file).lastModified().toUTC();
    r.ended = written.isValid() && written >= r.started ? written : r.started;
    r.seconds = static_cast<double>(r.started.msecsTo(r.ended)) / 1000.0;
    r.passed = false;
    r.exit_status.reset();
    r.reason = kInterruptedReason;
}

} // namespace

RunLedger::RunLedger(std::unique_ptr<SqlConnection> connection) : connection_(std::move(connection)) {}

RunLedger::~RunLedger() = default;

std::unique_ptr<RunLedger> RunLedger::open(const QString& path, QString& error)
{
    auto connection = sqlite_connection(path, error);
    if (!connection)
        return nullptr;
    QSqlQuery query(connection->db());
    if (!query.exec(kCreate)) {
        error = path + ": " + query.lastError().text();
        return nullptr;
    }
    if (!sqlite_writable(connection->db(), error)) {
        error = path + ": " + error;
        return nullptr;
    }
    return std::unique_ptr<RunLedger>(new RunLedger(std::move(connection)));
}

bool RunLedger::fail(const QString& text)
{
    error_ = text;
    return false;
}

bool RunLedger::enter(const FlashRecord& started, const QString& journal_file)
{
    QSqlQuery query(connection_->db());
    query.prepare("INSERT OR REPLACE INTO running (record_key, station, unit, port, adapter, started, "
                  "journal_file, serial) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const QVariant& value : {QVariant(started.key), QVariant(started.station), QVariant(started.unit),
                                  QVariant(started.port), QVariant(started.adapter),
                                  QVariant(iso_utc(started.started)), QVariant(journal_file), QVariant(started.serial)})
        query.addBindValue(value);
    return query.exec() || fail(query.lastError().text());
}

bool RunLedger::keepEnded(const FlashRecord& record)
{
    QSqlQuery query(connection_->db());
    query.prepare("UPDATE running SET ended = ?, seconds = ?, result = ?, exit_status = ?, reason = ? "
                  "WHERE record_key = ?");
    for (const QVariant& value :
         {QVariant(iso_utc(record.ended)), QVariant(record.seconds), QVariant(record.passed ? "pass" : "fail"),
          optional_int(record.exit_status), QVariant(record.reason), QVariant(record.key)})
        query.addBindValue(value);
    return query.exec() || fail(query.lastError().text());
}

bool RunLedger::strikeOff(const QString& key)
{
    QSqlQuery query(connection_->db());
    query.prepare("DELETE FROM running WHERE record_key = ?");
    query.addBindValue(key);
    return query.exec() || fail(query.lastError().text());
}

std::optional<std::vector<LedgerEntry>> RunLedger::entries()
{
    QSqlQuery query(connection_->db());
    query.setForwardOnly(true);
    if (!query.exec("SELECT record_key, station, unit, port, adapter, started, journal_file, ended, "
                    "seconds, result, exit_status, reason, serial FROM running ORDER BY started, rowid")) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    std::vector<LedgerEntry> entries;
    while (query.next())
        entries.push_back(entry_of(query));
    return entries;
}

void take_journal_facts(FlashRecord& record, const RunJournal& journal)
{
    record.journal = QString::fromStdString(journal.text());
    record.uploads = QString::fromStdString(journal.uploads());
    record.answers = QString::fromStdString(journal.answers());
    record.images = QString::fromStdString(journal.images());
    record.script_sha256 = QString::fromStdString(journal.scriptSha256());
    record.kestrin_version = QString::fromStdString(journal.kestrinVersion());
}

std::optional<int> record_leftover_runs(RunLedger& ledger, RecordStore& store, const QString& station_version,
                                        const QString& upload_word, QString& error)
{
    auto entries = ledger.entries();
    if (!entries) {
        error = ledger.error();
        return std::nullopt;
    }
    std::map<QString, RecordChain> chains;
    for (LedgerEntry& entry : *entries) {
        RunJournal journal(upload_word.toStdString(), {});
        journal.take(read_journal_file(entry.journal_file, kJournalFileLimit));
        if (!entry.ended) {
            make_interrupted(entry);
            const std::string line = "station: " + entry.record.reason.toStdString();
            journal.addStationLine(line);
            JournalFile file;
            if (file.openToAppend(entry.journal_file))
                file.write(line);
        }
        take_journal_facts(entry.record, journal);
        entry.record.station_version = station_version;
        auto chain = chains.find(entry.record.station);
        if (chain == chains.end())
            chain = chains.emplace(entry.record.station, RecordChain(entry.record.station, store.lastChain(entry.record.station)))
                        .first;
        const FlashRecord record = chain->second.linked(entry.record);
        if (!store.write(record) || !ledger.strikeOff(record.key)) {
            error = store.error().isEmpty() ? ledger.error() : store.error();
            return std::nullopt;
        }
        chain->second.kept(record);
    }
    return static_cast<int>(entries->size());
}

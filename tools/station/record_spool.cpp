#include "tools/station/record_spool.h"

#include "tools/station/record_sql.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

constexpr int kBatch = 100;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 10000;

// The spool on a connection of its own.
class Spool {
public:
    static std::unique_ptr<Spool> open(const QString& path, QString& error)
    {
        auto connection = sqlite_connection(path, error);
        if (!connection)
            return nullptr;
        auto spool = std::unique_ptr<Spool>(new Spool(std::move(connection)));
        QSqlQuery query(spool->table_.db());
        // Write-ahead logging: the sender reads and marks while the station writes.
        if (!query.exec("PRAGMA journal_mode=WAL") || !spool->table_.create(", sent TEXT") ||
            !query.exec(
                "CREATE INDEX IF NOT EXISTS spool_waiting ON spool (id) WHERE sent IS NULL")) {
            error = path + ": " +
                    (spool->error().isEmpty() ? query.lastError().text() : spool->error());
            return nullptr;
        }
        return spool;
    }

    bool add(const FlashRecord& record) { return table_.insert({record}); }
    std::optional<std::vector<FlashRecord>> waiting(int limit)
    {
        return table_.select("sent IS NULL", limit);
    }

    // Marks sent every waiting record up to the one with id `last`.
    bool markSent(qint64 last)
    {
        QSqlQuery query(table_.db());
        query.prepare("UPDATE spool SET sent = ? WHERE sent IS NULL AND id <= ?");
        query.addBindValue(iso_utc(QDateTime::currentDateTimeUtc()));
        query.addBindValue(last);
        return query.exec() || table_.fail(query.lastError().text());
    }

    std::optional<int> waitingCount()
    {
        QSqlQuery query(table_.db());
        if (query.exec("SELECT COUNT(*) FROM spool WHERE sent IS NULL") && query.next())
            return query.value(0).toInt();
        table_.fail(query.lastError().text());
        return std::nullopt;
    }

    const QString& error() const { return table_.error(); }

private:
    explicit Spool(std::unique_ptr<SqlConnection> connection)
        : connection_(std::move(connection)), table_(connection_->db(), SqlDialect::Sqlite, "spool")
    {
    }

    std::unique_ptr<SqlConnection> connection_;
    RecordTable table_;
};

// Sends what waits in the spool, on a thread of its own; `report` gets the problem of each
// attempt and an empty one after each batch the database confirmed.
class RecordSender : public QObject {
public:
    RecordSender(QString spool_path, DatabaseAddress database,
                 std::function<void(const QString&)> report)
        : spool_path_(std::move(spool_path)), database_(std::move(database)),
          report_(std::move(report)), retry_(this)
    {
        retry_.setSingleShot(true);
        connect(&retry_, &QTimer::timeout, this, &RecordSender::sendWaiting);
    }

    // A new record waits: it goes now, unless the database failed and a retry is due.
    void recordAdded()
    {
        if (!retry_.isActive())
            sendWaiting();
    }

    // One attempt: sends every waiting record, batch by batch, until none waits or one fails.
    void sendWaiting()
    {
        retry_.stop();
        const QString problem = sendAll();
        if (problem.isEmpty()) {
            retry_ms_ = kFirstRetryMs;
        } else {
            // The next attempt starts from a new connection.
            flashes_.reset();
            connection_.reset();
            retry_.start(retry_ms_);
            retry_ms_ = std::min(2 * retry_ms_, kLastRetryMs);
        }
        report_(problem);
    }

private:
    QString sendAll()
    {
        if (!spool_) {
            QString error;
            spool_ = Spool::open(spool_path_, error);
            if (!spool_)
                return error;
        }
        for (;;) {
            const auto batch = spool_->waiting(kBatch);
            if (!batch)
                return spool_->error();
            if (batch->empty())
                return {};
            if (!databaseReady() || !flashes_->insert(*batch))
                return flashes_ ? flashes_->error() : connection_->db().lastError().text();
            if (!spool_->markSent(batch->back().id))
                return spool_->error();
            report_({});
        }
    }

    bool databaseReady()
    {
        if (flashes_)
            return true;
        connection_ = database_connection(database_);
        if (!connection_->db().open())
            return false;
        flashes_.emplace(connection_->db(), SqlDialect::Postgres, "flashes");
        return flashes_->create();
    }

    QString spool_path_;
    DatabaseAddress database_;
    std::function<void(const QString&)> report_;
    std::unique_ptr<Spool> spool_;
    std::unique_ptr<SqlConnection> connection_;
    std::optional<RecordTable> flashes_;
    QTimer retry_;
    int retry_ms_ = kFirstRetryMs;
};

class SpooledRecordStore : public RecordStore {
public:
    SpooledRecordStore(std::unique_ptr<Spool> spool, const QString& spool_path, std::string url,
                       const DatabaseAddress& database)
        : spool_(std::move(spool)), url_(std::move(url))
    {
        sender_ = new RecordSender(spool_path, database, [this](const QString& problem) {
            QMetaObject::invokeMethod(
                this, [this, problem] { reported(problem); }, Qt::QueuedConnection);
        });
        sender_->moveToThread(&thread_);
        connect(&thread_, &QThread::finished, sender_, &QObject::deleteLater);
        thread_.start();
        QMetaObject::invokeMethod(sender_, &RecordSender::sendWaiting, Qt::QueuedConnection);
    }

    ~SpooledRecordStore() override
    {
        thread_.quit();
        thread_.wait();
    }

    bool write(const FlashRecord& record) override
    {
        if (!spool_->add(record))
            return false;
        emit statusChanged();
        QMetaObject::invokeMethod(sender_, &RecordSender::recordAdded, Qt::QueuedConnection);
        return true;
    }

    std::optional<std::vector<FlashRecord>> readAll() override
    {
        QString error;
        const auto database = open_record_store(url_, error);
        auto all = database ? database->readAll() : std::nullopt;
        if (!all)
            read_error_ = database ? database->error() : error;
        return all;
    }

    QString error() const override { return read_error_.isEmpty() ? spool_->error() : read_error_; }

    std::optional<RecordsStatus> status() const override
    {
        const std::optional<int> waiting = spool_->waitingCount();
        return RecordsStatus{.waiting = waiting.value_or(0),
                             .problem = waiting ? problem_ : "the spool: " + spool_->error()};
    }

    void drain() override
    {
        QMetaObject::invokeMethod(sender_, &RecordSender::sendWaiting,
                                  Qt::BlockingQueuedConnection);
        // What the sender reported on its way is here before this returns.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }

private:
    void reported(const QString& problem)
    {
        problem_ = problem;
        emit statusChanged();
    }

    std::unique_ptr<Spool> spool_;
    std::string url_;
    QThread thread_;
    RecordSender* sender_;
    QString problem_, read_error_;
};

} // namespace

std::unique_ptr<RecordStore> open_spooled_store(const QString& spool, const std::string& url,
                                                const DatabaseAddress& database, QString& error)
{
    auto opened = Spool::open(spool, error);
    if (!opened)
        return nullptr;
    return std::make_unique<SpooledRecordStore>(std::move(opened), spool, url, database);
}

#include "tools/station/record_spool.h"

#include "tools/station/record_sql.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <libpq-fe.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>

namespace {

constexpr int kBatch = 100;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 10000;
// How long a headless run's end or an export waits for an attempt to send, and the store's close
// for its sender to end, before the connection is cut; and how long then for the cut to take.
// The close outwaits a connection attempt (2 s at most); a drain and a close together stay
// within 5 s whatever the server does.
constexpr int kDrainMs = 1500;
constexpr int kShutdownMs = 2500;
constexpr int kCutMs = 500;

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
        if (!spool->table_.create(", sent TEXT") ||
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

    bool writable(QString& error) { return sqlite_writable(table_.db(), error); }
    std::optional<ChainLink> lastChain(const QString& station) { return table_.lastChain(station); }

    const QString& error() const { return table_.error(); }

private:
    explicit Spool(std::unique_ptr<SqlConnection> connection)
        : connection_(std::move(connection)), table_(connection_->db(), SqlDialect::Sqlite, "spool")
    {
    }

    std::unique_ptr<SqlConnection> connection_;
    RecordTable table_;
};

// What a store and its sender share across their two threads. The socket of the sender's open
// database connection, so that the store can cut a connection that hangs: a blocked call on it
// then returns at once with an error. And whether the store is still there, so that a sender
// that outlives it (left in a connection attempt that would not end) reports to no one.
class SenderLine {
public:
    // On the sender's thread, as its connection opens and before it closes.
    void connected(int fd)
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
    }
    void closing()
    {
        std::lock_guard lock(mutex_);
        fd_ = -1;
    }

    // On the store's thread.
    void cut()
    {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0)
            shutdown(fd_, SHUT_RDWR);
    }
    void storeGone()
    {
        std::lock_guard lock(mutex_);
        store_ = nullptr;
    }

    explicit SenderLine(QObject* store) : store_(store) {}

    // Runs `post` (which posts an event to the store) unless the store has gone.
    template <typename Post>
    void toStore(Post post)
    {
        std::lock_guard lock(mutex_);
        if (store_)
            post(store_);
    }

private:
    std::mutex mutex_;
    int fd_ = -1;
    QObject* store_;
};

// Why an attempt to send failed: in a technician's words, and what libpq itself said (empty when
// the two are the same). An empty reason is an attempt that succeeded.
struct SendProblem {
    QString reason{}, detail{};
    bool failed() const { return !reason.isEmpty(); }
};

SendProblem spool_problem(const QString& text)
{
    return {"the spool: " + text};
}

// A failed attempt always has a problem to tell, even where Qt SQL gives no text (a connection
// that the server closed as it opened): an empty one would read as success.
SendProblem database_problem(const QString& text, const DatabaseAddress& database)
{
    if (text.trimmed().isEmpty())
        return {"the connection to the database was lost"};
    const QString reason = plain_database_reason(text, database);
    return {reason, reason == text ? QString() : text.trimmed()};
}

// The socket of an open PostgreSQL connection of Qt SQL; -1 when there is none.
int socket_of(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0)
        return -1;
    return PQsocket(*static_cast<PGconn* const*>(handle.constData()));
}

// Sends what waits in the spool, on a thread of its own; `report` gets the problem of each
// attempt and an empty one after each batch the database confirmed.
class RecordSender : public QObject {
public:
    RecordSender(QString spool_path, DatabaseAddress database, std::shared_ptr<SenderLine> line,
                 std::function<void(const SendProblem&)> report)
        : spool_path_(std::move(spool_path)), database_(std::move(database)), line_(std::move(line)),
          report_(std::move(report)), retry_(this)
    {
        retry_.setSingleShot(true);
        connect(&retry_, &QTimer::timeout, this, &RecordSender::sendWaiting);
    }

    ~RecordSender() override { closeDatabase(); }

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
        const SendProblem problem = sendAll();
        if (!problem.failed()) {
            retry_ms_ = kFirstRetryMs;
        } else {
            closeDatabase(); // the next attempt starts from a new connection
            retry_.start(retry_ms_);
            retry_ms_ = std::min(2 * retry_ms_, kLastRetryMs);
        }
        report_(problem);
    }

private:
    SendProblem sendAll()
    {
        if (!spool_) {
            QString error;
            spool_ = Spool::open(spool_path_, error);
            if (!spool_)
                return spool_problem(error);
        }
        for (;;) {
            const auto batch = spool_->waiting(kBatch);
            if (!batch)
                return spool_problem(spool_->error());
            if (batch->empty())
                return {};
            if (!databaseReady() || !flashes_->insert(*batch))
                return database_problem(flashes_ ? flashes_->error() : connection_->db().lastError().text(),
                                        database_);
            if (!spool_->markSent(batch->back().id))
                return spool_problem(spool_->error());
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
        line_->connected(socket_of(connection_->db()));
        flashes_.emplace(connection_->db(), SqlDialect::Postgres, "flashes");
        return flashes_->create();
    }

    void closeDatabase()
    {
        line_->closing();
        flashes_.reset();
        connection_.reset();
    }

    QString spool_path_;
    DatabaseAddress database_;
    std::shared_ptr<SenderLine> line_;
    std::function<void(const SendProblem&)> report_;
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
        : spool_(std::move(spool)), url_(std::move(url)), line_(std::make_shared<SenderLine>(this)),
          thread_(new QThread)
    {
        sender_ = new RecordSender(spool_path, database, line_, [line = line_](const SendProblem& problem) {
            line->toStore([&problem](QObject* store) {
                QMetaObject::invokeMethod(
                    store, [store, problem] { static_cast<SpooledRecordStore*>(store)->reported(problem); },
                    Qt::QueuedConnection);
            });
        });
        sender_->moveToThread(thread_);
        connect(thread_, &QThread::finished, sender_, &QObject::deleteLater);
        thread_->start();
        QMetaObject::invokeMethod(sender_, &RecordSender::sendWaiting, Qt::QueuedConnection);
    }

    // The sender gets kShutdownMs to end its attempt; a connection that hangs is cut then. One
    // that is still being opened (where no socket can be cut yet) is left to end by itself.
    ~SpooledRecordStore() override
    {
        line_->storeGone();
        thread_->quit();
        if (!thread_->wait(kShutdownMs)) {
            line_->cut();
            if (!thread_->wait(kCutMs)) {
                qWarning("records: the sender is still connecting to the database; it is left to end by itself");
                connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
                return;
            }
        }
        delete thread_;
    }

    bool write(const FlashRecord& record) override
    {
        if (!spool_->add(record))
            return false;
        emit statusChanged();
        QMetaObject::invokeMethod(sender_, &RecordSender::recordAdded, Qt::QueuedConnection);
        return true;
    }

    bool checkWritable(QString& error) override { return spool_->writable(error); }

    std::optional<std::vector<FlashRecord>> readAll() override
    {
        return fromDatabase([](RecordStore& database) { return database.readAll(); });
    }

    std::optional<ReportFigures> reportFigures(const ReportPeriod& period) override
    {
        return fromDatabase([&period](RecordStore& database) { return database.reportFigures(period); });
    }

    bool eachRecord(const std::function<void(const FlashRecord&)>& take) override
    {
        return fromDatabase([&take](RecordStore& database) {
                   return database.eachRecord(take) ? std::optional<bool>(true) : std::nullopt;
               })
            .has_value();
    }

    // The spool holds every record of the station, sent or not.
    std::optional<ChainLink> lastChain(const QString& station) override { return spool_->lastChain(station); }

    QString error() const override { return read_error_.isEmpty() ? spool_->error() : read_error_; }

    std::optional<RecordsStatus> status() const override
    {
        const std::optional<int> waiting = spool_->waitingCount();
        const SendProblem problem = waiting ? problem_ : spool_problem(spool_->error());
        return RecordsStatus{.waiting = waiting.value_or(0), .problem = problem.reason, .detail = problem.detail};
    }

    // One attempt, given kDrainMs before its connection is cut.
    void drain() override
    {
        auto attempt = std::make_shared<std::promise<void>>();
        std::future<void> ended = attempt->get_future();
        QMetaObject::invokeMethod(sender_, [sender = sender_, attempt] {
            sender->sendWaiting();
            attempt->set_value();
        });
        if (ended.wait_for(std::chrono::milliseconds(kDrainMs)) != std::future_status::ready) {
            line_->cut();
            ended.wait_for(std::chrono::milliseconds(kCutMs));
        }
        // What the sender reported on its way is here before this returns.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }

private:
    // What the database itself gives, on a connection of the calling thread's own.
    template <typename Read>
    auto fromDatabase(Read read) -> decltype(read(std::declval<RecordStore&>()))
    {
        QString error;
        const auto database = open_record_store(url_, error);
        auto result = database ? read(*database) : std::nullopt;
        if (!result)
            read_error_ = database ? database->error() : error;
        return result;
    }

    void reported(const SendProblem& problem)
    {
        problem_ = problem;
        emit statusChanged();
    }

    std::unique_ptr<Spool> spool_;
    std::string url_;
    std::shared_ptr<SenderLine> line_;
    QThread* thread_;
    RecordSender* sender_;
    SendProblem problem_;
    QString read_error_;
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

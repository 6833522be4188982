#pragma once
// The record of every finished unit run.
//
// RecordStore is what the station needs of a record keeper: write one finished run, committed
// before write() returns (so a crash of the station loses no finished record), and read them all
// back for an export. open_record_store() gives the keeper that a station file's `records`
// names, through Qt SQL:
//
// - A file: an SQLite database (QSQLITE), where each record is one row of the table `flashes`,
//   written in its own transaction:
//
//     id INTEGER PRIMARY KEY, station TEXT, unit TEXT, port TEXT, adapter TEXT, started TEXT,
//     ended TEXT, seconds REAL, result TEXT, exit_status INTEGER, reason TEXT, uploads TEXT,
//     answers TEXT, journal TEXT, record_key TEXT (unique), images TEXT, script_sha256 TEXT,
//     kestrin_version TEXT, station_version TEXT, serial TEXT, chain TEXT, chain_seq INTEGER
//
// - postgresql://USER@HOST:PORT/DBNAME (QPSQL): the same table in that database, made when it is
//   missing (see record_sql.h for its column types). With a spool, each record is first committed
//   to the spool, an SQLite file of the station's own, and a thread of the store sends it on (see
//   record_spool.h); status() says what waits. Without one, records go straight to the database.
//
// started and ended are ISO 8601 UTC with milliseconds (2026-12-09T13:15:00.123Z); result is
// pass or fail; exit_status is NULL when no process ended by itself (a missing device, a crash,
// a stop); uploads and answers are the run's upload: and answer: journal lines, one per line;
// record_key is the UUID the station gave the record, so that no record is ever kept twice;
// images are the run's image: lines (FILE: LENGTH SHA256, one per line), script_sha256 the
// digest of the script it ran, kestrin_version and station_version the versions of the program
// that flashed and of the station that ran it; serial the unit's serial number (scanned from its
// label, or given on the command line), empty without one.
//
// write_records_csv() writes records as CSV after RFC 4180: a header line, CRLF line ends, and
// every field that holds a comma, a double quote, a CR or a LF in double quotes, its double
// quotes doubled.
//
// Each store owns its own named database connections; use it on the thread that opened it.

#include "tools/station/report_figures.h"

#include <QDateTime>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct FlashRecord {
    qint64 id = 0; // given by the store
    QString station{}, unit{}, port{}, adapter{};
    QDateTime started{}, ended{};
    double seconds = 0;
    bool passed = false;
    std::optional<int> exit_status{};
    QString reason{}, uploads{}, answers{}, journal{};
    QString key{}; // record_key
    QString images{}, script_sha256{}, kestrin_version{}, station_version{};
    QString serial{}; // the unit's own serial number, scanned from its label; empty without one
    QString chain{};  // record_chain.h: the SHA-256 that links it to its station's previous record
    qint64 chain_seq = 0;
};

// Where a station's chain of records stands: its last record's number and chain.
struct ChainLink {
    qint64 seq = 0;
    QString chain;
};

// A new record key: a random UUID, lower case, without braces.
QString new_record_key();

// What waits for the database of a store that sends its records on.
struct RecordsStatus {
    int waiting = 0;   // records that the database has not yet confirmed
    QString problem{}; // why the latest attempt to send failed, in plain words; empty when it did not
    QString detail{};  // what the database's own library said of it, when that is more
};

// "records: all in the database", or "records: 3 waiting for the database" while any waits
// or the latest attempt failed.
QString records_status_text(const RecordsStatus& status);

class RecordStore : public QObject {
    Q_OBJECT
public:
    // True once the record is committed; otherwise error() says why.
    virtual bool write(const FlashRecord& record) = 0;
    virtual std::optional<std::vector<FlashRecord>> readAll() = 0;
    // The report's figures over `period`, computed by the database (report_figures.h).
    virtual std::optional<ReportFigures> reportFigures(const ReportPeriod& period) = 0;
    // Every record, one at a time, station by station in the order of id; false on a failure.
    virtual bool eachRecord(const std::function<void(const FlashRecord&)>& take) = 0;
    // The last chained record of `station` that this store keeps (a spooled store: in its spool);
    // nothing when there is none, or on a failure (then error() says why).
    virtual std::optional<ChainLink> lastChain(const QString& station) = 0;
    virtual QString error() const = 0;
    // For a store that sends its records on to a database: what waits; nothing for the others.
    virtual std::optional<RecordsStatus> status() const { return std::nullopt; }
    // Returns once an attempt to send what waits has ended, or after at most 2 s with the
    // attempt cut short; does nothing in other stores.
    virtual void drain() {}
    // True when the store takes a write now (checked by writing, not by permission bits);
    // otherwise false and the message.
    virtual bool checkWritable(QString& /*error*/) { return true; }

signals:
    // status() may have changed.
    void statusChanged();
};

// The store named by `where` (a file path or a postgresql:// address), opened and ready; with an
// address and a `spool` path, the spooled store. Nothing and a message in `error` when it cannot
// be opened.
std::unique_ptr<RecordStore> open_record_store(const std::string& where, QString& error,
                                               const std::string& spool = {});

bool write_records_csv(const std::vector<FlashRecord>& records, QIODevice& out);

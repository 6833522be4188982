#pragma once
// The record of every finished unit run.
//
// RecordStore is what the station needs of a record keeper: write one finished run, committed
// before write() returns (so a crash of the station loses no finished record), and read them all
// back for an export. open_record_store() gives the keeper that a station file's `records` names;
// today that is an SQLite file through Qt SQL's QSQLITE driver, where each record is one row of
// the table `flashes`, written in its own transaction:
//
//   id INTEGER PRIMARY KEY, station TEXT, unit TEXT, port TEXT, adapter TEXT, started TEXT,
//   ended TEXT, seconds REAL, result TEXT, exit_status INTEGER, reason TEXT, uploads TEXT,
//   answers TEXT, journal TEXT
//
// started and ended are ISO 8601 UTC with milliseconds (2026-12-09T13:15:00.123Z); result is
// pass or fail; exit_status is NULL when no process ended by itself (a missing device, a crash,
// a stop); uploads and answers are the run's upload: and answer: journal lines, one per line.
//
// write_records_csv() writes records as CSV after RFC 4180: a header line, CRLF line ends, and
// every field that holds a comma, a double quote, a CR or a LF in double quotes, its double
// quotes doubled.
//
// Each store owns its own named database connection; use it on the thread that opened it.

#include <QDateTime>
#include <QIODevice>
#include <QString>

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
};

class RecordStore {
public:
    virtual ~RecordStore() = default;
    // True once the record is committed; otherwise error() says why.
    virtual bool write(const FlashRecord& record) = 0;
    virtual std::optional<std::vector<FlashRecord>> readAll() = 0;
    virtual QString error() const = 0;
};

// The store named by `where` (a file path), opened and ready; nothing and a message in `error`
// when it cannot be opened.
std::unique_ptr<RecordStore> open_record_store(const std::string& where, QString& error);

bool write_records_csv(const std::vector<FlashRecord>& records, QIODevice& out);

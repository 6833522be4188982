#pragma once
// The units a station has started and not yet recorded, kept in the station's own SQLite file
// beside the station file (<station base name>.station.sqlite), whichever store keeps the
// records.
//
// A unit is entered, with the record key, name, port, adapter, start time and journal file of
// its run, before its process starts, and struck off once its record is kept. A run whose record
// could not be kept stays, with what it ended as. So whatever ends the station, what the ledger
// still lists at the next start (when no other station holds the station file's lock, see
// station_lock.h) are runs that nobody recorded: record_leftover_runs() makes each a record,
// from the ledger and its journal file, and strikes it off. A run that was still running becomes
// a failed record with exit_status NULL and the reason kInterruptedReason; its journal is what
// had reached the disk, with a closing `station:` line.
//
// The record keeps its key, so a run recorded again after its first record's commit (the
// station ended between the commit and the strike) is not kept twice.

#include "tools/station/records.h"
#include "tools/station/run_journal.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class SqlConnection;

inline constexpr const char* kInterruptedReason = "interrupted: the station ended while this unit ran";

// A run the ledger lists: the record as far as it is known, and its journal file.
struct LedgerEntry {
    FlashRecord record;
    QString journal_file;
    bool ended = false; // the run ended (its record could not be kept); else it was running
};

class RunLedger {
public:
    ~RunLedger();

    // The ledger in `path`, made when missing; nothing and the message when it cannot be opened
    // or written.
    static std::unique_ptr<RunLedger> open(const QString& path, QString& error);

    // False and error() when the ledger could not be written.
    bool enter(const FlashRecord& started, const QString& journal_file);
    bool strikeOff(const QString& key);
    // A run that ended and whose record could not be kept: what it ended as.
    bool keepEnded(const FlashRecord& record);
    std::optional<std::vector<LedgerEntry>> entries();

    const QString& error() const { return error_; }

private:
    explicit RunLedger(std::unique_ptr<SqlConnection> connection);
    bool fail(const QString& text);

    std::unique_ptr<SqlConnection> connection_;
    QString error_;
};

// Every run the ledger lists, recorded in `store` and struck off; the number recorded, or
// nothing and the message. `station_version` goes into each record.
std::optional<int> record_leftover_runs(RunLedger& ledger, RecordStore& store,
                                        const QString& station_version, const QString& upload_word,
                                        QString& error);

// The record's journal and what it tells (uploads, answers, images, the script's digest and the
// program's version), from the journal's lines.
void take_journal_facts(FlashRecord& record, const RunJournal& journal);

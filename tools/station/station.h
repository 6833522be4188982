#pragma once
// A station: its units' runs, the order they start in, and what is kept when each ends.
//
// start(rows) queues the given units (those not already queued or running) and starts them in
// the station file's order, at most `parallel` at once; each further one starts as soon as one
// ends. Every start() is a batch with its own folder, runs/<UTC start like 20261209T131500Z>
// in the station folder, where each unit's journal is written as <unit>.log while it runs
// (<unit>-2.log and so on if that unit ran twice within one second).
//
// Every started unit ends as exactly one record. Before its process starts, the unit is entered
// in the station's ledger (run_ledger.h) with the key of its record; when it ends, its record is
// written to the record store, committed before the next event is handled, and the unit struck
// off the ledger. A run whose journal file or record could not be kept says why in notKept(), and
// stays in the ledger with what it ended as, so that the next start of the station records it.
//
// stop(reason) un-queues the waiting units and stops the running ones; each fails with `reason`
// ("stopped: SIGINT", "stopped: the window was closed").
//
// All on the thread that owns the object; unitChanged(row) is emitted for every change of a unit
// (often, while images stream: viewers coalesce), idle() when the last run of a batch has ended.

#include "tools/station/records.h"
#include "tools/station/run_ledger.h"
#include "tools/station/station_file.h"
#include "tools/station/station_lock.h"
#include "tools/station/unit_run.h"

#include <QDir>
#include <QObject>

#include <memory>
#include <vector>

struct StationTotals {
    int passed = 0, failed = 0, running = 0, waiting = 0;
};

// "8 passed, 1 failed, 3 running", and ", 4 waiting" when units wait for their turn.
QString totals_text(const StationTotals& totals);

// The reason of a unit stopped by the Stop button.
inline constexpr const char* kStopButtonReason = "stopped: the operator pressed Stop";

// What a station is made of besides its settings. The lock may be missing (tests).
struct StationParts {
    std::unique_ptr<RecordStore> records{};
    std::unique_ptr<RunLedger> ledger{};
    QString program{}; // the kestrin to run
    std::unique_ptr<StationLock> lock{};
};

class Station : public QObject {
    Q_OBJECT
public:
    Station(StationSettings settings, StationParts parts, QObject* parent = nullptr);
    ~Station() override;

    const StationSettings& settings() const { return settings_; }
    int unitCount() const { return static_cast<int>(runs_.size()); }
    const UnitRun& unit(int row) const { return *runs_[static_cast<std::size_t>(row)]; }
    // The row of the unit with this name; -1 when there is none.
    int rowOf(const std::string& name) const;

    void start(const std::vector<int>& rows);
    void startAll();
    void startFailed();
    void stop(const std::string& reason = kStopButtonReason);

    bool busy() const;
    StationTotals totals() const;
    // Runs whose record or journal file could not be kept, and why the last one was not.
    int keepFailures() const { return keep_failures_; }
    const QString& keepError() const { return keep_error_; }
    // Where the records go; its statusChanged() tells of records waiting for a database.
    RecordStore& records() const { return *records_; }
    // Where the journals of the latest batch go.
    const QString& batchFolder() const { return batch_folder_; }
    // Runs of a station that had ended while they ran, recorded when this one was made.
    int recoveredRuns() const { return recovered_runs_; }
    void setRecoveredRuns(int count) { recovered_runs_ = count; }

    // For tests: the pause between a stop request and the kill.
    void setGraceMs(int ms) { setup_.grace_ms = ms; }

signals:
    void unitChanged(int row);
    void idle();

private:
    void launchWaiting();
    void launch(int row);
    void unitFinished(int row);
    void keepRecord(UnitRun& run);
    FlashRecord recordOf(const UnitRun& run) const;

    StationSettings settings_;
    std::unique_ptr<RecordStore> records_;
    std::unique_ptr<RunLedger> ledger_;
    std::unique_ptr<StationLock> lock_;
    UnitRunSetup setup_;
    std::vector<std::unique_ptr<UnitRun>> runs_;
    std::vector<int> waiting_;       // rows in the order they start
    std::vector<QString> folder_of_; // by row: the batch folder of its latest run
    QString batch_folder_;
    QString keep_error_;
    int keep_failures_ = 0;
    int recovered_runs_ = 0;
};

// The station of a station file, or nothing and the message that names what is wrong. It holds
// the station file's lock, its records and its ledger can be written, its runs/ folder can be
// made, and what a station that ended left running is recorded: otherwise it is not made.
std::unique_ptr<Station> make_station(const std::string& path, QString& error);

// What a station that ended left running, recorded in `records`, when no station holds the
// station file's lock (a live station's runs are its own); the number recorded.
std::optional<int> record_runs_left_running(const StationSettings& settings, RecordStore& records,
                                            QString& error);

#pragma once
// A station: its units' runs, the order they start in, and what is kept when each ends.
//
// start(rows) queues the given units (those not already queued or running) and starts them in
// the station file's order, at most `parallel` at once; each further one starts as soon as one
// ends. Every start() is a batch with its own folder, runs/<UTC start like 20261209T131500Z>
// in the station folder, where each unit's journal is written as <unit>.log when it ends
// (<unit>-2.log and so on if that unit ran twice within one second). In the same step its record
// is written to the record store, committed before the next event is handled, with a new record
// key.
// stop() un-queues the waiting units and stops the running ones.
//
// All on the thread that owns the object; unitChanged(row) is emitted for every change of a unit
// (often, while images stream: viewers coalesce), idle() when the last run of a batch has ended.

#include "tools/station/records.h"
#include "tools/station/station_file.h"
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

class Station : public QObject {
    Q_OBJECT
public:
    Station(StationSettings settings, std::unique_ptr<RecordStore> records, QString program,
            QObject* parent = nullptr);
    ~Station() override;

    const StationSettings& settings() const { return settings_; }
    int unitCount() const { return static_cast<int>(runs_.size()); }
    const UnitRun& unit(int row) const { return *runs_[static_cast<std::size_t>(row)]; }
    // The row of the unit with this name; -1 when there is none.
    int rowOf(const std::string& name) const;

    void start(const std::vector<int>& rows);
    void startAll();
    void startFailed();
    void stop();

    bool busy() const;
    StationTotals totals() const;
    // Records and journal files that could not be written, and the message of the last one.
    int keepFailures() const { return keep_failures_; }
    const QString& keepError() const { return keep_error_; }
    // Where the records go; its statusChanged() tells of records waiting for a database.
    RecordStore& records() const { return *records_; }
    // Where the journals of the latest batch go.
    const QString& batchFolder() const { return batch_folder_; }

    // For tests: the pause between a stop request and the kill.
    void setGraceMs(int ms) { setup_.grace_ms = ms; }

signals:
    void unitChanged(int row);
    void idle();

private:
    void launchWaiting();
    void unitFinished(int row);
    void keepJournal(const UnitRun& run);
    void keepRecord(const UnitRun& run);

    StationSettings settings_;
    std::unique_ptr<RecordStore> records_;
    UnitRunSetup setup_;
    std::vector<std::unique_ptr<UnitRun>> runs_;
    std::vector<int> waiting_;       // rows in the order they start
    std::vector<QString> folder_of_; // by row: the batch folder of its latest run
    QString batch_folder_;
    QString keep_error_;
    int keep_failures_ = 0;
};

// The station of a station file with its record store and the kestrin beside this program, or
// nothing and the message that names what is wrong.
std::unique_ptr<Station> make_station(const std::string& path, QString& error);

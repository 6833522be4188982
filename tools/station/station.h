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
// off the ledger. Each record is linked into the station's hash chain (record_chain.h) as it is
// made. A run whose journal file or record could not be kept says why in notKept(), and
// stays in the ledger with what it ended as, so that the next start of the station records it.
//
// stop(reason) un-queues the waiting units and stops the running ones; each fails with `reason`
// ("stopped: SIGINT", "stopped: the window was closed").
//
// Units are started one at a time, each from a turn of the event loop of its own, so that
// starting many processes never holds up the window for long.
//
// With start=when_present, arm() arms every fixture (hands_free.h): a unit starts as soon as it
// is on its fixture, and the fixture is re-armed when it has been taken off; stop() also disarms.
// With require_serial, a unit waits until its fixture has a serial number (assignSerial()); the
// serial goes to the fixture's next run and its record, and is then cleared.
//
// All on the thread that owns the object; unitChanged(row) is emitted for every change of a unit
// (often, while images stream: viewers coalesce), idle() when the last run of a batch has ended.

#include "tools/station/fixture_presence.h"
#include "tools/station/record_chain.h"
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

class HandsFreeLine;

// A serial number as a scanner types it: at most this many printable ASCII characters.
inline constexpr int kMaxSerialLength = 64;

// Why `serial` cannot be a unit's serial number; nothing when it can.
std::optional<QString> serial_problem(const QString& serial);

// A run that ended in the shift: when, and whether it passed.
struct ShiftRun {
    QDateTime ended;
    bool passed = false;
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

    // start=when_present: every fixture armed, and what its probes say of it.
    bool startsWhenPresent() const { return hands_free_ != nullptr; }
    void arm(const std::vector<int>& rows);
    void armAll();
    // No fixture starts another unit, and the queued ones are taken out; runs in progress go on.
    void disarm();
    bool armed() const;
    Presence presence(int row) const;
    // Its unit was taken off: out of the queue, and its last result forgotten, unless it failed.
    void unitRemoved(int row);

    // The serial number of a fixture's next run ("" while it has none); assignSerial() gives it
    // one (empty: takes it away), or says why it cannot: not a serial number, or the serial of
    // another fixture's unit (waiting or in its run).
    const QString& serialOf(int row) const { return serials_[static_cast<std::size_t>(row)]; }
    std::optional<QString> assignSerial(int row, const QString& serial);
    // The fixture a scanned serial goes to: the selected one (-1: none), else the first armed
    // fixture without a unit or before its run that has no serial yet; -1 when there is none.
    int rowForScannedSerial(int selected) const;
    bool waitsForSerial(int row) const;
    // The row's state as the headless lines say it: state_text() of its run, a queued unit
    // waiting "for a free slot" or to "scan the unit's serial".
    std::string stateText(int row) const;

    // The runs that ended since the shift began (arm(), or the station made).
    const std::vector<ShiftRun>& shift() const { return shift_; }
    const QDateTime& shiftStarted() const { return shift_started_; }

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
    // What the operator should know as the station starts (records sent in clear over the
    // network, files of the station that other users can read), each said once.
    const std::vector<QString>& warnings() const { return warnings_; }
    void setWarnings(std::vector<QString> warnings) { warnings_ = std::move(warnings); }

    // For tests: the pause between a stop request and the kill.
    void setGraceMs(int ms) { setup_.grace_ms = ms; }

signals:
    void unitChanged(int row);
    void idle();
    // Just before a unit's kestrin starts, and once its run has ended and been recorded.
    void launching(int row);
    void runEnded(int row);
    // start=when_present: a unit came onto or left its fixture.
    void presenceChanged(int row, FixturePresence::Change change);

private:
    void newBatchFolder();
    void launchWaiting();
    void launchSoon();
    void launch(int row);
    void unitFinished(int row);
    void keepRecord(UnitRun& run);
    FlashRecord recordOf(const UnitRun& run) const;

    StationSettings settings_;
    std::unique_ptr<RecordStore> records_;
    std::unique_ptr<RunLedger> ledger_;
    std::unique_ptr<StationLock> lock_;
    RecordChain chain_;
    UnitRunSetup setup_;
    std::vector<std::unique_ptr<UnitRun>> runs_;
    std::vector<int> waiting_;       // rows in the order they start
    std::vector<QString> folder_of_; // by row: the batch folder of its latest run
    QString batch_folder_;
    QString keep_error_;
    int keep_failures_ = 0;
    int recovered_runs_ = 0;
    std::vector<QString> warnings_;
    bool launch_due_ = false;
    HandsFreeLine* hands_free_ = nullptr; // a child: with start=when_present
    std::vector<QString> serials_;        // by row: the serial of its next run
    std::vector<ShiftRun> shift_;
    QDateTime shift_started_ = QDateTime::currentDateTimeUtc();
};

// What the operator should know as the station of `settings` starts: records that go over the
// network in clear, and files of the station that others can read.
std::vector<QString> station_warnings(const StationSettings& settings);

// The station of a station file, or nothing and the message that names what is wrong. It holds
// the station file's lock, its records and its ledger can be written, its runs/ folder can be
// made, and what a station that ended left running is recorded: otherwise it is not made.
std::unique_ptr<Station> make_station(const std::string& path, QString& error);

// What a station that ended left running, recorded in `records`, when no station holds the
// station file's lock (a live station's runs are its own); the number recorded.
std::optional<int> record_runs_left_running(const StationSettings& settings, RecordStore& records,
                                            QString& error);

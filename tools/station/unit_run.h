#pragma once
// One unit's run: the unchanged kestrin program, started for that unit alone, and the states the
// station reads from its journal.
//
// start() runs `kestrin` in the station folder with KESTRIN_UNATTENDED=1,
// QT_QPA_PLATFORM=offscreen and KESTRIN_COM<n>=DEVICE, n being the configuration's COM number;
// every other KESTRIN_COM* of the station's own environment is removed, so the process sees
// exactly one port, and so are the records database's secrets (KESTRIN_RECORDS_PASSWORD and every
// PG* variable of libpq). A device that does not exist fails the run at once, without a process.
//
//   Idle --queue()--> Waiting --start()--> Running <--> Uploading --> Passed | Failed
//                                                        (clearResult(): back to Idle)
//
// The journal (standard error) is read as it arrives into a RunJournal (run_journal.h), which
// bounds what is kept and reads the facts the record needs; every line it keeps is written at
// once to the run's journal file (journal_file.h), so that what reached the disk is the journal up
// to its last line whatever ends the station. `progress:` lines make the run Uploading with the
// file and its counts, an `upload:` line ends that. When the process ends its exit status
// decides: 0 pass, 1 the script failed, 2 no unit, 3 configuration or script unreadable; a crash,
// the time limit and a stop are the station's own reasons, which it also appends to the journal
// as a `station:` line.
//
// The process never outlives the station: it is started with PR_SET_PDEATHSIG (SIGKILL), and a
// child whose parent has already gone by the time that takes effect ends before it runs kestrin.
//
// Everything runs on the thread that owns the object (the user-interface thread), which must
// live as long as the process (the parent-death signal follows the thread that started it):
// QProcess delivers its output and its end as events, the time limit and the grace period before
// a kill are timers. changed() is emitted after every change a viewer can see; finished() once
// per run, after the final state is set.

#include "tools/station/journal_file.h"
#include "tools/station/run_journal.h"
#include "tools/station/station_file.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <optional>
#include <string>

// What every unit of a station runs with.
struct UnitRunSetup {
    QString program; // the kestrin executable; empty: not found
    QString folder;  // the working directory
    int com_number = 1;
    int time_limit_s = 900;
    std::string upload_word = "LF";
    int grace_ms = 5000; // from the terminate request to the kill
};

enum class UnitState { Idle, Waiting, Running, Uploading, Passed, Failed };

// How one run begins: the key of its record, when it starts and where its journal goes.
struct RunStart {
    QString record_key;
    QDateTime started;
    QString journal_path;
    QString serial{}; // the unit's serial number, when it was scanned or given
};

// kestrin beside this program, else on PATH; empty when there is none.
QString find_kestrin_program();

class UnitRun : public QObject {
    Q_OBJECT
public:
    explicit UnitRun(StationUnit unit, QObject* parent = nullptr);
    ~UnitRun() override;

    const StationUnit& unit() const { return unit_; }
    UnitState state() const { return state_; }
    bool isActive() const { return state_ == UnitState::Running || state_ == UnitState::Uploading; }
    bool hasEnded() const { return state_ == UnitState::Passed || state_ == UnitState::Failed; }

    // The image that streams or streamed last, with its counts.
    const std::string& progressFile() const { return journal_.progressFile(); }
    std::uint64_t progressSent() const { return journal_.progressSent(); }
    std::uint64_t progressTotal() const { return journal_.progressTotal(); }

    const QDateTime& started() const { return started_; }
    const QDateTime& ended() const { return ended_; }
    double seconds() const; // so far while it runs
    std::optional<int> exitStatus() const { return exit_status_; }
    const std::string& reason() const { return reason_; }
    const std::string& journal() const { return journal_.text(); }
    const RunJournal& runJournal() const { return journal_; }
    const QString& recordKey() const { return record_key_; }
    const QString& serial() const { return serial_; }
    // The process's id while it runs; 0 otherwise.
    qint64 processId() const { return process_.processId(); }
    const QString& journalPath() const { return journal_file_.path(); }
    // Why the run's journal file or record could not be kept; empty while they were.
    const QString& notKept() const { return not_kept_; }
    void setNotKept(const QString& why) { not_kept_ = why; }

    // Waiting for its turn; no changed() is emitted (the station tells of it).
    void queue();
    void unqueue();
    // An ended run is forgotten on its row (its unit was taken off); its journal stays to be read.
    void clearResult();
    void start(const UnitRunSetup& setup, const RunStart& begin);
    // Stops a running process (terminate, then kill after the grace period) and fails the run
    // with `reason`; a run that is not active is left as it is.
    void stop(const std::string& reason);

signals:
    void changed();
    void finished();

private:
    void readJournal();
    void followJournal();
    void processEnded(int exitCode, QProcess::ExitStatus exitStatus);
    void processFailedToStart();
    void finish(UnitState state, const std::string& reason);
    std::string reasonOfExitStatus(int code) const;
    void setState(UnitState state);

    StationUnit unit_;
    UnitRunSetup setup_;
    UnitState state_ = UnitState::Idle;
    QProcess process_;
    QTimer time_limit_;
    QTimer kill_timer_;
    QElapsedTimer clock_;

    RunJournal journal_{{}, {}};
    JournalFile journal_file_;
    QString record_key_, serial_, not_kept_;
    std::string stop_reason_;

    QDateTime started_, ended_;
    double seconds_ = 0;
    std::optional<int> exit_status_;
    std::string reason_;
};

// The run's state as one line of text: "waiting", "running", "uploading demo-image.bin
// 12288/32768", "pass 9.4 s", "fail: REASON"; empty while Idle.
std::string state_text(const UnitRun& run);

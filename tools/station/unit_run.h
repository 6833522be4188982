#pragma once
// One unit's run: the unchanged kestrin program, started for that unit alone, and the states the
// station reads from its journal.
//
// start() runs `kestrin` in the station folder with KESTRIN_UNATTENDED=1,
// QT_QPA_PLATFORM=offscreen and KESTRIN_COM<n>=DEVICE, n being the configuration's COM number;
// every other KESTRIN_COM* of the station's own environment is removed, so the process sees
// exactly one port. A device that does not exist fails the run at once, without a process.
//
//   Idle --queue()--> Waiting --start()--> Running <--> Uploading --> Passed | Failed
//
// The journal (standard error) is read line by line as it arrives: `progress:` lines make the run
// Uploading with the file and its counts, an `upload:` line ends that, `answer:` and `upload:`
// lines are collected for the record, and `result:` gives the reason of a failure. When the
// process ends its exit status decides: 0 pass, 1 the script failed, 2 no unit, 3 configuration
// or script unreadable; a crash, the time limit and a stop are the station's own reasons, which it
// also appends to the journal as a `station:` line.
//
// Bounds, so that a process that never writes a line feed, or writes megabytes, cannot grow the
// station's memory: a line is kept up to 4096 bytes (the rest of it is dropped and the line ends
// in " [cut]"); the journal keeps its first 1 MiB of lines, the uploads and answers 64 KiB each;
// what is dropped is counted and said in a `station:` line at the end, which, like the station's
// reason, is always kept.
//
// Everything runs on the thread that owns the object (the user-interface thread): QProcess
// delivers its output and its end as events, the time limit and the grace period before a kill
// are timers. changed() is emitted after every change a viewer can see; finished() once per run,
// after the final state is set.

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

// Text kept up to a number of bytes; what does not fit is counted.
class BoundedText {
public:
    explicit BoundedText(std::size_t limit) : limit_(limit) {}
    void appendLine(const std::string& line);
    void appendBeyondLimit(const std::string& line); // the station's own few notes always fit
    void clear();
    const std::string& text() const { return text_; }
    std::size_t droppedBytes() const { return dropped_; }

private:
    std::size_t limit_;
    std::string text_;
    std::size_t dropped_ = 0;
};

inline constexpr std::size_t kMaxJournalLineBytes = 4096;
inline constexpr std::size_t kMaxJournalBytes = 1 << 20;
inline constexpr std::size_t kMaxUploadsBytes = 64 << 10;

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
    const std::string& progressFile() const { return progress_file_; }
    std::uint64_t progressSent() const { return progress_sent_; }
    std::uint64_t progressTotal() const { return progress_total_; }

    const QDateTime& started() const { return started_; }
    const QDateTime& ended() const { return ended_; }
    double seconds() const; // so far while it runs
    std::optional<int> exitStatus() const { return exit_status_; }
    const std::string& reason() const { return reason_; }
    const std::string& journal() const { return journal_.text(); }
    const std::string& uploads() const { return uploads_.text(); }
    const std::string& answers() const { return answers_.text(); }

    void queue();
    void unqueue();
    void start(const UnitRunSetup& setup);
    // Stops a running process (terminate, then kill after the grace period) and fails the run
    // with `reason`; a run that is not active is left as it is.
    void stop(const std::string& reason);

signals:
    void changed();
    void finished();

private:
    void readJournal();
    void takeLine(std::string line);
    void processEnded(int exitCode, QProcess::ExitStatus exitStatus);
    void processFailedToStart();
    void finish(UnitState state, const std::string& reason);
    std::string reasonOfExitStatus(int code) const;
    void noteDroppedBytes();
    void setState(UnitState state);

    StationUnit unit_;
    UnitRunSetup setup_;
    UnitState state_ = UnitState::Idle;
    QProcess process_;
    QTimer time_limit_;
    QTimer kill_timer_;
    QElapsedTimer clock_;

    std::string partial_line_;
    bool cutting_line_ = false;
    BoundedText journal_{kMaxJournalBytes};
    BoundedText uploads_{kMaxUploadsBytes};
    BoundedText answers_{kMaxUploadsBytes};

    std::string progress_file_;
    std::uint64_t progress_sent_ = 0, progress_total_ = 0;
    std::optional<std::string> result_reason_; // set by a result: fail line
    std::string crash_note_;                   // the text of a qt: line
    std::string stop_reason_;

    QDateTime started_, ended_;
    double seconds_ = 0;
    std::optional<int> exit_status_;
    std::string reason_;
};

// The run's state as one line of text: "waiting", "running", "uploading demo-image.bin
// 12288/32768", "pass 9.4 s", "fail: REASON"; empty while Idle.
std::string state_text(const UnitRun& run);

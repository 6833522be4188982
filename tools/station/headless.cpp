#include "tools/station/headless.h"

#include "app/stop_signals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <string>

namespace {

constexpr qint64 kProgressIntervalMs = 1000;

// Prints a unit's line when its state text changes, streaming progress at most once a second.
class ChangePrinter {
public:
    ChangePrinter(const Station& station, std::FILE* out)
        : station_(station), out_(out), printed_(static_cast<std::size_t>(station.unitCount())),
          since_progress_(printed_.size())
    {
    }

    void unitChanged(int row)
    {
        const UnitRun& run = station_.unit(row);
        const std::string text = station_.stateText(row);
        std::string& printed = printed_[static_cast<std::size_t>(row)];
        if (text.empty() || text == printed)
            return;
        QElapsedTimer& since = since_progress_[static_cast<std::size_t>(row)];
        const bool streaming = run.state() == UnitState::Uploading &&
                               printed.starts_with("uploading " + run.progressFile() + " ") &&
                               run.progressSent() < run.progressTotal() && since.isValid() &&
                               since.elapsed() < kProgressIntervalMs;
        if (streaming)
            return;
        if (run.state() == UnitState::Uploading)
            since.start();
        printed = text;
        std::fprintf(out_, "%s %s\n", run.unit().name.c_str(), text.c_str());
        std::fflush(out_);
    }

private:
    const Station& station_;
    std::FILE* out_;
    std::vector<std::string> printed_;
    std::vector<QElapsedTimer> since_progress_;
};

// While records cannot reach their database: why, once for each new reason, and how many wait,
// whenever that changes, until all are in the database again.
class RecordsPrinter {
public:
    RecordsPrinter(const RecordStore& records, std::FILE* out) : records_(records), out_(out) {}

    void changed()
    {
        const std::optional<RecordsStatus> status = records_.status();
        if (!status)
            return;
        if (!status->problem.isEmpty() && status->problem != problem_) {
            problem_ = status->problem;
            print("records: not sent: " + problem_.simplified() +
                  (status->detail.isEmpty() ? QString() : " (" + status->detail.simplified() + ")"));
        }
        if (problem_.isEmpty())
            return;
        const QString text = records_status_text(*status);
        if (text != printed_)
            print(printed_ = text);
        if (status->waiting == 0 && status->problem.isEmpty()) {
            problem_.clear();
            printed_.clear();
        }
    }

private:
    void print(const QString& line)
    {
        std::fprintf(out_, "%s\n", qPrintable(line));
        std::fflush(out_);
    }

    const RecordStore& records_;
    std::FILE* out_;
    QString problem_, printed_;
};

// One run of the session as the closing table shows it.
struct EndedRun {
    int row;
    std::string unit, port, result, reason;
    double seconds;
    bool passed, kept;
};

EndedRun ended_run(const UnitRun& run, int row)
{
    std::string reason = run.reason();
    if (!run.notKept().isEmpty())
        reason += (reason.empty() ? "" : "; ") + ("not recorded: " + run.notKept()).toStdString();
    const bool passed = run.state() == UnitState::Passed;
    // "pass" or "fail", and ", not recorded" when its record or journal file could not be kept.
    const std::string result = std::string(passed ? "pass" : "fail") + (run.notKept().isEmpty() ? "" : ", not recorded");
    return {row, run.unit().name, run.unit().device, result, reason, run.seconds(), passed, run.notKept().isEmpty()};
}

void print_table(const std::vector<EndedRun>& runs, std::FILE* out)
{
    std::size_t unit_width = 4, port_width = 4, result_width = 6;
    for (const EndedRun& run : runs) {
        unit_width = std::max(unit_width, run.unit.size());
        port_width = std::max(port_width, run.port.size());
        result_width = std::max(result_width, run.result.size());
    }
    const int uw = static_cast<int>(unit_width), pw = static_cast<int>(port_width),
              rw = static_cast<int>(result_width);
    std::fprintf(out, "\n%-*s  %-*s  %-*s  seconds  reason\n", uw, "unit", pw, "port", rw, "result");
    for (const EndedRun& run : runs)
        std::fprintf(out, "%-*s  %-*s  %-*s  %7.1f  %s\n", uw, run.unit.c_str(), pw, run.port.c_str(), rw,
                     run.result.c_str(), run.seconds, run.reason.c_str());
}

void print_line(std::FILE* out, const QString& line)
{
    std::fprintf(out, "%s\n", qPrintable(line));
    std::fflush(out);
}

} // namespace

int run_headless(Station& station, const HeadlessRun& run, std::FILE* out)
{
    ChangePrinter printer(station, out);
    RecordsPrinter records(station.records(), out);
    QEventLoop loop;
    QObject::connect(&station.records(), &RecordStore::statusChanged, &loop, [&records] { records.changed(); });
    for (const QString& warning : station.warnings())
        print_line(out, warning);
    if (station.recoveredRuns() > 0)
        print_line(out, QString("records: %1 runs that the station had not recorded when it last ended are recorded now")
                            .arg(station.recoveredRuns()));
    // The session ends once no unit runs after a stop or the last of --cycles; or, when Start
    // runs the units, after the last of them.
    bool ending = !station.startsWhenPresent();
    // An idle that was on its way before the units started is no longer true when it comes.
    const auto quit_when_idle = [&] {
        if (ending && !station.busy())
            loop.quit();
    };
    QObject::connect(&station, &Station::idle, &loop, quit_when_idle, Qt::QueuedConnection);
    const auto end_when_idle = [&] {
        ending = true;
        QMetaObject::invokeMethod(&loop, quit_when_idle, Qt::QueuedConnection);
    };
    // A second signal while the units stop changes nothing: each still gets its record.
    StopSignals stops;
    QString stopped_by;
    QObject::connect(&stops, &StopSignals::stopRequested, &loop, [&](int signal) {
        if (!stopped_by.isEmpty()) {
            print_line(out, "stopping already (" + StopSignals::nameOf(signal) + "): the units' records are being kept");
            return;
        }
        stopped_by = StopSignals::nameOf(signal);
        print_line(out, "stopping: " + stopped_by);
        station.stop(("stopped: " + stopped_by).toStdString());
        end_when_idle();
    });
    std::vector<EndedRun> ended;
    QObject::connect(&station, &Station::runEnded, &loop, [&](int row) {
        ended.push_back(ended_run(station.unit(row), row));
        if (run.cycles && static_cast<int>(ended.size()) == *run.cycles) {
            station.disarm();
            end_when_idle();
        }
    });
    QObject::connect(&station, &Station::presenceChanged, &loop, [&](int row, FixturePresence::Change change) {
        print_line(out, QString::fromStdString(station.unit(row).unit().name) +
                            (change == FixturePresence::Change::Came ? " present" : " removed"));
    });
    QCoreApplication::processEvents(); // a stop that came while the station was being made
    if (!stopped_by.isEmpty())
        return 1;
    if (station.startsWhenPresent())
        station.arm(run.rows);
    else
        station.start(run.rows);
    // Where each unit stands once the first ones have started: a unit that started at once has
    // only passed through "waiting".
    for (int row : run.rows)
        printer.unitChanged(row);
    QObject::connect(&station, &Station::unitChanged, &loop, [&printer](int row) { printer.unitChanged(row); });
    loop.exec();
    // The last records go to their database before the summary, or are known to wait.
    station.records().drain();

    // Each unit once, in the station file's order, when Start ran them; else in the order they ended.
    if (!station.startsWhenPresent())
        std::stable_sort(ended.begin(), ended.end(), [](const EndedRun& a, const EndedRun& b) { return a.row < b.row; });
    print_table(ended, out);
    const auto passed = std::count_if(ended.begin(), ended.end(), [](const EndedRun& r) { return r.passed; });
    const StationTotals totals{.passed = static_cast<int>(passed), .failed = static_cast<int>(ended.size()) - static_cast<int>(passed)};
    std::fprintf(out, "%s\nrecords: %s\njournals: %s/\n", qPrintable(totals_text(totals)),
                 station.settings().records.c_str(), qPrintable(station.batchFolder()));
    if (const auto status = station.records().status(); status && status->waiting > 0)
        std::fprintf(out, "records: %d waiting for the database in %s; the station sends them when it next runs\n", status->waiting,
                     station.settings().spool.c_str());
    if (station.keepFailures() > 0)
        std::fprintf(out, "not recorded: %d runs, the last because %s\n", station.keepFailures(),
                     qPrintable(station.keepError()));
    std::fflush(out);
    const bool all_ran = station.startsWhenPresent() || static_cast<std::size_t>(passed) == run.rows.size();
    // A station that runs until it is stopped ends well when every run passed; one that runs its
    // units once, when each of them passed and nothing stopped it.
    const bool stop_failed = !station.startsWhenPresent() && !stopped_by.isEmpty();
    return all_ran && static_cast<std::size_t>(passed) == ended.size() && station.keepFailures() == 0 && !stop_failed
               ? 0
               : 1;
}

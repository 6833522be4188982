#include "tools/station/headless.h"

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
        const std::string text = state_text(run);
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

void print_table(const Station& station, const std::vector<int>& rows, std::FILE* out)
{
    std::size_t unit_width = 4, port_width = 4;
    for (int row : rows) {
        unit_width = std::max(unit_width, station.unit(row).unit().name.size());
        port_width = std::max(port_width, station.unit(row).unit().device.size());
    }
    const int uw = static_cast<int>(unit_width), pw = static_cast<int>(port_width);
    std::fprintf(out, "\n%-*s  %-*s  result  seconds  reason\n", uw, "unit", pw, "port");
    for (int row : rows) {
        const UnitRun& run = station.unit(row);
        std::fprintf(out, "%-*s  %-*s  %-6s  %7.1f  %s\n", uw, run.unit().name.c_str(), pw, run.unit().device.c_str(),
                     run.state() == UnitState::Passed ? "pass" : "fail", run.seconds(), run.reason().c_str());
    }
}

} // namespace

int run_headless(Station& station, const std::vector<int>& rows, std::FILE* out)
{
    ChangePrinter printer(station, out);
    QEventLoop loop;
    QObject::connect(&station, &Station::idle, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    station.start(rows);
    // Where each unit stands once the first ones have started: a unit that started at once has
    // only passed through "waiting".
    for (int row : rows)
        printer.unitChanged(row);
    QObject::connect(&station, &Station::unitChanged, &loop, [&printer](int row) { printer.unitChanged(row); });
    loop.exec();

    print_table(station, rows, out);
    const StationTotals totals = station.totals();
    std::fprintf(out, "%s\nrecords: %s\njournals: %s/\n", qPrintable(totals_text(totals)),
                 station.settings().records.c_str(), qPrintable(station.batchFolder()));
    if (station.keepFailures() > 0)
        std::fprintf(out, "not kept: %d records or journals, the last because %s\n", station.keepFailures(),
                     qPrintable(station.keepError()));
    std::fflush(out);
    const bool all_passed = std::all_of(rows.begin(), rows.end(),
                                        [&](int row) { return station.unit(row).state() == UnitState::Passed; });
    return all_passed && station.keepFailures() == 0 ? 0 : 1;
}

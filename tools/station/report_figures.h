#pragma once
// The figures of the quality engineer's report, computed by the records database itself.
//
// Every figure is an aggregate that the database computes over the records of a period (started
// at or after `since`, before `until`; either may be open): nothing here reads every record, and
// no journal is ever read, so a million records cost the report a few aggregate rows. The same
// statements run on SQLite and PostgreSQL; what differs (the hour a time falls in, and how a time
// is compared) is kept in one place, the dialect's own few lines.
//
//   units       distinct serial numbers; a run without a serial is a unit of its own
//   first pass  units whose first run passed;   final: units whose last run passed
//   retests     runs of a unit after its first
// per station, and for all stations together (where a serial flashed at two stations is one
// unit). Failures are grouped by their reason's form (reason_form()), the ten largest kept with
// their cumulative share and the newest record of each as an example. By fixture: runs, failures
// and their share, a fixture marked when its share is above twice its station's. Throughput:
// passed runs per UTC hour. Run time: the median and 95th percentile (nearest rank) of the
// seconds of passed runs, per image version (the run's image: lines as a whole).

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

#include <optional>
#include <vector>

enum class SqlDialect { Sqlite, Postgres };

struct ReportPeriod {
    std::optional<QDateTime> since{}, until{};
};

// A time of --since or --until: 2026-12-01 or 2026-12-01T08:00, local time; nothing and the
// message naming the form otherwise.
std::optional<QDateTime> parse_report_time(const QString& text, QString& error);

// A reason with what varies taken out: every run of digits becomes N, and every word that names a
// file (it holds a '/' or ends in a dot and an extension of letters) becomes FILE.
QString reason_form(const QString& reason);
inline constexpr const char* kReasonFormRule =
    "Reasons are grouped by their form: each number is written N, and each file name or path FILE.";

struct YieldFigures {
    QString station{}; // empty: all stations together
    int runs = 0, units = 0, first_pass = 0, final_pass = 0, retests = 0;
};

struct ImageVersion {
    QString sha256{}, file{};
    qint64 length = 0;
    int runs = 0;
};

struct ReasonGroup {
    QString form{};
    int count = 0;
    double cumulative_share = 0; // of all failures, up to and with this group
    QString example_station{}, example_unit{}, example_serial{}, example_reason{};
    QDateTime example_time{};
};

struct FixtureFigures {
    QString station{}, unit{};
    int runs = 0, failures = 0;
    bool marked = false; // failure share above twice its station's
};

struct HourFigures {
    QDateTime hour{}; // UTC, on the hour
    int passed = 0;
};

struct RunTimeFigures {
    QString images{}; // the runs' image: lines, one per line; empty: runs without an image
    int runs = 0;
    double median_s = 0, p95_s = 0;
};

struct ReportFigures {
    int records = 0, failures = 0;
    QDateTime first, last;
    std::vector<YieldFigures> stations;
    YieldFigures all;
    std::vector<ImageVersion> images;
    std::vector<ReasonGroup> reasons; // the ten largest groups, largest first
    int reason_groups = 0;            // how many groups there are in all
    std::vector<FixtureFigures> fixtures;
    std::vector<HourFigures> hours; // every hour from the first run's to the last's
    int best_hour = 0;
    double median_hour = 0; // over the hours that had a passed run
    std::vector<RunTimeFigures> run_times;
};

inline constexpr int kReportedReasons = 10;

// The figures of the records in `db` (the table flashes) over `period`; nothing and the message
// when a statement fails.
std::optional<ReportFigures> report_figures(const QSqlDatabase& db, SqlDialect dialect, const ReportPeriod& period,
                                            QString& error);

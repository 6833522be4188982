#include "tools/station/report_figures.h"

#include "tools/station/journal_line.h"
#include "tools/station/record_sql.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <map>

namespace {

// What differs between the dialects: how a record's start reads as text.
//
// The hour a record started in, as text that sorts as time does ("2026-12-09T13", UTC).
QString hour_of_started(SqlDialect dialect)
{
    return dialect == SqlDialect::Postgres ? "to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24')"
                                           : "substr(started, 1, 13)";
}

// A record's start as text that sorts as the time does, to the millisecond.
QString sortable_started(SqlDialect dialect)
{
    return dialect == SqlDialect::Postgres ? "to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS')"
                                           : "started";
}

// The unit a record is of, as the columns to group by: its serial, or the record itself when it
// has none.
constexpr const char* kUnitKey = "serial, CASE WHEN serial IS NULL OR serial = '' THEN id END";

// Statements over the records of the period; each names the period's condition %WHERE% (with
// AND and more of its own after it, or nothing).
class PeriodQueries {
public:
    PeriodQueries(const QSqlDatabase& db, SqlDialect dialect, const ReportPeriod& period)
        : db_(db), dialect_(dialect), period_(period)
    {
    }

    // The query run and at its first row, or nothing (and error()) when the statement fails.
    std::optional<QSqlQuery> run(QString statement, const QString& condition = {})
    {
        QStringList conditions;
        if (period_.since)
            conditions << "started >= ?";
        if (period_.until)
            conditions << "started < ?";
        if (!condition.isEmpty())
            conditions << condition;
        statement.replace("%WHERE%", conditions.isEmpty() ? QString() : " WHERE " + conditions.join(" AND "));
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        query.prepare(statement);
        for (const auto& time : {period_.since, period_.until})
            if (time)
                query.addBindValue(time_value(*time, dialect_));
        if (!query.exec()) {
            error_ = query.lastError().text();
            return std::nullopt;
        }
        return query;
    }

    SqlDialect dialect() const { return dialect_; }
    const QString& error() const { return error_; }

private:
    QSqlDatabase db_;
    SqlDialect dialect_;
    const ReportPeriod& period_;
    QString error_;
};

int integer(const QSqlQuery& row, int column)
{
    return row.value(column).toInt();
}

bool take_counts(PeriodQueries& q, ReportFigures& f)
{
    auto row = q.run("SELECT COUNT(*), SUM(CASE WHEN result = 'fail' THEN 1 ELSE 0 END), MIN(started), "
                     "MAX(started) FROM flashes%WHERE%");
    if (!row || !row->next())
        return false;
    f.records = integer(*row, 0);
    f.failures = integer(*row, 1);
    f.first = time_of(row->value(2));
    f.last = time_of(row->value(3));
    return true;
}

// The yields, per station (`per_station`) or of all stations together. Each unit is a group of
// its runs; its first and last run's results are the smallest and largest of its runs' start
// times with the result written after them.
std::optional<std::vector<YieldFigures>> yields(PeriodQueries& q, bool per_station)
{
    const QString station = per_station ? "station, " : "";
    const QString time = sortable_started(q.dialect());
    auto row = q.run(QString("WITH units AS (SELECT %1COUNT(*) AS runs, MIN(%2 || result) AS first_run, "
                             "MAX(%2 || result) AS last_run FROM flashes%WHERE% GROUP BY %1%3) "
                             "SELECT %4, SUM(runs), COUNT(*), "
                             "SUM(CASE WHEN first_run LIKE '%pass' THEN 1 ELSE 0 END), "
                             "SUM(CASE WHEN last_run LIKE '%pass' THEN 1 ELSE 0 END), SUM(runs - 1) FROM units %5")
                         .arg(station, time, kUnitKey, per_station ? "station" : "''",
                              per_station ? "GROUP BY station ORDER BY station" : ""));
    if (!row)
        return std::nullopt;
    std::vector<YieldFigures> figures;
    while (row->next())
        if (integer(*row, 1) > 0)
            figures.push_back({.station = row->value(0).toString(),
                               .runs = integer(*row, 1),
                               .units = integer(*row, 2),
                               .first_pass = integer(*row, 3),
                               .final_pass = integer(*row, 4),
                               .retests = integer(*row, 5)});
    return figures;
}

// The image versions: the distinct image: lines of the runs, by their SHA-256.
bool take_images(PeriodQueries& q, ReportFigures& f)
{
    auto row = q.run("SELECT images, COUNT(*) FROM flashes%WHERE% GROUP BY images");
    if (!row)
        return false;
    std::map<QString, ImageVersion> by_digest;
    while (row->next()) {
        for (const QString& line : row->value(0).toString().split('\n', Qt::SkipEmptyParts)) {
            const std::string text = line.toStdString();
            const JournalEvent image = parse_journal_line(text, {});
            if (image.kind != JournalKind::Image)
                continue;
            ImageVersion& version = by_digest[QString::fromUtf8(image.text.data(), static_cast<qsizetype>(image.text.size()))];
            version.sha256 = QString::fromUtf8(image.text.data(), static_cast<qsizetype>(image.text.size()));
            version.file = QString::fromUtf8(image.file.data(), static_cast<qsizetype>(image.file.size()));
            version.length = static_cast<qint64>(image.total);
            version.runs += integer(*row, 1);
        }
    }
    for (auto& [digest, version] : by_digest)
        f.images.push_back(version);
    std::stable_sort(f.images.begin(), f.images.end(), [](const auto& a, const auto& b) { return a.runs > b.runs; });
    return true;
}

// The failures' reasons by their form: the database counts each reason, the forms merge them.
bool take_reasons(PeriodQueries& q, const QSqlDatabase& db, ReportFigures& f)
{
    auto row = q.run("SELECT reason, COUNT(*), MAX(id) FROM flashes%WHERE% GROUP BY reason", "result = 'fail'");
    if (!row)
        return false;
    struct Group {
        int count = 0;
        qint64 newest = 0;
    };
    std::map<QString, Group> groups;
    while (row->next()) {
        Group& group = groups[reason_form(row->value(0).toString())];
        group.count += integer(*row, 1);
        group.newest = std::max(group.newest, row->value(2).toLongLong());
    }
    std::vector<std::pair<QString, Group>> largest(groups.begin(), groups.end());
    std::stable_sort(largest.begin(), largest.end(), [](const auto& a, const auto& b) { return a.second.count > b.second.count; });
    f.reason_groups = static_cast<int>(largest.size());
    largest.resize(std::min<std::size_t>(largest.size(), kReportedReasons));
    int so_far = 0;
    QSqlQuery example(db);
    example.prepare("SELECT station, unit, serial, started, reason FROM flashes WHERE id = ?");
    for (const auto& [form, group] : largest) {
        so_far += group.count;
        ReasonGroup reason{.form = form, .count = group.count,
                           .cumulative_share = static_cast<double>(so_far) / std::max(1, f.failures)};
        example.addBindValue(group.newest);
        if (example.exec() && example.next()) {
            reason.example_station = example.value(0).toString();
            reason.example_unit = example.value(1).toString();
            reason.example_serial = example.value(2).toString();
            reason.example_time = time_of(example.value(3));
            reason.example_reason = example.value(4).toString();
        }
        f.reasons.push_back(reason);
    }
    return true;
}

bool take_fixtures(PeriodQueries& q, ReportFigures& f)
{
    auto row = q.run("SELECT station, unit, COUNT(*), SUM(CASE WHEN result = 'fail' THEN 1 ELSE 0 END) "
                     "FROM flashes%WHERE% GROUP BY station, unit ORDER BY station, unit");
    if (!row)
        return false;
    std::map<QString, std::pair<int, int>> station_totals; // runs, failures
    while (row->next()) {
        f.fixtures.push_back({.station = row->value(0).toString(), .unit = row->value(1).toString(),
                              .runs = integer(*row, 2), .failures = integer(*row, 3)});
        auto& [runs, failures] = station_totals[f.fixtures.back().station];
        runs += f.fixtures.back().runs;
        failures += f.fixtures.back().failures;
    }
    for (FixtureFigures& fixture : f.fixtures) {
        const auto& [runs, failures] = station_totals[fixture.station];
        // share > 2 × station share, in whole numbers: failures/runs > 2 × F/R
        fixture.marked = failures > 0 && static_cast<qint64>(fixture.failures) * runs >
                                              2 * static_cast<qint64>(failures) * fixture.runs;
    }
    return true;
}

// Passed runs per hour, every hour from the first run's to the last's, the empty ones too.
bool take_hours(PeriodQueries& q, ReportFigures& f)
{
    auto row = q.run(QString("SELECT %1 AS hour, COUNT(*) FROM flashes%WHERE% GROUP BY hour ORDER BY hour")
                         .arg(hour_of_started(q.dialect())),
                     "result = 'pass'");
    if (!row)
        return false;
    std::map<QDateTime, int> passed;
    while (row->next())
        passed[QDateTime::fromString(row->value(0).toString() + ":00:00Z", Qt::ISODate)] = integer(*row, 1);
    if (!f.first.isValid())
        return true;
    QDateTime hour = f.first.toUTC();
    hour.setTime(QTime(hour.time().hour(), 0));
    std::vector<int> busy_hours;
    for (; hour <= f.last; hour = hour.addSecs(3600)) {
        const int count = passed.contains(hour) ? passed[hour] : 0;
        f.hours.push_back({hour, count});
        f.best_hour = std::max(f.best_hour, count);
        if (count > 0)
            busy_hours.push_back(count);
    }
    if (!busy_hours.empty()) {
        std::sort(busy_hours.begin(), busy_hours.end());
        const std::size_t middle = busy_hours.size() / 2;
        f.median_hour = busy_hours.size() % 2 == 1 ? busy_hours[middle] : (busy_hours[middle - 1] + busy_hours[middle]) / 2.0;
    }
    return true;
}

// Nearest rank: the median is the value at rank ceil(n/2), the 95th percentile at ceil(0.95 n).
bool take_run_times(PeriodQueries& q, ReportFigures& f)
{
    auto row = q.run("WITH passed AS (SELECT COALESCE(images, '') AS version, seconds FROM flashes%WHERE%), "
                     "ranked AS (SELECT version, seconds, ROW_NUMBER() OVER by_time AS k, "
                     "COUNT(*) OVER (by_time ROWS BETWEEN UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING) AS n "
                     "FROM passed WINDOW by_time AS (PARTITION BY version ORDER BY seconds)) "
                     "SELECT version, MAX(n), MIN(CASE WHEN 2 * k >= n THEN seconds END), "
                     "MIN(CASE WHEN 100 * k >= 95 * n THEN seconds END) FROM ranked GROUP BY version "
                     "ORDER BY MAX(n) DESC, version",
                     "result = 'pass'");
    if (!row)
        return false;
    while (row->next())
        f.run_times.push_back({.images = row->value(0).toString(), .runs = integer(*row, 1),
                               .median_s = row->value(2).toDouble(), .p95_s = row->value(3).toDouble()});
    return true;
}

} // namespace

std::optional<QDateTime> parse_report_time(const QString& text, QString& error)
{
    for (const char* form : {"yyyy-MM-dd", "yyyy-MM-ddTHH:mm"}) {
        QDateTime time = QDateTime::fromString(text, form);
        if (time.isValid()) {
            time.setTimeZone(QTimeZone::systemTimeZone());
            return time;
        }
    }
    error = "'" + text + "' is no time: write 2026-12-01 or 2026-12-01T08:00 (local time)";
    return std::nullopt;
}

QString reason_form(const QString& reason)
{
    // A path (a word with a '/' in it; a ':' inside it too, as in udev's by-path names) or a file name (a word that ends in a dot and an extension
    // of letters), standing after a blank, a quote or '(' and before no further word character.
    static const QRegularExpression file(
        R"((?<![^\s'"(])(?:[\w.+-]*(?:/(?:[\w.+-]|:(?=\w))+)+|[\w+-][\w.+-]*\.[A-Za-z][A-Za-z0-9]{0,4})(?![\w/]))");
    static const QRegularExpression number(R"(\d+)");
    QString form = reason;
    form.replace(file, "FILE");
    form.replace(number, "N");
    return form;
}

std::optional<ReportFigures> report_figures(const QSqlDatabase& db, SqlDialect dialect, const ReportPeriod& period,
                                            QString& error)
{
    PeriodQueries q(db, dialect, period);
    ReportFigures f;
    auto per_station = take_counts(q, f) ? yields(q, true) : std::nullopt;
    auto all = per_station ? yields(q, false) : std::nullopt;
    if (!all || !take_images(q, f) || !take_reasons(q, db, f) || !take_fixtures(q, f) || !take_hours(q, f) ||
        !take_run_times(q, f)) {
        error = q.error();
        return std::nullopt;
    }
    f.stations = std::move(*per_station);
    f.all = all->empty() ? YieldFigures{} : all->front();
    return f;
}

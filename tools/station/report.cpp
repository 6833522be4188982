#include "tools/station/report.h"

#include "tools/station/database_url.h"
#include "tools/station/records.h"
#include "tools/station/report_page.h"

#include <QSaveFile>

namespace {

QString title_of(const StationSettings& settings)
{
    if (!names_database(settings.records))
        return QString::fromStdString(settings.name);
    const auto address = parse_database_url(settings.records);
    const auto* database = std::get_if<DatabaseAddress>(&address);
    return "every station in " + QString::fromStdString(database ? database->database : settings.records);
}

} // namespace

bool write_report(const StationSettings& settings, const ReportPeriod& period, const QString& path, QString& error,
                  bool& unreadable)
{
    unreadable = true;
    QString problem;
    const auto records = open_record_store(settings.records, problem);
    const auto figures = records ? records->reportFigures(period) : std::nullopt;
    if (!figures) {
        error = "records: " + (records ? records->error() : problem);
        return false;
    }
    unreadable = false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(report_page(*figures, period, title_of(settings), QDateTime::currentDateTime())) < 0 ||
        !out.commit()) {
        error = path + ": " + out.errorString();
        return false;
    }
    return true;
}

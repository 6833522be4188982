// kestrin-station: flashes many units at once, one unattended kestrin per unit, with a pass/fail
// table and a record of every flash.
//
//   kestrin-station [STATION.ini]                       the window
//   kestrin-station --headless STATION.ini [--only A1,A3] [--serial A1=SN1,...] [--cycles N]
//                                                       one run (start=when_present: until
//                                                       stopped), on standard output
//   kestrin-station --export-csv FILE STATION.ini       the records as CSV
//   kestrin-station --report FILE.html [--since DATE] [--until DATE] STATION.ini
//                                                       the quality engineer's report
//   kestrin-station --verify-records STATION.ini        every station's chain of records checked
//
// Exit status: 0 every unit passed (or the export was written, or the records' chain is intact),
// 1 a unit failed (or the export could not be written, or a chain is broken, or the station was stopped: SIGINT, SIGTERM, SIGHUP, or the window
// closed while units ran), 2 the command line, the station file or its configuration is unusable
// (or another station runs it).

#include "app/stop_signals.h"
#include "tools/station/headless.h"
#include "tools/station/record_chain.h"
#include "tools/station/report.h"
#include "tools/station/station.h"
#include "tools/station/station_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kUnusable = 2;

struct Options {
    QCommandLineOption headless{"headless", "Run the units once without a window and report on standard output."};
    QCommandLineOption only{"only", "With --headless: run only these units (comma-separated names).", "UNITS"};
    QCommandLineOption export_csv{"export-csv", "Write the station's records (every station's, when they are in a database) to FILE as CSV and exit.", "FILE"};
    QCommandLineOption serial{"serial", "With --headless: the serial numbers of the units' first runs (A1=SN0001,A2=SN0002).", "SERIALS"};
    QCommandLineOption cycles{"cycles", "With --headless and start=when_present: end after N runs have ended.", "N"};
    QCommandLineOption report{"report", "Write the report of the station's records (every station's, when they are in a database) to FILE.html and exit.", "FILE.html"};
    QCommandLineOption since{"since", "With --report: the records started at or after DATE (2026-12-01 or 2026-12-01T08:00, local time).", "DATE"};
    QCommandLineOption until{"until", "With --report: the records started before DATE.", "DATE"};
    QCommandLineOption verify{"verify-records", "Check the chain of every station's records and exit: 0 intact, 1 broken."};
};

int unusable(const QString& message)
{
    std::fprintf(stderr, "kestrin-station: %s\n", qPrintable(message));
    return kUnusable;
}

// The rows of the units named in `names`, or the message naming one that is not there.
std::optional<std::vector<int>> rows_of(const Station& station, const QString& names, QString& error)
{
    std::vector<int> rows;
    for (const QString& name : names.split(',', Qt::SkipEmptyParts)) {
        const int row = station.rowOf(name.trimmed().toStdString());
        if (row < 0) {
            error = "--only: no unit " + name.trimmed() + " in " + QString::fromStdString(station.settings().file);
            return std::nullopt;
        }
        if (std::find(rows.begin(), rows.end(), row) == rows.end())
            rows.push_back(row);
    }
    return rows;
}

// The station's records as an export or a report reads them: what a station that ended left
// unrecorded recorded, and what waits in the spool sent first.
std::unique_ptr<RecordStore> records_brought_up_to_date(const StationSettings& settings, QString& error)
{
    std::unique_ptr<RecordStore> records = open_record_store(settings.records, error, settings.spool);
    if (records && !record_runs_left_running(settings, *records, error)) {
        error = "the runs of the station that ended could not be recorded: " + error;
        return nullptr;
    }
    if (records)
        records->drain();
    return records;
}

int export_csv(const QString& csv_path, const std::string& station_path)
{
    const StationFileResult station = read_station_file(station_path);
    if (!station.settings)
        return unusable(QString::fromStdString(station.error));
    QString error;
    const std::unique_ptr<RecordStore> records = records_brought_up_to_date(*station.settings, error);
    const auto all = records ? records->readAll() : std::nullopt;
    if (!all)
        return unusable("records: " + (records ? records->error() : error));
    if (const auto status = records->status(); status && status->waiting > 0)
        std::fprintf(stderr, "kestrin-station: %d records still wait in %s and are not in this export\n",
                     status->waiting, station.settings->spool.c_str());
    QFile out(csv_path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || !write_records_csv(*all, out) || !out.flush()) {
        std::fprintf(stderr, "kestrin-station: %s: %s\n", qPrintable(csv_path), qPrintable(out.errorString()));
        return 1;
    }
    std::printf("%zu records written to %s\n", all->size(), qPrintable(csv_path));
    return 0;
}

// The serials of --serial (A1=SN0001,A2=SN0002) given to their fixtures; false and the message
// when one is no unit's, is no serial, or is given twice.
bool assign_serials(Station& station, const QString& serials, QString& error)
{
    for (const QString& pair : serials.split(',', Qt::SkipEmptyParts)) {
        const qsizetype equals = pair.indexOf('=');
        const QString name = pair.left(equals).trimmed();
        const int row = equals < 0 ? -1 : station.rowOf(name.toStdString());
        if (row < 0) {
            error = "--serial: " + (equals < 0 ? "write UNIT=SERIAL, not " + pair : "no unit " + name + " in " +
                                                                                     QString::fromStdString(station.settings().file));
            return false;
        }
        if (const auto problem = station.assignSerial(row, pair.mid(equals + 1).trimmed())) {
            error = "--serial: " + name + ": " + *problem;
            return false;
        }
    }
    return true;
}

// Units that run once cannot wait for a serial nobody can scan.
bool serials_complete(const Station& station, const std::vector<int>& rows, QString& error)
{
    for (int row : rows) {
        if (station.startsWhenPresent() || !station.waitsForSerial(row))
            continue;
        const QString name = QString::fromStdString(station.unit(row).unit().name);
        error = "require_serial: " + name + " has no serial (give it with --serial " + name + "=SERIAL)";
        return false;
    }
    return true;
}

int verify_records(const std::string& station_path)
{
    const StationFileResult station = read_station_file(station_path);
    if (!station.settings)
        return unusable(QString::fromStdString(station.error));
    QString error;
    const std::unique_ptr<RecordStore> records = records_brought_up_to_date(*station.settings, error);
    ChainVerifier verifier;
    if (!records || !records->eachRecord([&verifier](const FlashRecord& record) { verifier.take(record); }))
        return unusable("records: " + (records ? records->error() : error));
    std::printf("%s\n", qPrintable(verifier.verdict()));
    if (const auto status = records->status(); status && status->waiting > 0)
        std::fprintf(stderr, "kestrin-station: %d records still wait in %s and were not checked\n", status->waiting,
                     station.settings->spool.c_str());
    return verifier.broken() ? 1 : 0;
}

int report(const QString& html_path, const std::string& station_path, const QCommandLineParser& parser,
           const Options& options)
{
    ReportPeriod period;
    QString error;
    for (auto [option, time] : {std::pair{&options.since, &period.since}, std::pair{&options.until, &period.until}}) {
        if (!parser.isSet(*option))
            continue;
        *time = parse_report_time(parser.value(*option), error);
        if (!*time)
            return unusable("--" + option->names().front() + ": " + error);
    }
    const StationFileResult station = read_station_file(station_path);
    if (!station.settings)
        return unusable(QString::fromStdString(station.error));
    if (!records_brought_up_to_date(*station.settings, error))
        return unusable("records: " + error);
    bool unreadable = false;
    if (!write_report(*station.settings, period, html_path, error, unreadable)) {
        std::fprintf(stderr, "kestrin-station: %s\n", qPrintable(error));
        return unreadable ? kUnusable : 1;
    }
    std::printf("report written to %s\n", qPrintable(html_path));
    return 0;
}

int headless(const std::string& station_path, const QCommandLineParser& parser, const Options& options)
{
    QString error;
    const std::unique_ptr<Station> station = make_station(station_path, error);
    if (!station)
        return unusable(error);
    HeadlessRun run;
    if (const QString only = parser.value(options.only); only.isEmpty()) {
        for (int row = 0; row < station->unitCount(); ++row)
            run.rows.push_back(row);
    } else if (auto named = rows_of(*station, only, error)) {
        run.rows = std::move(*named);
    } else {
        return unusable(error);
    }
    if (!assign_serials(*station, parser.value(options.serial), error) || !serials_complete(*station, run.rows, error))
        return unusable(error);
    if (parser.isSet(options.cycles)) {
        bool number = false;
        run.cycles = parser.value(options.cycles).toInt(&number);
        if (!number || *run.cycles < 1)
            return unusable("--cycles must be a whole number of runs, at least 1");
        if (!station->startsWhenPresent())
            return unusable("--cycles goes with start=when_present in the station file");
    }
    return run_headless(*station, run, stdout);
}

int window(const QStringList& positional)
{
    StationWindow window(make_station);
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::stopRequested, &window, [&window](int signal) {
        window.stopAndQuit(("stopped: " + StopSignals::nameOf(signal)).toStdString());
    });
    if (!positional.isEmpty()) {
        QString error;
        std::unique_ptr<Station> station = make_station(positional.front().toStdString(), error);
        if (!station)
            return unusable(error);
        window.setStation(std::move(station));
    }
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Options options;
    QCommandLineParser parser;
    parser.setApplicationDescription("Flashes many units at once: one unattended kestrin per unit, a pass/fail "
                                     "table, and a record of every flash.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({options.headless, options.only, options.export_csv, options.serial, options.cycles,
                       options.report, options.since, options.until, options.verify});
    parser.addPositionalArgument("STATION.ini", "The station file.", "[STATION.ini]");

    if (!parser.parse(arguments))
        return unusable(parser.errorText());
    // Headless runs, exports, reports, help and version need no display, nor does a command line
    // that will be refused (an option of those without it): they get a core application only.
    const bool windowless = parser.isSet(options.headless) || parser.isSet(options.export_csv) || parser.isSet(options.report) ||
                            parser.isSet(options.verify) ||
                            parser.isSet(options.since) || parser.isSet(options.until) || parser.isSet(options.only) ||
                            parser.isSet(options.serial) || parser.isSet(options.cycles) ||
                            parser.isSet("help") || parser.isSet("help-all") || parser.isSet("version");
    std::unique_ptr<QCoreApplication> app = windowless ? std::make_unique<QCoreApplication>(argc, argv)
                                                       : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName("kestrin-station");
    QCoreApplication::setApplicationVersion(KESTRIN_VERSION);
    if (parser.isSet("help") || parser.isSet("help-all"))
        parser.showHelp(0);
    if (parser.isSet("version"))
        parser.showVersion();

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return unusable("one station file at most (see kestrin-station --help)");
    for (const QCommandLineOption* report_only : {&options.since, &options.until})
        if (parser.isSet(*report_only) && !parser.isSet(options.report))
            return unusable("--" + report_only->names().front() + " goes with --report");
    if (parser.isSet(options.export_csv) || parser.isSet(options.headless) || parser.isSet(options.report) ||
        parser.isSet(options.verify)) {
        if (positional.isEmpty())
            return unusable("which station file? (see kestrin-station --help)");
        if (parser.isSet(options.verify))
            return verify_records(positional.front().toStdString());
        if (parser.isSet(options.export_csv))
            return export_csv(parser.value(options.export_csv), positional.front().toStdString());
        if (parser.isSet(options.report))
            return report(parser.value(options.report), positional.front().toStdString(), parser, options);
        return headless(positional.front().toStdString(), parser, options);
    }
    for (const QCommandLineOption* headless_only : {&options.only, &options.serial, &options.cycles})
        if (parser.isSet(*headless_only))
            return unusable("--" + headless_only->names().front() + " goes with --headless");
    return window(positional);
}

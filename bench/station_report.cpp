// The report at scale: RECORDS records (a million by default) of a line of 8 stations of 16
// fixtures over 30 days, in SQLite and in a local PostgreSQL server of the benchmark's own (the
// test server), and `kestrin-station --report` run on each as a process of its own: its wall time
// and its peak memory (the child's maximum resident set). Targets on this machine: under 10 s and
// under 200 MB for a million records. The report aggregates in the database: it never loads every
// record.
//
//   bench_station_report [RECORDS [sqlite|postgresql]]   (both stores by default)

#include "tests/station/postgres_server.h"
#include "tools/station/record_sql.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace {

constexpr int kBatch = 5000;

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A reason as a unit gives it: the numbers in it vary.
QString reason_of(const QString& form, int n)
{
    return form.contains("%1") ? form.arg(n % 97) : form;
}

// A line's records: most units pass at once, some are retested, a few fixtures fail more.
std::vector<FlashRecord> batch_of(int first, int count, std::mt19937& random)
{
    static const QString kReasons[] = {
        "Error! Unable to get response from unit(_TC)! Exiting script",
        "time limit of 900 s reached",
        "Error! Unit not in Loader Mode! Exiting script",
        "no such device: /dev/serial/by-path/pci-0000:00:14.0-usb-0:1.%1:1.0-port0",
        "Error! Unable to read all %1 bytes of file image-%1.bin. Cancel upload.",
    };
    static const QString kImages[] = {
        "image: app.bin: 262144 " + QCryptographicHash::hash("v1", QCryptographicHash::Sha256).toHex() + "\n",
        "image: app.bin: 262144 " + QCryptographicHash::hash("v2", QCryptographicHash::Sha256).toHex() + "\n",
        "image: app.bin: 270336 " + QCryptographicHash::hash("v3", QCryptographicHash::Sha256).toHex() + "\n",
    };
    const QDateTime start = QDateTime(QDate(2026, 11, 1), QTime(6, 0), Qt::UTC);
    std::vector<FlashRecord> records;
    for (int n = first; n < first + count; ++n) {
        const int station = n % 8, fixture = (n / 8) % 16;
        const bool bad_fixture = fixture == 13 && station == 2;
        const bool passed = std::uniform_int_distribution<int>(0, 99)(random) >= (bad_fixture ? 30 : 4);
        const QDateTime started = start.addMSecs(static_cast<qint64>(n) * 2592); // 30 days of them
        const double seconds = 20 + std::uniform_real_distribution<double>(0, 8)(random);
        const int serial = n - (n % 20 == 7 ? 8 : 0); // every twentieth run is a retest of a unit
        records.push_back(FlashRecord{
            .station = QString("Line %1").arg(station + 1),
            .unit = QString("F%1").arg(fixture + 1),
            .port = "/dev/ttyUSB0",
            .started = started,
            .ended = started.addMSecs(static_cast<qint64>(seconds * 1000)),
            .seconds = seconds,
            .passed = passed,
            .exit_status = passed ? 0 : 1,
            .reason = passed ? QString() : reason_of(kReasons[n % 5], n),
            .journal = "result: pass\n",
            .key = new_record_key(),
            .images = kImages[n * 3 / (first + count + 1) % 3],
            .serial = n % 50 == 0 ? QString() : QString("SN%1").arg(serial, 8, 10, QChar('0'))});
    }
    return records;
}

bool fill(RecordTable& table, int records)
{
    std::mt19937 random(42);
    if (!table.create())
        return false;
    for (int first = 0; first < records; first += kBatch)
        if (!table.insert(batch_of(first, std::min(kBatch, records - first), random)))
            return false;
    return true;
}

void write_station(const std::string& dir, const std::string& records)
{
    write_file(dir + "/LoaderDefault.ini", "Port=COM1\nBaud=115200\n8\n0\n1\nScript=flash.sld\n7\nMode=Automatic\n");
    write_file(dir + "/flash.sld", "_FI\n");
    write_file(dir + "/line.ini", "[station]\nrecords=" + records + "\n[units]\nF1=/dev/null\n");
}

// Runs the report as a process of its own: wall seconds and peak resident kB, or -1.
std::pair<double, long> report_of(const std::string& dir)
{
    QElapsedTimer wall;
    wall.start();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        execl(KESTRIN_BUILD_DIR "/kestrin-station", "kestrin-station", "--report", "report.html", "line.ini", nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {-1, -1};
    return {static_cast<double>(wall.elapsed()) / 1000.0, usage.ru_maxrss};
}

void print(const char* store, int records, std::pair<double, long> result)
{
    std::printf("%s, %d records: report in %.2f s (target < 10 s), peak memory %.1f MB (target < 200 MB)\n", store,
                records, result.first, static_cast<double>(result.second) / 1024.0);
}

bool report_in_sqlite(int records)
{
    QTemporaryDir sqlite_dir;
    const std::string sqlite_folder = sqlite_dir.path().toStdString();
    {
        QString error;
        auto connection = sqlite_connection(QString::fromStdString(sqlite_folder + "/records.sqlite"), error);
        RecordTable table(connection->db(), SqlDialect::Sqlite, "flashes");
        if (!fill(table, records)) {
            std::fprintf(stderr, "SQLite: %s\n", qPrintable(table.error()));
            return false;
        }
    }
    write_station(sqlite_folder, "records.sqlite");
    print("SQLite", records, report_of(sqlite_folder));
    return true;
}

bool report_in_postgresql(int records)
{
    PostgresServer server;
    if (!server.running()) {
        std::fprintf(stderr, "PostgreSQL: %s\n", server.error().c_str());
        return false;
    }
    {
        auto connection = database_connection(std::get<DatabaseAddress>(parse_database_url(server.url())));
        RecordTable table(connection->db(), SqlDialect::Postgres, "flashes");
        if (!connection->db().open() || !fill(table, records)) {
            std::fprintf(stderr, "PostgreSQL: %s %s\n", qPrintable(connection->db().lastError().text()),
                         qPrintable(table.error()));
            return false;
        }
    }
    QTemporaryDir postgres_dir;
    write_station(postgres_dir.path().toStdString(), server.url());
    print("PostgreSQL", records, report_of(postgres_dir.path().toStdString()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string only = argc > 2 ? argv[2] : "";
    if (only != "postgresql" && !report_in_sqlite(records))
        return 1;
    if (only != "sqlite" && !report_in_postgresql(records))
        return 1;
    return 0;
}


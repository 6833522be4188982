// Records sent to PostgreSQL: a server of the benchmark's own (see tests/station/postgres_server.h)
// on a Unix socket in a temporary folder, keeping each commit's flush to disk as a real server
// does, and one station's spooled record store (see tools/station/record_spool.h).
//
// - Sending: RECORDS records of a 4 KiB journal each, written one after another as fast as the
//   spool takes them, from the first write until the database has confirmed the last:
//
//     ratio = records per second / the fastest line's rate of flashes   (target at least 10)
//
//   The fastest line: 128 units at once (the most a station runs), each flash taking 10 s,
//   12.8 records per second.
// - The server's return: 1000 records written while the server is away; from the moment it is
//   back (pg_ctl has seen it answer) to an empty spool, the store's own retry; and the same with
//   drain(), which sends at once, for the sending alone.
// - What a record costs: RECORDS records each way, from the first write until the database has
//   confirmed the last, per record, against records without their chain over the Unix socket:
//   chained (as the station keeps them), chained over TCP to 127.0.0.1 in clear, and chained
//   over TLS with the server's certificate verified (verify-full against the benchmark's own
//   certificate authority, made with openssl), after a round that warms the server up. And the
//   chain's SHA-256 alone, per record.
//
//   bench_station_records [RECORDS]

#include "tests/station/postgres_server.h"
#include "tests/station/test_authority.h"
#include "tools/station/record_chain.h"
#include "tools/station/records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kLineRecordsPerSecond = 128 / 10.0;
constexpr int kWaiting = 1000;

FlashRecord record_of(int n)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return FlashRecord{.station = "Bench R",
                       .unit = QString("U%1").arg(n % 128),
                       .port = "/dev/ttyUSB0",
                       .started = now.addSecs(-10),
                       .ended = now,
                       .seconds = 10,
                       .passed = true,
                       .exit_status = 0,
                       .uploads = "upload: image.bin: LF 0x10000 262144 1a2b V1 -> complete\n",
                       .journal = QString(4095, 'j') + "\n",
                       .key = new_record_key()};
}

// Seconds until nothing waits for the database and the latest attempt succeeded; -1 after 60 s.
double seconds_until_sent(RecordStore& records, const QElapsedTimer& since)
{
    const auto sent = [&records] {
        const std::optional<RecordsStatus> status = records.status();
        return status && status->waiting == 0 && status->problem.isEmpty();
    };
    QEventLoop loop;
    QObject::connect(&records, &RecordStore::statusChanged, &loop, [&] {
        if (sent())
            loop.exit(0);
    });
    QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
    if (!sent() && loop.exec() != 0)
        return -1;
    return static_cast<double>(since.nsecsElapsed()) / 1e9;
}

bool write_records(RecordStore& records, int count, RecordChain* chain = nullptr)
{
    for (int n = 0; n < count; ++n) {
        const FlashRecord record = chain ? chain->linked(record_of(n)) : record_of(n);
        if (!records.write(record)) {
            std::fprintf(stderr, "write: %s\n", qPrintable(records.error()));
            return false;
        }
        if (chain)
            chain->kept(record);
    }
    return true;
}

struct Way {
    const char* name;
    std::string url;
    bool chained;
};

// Seconds per record, from the first write to the database's confirmation of the last; -1 on failure.
double seconds_per_record(const Way& way, int count, const QTemporaryDir& dir)
{
    QString error;
    const auto records = open_record_store(way.url, error, dir.filePath(QString(way.name) + ".spool.sqlite").toStdString());
    if (!records) {
        std::fprintf(stderr, "%s: %s\n", way.name, qPrintable(error));
        return -1;
    }
    RecordChain chain(way.name);
    QElapsedTimer since;
    since.start();
    if (!write_records(*records, count, way.chained ? &chain : nullptr))
        return -1;
    const double sent_s = seconds_until_sent(*records, since);
    return sent_s < 0 ? -1 : sent_s / count;
}

double chain_seconds_per_record()
{
    constexpr int kChains = 20000;
    RecordChain chain("Bench R");
    const FlashRecord record = record_of(0);
    QElapsedTimer since;
    since.start();
    for (int n = 0; n < kChains; ++n)
        chain.kept(chain.linked(record));
    return static_cast<double>(since.nsecsElapsed()) / 1e9 / kChains;
}

// What a record costs each way, against records without their chain over the Unix socket.
bool compare_the_ways(const PostgresServer& server, const TestAuthority& authority, int count)
{
    const std::string tcp = "postgresql://kestrin@127.0.0.1:" + std::to_string(server.tcpPort()) + "/postgres";
    const Way ways[] = {
        {"unchained", server.url(), false},
        {"chained", server.url(), true},
        {"chained-tcp", tcp + "?sslmode=disable", true},
        {"chained-tls", tcp + "?sslmode=verify-full&sslrootcert=" + authority.path("ca.pem").toStdString(), true},
    };
    QTemporaryDir dir;
    if (seconds_per_record({"warm-up", server.url(), false}, count, dir) < 0)
        return false;
    double base = 0;
    for (const Way& way : ways) {
        const double seconds = seconds_per_record(way, count, dir);
        if (seconds < 0)
            return false;
        if (base == 0)
            base = seconds;
        std::printf("%-12s %d records: %.3f ms a record, ratio %.3f to unchained over the Unix socket\n", way.name,
                    count, seconds * 1e3, seconds / base);
    }
    std::printf("the chain's SHA-256 alone: %.2f us a record\n", chain_seconds_per_record() * 1e6);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    QTemporaryDir dir;
    TestAuthority authority(dir.path(), "bench");
    if (!authority.sign("server", "127.0.0.1")) {
        std::fprintf(stderr, "%s\n", qPrintable(authority.error()));
        return 1;
    }
    PostgresServer server(true, PostgresTls{authority.path("server.pem"), authority.path("server.key")});
    if (!server.running()) {
        std::fprintf(stderr, "%s\n", server.error().c_str());
        return 1;
    }
    QString error;
    const auto records =
        open_record_store(server.url(), error, dir.filePath("bench.spool.sqlite").toStdString());
    if (!records) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    QElapsedTimer since;
    since.start();
    if (!write_records(*records, count))
        return 1;
    const double spooled_s = static_cast<double>(since.nsecsElapsed()) / 1e9;
    const double sent_s = seconds_until_sent(*records, since);
    if (sent_s < 0)
        return 1;
    const double rate = count / sent_s;
    std::printf(
        "%d records of a 4 KiB journal: written to the spool in %.2f s (%.0f per second), all "
        "confirmed by "
        "the database after %.2f s: %.0f records per second, ratio %.1f to the fastest line's %.1f "
        "(target >= 10)\n",
        count, spooled_s, count / spooled_s, sent_s, rate, rate / kLineRecordsPerSecond,
        kLineRecordsPerSecond);

    for (const bool at_once : {false, true}) {
        if (!server.stop() || !write_records(*records, kWaiting))
            return 1;
        records->drain(); // the sender has failed and waits for its retry
        if (!server.start()) {
            std::fprintf(stderr, "%s\n", server.error().c_str());
            return 1;
        }
        since.start();
        if (at_once)
            records->drain();
        const double back_s = seconds_until_sent(*records, since);
        if (back_s < 0)
            return 1;
        std::printf("%d waiting records, the server back: an empty spool after %.2f s (%s)\n",
                    kWaiting, back_s,
                    at_once ? "drain(): the sending alone"
                            : "the store's own retry, at most 10 s away");
    }
    return compare_the_ways(server, authority, count) ? 0 : 1;
}

// Stations whose records go to a PostgreSQL database: a server of the test's own (see
// postgres_server.h), the real kestrin against simulated units on pseudo-terminals.
//
// Two stations flash into one database at once; the server goes away in the middle of a line and
// comes back; a COMMIT's confirmation is lost on its way back to the station; a headless run
// while the server is away, then the export once it is back.

#include "commit_cutter.h"
#include "fake_station.h"
#include "postgres_server.h"
#include "report_records.h"
#include "station_program.h"
#include "test_authority.h"
#include "tools/station/record_sql.h"
#include "tools/station/report_page.h"
#include "tools/station/station_window.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>

namespace {

const std::vector<std::string> kUnits = {"U1", "U2", "U3", "U4"};

// A station folder of `units` on simulators, and its station file line.ini.
std::vector<std::unique_ptr<SimProcess>> line_at(const TempWorkDir& dir, const std::string& name,
                                                 int units, int parallel,
                                                 const std::string& records)
{
    station_folder(dir, kFlashScript);
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::string file = "[station]\nname=" + name + "\nparallel=" + std::to_string(parallel) +
                       "\nrecords=" + records + "\n[units]\n";
    for (int i = 0; i < units; ++i) {
        sims.push_back(sim_at(dir, kUnits[static_cast<std::size_t>(i)], {}));
        file += kUnits[static_cast<std::size_t>(i)] + "=" +
                dir.path(kUnits[static_cast<std::size_t>(i)] + ".tty") + "\n";
    }
    dir.write("line.ini", file);
    return sims;
}

// Runs the event loop until the store's status satisfies `holds`; false after a minute (a retry
// comes at most 10 s after the server's return).
bool wait_for_status(RecordStore& records, const std::function<bool(const RecordsStatus&)>& holds)
{
    const auto now = [&] {
        const std::optional<RecordsStatus> status = records.status();
        return status && holds(*status);
    };
    if (now())
        return true;
    QEventLoop loop;
    QObject::connect(&records, &RecordStore::statusChanged, &loop, [&] {
        if (now())
            loop.exit(0);
    });
    QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0;
}

bool wait_until_sent(RecordStore& records)
{
    return wait_for_status(records, [](const RecordsStatus& status) {
        return status.waiting == 0 && status.problem.isEmpty();
    });
}

// The units of the records by station, and whether every record key is there once.
std::map<QString, std::vector<QString>> units_by_station(const std::vector<FlashRecord>& records,
                                                         bool& keys_unique)
{
    std::map<QString, std::vector<QString>> units;
    QSet<QString> keys;
    for (const FlashRecord& r : records) {
        units[r.station].push_back(r.unit);
        keys.insert(r.key);
    }
    keys_unique =
        keys.size() == static_cast<qsizetype>(records.size()) && !keys.contains(QString());
    return units;
}

QString sha256_of(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex();
}

// A server on 127.0.0.1 that takes connections (the kernel completes them) and never answers.
class SilentServer {
public:
    SilentServer() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 16) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

// Writes one record to a spooled store and closes it: the time the close took.
qint64 close_after_one_record(const std::string& url, const std::string& spool, const std::function<void()>& meanwhile)
{
    QString error;
    auto store = open_record_store(url, error, spool);
    EXPECT_NE(store, nullptr) << error.toStdString();
    if (!store)
        return -1;
    EXPECT_TRUE(store->write(FlashRecord{.station = "Bench W", .unit = "W1", .passed = true, .key = new_record_key()}));
    meanwhile();
    QElapsedTimer closing;
    closing.start();
    store.reset();
    return closing.elapsed();
}

int waiting_in(const std::string& spool)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "spool-reader");
    db.setDatabaseName(QString::fromStdString(spool));
    int waiting = -1;
    if (db.open()) {
        QSqlQuery query(db);
        if (query.exec("SELECT COUNT(*) FROM spool WHERE sent IS NULL") && query.next())
            waiting = query.value(0).toInt();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("spool-reader");
    return waiting;
}

std::vector<QString> sorted(std::vector<QString> units)
{
    std::sort(units.begin(), units.end());
    return units;
}

} // namespace

TEST(StationDatabase, TwoStationsFlashIntoOneDatabaseAtOnce)
{
    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    TempWorkDir a, b;
    const auto sims_a = line_at(a, "Line A", 3, 3, server.url());
    const auto sims_b = line_at(b, "Line B", 3, 3, server.url());
    QProcess process_a, process_b;
    start_station(process_a, a.path(), {"--headless", "line.ini"});
    start_station(process_b, b.path(), {"--headless", "line.ini"});
    const StationResult run_a = finish_station(process_a), run_b = finish_station(process_b);

    for (const StationResult& run : {run_a, run_b}) {
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("\n3 passed, 0 failed, 0 running\nrecords: " + server.url() +
                               "\njournals: "),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("waiting for the database"), std::string::npos) << run.out;
    }
    bool keys_unique = false;
    const std::vector<FlashRecord> records = all_records(server.url());
    const auto units = units_by_station(records, keys_unique);
    EXPECT_TRUE(keys_unique);
    ASSERT_EQ(units.size(), 2u);
    // Which bytes went into each unit, as the station's own SQLite records say it too.
    const std::string image = file_text(a.path("image.bin"));
    for (const FlashRecord& r : records) {
        EXPECT_EQ(r.images, "image: image.bin: " + QString::number(image.size()) + " " + sha256_of(image) + "\n");
        EXPECT_EQ(r.script_sha256, sha256_of(kFlashScript));
        EXPECT_EQ(r.kestrin_version, KESTRIN_VERSION);
        EXPECT_EQ(r.station_version, KESTRIN_VERSION);
    }
    EXPECT_EQ(sorted(units.at("Line A")), (std::vector<QString>{"U1", "U2", "U3"}));
    EXPECT_EQ(sorted(units.at("Line B")), (std::vector<QString>{"U1", "U2", "U3"}));

    // The two chains, interleaved in one table, each check on their own; a field of one breaks it.
    const StationResult intact = run_station(a.path(), {"--verify-records", "line.ini"});
    EXPECT_EQ(intact.exit_code, 0) << intact.err;
    EXPECT_EQ(intact.out, "6 records of 2 stations: intact\n");
    ASSERT_TRUE(server.sql("UPDATE flashes SET seconds = seconds + 1 WHERE id = (SELECT max(id) FROM flashes "
                           "WHERE station = 'Line B' AND chain_seq = 2)"));
    const StationResult edited = run_station(b.path(), {"--verify-records", "line.ini"});
    EXPECT_EQ(edited.exit_code, 1);
    EXPECT_TRUE(edited.out.starts_with("the chain of Line B's records breaks: record ")) << edited.out;
    EXPECT_TRUE(edited.out.ends_with(": a field of it, or of the station's record before it, was changed after it "
                                     "was recorded\n"))
        << edited.out;
}

// The line's database user may only add records and read them (the grants of the README): the
// station keeps its records, and its chain goes on, with exactly those rights on an existing
// table; the records cannot be changed by that user.
TEST(StationDatabase, ALineUserThatMayOnlyInsertAndSelect)
{
    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    QString error;
    ASSERT_NE(open_record_store(server.url(), error), nullptr) << error.toStdString(); // the owner makes the table
    ASSERT_TRUE(server.sql("CREATE ROLE line LOGIN; "
                           "GRANT CONNECT ON DATABASE postgres TO line; "
                           "GRANT USAGE ON SCHEMA public TO line; "
                           "GRANT INSERT, SELECT ON flashes TO line;"))
        << server.error();
    std::string line_url = server.url();
    line_url.replace(line_url.find("kestrin@"), 8, "line@");

    TempWorkDir dir;
    const auto sims = line_at(dir, "Line L", 2, 2, line_url);
    for (int run = 0; run < 2; ++run) {
        const StationResult result = run_station(dir.path(), {"--headless", "line.ini"});
        EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
        EXPECT_EQ(result.out.find("waiting for the database"), std::string::npos) << result.out;
    }
    EXPECT_EQ(all_records(server.url()).size(), 4u);
    const StationResult verified = run_station(dir.path(), {"--verify-records", "line.ini"});
    EXPECT_EQ(verified.exit_code, 0) << verified.err;
    EXPECT_EQ(verified.out, "4 records of 1 station: intact\n");
    EXPECT_FALSE(server.sql("SET ROLE line; UPDATE flashes SET result = 'pass'"));
    EXPECT_FALSE(server.sql("SET ROLE line; DELETE FROM flashes"));
}

TEST(StationDatabase, TheServerAwayMidLineRecordsWaitThenArriveOnceInOrder)
{
    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    TempWorkDir dir;
    const auto sims = line_at(dir, "Line T", 4, 2, server.url());
    QString error;
    StationWindow window(make_station);
    window.setStation(make_station(dir.path("line.ini"), error));
    ASSERT_NE(window.station(), nullptr) << error.toStdString();
    Station& station = *window.station();
    // The server goes away as the third unit starts, once one or both of the first two have
    // ended: their records may or may not have reached it by then; those of the third and the
    // fourth cannot. The units end, and their records are written, in an order only the run tells.
    std::vector<QString> ended;
    QObject::connect(&station, &Station::unitChanged, [&](int row) {
        const UnitRun& run = station.unit(row);
        const QString unit = QString::fromStdString(run.unit().name);
        if (run.state() == UnitState::Passed || run.state() == UnitState::Failed)
            if (std::find(ended.begin(), ended.end(), unit) == ended.end())
                ended.push_back(unit);
        if (row == 2 && run.isActive() && server.running()) {
            EXPECT_TRUE(server.stop()) << server.error();
        }
    });
    ASSERT_TRUE(run_until_idle(station, [&] { station.startAll(); }));
    EXPECT_EQ(totals_text(station.totals()), "4 passed, 0 failed, 0 running");
    EXPECT_EQ(station.keepFailures(), 0) << station.keepError().toStdString();

    station.records().drain(); // one attempt with the server away
    const RecordsStatus away = station.records().status().value();
    EXPECT_GE(away.waiting, 2);
    EXPECT_LE(away.waiting, 4);
    EXPECT_NE(away.problem.toStdString().find(server.socketPath()), std::string::npos)
        << away.problem.toStdString();
    EXPECT_EQ(window.recordsText(),
              QString("records: %1 waiting for the database").arg(away.waiting));
    EXPECT_EQ(window.recordsProblem(), away.problem);

    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_TRUE(wait_until_sent(station.records()));
    EXPECT_EQ(window.recordsText(), "records: all in the database");
    EXPECT_EQ(window.recordsProblem(), "");
    const std::vector<FlashRecord> records = all_records(server.url());
    bool keys_unique = false;
    const auto units = units_by_station(records, keys_unique);
    EXPECT_TRUE(keys_unique);
    EXPECT_EQ(units.at("Line T"), ended);
    for (const FlashRecord& r : records) {
        const UnitRun& run = station.unit(station.rowOf(r.unit.toStdString()));
        EXPECT_TRUE(r.passed) << r.unit.toStdString();
        EXPECT_EQ(r.port.toStdString(), run.unit().device);
        EXPECT_EQ(r.journal.toStdString(), run.journal());
        EXPECT_EQ(r.uploads.toStdString(), run.runJournal().uploads());
        EXPECT_EQ(r.answers.toStdString(), run.runJournal().answers());
        EXPECT_EQ(r.reason.toStdString(), run.reason());
        EXPECT_EQ(r.exit_status, run.exitStatus());
        EXPECT_EQ(r.started, run.started());
        EXPECT_EQ(r.ended, run.ended());
        EXPECT_EQ(r.started.timeSpec(), Qt::UTC);
        EXPECT_NEAR(r.seconds, run.seconds(), 1e-9);
    }
}

TEST(StationDatabase, ARecordWhoseConfirmationWasLostIsKeptOnce)
{
    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    CommitCutter cutter(server.socketPath());
    ASSERT_NE(cutter.port(), 0);
    TempWorkDir dir;
    const auto sims =
        line_at(dir, "Line C", 2, 2,
                "postgresql://kestrin@127.0.0.1:" + std::to_string(cutter.port()) + "/postgres");
    QString error;
    const std::unique_ptr<Station> station = make_station(dir.path("line.ini"), error);
    ASSERT_NE(station, nullptr) << error.toStdString();
    ASSERT_TRUE(run_until_idle(*station, [&] { station->startAll(); }));
    ASSERT_TRUE(wait_until_sent(station->records()));

    EXPECT_TRUE(cutter.cut());
    bool keys_unique = false;
    const auto units = units_by_station(all_records(server.url()), keys_unique);
    EXPECT_TRUE(keys_unique);
    EXPECT_EQ(sorted(units.at("Line C")), (std::vector<QString>{"U1", "U2"}));
}

TEST(StationDatabase, HeadlessSaysWhatWaitsAndTheExportSendsItFirst)
{
    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    ASSERT_TRUE(server.stop()) << server.error();
    TempWorkDir dir;
    const auto sims = line_at(dir, "Line H", 2, 2, server.url());
    const StationResult away = run_station(dir.path(), {"--headless", "line.ini"});
    EXPECT_EQ(away.exit_code, 0) << away.out << away.err;
    std::vector<std::string> records_lines;
    for (const std::string& line : lines_of(away.out.substr(0, away.out.find("\n\n"))))
        if (line.starts_with("records: "))
            records_lines.push_back(line);
    ASSERT_GE(records_lines.size(), 2u) << away.out;
    EXPECT_TRUE(records_lines.front().starts_with("records: not sent: ")) << away.out;
    EXPECT_NE(records_lines.front().find(server.socketPath()), std::string::npos) << away.out;
    EXPECT_EQ(records_lines.back(), "records: 2 waiting for the database");
    EXPECT_TRUE(away.out.ends_with("records: 2 waiting for the database in " +
                                   dir.path("line.spool.sqlite") +
                                   "; the station sends them when it next runs\n"))
        << away.out;

    // The export sends what waits before it reads; a second one finds nothing more to send.
    ASSERT_TRUE(server.start()) << server.error();
    for (int i = 0; i < 2; ++i) {
        const StationResult exported =
            run_station(dir.path(), {"--export-csv", "out.csv", "line.ini"});
        EXPECT_EQ(exported.exit_code, 0) << exported.err;
        EXPECT_EQ(exported.out, "2 records written to out.csv\n");
        EXPECT_EQ(exported.err, "");
        const std::string csv = file_text(dir.path("out.csv"));
        EXPECT_NE(csv.find("\r\n1,Line H,U"), std::string::npos) << csv;
        EXPECT_NE(csv.find("\r\n2,Line H,U"), std::string::npos) << csv;
    }
    bool keys_unique = false;
    const auto units = units_by_station(all_records(server.url()), keys_unique);
    EXPECT_TRUE(keys_unique);
    EXPECT_EQ(sorted(units.at("Line H")), (std::vector<QString>{"U1", "U2"}));
}

// A database that hangs (a server that never answers; a table lock held by another session) never
// holds up the store's close: the record stays in the spool, and arrives once the lock is gone.
TEST(StationDatabase, TheStoresCloseEndsWithinFiveSecondsWhateverTheServerDoes)
{
    TempWorkDir dir;
    SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    const std::string silent_url = "postgresql://kestrin@127.0.0.1:" + std::to_string(silent.port()) + "/postgres";
    const qint64 silent_close = close_after_one_record(silent_url, dir.path("silent.spool.sqlite"), [] {
        QTest::qWait(300); // the sender is connecting, or has given up and waits to retry
    });
    EXPECT_GE(silent_close, 0);
    EXPECT_LT(silent_close, 5000);
    EXPECT_EQ(waiting_in(dir.path("silent.spool.sqlite")), 1);

    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    ASSERT_TRUE(all_records(server.url()).empty()); // makes the table
    auto holder = database_connection(std::get<DatabaseAddress>(parse_database_url(server.url())));
    ASSERT_TRUE(holder->db().open()) << holder->db().lastError().text().toStdString();
    QSqlQuery lock(holder->db());
    ASSERT_TRUE(lock.exec("BEGIN") && lock.exec("LOCK TABLE flashes IN ACCESS EXCLUSIVE MODE"));
    const std::string spool = dir.path("locked.spool.sqlite");
    const qint64 locked_close = close_after_one_record(server.url(), spool, [&] {
        // Until the sender's INSERT waits for the lock (it may also not have come yet: either way
        // the record cannot have arrived).
        QSqlQuery waits(holder->db());
        for (int i = 0; i < 100; ++i) {
            if (waits.exec("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'") && waits.next() &&
                waits.value(0).toInt() > 0)
                break;
            QTest::qWait(20);
        }
    });
    EXPECT_GE(locked_close, 0);
    EXPECT_LT(locked_close, 5000);
    EXPECT_EQ(waiting_in(spool), 1);
    ASSERT_TRUE(lock.exec("ROLLBACK"));

    QString error;
    auto again = open_record_store(server.url(), error, spool);
    ASSERT_NE(again, nullptr) << error.toStdString();
    ASSERT_TRUE(wait_until_sent(*again));
    const std::vector<FlashRecord> records = all_records(server.url());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.front().unit, "W1");
}

// The report's figures come from the same statements in PostgreSQL as in SQLite: the same known
// answers (report_records.h).
TEST(StationDatabase, TheReportOfAKnownSetOfRecords)
{
    PostgresServer server;
    ASSERT_TRUE(server.running()) << server.error();
    QString error;
    const auto store = open_record_store(server.url(), error);
    ASSERT_NE(store, nullptr) << error.toStdString();
    for (const FlashRecord& record : report_records())
        ASSERT_TRUE(store->write(record)) << store->error().toStdString();
    const auto figures = store->reportFigures(report_period());
    ASSERT_TRUE(figures) << store->error().toStdString();
    expect_known_report(report_page(*figures, report_period(), "every station", QDateTime::currentDateTime()));
}

namespace {

// One record through a spooled store to `url`: how its status stands once the first attempt ended.
RecordsStatus one_record_to(const std::string& url, const std::string& spool, bool& sent)
{
    QString error;
    auto store = open_record_store(url, error, spool);
    EXPECT_NE(store, nullptr) << error.toStdString();
    if (!store)
        return {};
    EXPECT_TRUE(store->write(FlashRecord{.station = "Bench TLS", .unit = "T1", .passed = true, .key = new_record_key()}));
    EXPECT_TRUE(wait_for_status(*store, [](const RecordsStatus& status) {
        return status.waiting == 0 || !status.problem.isEmpty();
    }));
    const RecordsStatus status = store->status().value();
    sent = status.waiting == 0;
    return status;
}

} // namespace

// Records over TLS to a server on 127.0.0.1: with the line's authority they arrive over an
// encrypted connection; with another authority, or a name the certificate does not carry, they
// wait in the spool and the reason says so in plain words, with libpq's own message in the detail.
TEST(StationDatabase, RecordsGoOverVerifiedTlsOrWaitWithTheReason)
{
    TempWorkDir dir;
    TestAuthority line(QString::fromStdString(dir.path()), "line"), other(QString::fromStdString(dir.path()), "other");
    ASSERT_TRUE(line.sign("server", "127.0.0.1") && other.made()) << line.error().toStdString() << other.error().toStdString();
    PostgresServer server(false, PostgresTls{line.path("server.pem"), line.path("server.key")});
    ASSERT_TRUE(server.running()) << server.error();
    const std::string at = "postgresql://kestrin@%1:" + std::to_string(server.tcpPort()) + "/postgres?sslmode=verify-full&sslrootcert=";
    const auto url = [&](const char* host, const TestAuthority& authority) {
        return QString::fromStdString(at).arg(host).toStdString() + authority.path("ca.pem").toStdString();
    };

    bool sent = false;
    one_record_to(url("127.0.0.1", line), dir.path("good.spool.sqlite"), sent);
    EXPECT_TRUE(sent); // verify-full connects over TLS or not at all
    EXPECT_EQ(all_records(server.url()).size(), 1u);

    const RecordsStatus unknown = one_record_to(url("127.0.0.1", other), dir.path("unknown.spool.sqlite"), sent);
    EXPECT_FALSE(sent);
    EXPECT_EQ(unknown.waiting, 1);
    EXPECT_EQ(unknown.problem, "the server's certificate is not signed by " + other.path("ca.pem"));
    EXPECT_TRUE(unknown.detail.contains("certificate verify failed")) << unknown.detail.toStdString();

    const RecordsStatus named = one_record_to(url("localhost", line), dir.path("named.spool.sqlite"), sent);
    EXPECT_FALSE(sent);
    EXPECT_EQ(named.waiting, 1);
    EXPECT_EQ(named.problem, "the server's certificate is not for localhost");
    EXPECT_TRUE(named.detail.contains("does not match host name")) << named.detail.toStdString();
    EXPECT_EQ(all_records(server.url()).size(), 1u);

    // On the loopback a plain connection is the station's choice, and no warning.
    const std::string plain = "postgresql://kestrin@127.0.0.1:" + std::to_string(server.tcpPort()) + "/postgres?sslmode=disable";
    one_record_to(plain, dir.path("plain.spool.sqlite"), sent);
    EXPECT_TRUE(sent);
    station_folder(dir, kFlashScript);
    dir.write("plain.ini", "[station]\nrecords=" + plain + "\n[units]\nT1=/dev/null\n");
    QString error;
    const auto station = make_station(dir.path("plain.ini"), error);
    ASSERT_NE(station, nullptr) << error.toStdString();
    EXPECT_EQ(station->warnings(), std::vector<QString>{});
}

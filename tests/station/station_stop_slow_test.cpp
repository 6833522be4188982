// However the real kestrin-station ends while units flash (SIGINT, SIGTERM, SIGKILL), every
// started unit ends as exactly one record, no kestrin is left behind and the ports are free; a
// second station on the same station file, and a station whose records or journals cannot be
// written, are refused before any unit starts.
//
// The units are simulators paced at 38400 baud taking a 32 KiB image (about 9 s), so that each
// run really is in its image when the station is stopped.

#include "station_program.h"

#include "tools/station/run_ledger.h"

#include <QDir>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kUnits = {"U1", "U2", "U3"};

// A station folder of three paced units; the station file is line.ini.
struct PacedLine {
    explicit PacedLine(const TempWorkDir& dir) : dir_(dir)
    {
        station_folder(dir, kFlashScript);
        std::string image(32768, '\0');
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 13 % 251);
        dir.write("image.bin", image);
        std::string units = "[station]\nname=Line S\n[units]\n";
        for (const std::string& unit : kUnits)
            units += unit + "=" + dir.path(unit + ".tty") + "\n";
        dir.write("line.ini", units);
        powerOn();
    }

    // Fresh units: a unit cut off in the middle of an image is switched off and on again.
    void powerOn()
    {
        sims_.clear();
        for (const std::string& unit : kUnits)
            sims_[unit] = sim_at(dir_, unit, {"--baud", "38400"});
    }

    const TempWorkDir& dir_;
    std::map<std::string, std::unique_ptr<SimProcess>> sims_;
};

// Reads the station's standard output until every unit has said that its image streams.
std::string until_all_upload(QProcess& station)
{
    std::string out;
    const auto all_uploading = [&out] {
        for (const std::string& unit : kUnits)
            if (out.find("\n" + unit + " uploading ") == std::string::npos &&
                !out.starts_with(unit + " uploading "))
                return false;
        return true;
    };
    while (!all_uploading() && station.state() != QProcess::NotRunning) {
        station.waitForReadyRead(200);
        out += station.readAllStandardOutput().toStdString();
    }
    return out;
}

// The station's children: the kestrin of each running unit.
std::vector<pid_t> children_of(qint64 pid)
{
    std::vector<pid_t> children;
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::istringstream in(file_text(tasks.filePath(task + "/children").toStdString()));
        for (pid_t child; in >> child;)
            children.push_back(child);
    }
    return children;
}

// Still running: there, and not a zombie that nobody has reaped yet.
bool running(pid_t pid)
{
    const std::string stat = file_text("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool port_opens_at_once(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

// The journal file of a record: runs/<stamp>/<unit>.log.
std::string journal_file_of(const TempWorkDir& dir, const FlashRecord& record)
{
    const QDir runs(QString::fromStdString(dir.path("runs")));
    for (const QString& stamp : runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = runs.filePath(stamp + "/" + record.unit + ".log");
        if (QFile::exists(path))
            return file_text(path.toStdString());
    }
    return "(no journal file)";
}

} // namespace

TEST(StationStop, SigintOrSigtermStopsTheUnitsAndRecordsEach)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string name = signal == SIGINT ? "SIGINT" : "SIGTERM";
        SCOPED_TRACE(name);
        TempWorkDir dir;
        PacedLine line(dir);
        QProcess station;
        start_station(station, dir.path(), {"--headless", "line.ini"});
        std::string out = until_all_upload(station);
        const std::vector<pid_t> kestrins = children_of(station.processId());
        EXPECT_EQ(kestrins.size(), kUnits.size()) << out;
        ::kill(static_cast<pid_t>(station.processId()), signal);
        if (signal == SIGINT) // a second one while the units stop cuts nothing short
            ::kill(static_cast<pid_t>(station.processId()), SIGINT);
        const StationResult result = finish_station(station);
        out += result.out;

        EXPECT_EQ(result.exit_code, 1) << out << result.err;
        EXPECT_NE(out.find("\nstopping: " + name + "\n"), std::string::npos) << out;
        for (pid_t pid : kestrins)
            EXPECT_FALSE(running(pid)) << pid;
        const std::vector<FlashRecord> records = all_records(dir.path("records.sqlite"));
        ASSERT_EQ(records.size(), kUnits.size()) << out;
        for (const FlashRecord& r : records) {
            EXPECT_FALSE(r.passed);
            EXPECT_EQ(r.reason.toStdString(), "stopped: " + name) << r.unit.toStdString();
            EXPECT_EQ(r.exit_status, 1) << r.journal.toStdString(); // kestrin ended its run as failed
            EXPECT_TRUE(r.journal.endsWith("result: fail: stopped by SIGTERM\nstation: stopped: " +
                                           QString::fromStdString(name) + "\n"))
                << r.journal.toStdString();
            EXPECT_TRUE(r.uploads.endsWith(" -> incomplete\n")) << r.uploads.toStdString();
            EXPECT_EQ(journal_file_of(dir, r), r.journal.toStdString());
            EXPECT_TRUE(port_opens_at_once(r.port.toStdString())) << r.port.toStdString();
        }
        EXPECT_EQ(lines_of_unit(out, "U1").back(), "fail: stopped: " + name);
    }
}

TEST(StationStop, AStationKilledLeavesNoKestrinAndItsRunsAreRecordedAtTheNextStart)
{
    TempWorkDir dir;
    PacedLine line(dir);
    QProcess station;
    start_station(station, dir.path(), {"--headless", "line.ini"});
    const std::string out = until_all_upload(station);
    const std::vector<pid_t> kestrins = children_of(station.processId());
    ASSERT_EQ(kestrins.size(), kUnits.size()) << out;

    // A second station on the same file is refused, naming the first.
    const StationResult second = run_station(dir.path(), {"--headless", "line.ini"});
    EXPECT_EQ(second.exit_code, 2);
    EXPECT_EQ(second.err, "kestrin-station: another kestrin-station runs this station file (pid " +
                              std::to_string(station.processId()) + "); its lock is " + dir.path("line.lock") + "\n");

    ::kill(static_cast<pid_t>(station.processId()), SIGKILL);
    station.waitForFinished(5000);
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    const auto any_running = [&] { return std::any_of(kestrins.begin(), kestrins.end(), running); };
    while (any_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(any_running());
    EXPECT_TRUE(all_records(dir.path("records.sqlite")).empty());

    line.powerOn();
    const StationResult next = run_station(dir.path(), {"--headless", "line.ini"});
    EXPECT_EQ(next.exit_code, 0) << next.out << next.err;
    EXPECT_TRUE(next.out.starts_with("records: 3 runs that the station had not recorded when it last ended are "
                                     "recorded now\n"))
        << next.out;
    const std::vector<FlashRecord> records = all_records(dir.path("records.sqlite"));
    ASSERT_EQ(records.size(), 6u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const FlashRecord& r = records[i];
        SCOPED_TRACE(r.unit.toStdString());
        if (i >= 3) {
            EXPECT_TRUE(r.passed) << r.journal.toStdString();
            continue;
        }
        EXPECT_FALSE(r.passed);
        EXPECT_EQ(r.exit_status, std::nullopt);
        EXPECT_EQ(r.reason, kInterruptedReason);
        EXPECT_EQ(r.station, "Line S");
        EXPECT_TRUE(r.journal.startsWith("kestrin: " KESTRIN_VERSION "\n")) << r.journal.toStdString();
        EXPECT_TRUE(r.journal.contains("\nprogress: image.bin ")) << r.journal.toStdString();
        EXPECT_TRUE(r.journal.endsWith(QString("\nstation: ") + kInterruptedReason + "\n")) << r.journal.toStdString();
        EXPECT_EQ(r.kestrin_version, KESTRIN_VERSION);
        EXPECT_EQ(r.station_version, KESTRIN_VERSION);
        EXPECT_EQ(r.script_sha256.size(), 64);
        EXPECT_TRUE(r.started.isValid() && r.ended >= r.started);
        EXPECT_EQ(journal_file_of(dir, r).substr(0, static_cast<std::size_t>(r.journal.size())),
                  r.journal.toStdString());
    }
}

// Checked by writing: as root, the write itself is what fails or not, so the records file is
// made unwritable for the user the station runs as (nobody, when the tests run as root).
TEST(StationStop, AStationWhoseRecordsOrJournalsCannotBeWrittenDoesNotStart)
{
    TempWorkDir dir;
    station_folder(dir, kFlashScript);
    dir.write("line.ini", "[station]\n[units]\nA1=/dev/null\n");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    std::function<void()> as_user;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        as_user = [uid = nobody->pw_uid, gid = nobody->pw_gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                _exit(99);
        };
    }
    const auto run_as_user = [&] {
        QProcess process;
        if (as_user)
            process.setChildProcessModifier(as_user);
        start_station(process, dir.path(), {"--headless", "line.ini"});
        return finish_station(process);
    };

    dir.write("runs", "a file where the journals' folder belongs");
    const StationResult no_runs = run_as_user();
    EXPECT_EQ(no_runs.exit_code, 2) << no_runs.out;
    EXPECT_TRUE(no_runs.err.starts_with("kestrin-station: " + dir.path("runs") + ": journals cannot be written there"))
        << no_runs.err;

    // The records file that the station made on its way is there, with its table.
    ASSERT_EQ(::unlink(dir.path("runs").c_str()), 0);
    ASSERT_EQ(::chmod(dir.path("records.sqlite").c_str(), 0444), 0);
    const StationResult read_only = run_as_user();
    EXPECT_EQ(read_only.exit_code, 2) << read_only.out;
    EXPECT_TRUE(read_only.err.starts_with("kestrin-station: records: " + dir.path("records.sqlite") +
                                          ": cannot be written: attempt to write a readonly database"))
        << read_only.err;
    EXPECT_EQ(read_only.out, "");
    EXPECT_TRUE(all_records(dir.path("records.sqlite")).empty());
}

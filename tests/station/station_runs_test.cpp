// The station's own work, with a shell script standing in for kestrin (see fake_station.h): what
// each way of ending becomes, the bounds on what a process writes, the records and journal files,
// the time limit and a stop, and the CSV export.

#include "fake_station.h"

#include <QBuffer>
#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>

namespace {

std::map<QString, FlashRecord> records_by_unit(const std::string& path)
{
    QString error;
    auto store = open_record_store(path, error);
    std::map<QString, FlashRecord> records;
    const std::optional<std::vector<FlashRecord>> all = store ? store->readAll() : std::nullopt;
    EXPECT_TRUE(all) << error.toStdString();
    for (const FlashRecord& r : all.value_or(std::vector<FlashRecord>{}))
        records[r.unit] = r;
    return records;
}

std::string file_text(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "(missing)";
}

int mode_of(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

} // namespace

TEST(StationRuns, EachEndBecomesItsStateRecordAndJournal)
{
    qputenv("KESTRIN_COM3", "/dev/inherited");
    const mode_t umask_before = ::umask(022); // the usual one, which lets everyone read
    FakeStation fake;
    auto station = fake.make(
        {{"P1", "pass"}, {"F1", "fail"}, {"C1", "crash"}, {"E1", "exit3"}, {"M1", ""}, {"X1", "flood"}}, 2, 60);
    std::size_t most_active = 0;
    QObject::connect(station.get(), &Station::unitChanged, [&] {
        most_active = std::max(most_active, static_cast<std::size_t>(station->totals().running));
    });
    ASSERT_TRUE(run_until_idle(*station, [&] { station->startAll(); }));
    qunsetenv("KESTRIN_COM3");

    EXPECT_LE(most_active, 2u);
    EXPECT_EQ(totals_text(station->totals()), "2 passed, 4 failed, 0 running");
    EXPECT_EQ(station->keepFailures(), 0) << station->keepError().toStdString();
    EXPECT_TRUE(QRegularExpression("/runs/\\d{8}T\\d{6}Z$").match(station->batchFolder()).hasMatch());

    const UnitRun& pass = station->unit(0);
    EXPECT_EQ(state_text(pass).substr(0, 5), "pass ");
    EXPECT_EQ(pass.progressFile(), "my image: v2.bin");
    EXPECT_EQ(pass.journal(), "status: cwd " + fake.folder() +
                                  "\nstatus: KESTRIN_COM7=" + fake.device("P1") +
                                  "\nstatus: KESTRIN_UNATTENDED=1\nstatus: QT_QPA_PLATFORM=offscreen\n"
                                  "progress: my image: v2.bin 2000/4000\nprogress: my image: v2.bin 4000/4000\n"
                                  "upload: my image: v2.bin: LF 0x10000 4000 1a2b V1 -> complete\n"
                                  "answer: Version 2.03\nresult: pass\n");

    const UnitRun& flood = station->unit(5);
    EXPECT_EQ(flood.state(), UnitState::Passed);
    EXPECT_EQ(flood.journal().substr(0, 4103), std::string(4096, 'x') + " [cut]\n");
    const std::string note = "station: 455548 journal bytes, 0 upload and 0 answer bytes beyond the bounds not kept\n";
    EXPECT_TRUE(flood.journal().ends_with("status: filler\n" + note));
    EXPECT_EQ(flood.journal().size(), 4103 + 69631 * 15 + note.size());

    struct Expected {
        const char* unit;
        bool passed;
        std::optional<int> exit_status;
        std::string reason;
        std::string journal_end;
    };
    const std::string missing = "no such device: " + fake.device("M1");
    const std::vector<Expected> expected = {
        {"P1", true, 0, "", "result: pass\n"},
        {"F1", false, 1, "Error! Unit \"A\" refused, twice", "result: fail: Error! Unit \"A\" refused, twice\n"},
        {"C1", false, std::nullopt, "kestrin crashed", "status: about to crash\nstation: kestrin crashed\n"},
        {"E1", false, 3, "configuration or script unreadable (exit status 3)",
         "station: configuration or script unreadable (exit status 3)\n"},
        {"M1", false, std::nullopt, missing, "station: " + missing + "\n"},
        {"X1", true, 0, "", note},
    };
    const auto records = records_by_unit(fake.folder() + "/records.sqlite");
    ASSERT_EQ(records.size(), expected.size());
    for (const Expected& e : expected) {
        const FlashRecord& r = records.at(e.unit);
        EXPECT_EQ(r.station, "Bench T");
        EXPECT_EQ(r.port.toStdString(), fake.device(e.unit));
        EXPECT_EQ(r.adapter, "");
        EXPECT_EQ(r.passed, e.passed) << e.unit;
        EXPECT_EQ(r.exit_status, e.exit_status) << e.unit;
        EXPECT_EQ(r.reason.toStdString(), e.reason) << e.unit;
        EXPECT_TRUE(r.journal.toStdString().ends_with(e.journal_end)) << e.unit << ": " << r.journal.toStdString();
        EXPECT_EQ(file_text(QDir(station->batchFolder()).filePath(QString(e.unit) + ".log")), r.journal.toStdString());
        EXPECT_TRUE(r.started.isValid() && r.ended.isValid() && r.started <= r.ended) << e.unit;
        EXPECT_EQ(r.started.timeSpec(), Qt::UTC);
        EXPECT_GE(r.seconds, 0);
    }
    EXPECT_EQ(records.at("P1").uploads, "upload: my image: v2.bin: LF 0x10000 4000 1a2b V1 -> complete\n");
    EXPECT_EQ(records.at("P1").answers, "answer: Version 2.03\n");
    EXPECT_EQ(records.at("F1").uploads, "");

    // The station's files are its owner's alone, whatever the umask.
    ::umask(umask_before);
    const QString runs = QDir(station->batchFolder()).filePath("..");
    for (const auto& [path, mode] : {std::pair{QDir(station->batchFolder()).filePath("P1.log"), 0600},
                                     {QString::fromStdString(fake.folder() + "/records.sqlite"), 0600},
                                     {QString::fromStdString(fake.folder() + "/bench.station.sqlite"), 0600},
                                     {station->batchFolder(), 0700}, {runs, 0700}})
        EXPECT_EQ(mode_of(path), mode) << path.toStdString();
}

TEST(StationRuns, TheTimeLimitAndTheOperatorStopRunsThatNeverEnd)
{
    FakeStation fake;
    auto limited = fake.make({{"H1", "hang"}}, 16, 1);
    ASSERT_TRUE(run_until_idle(*limited, [&] { limited->startAll(); }));
    EXPECT_EQ(limited->unit(0).reason(), "time limit of 1 s reached");
    EXPECT_EQ(limited->unit(0).exitStatus(), std::nullopt); // it ignored SIGTERM and was killed
    EXPECT_EQ(limited->unit(0).journal(), "status: hanging\nstation: time limit of 1 s reached\n");

    // The records database's secrets stay with the station: a running kestrin has none of them.
    for (const char* secret : {"KESTRIN_RECORDS_PASSWORD", "PGPASSWORD", "PGSSLKEY", "PGSERVICEFILE"})
        qputenv(secret, "secret");
    auto stopped = fake.make({{"S1", "hang"}, {"S2", "pass"}}, 1, 600);
    ASSERT_TRUE(run_until_idle(*stopped, [&] {
        stopped->startAll();
        EXPECT_EQ(totals_text(stopped->totals()), "0 passed, 0 failed, 1 running, 1 waiting");
        ASSERT_TRUE(QTest::qWaitFor([&] { return stopped->unit(0).journal() == "status: hanging\n"; }, 60000));
        const std::string environment = file_text(QString("/proc/%1/environ").arg(stopped->unit(0).processId()));
        EXPECT_NE(environment.find("KESTRIN_UNATTENDED=1"), std::string::npos) << environment;
        EXPECT_EQ(environment.find("secret"), std::string::npos) << environment;
        stopped->stop();
    }));
    for (const char* secret : {"KESTRIN_RECORDS_PASSWORD", "PGPASSWORD", "PGSSLKEY", "PGSERVICEFILE"})
        qunsetenv(secret);
    EXPECT_EQ(state_text(stopped->unit(0)), "fail: stopped: the operator pressed Stop");
    EXPECT_EQ(stopped->unit(1).state(), UnitState::Idle); // it never started
    const auto records = records_by_unit(fake.folder() + "/records.sqlite");
    EXPECT_EQ(records.size(), 2u); // H1 and S1
    EXPECT_EQ(records.at("S1").reason, "stopped: the operator pressed Stop");
}

TEST(StationRecords, CsvAfterRfc4180)
{
    FlashRecord r{.id = 7,
                  .station = "Bench, A",
                  .unit = "A1",
                  .port = "/dev/ttyUSB0",
                  .adapter = "usb-FTDI_x-if00-port0",
                  .started = QDateTime(QDate(2026, 12, 9), QTime(13, 15, 0, 5), Qt::UTC),
                  .ended = QDateTime(QDate(2026, 12, 9), QTime(13, 15, 9, 405), Qt::UTC),
                  .seconds = 9.4,
                  .passed = false,
                  .exit_status = 1,
                  .reason = "Error! \"A\" refused",
                  .uploads = "",
                  .answers = "answer: x\r",
                  .journal = "status: a\nresult: fail\n",
                  .images = "image: a.bin: 3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n",
                  .script_sha256 = "b5a2c96250612366ea272ffac6d9744aaf4b45aacd96aa7cfcb931ee3b558259",
                  .kestrin_version = "2.00",
                  .station_version = "2.01",
                  .serial = "SN 0042"};
    FlashRecord no_process = r;
    no_process.id = 8;
    no_process.exit_status.reset();
    no_process.station = "B";
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(write_records_csv({r, no_process}, out));
    EXPECT_EQ(out.data().toStdString(),
              "id,station,unit,port,adapter,started,ended,seconds,result,exit_status,reason,uploads,answers,journal,"
              "images,script_sha256,kestrin_version,station_version,serial,chain,chain_seq\r\n"
              "7,\"Bench, A\",A1,/dev/ttyUSB0,usb-FTDI_x-if00-port0,2026-12-09T13:15:00.005Z,2026-12-09T13:15:09.405Z,"
              "9.400,fail,1,\"Error! \"\"A\"\" refused\",,\"answer: x\r\",\"status: a\nresult: fail\n\","
              "\"image: a.bin: 3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n\","
              "b5a2c96250612366ea272ffac6d9744aaf4b45aacd96aa7cfcb931ee3b558259,2.00,2.01,SN 0042,,\r\n"
              "8,B,A1,/dev/ttyUSB0,usb-FTDI_x-if00-port0,2026-12-09T13:15:00.005Z,2026-12-09T13:15:09.405Z,"
              "9.400,fail,,\"Error! \"\"A\"\" refused\",,\"answer: x\r\",\"status: a\nresult: fail\n\","
              "\"image: a.bin: 3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n\","
              "b5a2c96250612366ea272ffac6d9744aaf4b45aacd96aa7cfcb931ee3b558259,2.00,2.01,SN 0042,,\r\n");
}

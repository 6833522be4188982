// The real kestrin-station, headless, running the real kestrin against simulated units on
// pseudo-terminals.
//
// One line of six units and a missing device: one refuses loader mode, one is silent, one drops
// its link in the middle of the image. Then --only on the failed ones after they are fixed. And a
// station of one unit that never ends (time_limit), a bad station file and configuration, the
// CSV export and the command line.

#include "station_program.h"

#include "tools/station/record_sql.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <map>

namespace {

// The upload: line that the unit's header event describes.
std::string upload_line_of(SimProcess& sim)
{
    const auto header = sim.waitForEvent("header", std::chrono::seconds(5));
    if (!header)
        return "(no header)";
    std::string fields;
    std::istringstream in(header->substr(7));
    for (std::string field; in >> field;)
        fields += (fields.empty() ? "" : " ") + field.substr(field.find('=') + 1);
    return "upload: image.bin: " + fields + " -> complete\n";
}

bool sqlite_exec(const std::string& path, const QString& statement)
{
    bool done = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tampering");
        db.setDatabaseName(QString::fromStdString(path));
        done = db.open() && QSqlQuery(db).exec(statement);
    }
    QSqlDatabase::removeDatabase("tampering");
    return done;
}

} // namespace

TEST(StationProgram, ALineOfUnitsThenTheFailedOnesAgain)
{
    TempWorkDir dir;
    const std::string image = file_text(station_folder(dir, kFlashScript));
    std::map<std::string, std::unique_ptr<SimProcess>> sims;
    for (const std::string unit : {"U1", "U5", "U6"})
        sims[unit] = sim_at(dir, unit, {});
    sims["U2"] = sim_at(dir, "U2", {"--normal-only"});
    sims["U3"] = sim_at(dir, "U3", {"--silent"});
    sims["U4"] = sim_at(dir, "U4", {"--drop-after", "2500", "--baud", "115200"});
    std::string units = "[station]\nname=Line T\n[units]\n";
    for (const std::string unit : {"U1", "U2", "U3", "U4", "U5", "U6", "U7"})
        units += unit + "=" + dir.path(unit + ".tty") + "\n";
    dir.write("line.ini", units);
    setenv("KESTRIN_COM1", "/dev/null", 1); // the station's own mapping must not reach its units
    const StationResult first = run_station(dir.path(), {"--headless", "line.ini"});
    unsetenv("KESTRIN_COM1");

    EXPECT_EQ(first.exit_code, 1) << first.out << first.err;
    std::map<std::string, FlashRecord> records;
    for (FlashRecord& r : all_records(dir.path("records.sqlite")))
        records[r.unit.toStdString()] = std::move(r);
    ASSERT_EQ(records.size(), 7u) << first.out;
    for (const std::string unit : {"U1", "U5", "U6"}) {
        const FlashRecord& r = records.at(unit);
        EXPECT_TRUE(r.passed) << unit << ": " << r.journal.toStdString();
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.uploads.toStdString(), upload_line_of(*sims[unit])) << unit;
        EXPECT_EQ(file_text(dir.path(unit + "-saved/image-1.bin")), image) << unit;
        EXPECT_TRUE(r.journal.endsWith("result: pass\n")) << unit;
        EXPECT_EQ(lines_of_unit(first.out, unit).back().substr(0, 5), "pass ");
    }
    // A unit that refuses loader mode, a silent one (its port opens, the script's first command
    // gets no answer) and one that drops its link fail their script; each reason is the one of
    // the journal's last line.
    for (const std::string unit : {"U2", "U3", "U4"}) {
        const FlashRecord& r = records.at(unit);
        EXPECT_FALSE(r.passed) << unit;
        EXPECT_EQ(r.exit_status, 1) << unit << ": " << r.journal.toStdString();
        EXPECT_FALSE(r.reason.isEmpty()) << unit;
        EXPECT_TRUE(r.journal.endsWith("result: fail: " + r.reason + "\n")) << unit << ": " << r.journal.toStdString();
        EXPECT_EQ(lines_of_unit(first.out, unit).back(), "fail: " + r.reason.toStdString());
    }
    EXPECT_EQ(records.at("U2").reason, "Error! Unit not in Loader Mode! Exiting script");
    EXPECT_EQ(records.at("U3").reason, "Error! Unable to get response from unit(_TC)! Exiting script");
    EXPECT_EQ(records.at("U7").reason.toStdString(), "no such device: " + dir.path("U7.tty"));
    EXPECT_EQ(records.at("U7").exit_status, std::nullopt);
    EXPECT_NE(first.out.find("\n3 passed, 4 failed, 0 running\nrecords: " + dir.path("records.sqlite") + "\n"),
              std::string::npos)
        << first.out;
    const QStringList batches = QDir(QString::fromStdString(dir.path("runs"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(batches.size(), 1);
    for (const auto& [unit, record] : records)
        EXPECT_EQ(file_text(dir.path("runs/" + batches.front().toStdString() + "/" + unit + ".log")),
                  record.journal.toStdString())
            << unit;

    // Fixed: the three units answer as they should, and the missing device is there.
    for (const std::string unit : {"U2", "U3", "U4"}) {
        sims[unit]->stop();
        sims[unit] = sim_at(dir, unit, {});
    }
    sims["U7"] = sim_at(dir, "U7", {});
    const StationResult again = run_station(dir.path(), {"--headless", "line.ini", "--only", "U2,U3,U4,U7"});
    EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
    EXPECT_TRUE(lines_of_unit(again.out, "U1").empty());
    const std::vector<FlashRecord> after = all_records(dir.path("records.sqlite"));
    ASSERT_EQ(after.size(), 11u);
    for (std::size_t i = 7; i < after.size(); ++i) {
        EXPECT_TRUE(after[i].passed) << after[i].unit.toStdString() << ": " << after[i].journal.toStdString();
        EXPECT_EQ(file_text(dir.path(after[i].unit.toStdString() + "-saved/image-1.bin")), image);
    }
    EXPECT_NE(again.out.find("\n4 passed, 0 failed, 0 running\n"), std::string::npos) << again.out;

    // Both runs are one chain of the station's records; a field edited or a record removed
    // afterwards breaks it, and the verifier names where.
    const auto verified = [&] { return run_station(dir.path(), {"--verify-records", "line.ini"}); };
    const StationResult intact = verified();
    EXPECT_EQ(intact.exit_code, 0) << intact.err;
    EXPECT_EQ(intact.out, "11 records of 1 station: intact\n");
    const auto started = [&](int id) { return iso_utc(after[id - 1].started).toStdString(); };
    ASSERT_TRUE(sqlite_exec(dir.path("records.sqlite"), "UPDATE flashes SET port = port || 'x' WHERE id = 3"));
    const StationResult edited = verified();
    EXPECT_EQ(edited.exit_code, 1);
    EXPECT_EQ(edited.out, "the chain of Line T's records breaks: record 3 (Line T " + after[2].unit.toStdString() +
                              ", started " + started(3) +
                              "): a field of it, or of the station's record before it, was changed after it was "
                              "recorded\n");
    ASSERT_TRUE(sqlite_exec(dir.path("records.sqlite"), "UPDATE flashes SET port = substr(port, 1, length(port) - 1) WHERE id = 3"));
    ASSERT_TRUE(sqlite_exec(dir.path("records.sqlite"), "DELETE FROM flashes WHERE id IN (8, 9)"));
    const StationResult removed = verified();
    EXPECT_EQ(removed.exit_code, 1);
    EXPECT_EQ(removed.out, "the chain of Line T's records breaks: the station's records 8 to 9, before record 10 (Line T " +
                               after[9].unit.toStdString() + ", started " + started(10) + "), were removed\n");

    dir.write("unreadable.ini", "[station]\nrecords=runs\n[units]\nU1=/dev/null\n");
    const StationResult unreadable = run_station(dir.path(), {"--verify-records", "unreadable.ini"});
    EXPECT_EQ(unreadable.exit_code, 2);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_TRUE(unreadable.err.starts_with("kestrin-station: records: ")) << unreadable.err;
}

TEST(StationProgram, TimeLimitBadFilesExportAndCommandLine)
{
    TempWorkDir dir;
    station_folder(dir, "_WP\n_FI\n");
    const auto hung = sim_at(dir, "T1", {"--quiet-after", "1"}); // answers the start-up probe only
    dir.write("one.ini", "[station]\nname=Bench, \"T\"\ntime_limit=2\n[units]\nT1=" + dir.path("T1.tty") + "\n");
    const StationResult limited = run_station(dir.path(), {"--headless", "one.ini"});
    EXPECT_EQ(limited.exit_code, 1) << limited.out << limited.err;
    EXPECT_EQ(lines_of_unit(limited.out, "T1").back(), "fail: time limit of 2 s reached");

    const StationResult exported = run_station(dir.path(), {"--export-csv", "out.csv", "one.ini"});
    EXPECT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_EQ(exported.out, "1 records written to out.csv\n");
    const std::string csv = file_text(dir.path("out.csv"));
    const std::string header = "id,station,unit,port,adapter,started,ended,seconds,result,exit_status,reason,uploads,"
                               "answers,journal,images,script_sha256,kestrin_version,station_version,serial,chain,chain_seq\r\n";
    EXPECT_EQ(csv.substr(0, header.size()), header);
    const std::string first_fields = "1,\"Bench, \"\"T\"\"\",T1," + dir.path("T1.tty") + ",,";
    EXPECT_EQ(csv.substr(header.size(), first_fields.size()), first_fields);
    // Told to stop at the time limit, kestrin ends its run as a failed one, with status 1.
    EXPECT_NE(csv.find(",fail,1,time limit of 2 s reached,,,\""), std::string::npos) << csv;
    EXPECT_NE(csv.find("\nresult: fail: stopped by SIGTERM\nstation: time limit of 2 s reached\n\",,"), std::string::npos)
        << csv;
    EXPECT_TRUE(QRegularExpression("," KESTRIN_VERSION "," KESTRIN_VERSION ",,[0-9a-f]{64},1\r\n$")
                    .match(QString::fromStdString(csv))
                    .hasMatch())
        << csv;

    struct Refused {
        QStringList args;
        std::string message;
    };
    dir.write("bad.ini", "[station]\nparallel=lots\n[units]\nA1=/dev/null\n");
    QDir().mkpath(QString::fromStdString(dir.path("manual")));
    dir.write("manual/LoaderDefault.ini", "Port=COM1\nBaud=115200\n");
    dir.write("manual/m.ini", "[units]\nA1=/dev/null\n");
    for (const Refused& r : std::vector<Refused>{
             {{"--headless", "bad.ini"}, "bad.ini line 2: parallel must be a whole number from 1 to 128"},
             {{"--headless", "manual/m.ini"},
              dir.path("manual/LoaderDefault.ini") +
                  " setting line 8 (missing): automatic mode is not selected; the station needs Mode=Automatic"},
             {{"--headless", "one.ini", "--only", "T1,T9"}, "--only: no unit T9 in one.ini"},
             {{"--export-csv", "x.csv", "bad.ini"}, "bad.ini line 2: parallel must be a whole number from 1 to 128"},
             {{"--headless"}, "which station file? (see kestrin-station --help)"},
             {{"--fast", "one.ini"}, "Unknown option 'fast'."},
             {{"--report", "r.html", "--since", "yesterday", "one.ini"},
              "--since: 'yesterday' is no time: write 2026-12-01 or 2026-12-01T08:00 (local time)"},
             {{"--until", "2026-12-01", "one.ini"}, "--until goes with --report"},
         }) {
        const StationResult refused = run_station(dir.path(), r.args);
        EXPECT_EQ(refused.exit_code, 2) << r.message;
        EXPECT_EQ(refused.err, "kestrin-station: " + r.message + "\n");
        EXPECT_EQ(refused.out, "");
    }
    EXPECT_EQ(all_records(dir.path("records.sqlite")).size(), 1u);

    // The report of the one record; and of records that cannot be read at all.
    const StationResult reported = run_station(dir.path(), {"--report", "out.html", "--since", "2026-01-01", "one.ini"});
    EXPECT_EQ(reported.exit_code, 0) << reported.err;
    EXPECT_EQ(reported.out, "report written to out.html\n");
    EXPECT_NE(file_text(dir.path("out.html")).find("<td class=\"num units\">1</td>"), std::string::npos);
    QDir().mkpath(QString::fromStdString(dir.path("folder.sqlite")));
    dir.write("broken.ini", "[station]\nrecords=folder.sqlite\n[units]\nT1=" + dir.path("T1.tty") + "\n");
    const StationResult broken = run_station(dir.path(), {"--report", "b.html", "broken.ini"});
    EXPECT_EQ(broken.exit_code, 2);
    EXPECT_TRUE(broken.err.starts_with("kestrin-station: records: " + dir.path("folder.sqlite") + ": ")) << broken.err;
}

// The station file and the configuration lines it depends on: what is read, and the one message
// that names the file and line of each fault.

#include "tools/station/station.h"
#include "tools/station/station_file.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const std::string kConfig = "[Serial]\nPort=COM3\nBaud=38400\nDataBits=8\nParity=0\nStopBits=1\n"
                            "Script=flash.sld\nReserved=\nMode=Automatic\n";

// The configuration's setting lines 1 to 25 with line `n` replaced by `line`.
std::string config_with(int n, const std::string& line)
{
    std::string text;
    for (int i = 1; i <= 25; ++i) {
        const std::string standard = i == 1 ? "Port=COM3" : i == 6 ? "Script=flash.sld" : i == 8 ? "Mode=Automatic"
                                             : i == 24             ? "UploadWord=XF"
                                                                   : "Reserved=";
        text += (i == n ? line : standard) + "\n";
    }
    return text;
}

} // namespace

TEST(StationFile, ReadsUnitsInOrderWithSettingsAndConfiguration)
{
    TempWorkDir dir;
    dir.write("LoaderDefault.ini", config_with(0, ""));
    dir.write("flash.sld", "_FI\n");
    const std::string path = dir.write("line.ini", "; bench\n[station]\nname = Bench A\nparallel=4\ntime_limit=60\n"
                                                   "records=db/r.sqlite\n\n[units]\n# fixtures\nB2=/dev/ttyUSB1\n"
                                                   "A1 = /dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0\r\n");
    const StationFileResult result = read_station_file(path);
    ASSERT_TRUE(result.settings) << result.error;
    const StationSettings& s = *result.settings;
    EXPECT_EQ(s.name, "Bench A");
    EXPECT_EQ(s.parallel, 4);
    EXPECT_EQ(s.time_limit_s, 60);
    EXPECT_EQ(s.folder, dir.path());
    EXPECT_EQ(s.records, dir.path("db/r.sqlite"));
    EXPECT_EQ(s.units, (std::vector<StationUnit>{
                           {"B2", "/dev/ttyUSB1"},
                           {"A1", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0"}}));
    EXPECT_EQ(s.com_number, 3);
    EXPECT_EQ(s.script, "flash.sld");
    EXPECT_EQ(s.upload_word, "XF");

    dir.write("LoaderDefault.ini", kConfig);
    const StationFileResult defaults = read_station_file(dir.write("Bench B.ini", "[units]\nX=/dev/ttyUSB0\n"));
    ASSERT_TRUE(defaults.settings) << defaults.error;
    EXPECT_EQ(defaults.settings->name, "Bench B");
    EXPECT_EQ(defaults.settings->parallel, 16);
    EXPECT_EQ(defaults.settings->time_limit_s, 900);
    EXPECT_EQ(defaults.settings->records, dir.path("records.sqlite"));
    EXPECT_EQ(defaults.settings->upload_word, "LF");
    EXPECT_EQ(defaults.settings->spool, "");

    const StationFileResult database = read_station_file(
        dir.write("line.b.ini", "[station]\nrecords = postgresql://line@127.0.0.1:5433/flashes\n[units]\nX=/dev/ttyUSB0\n"));
    ASSERT_TRUE(database.settings) << database.error;
    EXPECT_EQ(database.settings->records, "postgresql://line@127.0.0.1:5433/flashes");
    EXPECT_EQ(database.settings->spool, dir.path("line.b.spool.sqlite"));
}

TEST(StationFile, EachFaultIsNamedWithItsLine)
{
    struct Case {
        std::string station;
        std::string config;
        std::string message; // after "<dir>/"
    };
    const std::string units = "[units]\nA1=/dev/ttyUSB0\n";
    const std::vector<Case> cases = {
        {"[station]\nparallel=0\n" + units, kConfig, "s.ini line 2: parallel must be a whole number from 1 to 128"},
        {"[station]\nparallel=4x\n" + units, kConfig, "s.ini line 2: parallel must be a whole number from 1 to 128"},
        {"[station]\ntime_limit=-5\n" + units, kConfig,
         "s.ini line 2: time_limit must be a whole number of seconds from 1 to 86400"},
        {"[station]\nrecords=\n" + units, kConfig, "s.ini line 2: records names no file"},
        {"[station]\nrecords=postgresql://line:pw@localhost/flashes\n" + units, kConfig,
         "s.ini line 2: records: a password never goes in the station file: set KESTRIN_RECORDS_PASSWORD or use "
         "~/.pgpass"},
        {"[station]\nrecords=https://db/flashes\n" + units, kConfig,
         "s.ini line 2: records: only PostgreSQL databases can hold the records: write it as "
         "postgresql://USER@HOST:PORT/DBNAME"},
        {"[station]\nspeed=9\n" + units, kConfig,
         "s.ini line 2: unknown setting 'speed' (the settings are name, parallel, time_limit, records, start, require_serial)"},
        {"[stations]\n" + units, kConfig, "s.ini line 1: unknown section [stations] (the sections are [station] and [units])"},
        {units + "A2\n", kConfig, "s.ini line 3: a line must be [SECTION], NAME=VALUE or a comment beginning with ';'"},
        {units + "A1=/dev/ttyUSB1\n", kConfig, "s.ini line 3: 'A1' is given twice (first on line 2)"},
        {"[units]\nA 1=/dev/ttyUSB0\n", kConfig,
         "s.ini line 2: the unit name 'A 1' may hold only letters, digits, '-', '_' and '.', and not begin with '.'"},
        {"[units]\n../x=/dev/ttyUSB0\n", kConfig,
         "s.ini line 2: the unit name '../x' may hold only letters, digits, '-', '_' and '.', and not begin with '.'"},
        {"[units]\nA1=\n", kConfig, "s.ini line 2: unit A1 names no device"},
        {"A1=/dev/ttyUSB0\n", kConfig, "s.ini line 1: 'A1' is outside the sections [station] and [units]"},
        {"[station]\nname=x\n", kConfig, "s.ini: no units: list them under [units] as NAME=DEVICE"},
        {units, config_with(8, "Mode=Manual"),
         "LoaderDefault.ini setting line 8 (Mode=Manual): automatic mode is not selected; the station needs "
         "Mode=Automatic"},
        {units, "Port=COM1\n", "LoaderDefault.ini setting line 8 (missing): automatic mode is not selected; the "
                              "station needs Mode=Automatic"},
        {units, config_with(1, "Port=COMX"),
         "LoaderDefault.ini setting line 1 (Port=COMX): names no usable COM port (for example Port=COM1)"},
        {units, config_with(25, "Ethernet=TRUE"),
         "LoaderDefault.ini setting line 25 (Ethernet=TRUE): selects Ethernet; the station flashes its units over "
         "serial ports"},
        {units, config_with(6, "Script="), "LoaderDefault.ini setting line 6 (Script=): names no script"},
    };
    for (const Case& c : cases) {
        TempWorkDir dir;
        dir.write("LoaderDefault.ini", c.config);
        dir.write("flash.sld", "_FI\n");
        const StationFileResult result = read_station_file(dir.write("s.ini", c.station));
        EXPECT_FALSE(result.settings) << c.station;
        EXPECT_EQ(result.error, dir.path() + "/" + c.message) << c.station;
    }

    TempWorkDir dir;
    dir.write("s.ini", units);
    EXPECT_EQ(read_station_file(dir.path("s.ini")).error,
              dir.path("LoaderDefault.ini") +
                  ": cannot be read; the station folder must hold the configuration its units run with");
    dir.write("LoaderDefault.ini", config_with(6, "Script=gone.sld"));
    EXPECT_EQ(read_station_file(dir.path("s.ini")).error,
              dir.path("LoaderDefault.ini") + " setting line 6 (Script=gone.sld): the script gone.sld cannot be read in " +
                  dir.path());
    EXPECT_EQ(read_station_file(dir.path("none.ini")).error,
              dir.path("none.ini") + ": cannot be read (missing, not a regular file, or over 1 MiB)");
    EXPECT_EQ(read_station_file(dir.path()).error,
              dir.path() + ": cannot be read (missing, not a regular file, or over 1 MiB)");
}

// What the station warns of as it starts: records in clear over the network, never on the
// loopback or a Unix socket, and its own files that others can read. Nothing here connects.
TEST(StationFile, TheWarningsAtStart)
{
    TempWorkDir dir;
    StationSettings settings;
    settings.folder = dir.path();
    settings.records = dir.path("records.sqlite");
    settings.spool = dir.path("line.spool.sqlite");
    settings.ledger = dir.path("line.station.sqlite");
    EXPECT_EQ(station_warnings(settings), std::vector<QString>{});

    const struct {
        const char* records;
        std::vector<QString> warnings;
    } addresses[] = {
        {"postgresql://line@db.factory.lan/flashes?sslmode=disable",
         {"records: the connection to db.factory.lan is not encrypted"}},
        {"postgresql://line@10.1.2.3:5433/flashes?sslmode=disable",
         {"records: the connection to 10.1.2.3 is not encrypted"}},
        {"postgresql://line@db.factory.lan/flashes", {}},
        {"postgresql://line@127.0.0.9/flashes?sslmode=disable", {}},
        {"postgresql://line@[::1]/flashes?sslmode=disable", {}},
        {"postgresql://line@localhost/flashes?sslmode=disable", {}},
        {"postgresql://line@%2Fvar%2Frun%2Fpostgresql/flashes?sslmode=disable", {}},
    };
    for (const auto& address : addresses) {
        settings.records = address.records;
        EXPECT_EQ(station_warnings(settings), address.warnings) << address.records;
    }

    // Files of an earlier release keep their mode, and are named.
    settings.records = dir.path("records.sqlite");
    dir.write("records.sqlite", "");
    dir.write("line.station.sqlite", "");
    ::chmod(dir.path("records.sqlite").c_str(), 0644);
    ::chmod(dir.path("line.station.sqlite").c_str(), 0600);
    ::mkdir(dir.path("runs").c_str(), 0755);
    ::chmod(dir.path("runs").c_str(), 0750);
    EXPECT_EQ(station_warnings(settings),
              (std::vector<QString>{
                  QString::fromStdString("records: " + dir.path("records.sqlite") +
                                         " can be read by other users (mode 0644): chmod 600 keeps it to its owner"),
                  QString::fromStdString("records: " + dir.path("runs") +
                                         " can be read by other users (mode 0750): chmod 700 keeps it to its owner")}));
}

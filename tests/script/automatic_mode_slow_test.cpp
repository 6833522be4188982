// Automatic mode with the real program, unattended: the configured script runs against the
// simulated unit, the journal shows the run, and the program ends by itself with the status of
// its outcome, which the journal's last line states.

#include "tests/support/program_run.h"
#include "tests/unit-sim/sim_process.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::string kAutomaticIni = "Port=COM1\nBaud=38400\n8\n0\n1\nScript=auto.sld\n7\nMode=Automatic\n";

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The journal's last line, without its line feed.
std::string last_line(const std::string& journal)
{
    const size_t end = journal.size() - (journal.ends_with('\n') ? 1 : 0);
    const size_t start = journal.rfind('\n', end - 1);
    return journal.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

size_t count_of(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

struct EndingCase {
    const char* name;
    std::optional<std::vector<std::string>> unit; // simulator options; none: no unit at all
    std::optional<std::string> ini;               // none: no LoaderDefault.ini
    std::optional<std::string> script;            // auto.sld; none: missing
    int status;
    std::string result;
};

} // namespace

// Each way a run can end by itself: its exit status, and its result line, once, as the last line.
TEST(AutomaticMode, EndsWithTheStatusAndResultOfItsOutcome)
{
    const std::vector<std::string> plain_unit;
    const EndingCase cases[] = {
        {"a good run", plain_unit, kAutomaticIni, "_TC \"^M\"\n_FI\n", 0, "result: pass"},
        {"a unit that refuses loader mode", std::vector<std::string>{"--normal-only"},
         kAutomaticIni, "_TC \"^M\"\n_FI\n", 1,
         "result: fail: Error! Unit not in Loader Mode! Exiting script"},
        {"a missing image, the script going on to its end", plain_unit, kAutomaticIni,
         "_TC \"^M\"\n_LF missing.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n", 1,
         "result: fail: Error! Unable to open file missing.bin. Cannot upload file."},
        {"no unit", std::nullopt, kAutomaticIni, "_FI\n", 2,
         "result: fail: Error!! COM port communication failed. Please check RS232 connection/INI "
         "settings. Exiting application"},
        {"a missing script", plain_unit, kAutomaticIni, std::nullopt, 3,
         "result: fail: Error opening file auto.sld for read."},
        {"a missing configuration", plain_unit, std::nullopt, "_FI\n", 3,
         "result: fail: Error opening file LoaderDefault.ini for read."},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir work;
        const std::string dir = work.path().toStdString();
        std::unique_ptr<SimProcess> sim;
        if (c.unit) {
            std::vector<std::string> args{"--pty", dir + "/com1"};
            args.insert(args.end(), c.unit->begin(), c.unit->end());
            sim = std::make_unique<SimProcess>(args);
            ASSERT_TRUE(sim->started()) << sim->errors();
        }
        if (c.ini)
            write_file(dir + "/LoaderDefault.ini", *c.ini);
        if (c.script)
            write_file(dir + "/auto.sld", *c.script);
        const ProgramResult result =
            run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")}}, 120000);
        ASSERT_TRUE(result.finished) << result.journal;
        EXPECT_EQ(result.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(result.exitCode, c.status) << result.journal;
        EXPECT_EQ(last_line(result.journal), c.result) << result.journal;
        EXPECT_EQ(count_of(result.journal, "result: "), 1u) << result.journal;
    }
}

TEST(AutomaticMode, RunsTheConfiguredScriptUnattendedAndEnds)
{
    QTemporaryDir work;
    const std::string dir = work.path().toStdString();
    SimProcess sim({"--pty", dir + "/com1", "--save-dir", dir});
    ASSERT_TRUE(sim.started()) << sim.errors();
    write_file(dir + "/LoaderDefault.ini",
               "Port=COM1\nBaud=38400\nDataBits=8\nParity=0\nStopBits=1\nScript=auto.sld\n"
               "Reserved=\nMode=Automatic\n");
    write_file(dir + "/auto.sld", "; flash one image\r\n_TC \"^M\"\r\n_LP 1\r\n_LF image.bin\r\n"
                                  "_LA 0x10000\r\n_LV V2.1\r\n_LD\r\n_FI\r\n");
    const std::string image(4500, '\x5a');
    write_file(dir + "/image.bin", image);

    const ProgramResult result = run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")}},
                                             120000);
    ASSERT_TRUE(result.finished) << result.journal;
    EXPECT_EQ(result.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(journal_lines(result.journal),
              "status: Established communication on COM 1\n"
              "status: Uploading file(s). Please wait....\n"
              "status: Reading script file. Please wait....\n"
              "status: SUCCESS. Reading script file complete\n"
              "status:  \n"
              "result: pass\n");
    std::ifstream saved(dir + "/image-1.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), image);
    EXPECT_TRUE(sim.waitForEvent("checksum ok", std::chrono::seconds(5)));
}

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
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kAutomaticIni = "Port=COM1\nBaud=38400\n8\n0\n1\nScript=auto.sld\n7\nMode=Automatic\n";

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> lines_beginning(const std::string& journal, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(journal);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            lines.push_back(line.substr(prefix.size()));
    return lines;
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
        {"a good run", plain_unit, kAutomaticIni, "_TC \"LOADR^M\"\n_FI\n", 0, "result: pass"},
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
    // Progress lines come as the time between blocks has it; the others are fixed.
    std::string journal;
    for (const std::string& line : lines_beginning(journal_lines(result.journal), ""))
        if (!line.starts_with("progress: "))
            journal += line + "\n";
    EXPECT_EQ(journal, "status: Established communication on COM 1\n"
                       "status: Uploading file(s). Please wait....\n"
                       "status: Reading script file. Please wait....\n"
                       "upload: image.bin: LF 0x10000 4500 2e08 V2.1 -> complete\n"
                       "status: SUCCESS. Reading script file complete\n"
                       "status:  \n"
                       "result: pass\n");
    std::ifstream saved(dir + "/image-1.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), image);
    EXPECT_TRUE(sim.waitForEvent("checksum ok", std::chrono::seconds(5)));
}

namespace {

// "N/TOTAL" -> N
long long sent_of(const std::string& progress)
{
    return std::stoll(progress.substr(0, progress.find('/')));
}

long long event_number(const SimProcess& sim, const std::string& name)
{
    for (const std::string& event : sim.events())
        if (event.starts_with(name + " "))
            return std::stoll(event.substr(name.size() + 1));
    return -1;
}

// The header line as the unit received it.
std::string received_header(const SimProcess& sim)
{
    for (const std::string& event : sim.events())
        if (event.starts_with("command LF "))
            return event.substr(std::string("command ").size());
    return {};
}

// An automatic run of `script` with an image of `length` bytes against the simulator.
struct UploadRun {
    UploadRun(std::vector<std::string> sim_options, const std::string& script, size_t length)
    {
        std::vector<std::string> args{"--pty", dir + "/com1"};
        args.insert(args.end(), sim_options.begin(), sim_options.end());
        sim = std::make_unique<SimProcess>(args);
        write_file(dir + "/LoaderDefault.ini", kAutomaticIni);
        write_file(dir + "/auto.sld", script);
        std::string image(length, '\0');
        for (size_t i = 0; i < length; ++i)
            image[i] = static_cast<char>(i * 7 % 253);
        write_file(dir + "/image.bin", image);
        result = run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")}}, 120000);
    }

    QTemporaryDir work;
    std::string dir = work.path().toStdString();
    std::unique_ptr<SimProcess> sim;
    ProgramResult result;
};

// The loader-mode command in _TC's own text spares the probe for a loader prompt that cannot come.
const std::string kUploadScript = "_TC \"LOADR^M\"\n_LP 1\n_LF image.bin\n_LA 0x10000\n_LV V2.1\n_LD\n_FI\n";

} // namespace

// The image is larger than what a pseudo-terminal buffers, so the transfer keeps pace with the
// unit's line for most of it and its progress lines have to be held back.
TEST(AutomaticMode, TellsTheCallerTheAnswerTheProgressAndTheHeaderOfAnUpload)
{
    constexpr long long kLength = 200000;
    UploadRun run({"--baud", "921600", "--reply", "VER=Version 2.03"}, "_QC \"VER\"\n" + kUploadScript,
                  kLength);
    ASSERT_TRUE(run.result.finished) << run.result.journal;
    EXPECT_EQ(run.result.exitCode, 0) << run.result.journal;
    EXPECT_EQ(last_line(run.result.journal), "result: pass");
    EXPECT_EQ(lines_beginning(run.result.journal, "answer: "),
              std::vector<std::string>{"Version 2.03"});

    const std::vector<std::string> progress = lines_beginning(run.result.journal, "progress: image.bin ");
    ASSERT_GE(progress.size(), 2u) << run.result.journal;
    EXPECT_EQ(progress.front(), "2000/200000");
    EXPECT_EQ(progress.back(), "200000/200000");
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_LT(sent_of(progress[i - 1]), sent_of(progress[i])) << progress[i];
    // The first line, then at most one per 500 ms until the last block left the computer (which
    // is before the unit's last byte, one more for when the unit's first byte came late), and the
    // last: far fewer than the 100 blocks.
    const long long image_ms = event_number(*run.sim, "image-ms");
    ASSERT_GT(image_ms, 0);
    EXPECT_LE(static_cast<long long>(progress.size()), 3 + image_ms / 500) << run.result.journal;

    const std::string header = received_header(*run.sim);
    EXPECT_TRUE(header.starts_with("LF 0x10000 200000 ")) << header;
    EXPECT_EQ(lines_beginning(run.result.journal, "upload: "),
              std::vector<std::string>{"image.bin: " + header + " -> complete"});
}

// Whatever else the lost device interrupts, the transfer is cut short: the unit takes 3000 bytes
// and vanishes, and far more than a pseudo-terminal buffers is still to go.
TEST(AutomaticMode, ALinkDroppedInTheMiddleOfAnImageFailsTheRun)
{
    constexpr long long kLength = 262144;
    UploadRun run({"--drop-after", "3000"}, kUploadScript, kLength);
    ASSERT_TRUE(run.result.finished) << run.result.journal;
    EXPECT_EQ(run.result.exitCode, 1) << run.result.journal;
    EXPECT_TRUE(last_line(run.result.journal).starts_with("result: fail: ")) << run.result.journal;
    EXPECT_EQ(lines_beginning(run.result.journal, "upload: "),
              std::vector<std::string>{"image.bin: " + received_header(*run.sim) + " -> incomplete"});
    const std::vector<std::string> progress = lines_beginning(run.result.journal, "progress: image.bin ");
    ASSERT_FALSE(progress.empty()) << run.result.journal;
    EXPECT_LT(sent_of(progress.back()), kLength);
    EXPECT_TRUE(run.sim->waitForEvent("dropped after 3000", std::chrono::seconds(5)));
}

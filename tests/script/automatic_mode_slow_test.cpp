// Automatic mode with the real program, unattended: the configured script runs against the
// simulated unit, the journal shows the run, and the program ends by itself with the status of
// its outcome, which the journal's last line states.

#include "tests/support/program_run.h"
#include "tests/unit-sim/sim_process.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using Lines = std::vector<std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;

namespace {

const std::string kAutomaticIni = "Port=COM1\nBaud=38400\n8\n0\n1\nScript=auto.sld\n7\nMode=Automatic\n";
// The loader-mode command in _TC's own text spares the probe for a loader prompt that cannot come.
const std::string kUploadScript = "_TC \"LOADR^M\"\n_LP 1\n_LF image.bin\n_LA 0x10000\n_LV V2.1\n_LD\n_FI\n";

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The lines that begin with `prefix`, without it.
Lines lines_beginning(const std::string& journal, const std::string& prefix)
{
    Lines lines;
    std::istringstream in(journal);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            lines.push_back(line.substr(prefix.size()));
    return lines;
}

std::string sha256_of(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

// A program's journal through a pipe of the test's own, whose reading end the test may close.
class JournalPipe {
public:
    JournalPipe()
    {
        if (::pipe2(ends_, O_CLOEXEC) != 0)
            ends_[0] = ends_[1] = -1;
    }
    ~JournalPipe()
    {
        closeReader();
        closeWriter();
    }
    // For the child: its standard error is the pipe.
    std::function<void()> inChild() const
    {
        return [fd = ends_[1]] { ::dup2(fd, STDERR_FILENO); };
    }
    void closeWriter()
    {
        if (ends_[1] >= 0)
            ::close(ends_[1]);
        ends_[1] = -1;
    }
    void closeReader()
    {
        if (ends_[0] >= 0)
            ::close(ends_[0]);
        ends_[0] = -1;
    }
    // Reads until a line beginning with `prefix` has come, or to the journal's end without one.
    std::string readUntil(const std::optional<std::string>& prefix)
    {
        std::string journal;
        char chunk[4096];
        ssize_t count;
        while ((!prefix || journal.find("\n" + *prefix) == std::string::npos) &&
               (count = ::read(ends_[0], chunk, sizeof chunk)) > 0)
            journal.append(chunk, static_cast<std::size_t>(count));
        return journal;
    }

private:
    int ends_[2];
};

std::string image_of(size_t length)
{
    std::string image(length, '\0');
    for (size_t i = 0; i < length; ++i)
        image[i] = static_cast<char>(i * 7 % 253);
    return image;
}

// One automatic run in a directory of its own: the simulator with `unit` options on COM1 (none:
// no unit at all) and `files`, then the program until it ends.
struct AutomaticRun {
    AutomaticRun(const std::optional<Lines>& unit, const Files& files)
    {
        if (unit) {
            Lines args{"--pty", dir + "/com1"};
            args.insert(args.end(), unit->begin(), unit->end());
            sim = std::make_unique<SimProcess>(args);
        }
        for (const auto& [name, bytes] : files)
            write_file(dir + "/" + name, bytes);
        result = run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")}}, 120000);
    }
    // The simulator's next event `name`, without the name (events are read in order).
    std::string event(const std::string& name) const
    {
        const auto found = sim->waitForEvent(name, std::chrono::seconds(5));
        return found ? found->substr(name.size() + 1) : "";
    }

    QTemporaryDir work;
    std::string dir = work.path().toStdString();
    std::unique_ptr<SimProcess> sim;
    ProgramResult result;
};

struct EndingCase {
    const char* name;
    std::optional<Lines> unit;
    Files files;
    int status;
    std::string result;
};

} // namespace

// Each way a run can end by itself: its exit status, and its result line, once, as the last line.
TEST(AutomaticMode, EndsWithTheStatusAndResultOfItsOutcome)
{
    const std::string ini = kAutomaticIni;
    const EndingCase cases[] = {
        {"a good run", Lines{}, {{"LoaderDefault.ini", ini}, {"auto.sld", "_TC \"LOADR^M\"\n_FI\n"}}, 0,
         "pass"},
        {"a unit that refuses loader mode", Lines{"--normal-only"},
         {{"LoaderDefault.ini", ini}, {"auto.sld", "_TC \"^M\"\n_FI\n"}}, 1,
         "fail: Error! Unit not in Loader Mode! Exiting script"},
        {"a missing image, the script going on to its end", Lines{},
         {{"LoaderDefault.ini", ini}, {"auto.sld", "_TC \"LOADR^M\"\n_LF missing.bin\n_LA 0x10000\n_LD\n_FI\n"}},
         1, "fail: Error! Unable to open file missing.bin. Cannot upload file."},
        {"no unit", std::nullopt, {{"LoaderDefault.ini", ini}}, 2,
         "fail: Error!! COM port communication failed. Please check RS232 connection/INI settings. "
         "Exiting application"},
        {"a missing script", Lines{}, {{"LoaderDefault.ini", ini}}, 3,
         "fail: Error opening file auto.sld for read."},
        {"a missing configuration", Lines{}, {{"auto.sld", "_FI\n"}}, 3,
         "fail: Error opening file LoaderDefault.ini for read."},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const AutomaticRun run(c.unit, c.files);
        const std::string& journal = run.result.journal;
        ASSERT_TRUE(run.result.finished) << journal;
        EXPECT_EQ(run.result.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(run.result.exitCode, c.status) << journal;
        EXPECT_EQ(lines_beginning(journal, "result: "), Lines{c.result}) << journal;
        EXPECT_TRUE(journal.ends_with("result: " + c.result + "\n")) << journal;
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

// The image is larger than what a pseudo-terminal buffers, so the transfer keeps pace with the
// unit's line for most of it and its progress lines have to be held back.
TEST(AutomaticMode, TellsTheCallerTheAnswerTheProgressAndTheHeaderOfAnUpload)
{
    const std::string script = "_QC \"VER\"\n" + kUploadScript;
    const AutomaticRun run(Lines{"--baud", "921600", "--reply", "VER=Version 2.03"},
                           {{"LoaderDefault.ini", kAutomaticIni}, {"auto.sld", script}, {"image.bin", image_of(200000)}});
    const std::string& journal = run.result.journal;
    EXPECT_EQ(run.result.exitCode, 0) << journal;
    EXPECT_TRUE(journal.ends_with("\nresult: pass\n")) << journal;
    // The exact bytes: the program's version first, the script as it was read, the image as _LA
    // measured it.
    EXPECT_TRUE(journal.starts_with("kestrin: " KESTRIN_VERSION "\n")) << journal;
    EXPECT_EQ(lines_beginning(journal, "script: "), Lines{"auto.sld: " + sha256_of(script)});
    EXPECT_EQ(lines_beginning(journal, "image: "), Lines{"image.bin: 200000 " + sha256_of(image_of(200000))});
    EXPECT_EQ(lines_beginning(journal, "answer: "), Lines{"Version 2.03"});
    EXPECT_EQ(lines_beginning(journal, "upload: "),
              Lines{"image.bin: LF " + run.event("command LF") + " -> complete"});

    const Lines progress = lines_beginning(journal, "progress: image.bin ");
    ASSERT_GE(progress.size(), 2u) << journal;
    EXPECT_EQ(progress.front(), "2000/200000");
    EXPECT_EQ(progress.back(), "200000/200000");
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_LT(std::stoll(progress[i - 1]), std::stoll(progress[i]));
    // The first line, at most one per 500 ms until the last block left the computer (before the
    // unit's last byte; one more for a first byte that the unit took late), and the last: far
    // fewer than the 100 blocks.
    EXPECT_LE(progress.size(), 3 + std::stoul(run.event("image-ms")) / 500) << journal;
}

// Whatever else the lost device interrupts, the transfer is cut short: the unit takes 3000 bytes
// and vanishes, and far more than a pseudo-terminal buffers is still to go.
TEST(AutomaticMode, ALinkDroppedInTheMiddleOfAnImageFailsTheRun)
{
    const AutomaticRun run(Lines{"--drop-after", "3000"}, {{"LoaderDefault.ini", kAutomaticIni},
                                                          {"auto.sld", kUploadScript},
                                                          {"image.bin", image_of(262144)}});
    const std::string& journal = run.result.journal;
    EXPECT_EQ(run.result.exitCode, 1) << journal;
    EXPECT_TRUE(lines_beginning(journal, "").back().starts_with("result: fail: ")) << journal;
    EXPECT_EQ(lines_beginning(journal, "upload: "),
              Lines{"image.bin: LF " + run.event("command LF") + " -> incomplete"});
    const Lines progress = lines_beginning(journal, "progress: image.bin ");
    ASSERT_FALSE(progress.empty()) << journal;
    EXPECT_LT(std::stoll(progress.back()), 262144);
    EXPECT_EQ(run.event("dropped after"), "3000");
}

// Mid-image, at the unit's own 38400 baud: a stop signal ends the run as a failed one, with the
// image reported incomplete; a journal whose reader has gone ends it the same way.
TEST(AutomaticMode, AStopSignalOrALostJournalEndsTheRunAsAFailedOne)
{
    for (const bool journal_lost : {false, true}) {
        SCOPED_TRACE(journal_lost ? "the journal's reader gone" : "SIGTERM");
        QTemporaryDir work;
        const std::string dir = work.path().toStdString();
        SimProcess sim({"--pty", dir + "/com1", "--baud", "38400"});
        ASSERT_TRUE(sim.started()) << sim.errors();
        write_file(dir + "/LoaderDefault.ini", kAutomaticIni);
        write_file(dir + "/auto.sld", kUploadScript);
        write_file(dir + "/image.bin", image_of(32768));
        JournalPipe pipe;
        QProcess process;
        start_kestrin(process, dir, {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")}}, pipe.inChild());
        pipe.closeWriter();
        std::string journal = pipe.readUntil("progress: image.bin ");
        ASSERT_TRUE(journal.find("progress: ") != std::string::npos) << journal;
        if (journal_lost)
            pipe.closeReader();
        else
            ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        ASSERT_TRUE(process.waitForFinished(60000)) << journal;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        // The port is free at once.
        const int port = ::open((dir + "/com1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(port, 0);
        EXPECT_EQ(::flock(port, LOCK_EX | LOCK_NB), 0);
        ::close(port);
        if (journal_lost)
            continue;
        journal += pipe.readUntil(std::nullopt);
        EXPECT_EQ(lines_beginning(journal, "upload: "),
                  Lines{"image.bin: LF " + sim.waitForEvent("command LF", std::chrono::seconds(5)).value_or("?").substr(11) +
                        " -> incomplete"});
        EXPECT_TRUE(journal.ends_with("\nresult: fail: stopped by SIGTERM\n")) << journal;
    }
}

// The real program in automatic, unattended mode against files and a unit that would hang a
// naive reader or wait: a pipe as the image, a device or a pipe as the script, a device or a
// pipe as the configuration, and a unit that floods NUL bytes without ever showing a prompt.
// Each run ends with the message that says why, with the status and result line of its outcome,
// and the unit hears nothing but what the script asked for.

#include "tests/link/link_test_support.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/program_run.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kStart = "status: Established communication on COM 1\n"
                           "status: Uploading file(s). Please wait....\n"
                           "status: Reading script file. Please wait....\n";
const std::string kAutomaticIni = "Port=COM1\nBaud=38400\n8\n0\n1\nScript=auto.sld\n7\nMode=Automatic\n";

// A working directory with the simulated unit on COM1 and the files of one run.
struct HostileRun {
    explicit HostileRun(std::vector<std::string> sim_options = {})
        : unit(tmp.path().toStdString(), "com1", std::move(sim_options))
    {
    }
    std::string path(const std::string& name) const { return tmp.path().toStdString() + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    ProgramResult run(int timeout_ms = 120000) const
    {
        return run_kestrin(tmp.path().toStdString(), environment(), timeout_ms);
    }
    ProgramEnvironment environment() const { return {{"KESTRIN_COM1", QString::fromStdString(unit.pty)}}; }

    QTemporaryDir tmp;
    SimUnit unit;
};

void expect_clean_end(const ProgramResult& result, int status)
{
    ASSERT_TRUE(result.finished) << result.journal;
    EXPECT_EQ(result.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(result.exitCode, status);
}

} // namespace

TEST(HostileFiles, AnImageThatIsAPipeIsRefusedAndTheChainSendsNoHeader)
{
    HostileRun run;
    run.write("LoaderDefault.ini", kAutomaticIni);
    run.write("auto.sld", "_SC \"LOADR\"\n_LF pipe.bin\n_LA 0x10000\n_LV DATE\n_LD\n_FI\n");
    ASSERT_TRUE(make_non_regular(run.path("pipe.bin"), NonRegular::fifo));
    const ProgramResult result = run.run();
    expect_clean_end(result, 1);
    EXPECT_EQ(journal_lines(result.journal),
              kStart + "message: Error! Unable to open file pipe.bin. Cannot upload file.\n"
                       "status: SUCCESS. Reading script file complete\n"
                       "status:  \n"
                       "result: fail: Error! Unable to open file pipe.bin. Cannot upload file.\n");
    EXPECT_TRUE(wire_reads(run.unit, "\rLOADR\r")); // the start-up's check and the one command
}

TEST(HostileFiles, AScriptThatIsADeviceOrAPipeIsRefusedAndTheRunEnds)
{
    for (NonRegular kind : {NonRegular::device, NonRegular::fifo}) {
        SCOPED_TRACE(name_of(kind));
        HostileRun run;
        run.write("LoaderDefault.ini", kAutomaticIni);
        ASSERT_TRUE(make_non_regular(run.path("auto.sld"), kind));
        const ProgramResult result = run.run();
        expect_clean_end(result, 3);
        EXPECT_EQ(journal_lines(result.journal), kStart + "message: Error opening file auto.sld for read.\n"
                                                          "status:  \n"
                                                          "status:  \n"
                                                          "result: fail: Error opening file auto.sld for read.\n");
        EXPECT_TRUE(wire_reads(run.unit, "\r"));
    }
}

// Such a configuration reads as a missing one: no automatic mode and no message. The start-up
// completes; then, with nobody there to choose a script, the unattended run ends.
TEST(HostileFiles, AConfigurationThatIsADeviceOrAPipeReadsAsMissingAndTheStartUpCompletes)
{
    for (NonRegular kind : {NonRegular::device, NonRegular::fifo}) {
        SCOPED_TRACE(name_of(kind));
        HostileRun run;
        ASSERT_TRUE(make_non_regular(run.path("LoaderDefault.ini"), kind));
        const ProgramResult result = run.run();
        expect_clean_end(result, 3);
        EXPECT_EQ(journal_lines(result.journal),
                  "status: Established communication on COM 1\n" // the search of the ports ran
                  "result: fail: Error opening file LoaderDefault.ini for read.\n");
        EXPECT_TRUE(wire_reads(run.unit, "\r"));
    }
}

TEST(HostileUnit, AFloodOfNulBytesWithoutAPromptEndsTheRunWithTheLoaderModeMessage)
{
    HostileRun run({"--quiet-after", "1", "--stream", "0,65536"});
    run.write("LoaderDefault.ini", kAutomaticIni);
    run.write("auto.sld", "_TC \"^M\"\n_FI\n");
    const ProgramResult result = run.run(240000);
    expect_clean_end(result, 1);
    EXPECT_EQ(journal_lines(result.journal),
              kStart + "message: Error! Unable to get response from unit(_TC)! Exiting script\n"
                       "status:  \n"
                       "status:  \n"
                       "result: fail: Error! Unable to get response from unit(_TC)! Exiting script\n");
    // The check, then _TC: its text, the loader command, three probes and the normal-prompt probe.
    EXPECT_TRUE(wire_reads(run.unit, "\r\rLOADR\r\n\r\r\r\r"));
}

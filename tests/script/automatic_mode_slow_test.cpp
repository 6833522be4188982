// Automatic mode with the real program, unattended: the configured script runs against the
// simulated unit, the journal shows the run, and the program ends by itself with status 0.

#include "tests/support/program_run.h"
#include "tests/unit-sim/sim_process.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

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
              "status:  \n");
    std::ifstream saved(dir + "/image-1.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), image);
    EXPECT_TRUE(sim.waitForEvent("checksum ok", std::chrono::seconds(5)));
}

// The real program: automatic mode without a unit ends with status 2 and says why last.

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {
const std::string kNoUnit = "Error!! COM port communication failed. Please check RS232 "
                            "connection/INI settings. Exiting application";
}

TEST(Program, AutomaticModeWithoutASerialPortReportsAndExitsWithTwo)
{
    TempWorkDir dir;
    dir.write("LoaderDefault.ini", "[Port]\nCOM=COM1\n2\n3\n4\n5\nScript=none.sld\n7\nMode=Automatic\n");
    const ProgramResult result =
        run_kestrin(dir.path(), {{"KESTRIN_COM1", dir.path("no-such-device").c_str()}});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(journal_lines(result.journal),
              "message: " + kNoUnit + "\nresult: fail: " + kNoUnit + "\n");
}

TEST(Program, EthernetModeWithAutomaticModeEndsTheSameWay)
{
    TempWorkDir dir;
    std::string ini = "1\n2\n3\n4\n5\n6\n7\nMode=AUTOMATIC\n";
    for (int line = 9; line <= 24; ++line)
        ini += std::to_string(line) + "\n";
    ini += "Enet= TRUE\n";
    dir.write("LoaderDefault.ini", ini);
    const ProgramResult result =
        run_kestrin(dir.path(), {{"KESTRIN_COM1", dir.path("no-such-device").c_str()}});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(journal_lines(result.journal),
              "message: " + kNoUnit + "\nresult: fail: " + kNoUnit + "\n");
}

// The real program: automatic mode without a unit ends with status 2 and says why last; the
// command line.

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

#include <QDir>

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

namespace {

struct CommandLineCase {
    const char* program;
    QStringList args;
    int status;
    std::string out; // the start of standard output
    std::string err;
};

} // namespace

// Handled before anything else: on a platform that does not exist, in an empty directory, any
// window or application object would end the program with Qt's own complaint.
TEST(Program, HelpVersionAndUnknownOptionsEndAtOnceWithoutAWindow)
{
    const CommandLineCase cases[] = {
        {"kestrin", {"--version"}, 0, "kestrin 2.00\n", ""},
        {"kestrin", {"--help"}, 0, "usage: kestrin [--help | --version]\n", ""},
        {"kestrin", {"--frobnicate"}, 2, "", "kestrin: unknown option '--frobnicate' (see kestrin --help)\n"},
        {"kestrin", {"--help", "auto.sld"}, 2, "", "kestrin: unknown option 'auto.sld' (see kestrin --help)\n"},
        {"kestrin-unit-sim", {"--version"}, 0, "kestrin-unit-sim 2.00\n", ""},
    };
    for (const CommandLineCase& c : cases) {
        SCOPED_TRACE(c.program + (" " + c.args.join(' ').toStdString()));
        TempWorkDir dir;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("KESTRIN_UNATTENDED");
        environment.insert("QT_QPA_PLATFORM", "no-such-platform");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(dir.path()));
        process.start(QString(KESTRIN_BUILD_DIR "/") + c.program, c.args);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status);
        EXPECT_TRUE(process.readAllStandardOutput().toStdString().starts_with(c.out));
        EXPECT_EQ(process.readAllStandardError().toStdString(), c.err);
        EXPECT_TRUE(QDir(QString::fromStdString(dir.path())).isEmpty());
    }
}

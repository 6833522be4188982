// Queries and conditions against the simulated unit: what the capture keeps of a reply, replies
// that try to break it, and the example script run unattended. Captures that get no prompt wait
// out their 2000 polls, and a nested _TC against a silent unit its 7.4 s probes. The units echo
// nothing: an echo is flushed only when it comes within the 200 ms before the carriage return,
// and a loaded machine may take longer to send it.

#include "tests/script/unit_run.h"

#include "app/fixed_text.h"
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {
const std::string kNoResponse = "Error! No response detected with _QC command";
}

TEST(QueryReplies, AreCapturedWholeAndTheScriptBranchesOnThem)
{
    UnitRun run({"--no-echo", "--reply", "VER=Version 2.10 build 7", "--reply",
                 "ECHO=#>v2.10 build 7", "--reply", "SHORT=V 2.10"});
    EXPECT_EQ(run.script("_QC \"VER^Mfull\"\n_CE \"Version 2.10 build 7\" _DM \"equal\"\n"
                         "_QC \"ECHO\"\n_CE \"#>v2.10 build 7\" _DM \"early prompts stay\"\n"
                         "_QC \"SHORT\"\n_CE \"Version 2.10 build 7\" _DM \"never\"\n"
                         "_CE \"V 2.10\" _CS \"\" _CS \"V\" _DM \"deep\"\n"
                         "_CE \"V 2.10\" _FI\n_DM \"never: after the end\"\n"),
              1);
    EXPECT_TRUE(wire_reads(run, "VER full\rECHO\rSHORT\r"));
    EXPECT_EQ(run.fixture.dialogs.messages, (Strings{"equal", "early prompts stay", "deep"}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), "SUCCESS. Reading script file complete");
    EXPECT_STREQ(run.form().query_answer, "V 2.10");
    // _QC 1, _CE 2, _QC 1, _CE 2, _QC 1, _CE 1, four levels 4, _CE _FI 2
    EXPECT_EQ(run.form().script_line_no, 14);
}

TEST(QueryReplies, ASilentUnitGivesTheEmptyAnswerAndANestedTcStopsTheScript)
{
    UnitRun run({"--silent"});
    set_text(run.form().query_answer, "Version 2.10 from an earlier run");
    EXPECT_EQ(
        run.script("_QC \"VER\"\n_CE \"\" _DM \"empty\"\n_CN \"V\" _TC \"^M\"\n_DM \"never\"\n"),
        0);
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{kNoResponse, "empty",
                       "Error! Unable to get response from unit(_TC)! Exiting script"}));
    EXPECT_TRUE(wire_reads(run, "VER\r\rLOADR\r\n\r\r\r\r"));
    EXPECT_EQ(run.form().script_line_no, 3); // the stopped line keeps its slot
}

TEST(QueryReplies, HostileRepliesNeverOverflowOrHang)
{
    std::string zeros; // fits the buffer whole, so its answer does not hang on where chunks fall
    for (int i = 0; i < 900; ++i)
        zeros += "\\x00";
    UnitRun run({"--no-echo", "--reply", "NUL=ABC\\x00DEF", "--reply", "ZEROS=" + zeros,
                 "--reply", "LONG=" + std::string(5000, 'A'), "--reply", "EARLY=#1#2 then more"});
    EXPECT_EQ(run.script("_QC \"NUL\"\n_CE \"ABC\" _DM \"up to the first NUL\"\n_QC \"ZEROS\"\n"
                         "_QC \"EARLY\"\n_CE \"#1#2 then more\" _DM \"no early end\"\n"
                         "_QC \"LONG\"\n"),
              1);
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"up to the first NUL", kNoResponse, "no early end"}));
    const std::string long_answer = run.form().query_answer;
    EXPECT_FALSE(long_answer.empty());
    EXPECT_LT(long_answer.size(), sizeof run.form().query_answer);
    EXPECT_EQ(long_answer.find_first_not_of("A#"), std::string::npos) << long_answer;
    EXPECT_EQ(run.form().rx_capture_on, 0);
}

TEST(QueryExample, RunsUnattendedWithTheAnswerGivenInAdvance)
{
    QTemporaryDir work;
    const std::string dir = work.path().toStdString();
    SimProcess sim({"--pty", dir + "/com1", "--reply", "VER=Version 2.03"});
    std::filesystem::copy_file(KESTRIN_SOURCE_DIR "/examples/query.sld", dir + "/query.sld");
    std::ofstream(dir + "/LoaderDefault.ini")
        << "Port=COM1\nBaud=38400\nDataBits=8\nParity=0\nStopBits=1\nScript=query.sld\nX=\nMode="
           "Automatic\n";
    const ProgramResult result =
        run_kestrin(dir, {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")},
                          {"KESTRIN_ANSWERS", "cancel"}});
    ASSERT_TRUE(result.finished) << result.journal;
    EXPECT_EQ(journal_lines(result.journal), "status: Established communication on COM 1\n"
                                             "status: Uploading file(s). Please wait....\n"
                                             "status: Reading script file. Please wait....\n"
                                             "answer: Version 2.03\n"
                                             "question: Kestrin - Query: The unit runs an older "
                                             "version.\\rFlash Version 2.10 now? -> cancel\n"
                                             "message: Nothing was flashed.\n"
                                             "status: SUCCESS. Reading script file complete\n"
                                             "status:  \n"
                                             "result: pass\n");
}

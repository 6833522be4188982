// Queries and conditions against the simulated unit: what the capture keeps of a reply, how
// scripts branch on it, replies that try to break the capture, and the example script run by
// the real program unattended. Captures that get no prompt wait out their 2000 polls, and a
// nested _TC against a silent unit its 7.4 s probes.

#include "tests/script/unit_run.h"

#include "app/fixed_text.h"
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

const std::string kSuccess = "SUCCESS. Reading script file complete";
const std::string kNoResponse = "Error! No response detected with _QC command";

std::string repeated(const std::string& piece, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

// What a capture may leave in query_answer whatever the reply: terminated text that fits, with
// no carriage return or line feed.
void expect_answer_in_bounds(const TKestrinForm& form)
{
    const std::string_view answer = text_of(form.query_answer);
    EXPECT_LT(answer.size(), sizeof form.query_answer);
    EXPECT_EQ(answer.find_first_of("\r\n"), std::string_view::npos);
    EXPECT_EQ(form.rx_capture_on, 0);
    EXPECT_FALSE(form.CommandTimer->isActive());
}

} // namespace

TEST(QueryReplies, AreCapturedWholeAndTheScriptBranchesOnThem)
{
    UnitRun run({"--reply", "VER=Version 2.10 build 7", "--reply", "ECHO=#>v2.10 build 7",
                 "--reply", "SHORT=V 2.10"});
    EXPECT_EQ(run.script("_QC \"VER^Mfull\"\n"
                         "_CE \"Version 2.10 build 7\" _DM \"equal\"\n"
                         "_CE \"Version 2.10\" _DM \"never: only part of the answer\"\n"
                         "_QC \"ECHO\"\n"
                         "_CE \"#>v2.10 build 7\" _DM \"prompts before index 10 stay\"\n"
                         "_QC \"SHORT\"\n"
                         "_CE \"V 2.10\" _CS \"\" _CS \"V\" _DM \"deep\"\n"
                         "_CN \"\" _DM \"never: the empty text is in every answer\"\n"
                         "_CE \"V 2.10\" _FI\n"
                         "_DM \"never: after the end\"\n"),
              1);
    EXPECT_EQ(run.wire(), "VER full\rECHO\rSHORT\r");
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"equal", "prompts before index 10 stay", "deep"}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kSuccess);
    TKestrinForm& form = run.form();
    EXPECT_STREQ(form.query_answer, "V 2.10"); // the shorter answer replaced the longer one whole
    EXPECT_EQ(form.cmd_failed, 0);
    // _QC 1 + _CE 2 + _CE 1 + _QC 1 + _CE 2 + _QC 1 + four levels 4 + _CN 1 + _CE _FI 2
    EXPECT_EQ(form.script_line_no, 15);
    EXPECT_EQ(form.script_done, 1);
}

TEST(QueryReplies, ASilentUnitGivesTheEmptyAnswerAndANestedTcStopsTheScript)
{
    UnitRun run({"--silent"});
    set_text(run.form().query_answer, "Version 2.10 from an earlier run");
    EXPECT_EQ(run.script("_QC \"VER\"\n"
                         "_CE \"\" _DM \"no answer\"\n"
                         "_CN \"Version\" _TC \"^M\"\n"
                         "_DM \"never\"\n"),
              0);
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{kNoResponse, "no answer",
                       "Error! Unable to get response from unit(_TC)! Exiting script"}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), " ");
    EXPECT_EQ(run.wire(), "VER\r" "\rLOADR\r\n\r\r\r" "\r");
    EXPECT_STREQ(run.form().query_answer, "");
    EXPECT_EQ(run.form().script_line_no, 3); // the stopped line keeps its slot
}

TEST(QueryReplies, HostileRepliesNeverOverflowOrHang)
{
    {
        // ZEROS fits the buffer whole, so its answer does not hang on where the chunks fall.
        UnitRun run({"--reply", "NUL=ABC\\x00DEF", "--reply", "ZEROS=" + repeated("\\x00", 900),
                     "--reply", "LONG=" + std::string(3000, 'A'), "--reply", "EARLY=#1"});
        std::string long_answer;
        run.fixture.dialogs.onMessage = [&](const std::string& text) {
            if (text == "long")
                long_answer = run.form().query_answer;
        };
        EXPECT_EQ(run.script("_QC \"NUL\"\n_CE \"ABC\" _DM \"up to the first NUL\"\n"
                             "_QC \"ZEROS\"\n"
                             "_QC \"LONG\"\n_DM \"long\"\n"
                             "_QC \"EARLY\"\n_CE \"#1#\" _DM \"early prompts end nothing\"\n"),
                  1);
        EXPECT_EQ(run.fixture.dialogs.messages,
                  (Strings{"up to the first NUL", kNoResponse, "long", "early prompts end nothing"}));
        EXPECT_FALSE(long_answer.empty());
        EXPECT_LT(long_answer.size(), sizeof run.form().query_answer);
        EXPECT_EQ(long_answer.find_first_not_of("A#"), std::string::npos) << long_answer;
        EXPECT_EQ(run.form().cmd_failed, 1); // the last capture ended on its poll limit
        expect_answer_in_bounds(run.form());
    }
    {
        // A prompt at index 2, then thousands of bytes without any prompt.
        UnitRun run({"--reply", "EARLY=", "--flood", "20000"});
        EXPECT_EQ(run.script("_QC \"EARLY\"\n"), 1);
        EXPECT_EQ(run.fixture.dialogs.statuses.back(), kSuccess);
        EXPECT_EQ(run.form().cmd_failed, 1);
        EXPECT_GT(text_of(run.form().query_answer).size(), 0u);
        expect_answer_in_bounds(run.form());
    }
}

namespace {

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The example script in automatic mode, unattended, against a unit that answers VER.
ProgramResult run_query_example(const std::string& dir, const std::string& answers)
{
    for (const char* name : {"query.sld", "demo-image.bin"})
        std::filesystem::copy_file(std::string(KESTRIN_SOURCE_DIR "/examples/") + name,
                                   dir + "/" + name);
    write_file(dir + "/LoaderDefault.ini", "Port=COM1\nBaud=38400\nDataBits=8\nParity=0\n"
                                           "StopBits=1\nScript=query.sld\nReserved=\nMode=Automatic\n");
    return run_kestrin(dir,
                       {{"KESTRIN_COM1", QString::fromStdString(dir + "/com1")},
                        {"KESTRIN_ANSWERS", QString::fromStdString(answers)}},
                       120000);
}

const std::string kExampleQuestion =
    "question: Kestrin - Query: The unit runs an older version.\\rFlash Version 2.10 now? -> ";

} // namespace

TEST(QueryExample, AsksTheTechnicianAndFlashesOnlyAfterOk)
{
    QTemporaryDir work;
    const std::string dir = work.path().toStdString();
    {
        SimProcess sim({"--pty", dir + "/com1", "--reply", "VER=Version 2.03"});
        const ProgramResult result = run_query_example(dir, "cancel");
        ASSERT_TRUE(result.finished) << result.journal;
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(journal_lines(result.journal),
                  "status: Established communication on COM 1\n"
                  "status: Uploading file(s). Please wait....\n"
                  "status: Reading script file. Please wait....\n" +
                      kExampleQuestion + "cancel\n"
                      "message: Nothing was flashed.\n"
                      "status: " + kSuccess + "\n"
                      "status:  \n");
    }
    QTemporaryDir work2;
    const std::string dir2 = work2.path().toStdString();
    SimProcess sim({"--pty", dir2 + "/com1", "--save-dir", dir2, "--reply", "VER=Version 2.03"});
    const ProgramResult result = run_query_example(dir2, "ok");
    ASSERT_TRUE(result.finished) << result.journal;
    EXPECT_EQ(journal_lines(result.journal),
              "status: Established communication on COM 1\n"
              "status: Uploading file(s). Please wait....\n"
              "status: Reading script file. Please wait....\n" +
                  kExampleQuestion + "ok\n"
                  "message: Version 2.10 is flashed. Restart the unit.\n"
                  "status: " + kSuccess + "\n"
                  "status:  \n");
    EXPECT_EQ(file_bytes(dir2 + "/image-1.bin"), file_bytes(KESTRIN_SOURCE_DIR "/examples/demo-image.bin"));
}

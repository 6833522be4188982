// The script reader's rules: line ends, Ctrl-Z, indentation, comments, slots, limits, the end of
// a run, and the button that starts it. Only commands that need no unit are used here.

#include "tests/script/script_run.h"
#include "tests/support/non_regular_files.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

const std::string kSuccess = "SUCCESS. Reading script file complete";
const std::string kTerminated = "Script file reading terminated by user/error(s).";

std::string slot(FormFixture& f, int n)
{
    return f.form().script_lines[n];
}

} // namespace

TEST(ScriptReader, AnEmptyFileEndsAtOnceWithSuccess)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, ""), 1);
    EXPECT_EQ(f.dialogs.statuses, (Strings{"Reading script file. Please wait....", kSuccess}));
    EXPECT_TRUE(f.dialogs.messages.empty());
    EXPECT_EQ(f.form().script_line_no, 0);
    EXPECT_TRUE(f.form().PickButton->isEnabled());
}

TEST(ScriptReader, CrLfAndLfFilesBehaveAlikeAndLoneCarriageReturnsVanish)
{
    for (const std::string& text : {std::string("_DM \"one\"\r\n_DM \"t\rwo\"\r\n"),
                                    std::string("_DM \"one\"\n_DM \"two\"\n")}) {
        FormFixture f;
        EXPECT_EQ(run_script(f, text), 1);
        EXPECT_EQ(f.dialogs.messages, (Strings{"one", "two"}));
        EXPECT_EQ(slot(f, 1), "_DM \"two\"");
        EXPECT_EQ(f.dialogs.statuses.back(), kSuccess);
    }
}

TEST(ScriptReader, CtrlZEndsTheFileAndNothingAfterItIsRead)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, "_DM \"before\"\n\x1a_DM \"after\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"before"}));

    // A command line that Ctrl-Z cuts off is carried out whole.
    FormFixture g;
    EXPECT_EQ(run_script(g, "_DM \"cut\"\x1a\n_DM \"after\"\n"), 1);
    EXPECT_EQ(g.dialogs.messages, (Strings{"cut"}));
}

TEST(ScriptReader, ALastLineWithoutLineFeedKeepsItsLastCharacter)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, "_DM \"first\"\n_DM \"last\""), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"first", "last"}));
    EXPECT_EQ(slot(f, 1), "_DM \"last\"");
    EXPECT_EQ(f.dialogs.statuses.back(), kSuccess);
}

TEST(ScriptReader, TheFirstUnderscoreOrSemicolonOfALineDecidesWhatItIs)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, "   _DM \"indented\"\n"
                            "xx\t_DM \"after text\"\n"
                            " ;_DM \"comment\"\n"
                            "; _DM \"comment too\"\n"
                            "a plain line\n"
                            "\n"
                            "_DM \"a;b_c\"\n"),
              1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"indented", "after text", "a;b_c"}));
    EXPECT_EQ(slot(f, 0), "_DM \"indented\"");
    EXPECT_EQ(slot(f, 1), "_DM \"after text\"");
    EXPECT_EQ(f.form().script_line_no, 3);
}

TEST(ScriptReader, UnknownAndLowerCaseKeywordsAreIgnoredButTakeASlot)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, "_XX\n_dm \"lower\"\n_\n_DM \"known\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"known"}));
    EXPECT_EQ(f.form().script_line_no, 4);
    EXPECT_EQ(slot(f, 0), "_XX");
    EXPECT_EQ(slot(f, 2), "_");
    EXPECT_EQ(f.dialogs.statuses.back(), kSuccess);
}

TEST(ScriptReader, FinishEndsTheRunWithSuccess)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, "_DM \"one\"\n_FI\n_DM \"never\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"one"}));
    EXPECT_EQ(f.form().script_done, 1);
    EXPECT_EQ(f.dialogs.statuses.back(), kSuccess);

    // The next run starts with script_done cleared.
    EXPECT_EQ(run_script(f, "_DM \"two\"\n"), 1);
    EXPECT_EQ(f.form().script_done, 0);
}

TEST(ScriptReader, ARaisedCancelFlagEndsTheRunBeforeTheNextCharacter)
{
    FormFixture f;
    f.dialogs.onMessage = [&](const std::string&) { f.windows->ProgressForm->cancel_flag = 1; };
    EXPECT_EQ(run_script(f, "_DM \"stop here\"\n_DM \"never\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"stop here"}));
    EXPECT_EQ(f.dialogs.statuses.back(), kTerminated);
}

TEST(ScriptReader, AFileThatDoesNotOpenIsReported)
{
    FormFixture f;
    f.form().script_path = f.dir.path("missing.sld");
    EXPECT_EQ(f.form().read_ini(), 0);
    const std::string expected = "Error opening file " + f.dir.path("missing.sld") + " for read.";
    EXPECT_EQ(f.dialogs.messages, (Strings{expected}));
    EXPECT_EQ(f.form().msg_text, expected);
    EXPECT_EQ(f.dialogs.statuses, (Strings{"Reading script file. Please wait....", " "}));
    EXPECT_TRUE(f.form().PickButton->isEnabled());
}

TEST(ScriptReader, APipeADeviceOrADirectoryIsReportedLikeAFileThatDoesNotOpen)
{
    FormFixture f;
    f.form().script_path = f.dir.path("odd.sld");
    for (NonRegular kind : kNonRegularKinds) {
        SCOPED_TRACE(name_of(kind));
        ASSERT_TRUE(make_non_regular(f.form().script_path, kind));
        f.dialogs.messages.clear();
        f.dialogs.statuses.clear();
        EXPECT_EQ(f.form().read_ini(), 0);
        EXPECT_EQ(f.dialogs.messages, (Strings{"Error opening file " + f.form().script_path + " for read."}));
        EXPECT_EQ(f.dialogs.statuses, (Strings{"Reading script file. Please wait....", " "}));
    }
}

TEST(ScriptReader, ButtonsStayDisabledWhileTheRunGoesOn)
{
    FormFixture f;
    bool pickEnabled = true;
    f.dialogs.onMessage = [&](const std::string&) { pickEnabled = f.form().PickButton->isEnabled(); };
    EXPECT_EQ(run_script(f, "_DM \"during\"\n"), 1);
    EXPECT_FALSE(pickEnabled);
    EXPECT_TRUE(f.form().PickButton->isEnabled());
    EXPECT_TRUE(f.form().UploadButton->isEnabled());
}

TEST(ScriptReaderLimits, ACommandLineOf199CharactersRunsAndALongerOneStopsTheRun)
{
    const std::string text199 = std::string(193, 'x'); // _DM "  + text + " = 199
    FormFixture f;
    EXPECT_EQ(run_script(f, "_DM \"" + text199 + "\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{text199}));

    FormFixture g;
    EXPECT_EQ(run_script(g, "_DM \"ok\"\n\n_DM \"" + text199 + "y\"\n_DM \"never\"\n"), 0);
    EXPECT_EQ(g.dialogs.messages,
              (Strings{"ok", "Error! Line 3 of the script is longer than 199 characters. Exiting script"}));
    EXPECT_EQ(g.dialogs.statuses.back(), " ");
    EXPECT_TRUE(g.form().PickButton->isEnabled());
}

TEST(ScriptReaderLimits, ThreeHundredCommandLinesRunAndTheNextOneStopsTheRun)
{
    std::string lines;
    for (int i = 0; i < TKestrinForm::kScriptSlots; ++i)
        lines += "_XX " + std::to_string(i) + "\n";
    FormFixture f;
    EXPECT_EQ(run_script(f, lines), 1);
    EXPECT_EQ(f.form().script_line_no, 300);
    EXPECT_EQ(slot(f, 299), "_XX 299");

    FormFixture g;
    EXPECT_EQ(run_script(g, lines + "_DM \"too many\"\n"), 0);
    EXPECT_EQ(g.dialogs.messages,
              (Strings{"Error! Script has more than 300 command lines. Exiting script"}));
    EXPECT_EQ(g.dialogs.statuses.back(), " ");
}

TEST(PickButton, CancellingTheDialogLeavesEverythingAsItWas)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.script_lines[0][0] = '_';
    form.script_line_no = 5;
    form.PickButtonClick();
    ASSERT_EQ(f.dialogs.openDirs.size(), 1u);
    EXPECT_EQ(f.dialogs.openDirs[0], std::filesystem::current_path().string());
    EXPECT_EQ(form.keepalive_on, 1);
    EXPECT_TRUE(form.CCHECKTimer1->isActive());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.script_line_no, 5);
    EXPECT_EQ(form.script_lines[0][0], '_');
    EXPECT_TRUE(f.dialogs.statuses.empty());
}

TEST(PickButton, RunsTheChosenScriptWithTheKeepAliveSuspendedAndTheHourglassShown)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.script_line_no = 7;
    f.windows->ProgressForm->cancel_flag = 1;
    f.dialogs.files.push_back(f.dir.write("chosen.sld", "_DM \"running\"\n"));
    bool keepalive = true, timer = true, hourglass = false;
    f.dialogs.onMessage = [&](const std::string&) {
        keepalive = form.keepalive_on;
        timer = form.CCHECKTimer1->isActive();
        hourglass = QGuiApplication::overrideCursor() &&
                    QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    };
    form.PickButtonClick();
    EXPECT_EQ(f.dialogs.messages, (Strings{"running"}));
    EXPECT_FALSE(keepalive);
    EXPECT_FALSE(timer);
    EXPECT_TRUE(hourglass);
    EXPECT_EQ(form.script_path, f.dir.path("chosen.sld"));
    EXPECT_EQ(form.script_line_no, 1); // the table was emptied before the run
    EXPECT_EQ(form.ini_open_initial_dir, "");
    EXPECT_EQ(f.dialogs.statuses.back(), kSuccess);
    EXPECT_EQ(form.keepalive_on, 1);
    EXPECT_TRUE(form.CCHECKTimer1->isActive());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

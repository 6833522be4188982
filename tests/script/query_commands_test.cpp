// The condition commands and the operator's question, without a unit: the compare rules, the
// answers that outlive a run, and the slots that nested commands take.

#include "tests/script/script_run.h"

#include "app/fixed_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

const std::string kTooManyLines = "Error! Script has more than 300 command lines. Exiting script";

// Command lines that take a slot each and do nothing.
std::string filler_lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "_XX\n";
    return lines;
}

} // namespace

TEST(ConditionCommands, CompareTheLastAnswerByteForByte)
{
    struct Case {
        const char* answer;
        const char* line;
        Strings messages;
        int slots_taken;
    };
    const Strings run{"run"};
    const Case cases[] = {
        {"V2.10", "_CE \"V2.10\" _DM \"run\"", run, 2},
        {"V2.10", "_CE \"V2.1\" _DM \"run\"", {}, 1},
        {"V2.10", "_CE \"v2.10\" _DM \"run\"", {}, 1},
        {"V2.10", "_CE \"V2.10\"_DM \"run\"", run, 2},
        {"", "_CE \"\" _DM \"run\"", run, 2},
        {"V2.10", "_CS \"2.1\"   _DM \"run\"", run, 2},
        {"V2.10", "_CS \"2.1 \" _DM \"run\"", {}, 1},
        {"V2.10", "_CS \"\" _DM \"run\"", run, 2},
        {"", "_CS \"\" _DM \"run\"", run, 2},
        {"V2.10", "_CN \"V3\" _DM \"run\"", run, 2},
        {"V2.10", "_CN \"V2\" _DM \"run\"", {}, 1},
        {"V2.10", "_CN \"\" _DM \"run\"", {}, 1},
        {"", "_CN \"\" _DM \"run\"", {}, 1},
        // The answer never holds a carriage return or line feed.
        {"AB", "_CS \"A\\rB\" _DM \"run\"", {}, 1},
        {"AB", "_CE \"A\\nB\" _DM \"run\"", {}, 1},
        {"AB", "_CN \"\\n\" _DM \"run\"", run, 2},
        {"A\\rB", "_CE \"A\\rB\" _DM \"run\"", {}, 1},
        {"C:\\x", "_CE \"C:\\x\" _DM \"run\"", run, 2},
        // Nothing after the compare text: a message, and the script goes on.
        {"V2", "_CE \"V2\"", {"Error! No line found after successful _CE"}, 1},
        {"V2", "_CS \"V\"   ", {"Error! No line found after successful _CS"}, 1},
        {"V2", "_CN \"X\"", {"Error! No line found after successful _CN"}, 1},
        // No quote, or no closing quote: the line is ignored.
        {"V2", "_CE V2 _DM run", {}, 1},
        {"V2", "_CS \"V2 _DM run", {}, 1},
        // A nested text that is no command takes no slot.
        {"V2", "_CE \"V2\" DM \"run\"", {}, 1},
    };
    FormFixture f;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " against " + c.answer);
        f.dialogs.messages.clear();
        set_text(f.form().query_answer, c.answer);
        EXPECT_EQ(run_script(f, std::string(c.line) + "\n"), 1);
        EXPECT_EQ(f.dialogs.messages, c.messages);
        EXPECT_EQ(f.form().script_line_no, c.slots_taken);
        EXPECT_EQ(f.dialogs.statuses.back(), "SUCCESS. Reading script file complete");
    }
    set_text(f.form().query_answer, "V2");
    run_script(f, "_CN \"a\\rb\\nc\" _SC \"\"\n");
    EXPECT_STREQ(f.form().cmd_buf, "\r"); // the compare text was held there, then the command's text
    run_script(f, "_CE \"x\\r\\ny\" _SC \"\"\n");
    EXPECT_STREQ(f.form().cmd_buf, "x\r\ny");
}

TEST(OperatorQuestion, TheLastAnswerHoldsAcrossRunsUntilTheNextQuestion)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    run_script(f, "_DO _DM \"ok before any question\"\n_DC _DM \"cancel before any question\"\n"
                  "_DQ no quote\n_DC _DM \"still no question\"\n");
    EXPECT_TRUE(f.dialogs.messages.empty());
    EXPECT_TRUE(f.dialogs.questions.empty());
    EXPECT_EQ(form.dialog_asked, 0);

    f.dialogs.answers = {true, false};
    run_script(f, "_DQ \"Flash the boot block?^MIt takes a minute.\"\n_DO _DM \"ok 1\"\n"
                  "_DC _DM \"cancel 1\"\n_DO   _DM \"ok 2\"\n");
    run_script(f, "_DO _DM \"ok in a later run\"\n");
    run_script(f, "_DQ \"Again?\"\n_DO _DM \"never\"\n_DC _DM \"cancelled\"\n_DC\n_DC   \n"
                  "_DCx _DM \"any keyword tail\"\n");
    EXPECT_EQ(f.dialogs.questions, (Strings{"Kestrin - Query: Flash the boot block?\rIt takes a minute.",
                                            "Kestrin - Query: Again?"}));
    EXPECT_EQ(f.dialogs.messages,
              (Strings{"ok 1", "ok 2", "ok in a later run", "cancelled",
                       "Error! No line found after successful _DC", "any keyword tail"}));
    EXPECT_EQ(form.dialog_asked, 1);
    EXPECT_EQ(form.dialog_ok, 0);
    EXPECT_STREQ(form.cmd_buf, "Again?");
}

TEST(NestedCommands, ALineNeverTakesASlotBeyondTheTable)
{
    FormFixture f;
    EXPECT_EQ(run_script(f, filler_lines(298) + "_CS \"\" _DM \"fits\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages, (Strings{"fits"}));
    EXPECT_EQ(f.form().script_line_no, 300);

    // Three levels need three slots; two are left.
    f.dialogs.messages.clear();
    EXPECT_EQ(run_script(f, filler_lines(298) + "_CS \"\" _CS \"\" _DM \"too deep\"\n"), 0);
    EXPECT_EQ(f.dialogs.messages, (Strings{kTooManyLines}));
    EXPECT_EQ(f.form().script_line_no, 298);

    // The 300th line's nested _FI has no slot: the run stops instead of running on or past it.
    f.dialogs.messages.clear();
    f.dialogs.answers = {false};
    EXPECT_EQ(run_script(f, filler_lines(298) + "_DQ \"Stop?\"\n_DC _FI\n_DM \"never\"\n"), 0);
    EXPECT_EQ(f.dialogs.messages, (Strings{kTooManyLines}));
    EXPECT_EQ(f.form().script_done, 0);
    EXPECT_EQ(f.dialogs.statuses.back(), " ");
    EXPECT_EQ(f.form().nesting_depth, 0);
}

TEST(QueryCommand, WithoutALinkThereIsNoAnswerAndNoStaleOne)
{
    FormFixture f;
    set_text(f.form().rx_buf, "V2.10 from an earlier query");
    set_text(f.form().query_answer, "V2.10 from an earlier query");
    EXPECT_EQ(run_script(f, "_QC \"VER\"\n_CE \"\" _DM \"empty\"\n"), 1);
    EXPECT_EQ(f.dialogs.messages,
              (Strings{"Error! No response detected with _QC command", "empty"}));
    EXPECT_EQ(f.form().cmd_failed, 1);
    EXPECT_EQ(f.form().rx_min_len, 10);
}

// The condition commands and the operator's question, without a unit: the compare rules, the
// answers that outlive a run, and the slots that nested commands take.

#include "tests/script/script_run.h"

#include "app/fixed_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Strings = std::vector<std::string>;

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
        {"V2.10", "_CE \"v2.10\" _DM \"run\"", {}, 1},
        {"V2.10", "_CE \"V2.1\" _DM \"run\"", {}, 1},
        {"V2.10", "_CE\"V2.10\"_DM \"run\"", run, 2},
        {"V2.10", "_CS \"2.1\"   _DM \"run\"", run, 2},
        {"V2.10", "_CS \"\" _DM \"run\"", run, 2},
        {"", "_CN \"\" _DM \"run\"", {}, 1},
        {"V2.10", "_CN \"V2\" _DM \"run\"", {}, 1},
        {"V2.10", "_CN \"V3\" _DM \"run\"", run, 2},
        {"AB", "_CS \"A\\rB\" _DM \"run\"", {}, 1},
        {"A\\rB", "_CE \"A\\rB\" _DM \"run\"", {}, 1}, // the escape is resolved
        {"A\\nB", "_CS \"\\n\" _DM \"run\"", {}, 1},
        {"AB", "_CN \"\\n\" _DM \"run\"", run, 2},
        {"C:\\x", "_CE \"C:\\x\" _DM \"run\"", run, 2},
        {"V2", "_CS \"V\"   ", {"Error! No line found after successful _CS"}, 1},
        {"V2", "_CS \"V2", {}, 1},              // no closing quote: ignored
        {"V2", "_CE \"V2\" DM \"run\"", {}, 1}, // not a command: takes no slot
    };
    FormFixture f;
    set_text(f.form().rx_buf, "V2.10");           // the reply to an earlier query
    EXPECT_EQ(run_script(f, "_QC \"VER\"\n"), 1); // no link: no answer, not the last one again
    EXPECT_EQ(f.dialogs.messages, (Strings{"Error! No response detected with _QC command"}));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " against " + c.answer);
        f.dialogs.messages.clear();
        set_text(f.form().query_answer, c.answer);
        EXPECT_EQ(run_script(f, std::string(c.line) + "\n"), 1);
        EXPECT_EQ(f.dialogs.messages, c.messages);
        EXPECT_EQ(f.form().script_line_no, c.slots_taken);
    }
}

TEST(OperatorQuestion, TheLastAnswerHoldsAcrossRunsUntilTheNextQuestion)
{
    FormFixture f;
    f.dialogs.answers = {true, false};
    run_script(f, "_DO _DM \"never: no question yet\"\n_DQ no quote\n_DC _DM \"never\"\n");
    run_script(f, "_DQ \"Flash?^MIt takes a minute.\"\n_DO _DM \"ok 1\"\n_DC _DM \"never\"\n");
    run_script(f, "_DO   _DM \"ok in a later run\"\n");
    run_script(f, "_DQ \"Again?\"\n_DO _DM \"never\"\n_DC _DM \"cancelled\"\n_DC\n_DC   \n");
    EXPECT_EQ(f.dialogs.questions,
              (Strings{"Kestrin - Query: Flash?\rIt takes a minute.", "Kestrin - Query: Again?"}));
    EXPECT_EQ(f.dialogs.messages, (Strings{"ok 1", "ok in a later run", "cancelled",
                                           "Error! No line found after successful _DC"}));
}

TEST(NestedCommands, ALineNeverTakesASlotBeyondTheTable)
{
    const std::string filler = [] {
        std::string lines;
        for (int i = 0; i < 298; ++i)
            lines += "_XX\n"; // a slot each, nothing done
        return lines;
    }();
    FormFixture f;
    EXPECT_EQ(run_script(f, filler + "_CS \"\" _DM \"fits\"\n"), 1);
    EXPECT_EQ(f.form().script_line_no, 300);
    EXPECT_EQ(run_script(f, filler + "_CS \"\" _CS \"\" _DM \"three slots\"\n"), 0);
    // The 300th line's nested _FI has no slot: the run stops instead of running on.
    f.dialogs.answers = {false};
    EXPECT_EQ(run_script(f, filler + "_DQ \"Stop?\"\n_DC _FI\n_DM \"never\"\n"), 0);
    const std::string tooMany = "Error! Script has more than 300 command lines. Exiting script";
    EXPECT_EQ(f.dialogs.messages, (Strings{"fits", tooMany, tooMany}));
    EXPECT_EQ(f.form().script_done, 0);
    EXPECT_EQ(f.dialogs.statuses.back(), " ");
}

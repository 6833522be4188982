// The outcome of a run that ends by itself, from what happened in it: what the real program's
// endings (tests/script/automatic_mode_slow_test.cpp) cannot show on demand.

#include "app/run_outcome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The start-up, then a script run that shows `during` ("status: ..." or a message), then the end.
RunOutcome outcome_of(const std::vector<std::string>& during)
{
    RunRecord run;
    run.MessageShown("Error! Baud Rate set in INI file is invalid!"); // the start-up's: no count
    run.ScriptUnreadable();                                             // not the automatic run's
    run.ScriptStarted();
    for (const std::string& event : during) {
        if (event.starts_with("status: "))
            run.StatusShown(event.substr(8));
        else
            run.MessageShown(event);
    }
    run.ScriptEnded();
    run.MessageShown("Error! after the run: no count either");
    return run.outcome();
}

} // namespace

TEST(RunOutcome, OnlyTheScriptRunCountsAndTheReasonIsTheBestTextItLeft)
{
    const std::string success = std::string("status: ") + kScriptSuccessStatus;
    const std::string terminated = "status: Script file reading terminated by user/error(s).";
    EXPECT_EQ(outcome_of({"Flashing now", success}).result, "pass");
    EXPECT_EQ(outcome_of({"Flashing now", success}).status, 0);
    // A time-out: no "Error..." message, so the status the run ended on.
    EXPECT_EQ(outcome_of({"Timeout error! Connection failure!", terminated}).result,
              "fail: Script file reading terminated by user/error(s).");
    // An error of the port layer stops the run after its message; the blank status says nothing.
    const RunOutcome layer = outcome_of({"status: Reading script file. Please wait....",
                                         "ie_NOpen - device not open", "status:  "});
    EXPECT_EQ(layer.status, 1);
    EXPECT_EQ(layer.result, "fail: ie_NOpen - device not open");
}

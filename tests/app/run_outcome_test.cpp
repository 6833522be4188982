// The outcome of a run that ends by itself, from what happened in it.

#include "app/run_outcome.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char* const kTerminated = "Script file reading terminated by user/error(s).";
const char* const kReading = "Reading script file. Please wait....";

struct Case {
    const char* name;
    std::function<void(RunRecord&)> events;
    int status;
    std::string result;
};

void script_run(RunRecord& run, const std::function<void(RunRecord&)>& during)
{
    run.MessageShown("Error! Baud Rate set in INI file is invalid!"); // the start-up's: no count
    run.StatusShown("Uploading file(s). Please wait....");
    run.ScriptStarted();
    run.StatusShown(kReading);
    during(run);
    run.ScriptEnded();
    run.StatusShown(" ");
    run.MessageShown("Error! shown after the run"); // no count either
}

} // namespace

TEST(RunOutcome, FollowsWhatHappenedWhileTheScriptRan)
{
    const Case cases[] = {
        {"success", [](RunRecord& r) {
             script_run(r, [](RunRecord& s) {
                 s.MessageShown("Flashing: note this");
                 s.StatusShown(kScriptSuccessStatus);
             });
         }, 0, "pass"},
        {"an error message, then success", [](RunRecord& r) {
             script_run(r, [](RunRecord& s) {
                 s.MessageShown("Error! Unable to open file a.bin. Cannot upload file.");
                 s.MessageShown("Error! second");
                 s.StatusShown(kScriptSuccessStatus);
             });
         }, 1, "fail: Error! Unable to open file a.bin. Cannot upload file."},
        {"stopped by a command", [](RunRecord& r) {
             script_run(r, [](RunRecord& s) {
                 s.MessageShown("Error! Unit not in Loader Mode! Exiting script");
                 s.StatusShown(" ");
             });
         }, 1, "fail: Error! Unit not in Loader Mode! Exiting script"},
        {"cancelled without an error message: the status it ended on", [](RunRecord& r) {
             script_run(r, [](RunRecord& s) {
                 s.MessageShown("Timeout error! Connection failure! Please check RS232/Ethernet "
                                "connection. Exiting script.");
                 s.StatusShown(kTerminated);
             });
         }, 1, std::string("fail: ") + kTerminated},
        {"stopped by an error of the port layer: its message", [](RunRecord& r) {
             script_run(r, [](RunRecord& s) { s.MessageShown("ie_NOpen - device not open"); });
         }, 1, "fail: ie_NOpen - device not open"},
        {"the script cannot be read", [](RunRecord& r) {
             script_run(r, [](RunRecord& s) {
                 s.MessageShown("Error opening file auto.sld for read.");
                 s.ScriptUnreadable();
                 s.StatusShown(" ");
             });
         }, 3, "fail: Error opening file auto.sld for read."},
        {"no unit", [](RunRecord& r) {
             r.MessageShown("Note: COM Port #1 is not responding/being used by other applications.");
             r.NoUnit("Error!! COM port communication failed.");
         }, 2, "fail: Error!! COM port communication failed."},
        {"no configuration", [](RunRecord& r) {
             r.ConfigurationUnreadable("Error opening file LoaderDefault.ini for read.");
         }, 3, "fail: Error opening file LoaderDefault.ini for read."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunRecord run;
        c.events(run);
        const RunOutcome outcome = run.outcome();
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.result, c.result);
    }
}

TEST(RunOutcome, AScriptOpenedByTheTechnicianDoesNotCount)
{
    RunRecord run;
    run.ScriptUnreadable(); // an interactive run's: the automatic run has not started
    run.ScriptStarted();
    run.StatusShown(kScriptSuccessStatus);
    run.ScriptEnded();
    EXPECT_EQ(run.outcome().result, "pass");
}

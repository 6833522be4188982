#pragma once
// The outcome of a run that ends by itself (automatic mode), as its caller learns it: the exit
// status and the text of the journal's last line, "result: pass" or "result: fail: REASON".
//
//   0  pass: the script ran to its end ("SUCCESS. Reading script file complete") and no message
//      beginning with "Error" was shown while it ran
//   1  the script ran and failed: it stopped early, or such a message was shown while it ran
//      (an _LF of a missing image, after which the script goes on to its end without a flash)
//   2  no unit: the start-up found none, so the script never ran
//   3  the configuration or the script could not be read
//
// Only what happens while the script runs counts: a message of the start-up (an invalid speed in
// the configuration, a port that will not open during the search) changes nothing. REASON is the
// first "Error..." message of the script run; without one, the status text the run ended on, or
// its last message when a message came after that status or the run ended on a blank one (an
// error of the serial port layer that stopped the run).
//
// RunRecord is told what happens, in order, by the main window; outcome() applies the rule
// above. It touches no window and no process, so tests drive it with any sequence of events.

#include <string>
#include <string_view>

inline constexpr const char* kScriptSuccessStatus = "SUCCESS. Reading script file complete";

enum RunExitStatus : int {
    kRunPassed = 0,
    kRunScriptFailed = 1,
    kRunNoUnit = 2,
    kRunUnreadable = 3,
};

struct RunOutcome {
    int status = kRunPassed;
    std::string result; // "pass" or "fail: REASON"
};

class RunRecord {
public:
    // Before the script: LoaderDefault.ini could not be read, or no unit was found.
    void ConfigurationUnreadable(std::string reason);
    void NoUnit(std::string message);
    bool configuration_unreadable() const { return !configuration_reason_.empty(); }

    // The automatic script run and what is shown meanwhile.
    void ScriptStarted();
    void ScriptUnreadable();
    void ScriptEnded();
    void MessageShown(std::string_view text);
    void StatusShown(std::string_view text);

    RunOutcome outcome() const;

private:
    enum class Stage { start_up, script_running, script_ended };

    Stage stage_ = Stage::start_up;
    std::string configuration_reason_;
    std::string no_unit_message_;
    bool script_unreadable_ = false;
    std::string first_error_;
    std::string last_shown_; // the last message or non-blank status of the script run
};

#include "app/run_outcome.h"

#include <utility>

namespace {

RunOutcome failed(int status, const std::string& reason)
{
    return {status, "fail: " + reason};
}

bool is_blank(std::string_view text)
{
    return text.find_first_not_of(' ') == std::string_view::npos;
}

} // namespace

void RunRecord::ConfigurationUnreadable(std::string reason)
{
    configuration_reason_ = std::move(reason);
}

void RunRecord::NoUnit(std::string message)
{
    no_unit_message_ = std::move(message);
}

void RunRecord::ScriptStarted()
{
    stage_ = Stage::script_running;
}

void RunRecord::ScriptUnreadable()
{
    if (stage_ == Stage::script_running)
        script_unreadable_ = true;
}

void RunRecord::ScriptEnded()
{
    stage_ = Stage::script_ended;
}

void RunRecord::MessageShown(std::string_view text)
{
    if (stage_ != Stage::script_running)
        return;
    if (first_error_.empty() && text.starts_with("Error"))
        first_error_ = text;
    last_shown_ = text;
}

// The blank status that clears the status line after a stop says nothing; the message before
// it does.
void RunRecord::StatusShown(std::string_view text)
{
    if (stage_ == Stage::script_running && !is_blank(text))
        last_shown_ = text;
}

RunOutcome RunRecord::outcome() const
{
    if (!configuration_reason_.empty())
        return failed(kRunUnreadable, configuration_reason_);
    if (!no_unit_message_.empty())
        return failed(kRunNoUnit, no_unit_message_);
    if (script_unreadable_)
        return failed(kRunUnreadable, first_error_);
    if (!first_error_.empty())
        return failed(kRunScriptFailed, first_error_);
    if (stage_ == Stage::script_ended && last_shown_ == kScriptSuccessStatus)
        return {kRunPassed, "pass"};
    return failed(kRunScriptFailed, last_shown_.empty() ? "the script did not run" : last_shown_);
}

#pragma once
// The main window with COM1 open on a simulated unit over a pseudo-terminal, for running scripts
// against it; the simulator keeps every image it takes and logs every byte Kestrin sends.
//
//   UnitRun run({"--normal-only"});       simulator options beyond the pty and logs
//   run.script("_TC \"^M\"\n")            runs a script text through the reader; its result
//   run.wire_bytes(n)                     every byte the unit received, once n have come
//   wire_reads(run, "...")                whether they are these
//   run.saved_image(1)                    the unit's copy of the first complete image
//   EventRounds rounds(progress_form)     Kestrin's pauses, between its rounds of event processing

#include "tests/link/link_test_support.h"
#include "tests/script/script_run.h"

#include "serial/com_port.h"
#include "upload/progress_form.h"

#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class UnitRun {
public:
    explicit UnitRun(const std::vector<std::string>& sim_options = {})
        : unit_(tmp_.path().toStdString(), "com1", with_save_dir(sim_options)),
          mapping_({{1, unit_.pty}})
    {
        form().ApdComPort1->SetComNumber(1);
        form().ApdComPort1->SetOpen(true);
        form().set_wait_prompt(form().prompt_char2); // as the start-up leaves it
    }

    TKestrinForm& form() { return fixture.form(); }
    SimProcess& sim() { return *unit_.sim; }
    int script(const std::string& text) { return run_script(fixture, text); }
    std::string wire_bytes(size_t at_least = 0) const { return unit_.wire_bytes(at_least); }
    std::string saved_image(int n) const
    {
        return file_bytes(tmp_.path().toStdString() + "/image-" + std::to_string(n) + ".bin");
    }

private:
    std::vector<std::string> with_save_dir(std::vector<std::string> options) const
    {
        options.insert(options.end(), {"--save-dir", tmp_.path().toStdString()});
        return options;
    }

    QTemporaryDir tmp_;
    SimUnit unit_;
    ComMapping mapping_;

public:
    FormFixture fixture; // built after the mapping, so COM1 is the simulated unit
};

// Notes each round of event processing on the user-interface thread, and whether the progress
// window was showing then. Kestrin processes no event during its plain sleeps, so the gaps between
// rounds measure its pauses on its own clock, whenever the unit's side reads the bytes around them.
class EventRounds {
public:
    using Clock = std::chrono::steady_clock;

    explicit EventRounds(TProgressForm& progress)
    {
        QObject::connect(&tick_, &QTimer::timeout, [this, &progress] {
            rounds_.push_back({Clock::now(), progress.isVisible()});
        });
        tick_.start(0);
    }

    // The gaps in ms between the rounds up to the first one with the progress window showing.
    std::vector<long long> gaps_until_progress_shows() const
    {
        std::vector<long long> gaps;
        for (size_t i = 1; i < rounds_.size() && !rounds_[i - 1].progress_shown; ++i)
            gaps.push_back(ms_between(rounds_[i - 1].time, rounds_[i].time));
        return gaps;
    }

    // The gap in ms after the first round in which the progress window had been hidden again;
    // -1 when there is none.
    long long gap_after_progress_hides() const
    {
        for (size_t i = 1; i + 1 < rounds_.size(); ++i)
            if (rounds_[i - 1].progress_shown && !rounds_[i].progress_shown)
                return ms_between(rounds_[i].time, rounds_[i + 1].time);
        return -1;
    }

private:
    struct Round {
        Clock::time_point time;
        bool progress_shown;
    };

    static long long ms_between(Clock::time_point a, Clock::time_point b)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
    }

    QTimer tick_;
    std::vector<Round> rounds_;
};

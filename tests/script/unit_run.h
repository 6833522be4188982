#pragma once
// The main window with COM1 open on a simulated unit over a pseudo-terminal, for running scripts
// against it; the simulator keeps every image it takes and logs every byte Kestrin sends.
//
//   UnitRun run({"--normal-only"});       simulator options beyond the pty and logs
//   run.script("_TC \"^M\"\n")            runs a script text through the reader; its result
//   run.wire()                            every byte the unit received
//   run.saved_image(1)                    the unit's copy of the first complete image
//   EventTimes times(run.sim(), {"image-bytes", "command"});   stamps events as they come

#include "tests/link/link_test_support.h"
#include "tests/script/script_run.h"

#include "serial/com_port.h"

#include <QTemporaryDir>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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
    std::string wire() const { return unit_.wire_bytes(); }
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

// Waits on a thread of its own for each pattern in turn, while the user-interface thread runs
// a script, and notes when each event arrived.
class EventTimes {
public:
    using Clock = std::chrono::steady_clock;

    EventTimes(SimProcess& sim, std::vector<std::string> patterns)
        : thread_([this, &sim, patterns] {
              for (const std::string& pattern : patterns) {
                  if (!sim.waitForEvent(pattern, std::chrono::seconds(120)))
                      return;
                  times_.push_back(Clock::now());
              }
          })
    {
    }
    ~EventTimes()
    {
        if (thread_.joinable())
            thread_.join();
    }

    // The arrival times, once every pattern has come (or the wait gave up).
    const std::vector<Clock::time_point>& join()
    {
        thread_.join();
        return times_;
    }

private:
    std::vector<Clock::time_point> times_;
    std::thread thread_;
};

inline long long ms_between(EventTimes::Clock::time_point a, EventTimes::Clock::time_point b)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

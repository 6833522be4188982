// kestrin-unit-sim: a stand-in for the video processing unit, reached over a
// pseudo-terminal or TCP. See README.md beside this file.
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "tools/unit-sim/links.h"
#include "tools/unit-sim/sim_options.h"
#include "tools/unit-sim/unit_link.h"

namespace {

constexpr int kUsageError = 2;

int complain(const std::string& text, int status)
{
    std::fprintf(stderr, "kestrin-unit-sim: %s\n", text.c_str());
    return status;
}

bool prepare_save_dir(const std::string& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    return std::filesystem::is_directory(dir, error);
}

}  // namespace

int main(int argc, char** argv)
{
    const unit_sim::OptionsResult parsed = unit_sim::parse_sim_options(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(unit_sim::usage_text().c_str(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::puts("kestrin-unit-sim " KESTRIN_VERSION);
        return 0;
    }
    if (!parsed.options) {
        std::fputs(unit_sim::usage_text().c_str(), stderr);
        return complain(parsed.error, kUsageError);
    }
    const unit_sim::SimOptions& options = *parsed.options;
    if (!options.unit.save_dir.empty() && !prepare_save_dir(options.unit.save_dir))
        return complain("cannot use " + options.unit.save_dir + " as the save directory", 1);
    int wire_log = -1;
    if (!options.wire_log.empty()) {
        wire_log = open(options.wire_log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (wire_log < 0)
            return complain("cannot open " + options.wire_log + ": " + unit_sim::error_text(), 1);
    }
    if (!unit_sim::install_stop_signal())
        return complain("cannot install the signal handlers: " + unit_sim::error_text(), 1);

    unit_sim::UnitLink link(options, wire_log);
    const int status = options.tcp_port ? run_tcp_unit(options, link) : run_pty_unit(options, link);
    if (wire_log >= 0)
        close(wire_log);
    return status;
}

// Prompt-detection latency: 200 probes (a carriage return, then the wait for the prompt) against
// the simulated unit on a pseudo-terminal. Each probe's time runs from handing the carriage return
// to the port until SendCOMCmd_GetPrompt returns, so it bounds the detection latency from above:
// it also holds the unit's own turn-around. Prints the median and the 99th percentile.

#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "serial/com_port.h"
#include "serial_test_support.h"
#include "tests/unit-sim/sim_process.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string pty = dir.path().toStdString() + "/com1";
    SimProcess sim({"--pty", pty});
    ComMapping mapping{{{1, pty}}};
    QDir::setCurrent(dir.path());
    KestrinWindows windows;
    TKestrinForm& form = *windows.KestrinForm;
    if (form.check_com(1) != 1) {
        std::fprintf(stderr, "the simulated unit did not answer\n");
        return 1;
    }
    std::vector<double> ms;
    for (int probe = 0; probe < 200; ++probe) {
        const auto start = std::chrono::steady_clock::now();
        const bool seen = form.SendCOMCmd_GetPrompt("\r");
        const auto end = std::chrono::steady_clock::now();
        if (!seen) {
            std::fprintf(stderr, "probe %d saw no prompt\n", probe);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("prompt probe round trip over %zu probes: median %.3f ms, p99 %.3f ms\n", ms.size(),
                ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
    return 0;
}

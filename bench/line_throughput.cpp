// Line throughput: how many units an hour one operator gets through 16 fixtures, hands-free
// (start=when_present) against in batches (start=button), measured in one run.
//
// Each fixture is a simulated unit on its own pseudo-terminal that takes the station's usual
// flash (about 10 to 15 s with kestrin's own pauses). The operator swaps one unit at a time and
// takes 4 s for it: the unit goes silent (the simulator's --control "absent"; its device stays),
// and 4 s later a fresh unit answers ("present").
//
//   hands-free: the operator goes round the fixtures; at each one they wait until its unit is
//               done, then swap it. Each fixture starts by itself.
//   batch:      the operator swaps all 16, presses Start, and waits for all of them.
//
// Reported: units an hour for both, their ratio (target at least 1.4), and each against the
// limit the operator's handling sets, 3600 / 4 = 900 an hour (hands-free target at least 0.9).
//
//   bench_line_throughput [UNITS-PER-MODE]   (default 48: three rounds of the fixtures)

#include "tests/unit-sim/sim_process.h"
#include "tools/station/station.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFixtures = 16;
constexpr int kSwapMs = 4000;
constexpr double kHandlingLimitPerHour = 3600.0 * 1000.0 / kSwapMs;

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

void write_station_folder(const std::string& dir)
{
    write_file(dir + "/LoaderDefault.ini", "Port=COM1\nBaud=115200\nDataBits=8\nParity=0\nStopBits=1\n"
                                           "Script=flash.sld\nReserved=\nMode=Automatic\n");
    write_file(dir + "/flash.sld", "_TC \"LOADR^M\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n");
    write_file(dir + "/image.bin", std::string(16384, 'k'));
}

// Runs the event loop until `done` holds, checking whenever the station changes.
void wait_until(Station& station, const std::function<bool()>& done)
{
    if (done())
        return;
    QEventLoop loop;
    QObject::connect(&station, &Station::unitChanged, &loop, [&] { if (done()) loop.quit(); });
    QObject::connect(&station, &Station::runEnded, &loop, [&] { if (done()) loop.quit(); });
    QObject::connect(&station, &Station::idle, &loop, [&] { if (done()) loop.quit(); });
    loop.exec();
}

void pause_ms(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class Line {
public:
    Line(const std::string& dir, const std::string& name, bool hands_free)
    {
        std::string text = "[station]\nparallel=16\nrecords=" + name + ".sqlite\n";
        text += hands_free ? "start=when_present\n" : "start=button\n";
        text += "[units]\n";
        for (int i = 1; i <= kFixtures; ++i) {
            const std::string pty = dir + "/" + name + "-" + std::to_string(i);
            sims_.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--pty", pty, "--control"}));
            text += "F" + std::to_string(i) + "=" + pty + "\n";
        }
        write_file(dir + "/" + name + ".ini", text);
        QString error;
        station_ = make_station(dir + "/" + name + ".ini", error);
        if (!station_)
            std::fprintf(stderr, "%s\n", qPrintable(error));
    }

    Station* station() const { return station_.get(); }

    // The operator takes the unit off and puts a fresh one on: 4 s of their hands.
    void swap(int fixture)
    {
        SimProcess& sim = *sims_[static_cast<std::size_t>(fixture)];
        if (!sim.control("absent"))
            std::fprintf(stderr, "fixture %d: the simulated unit has ended: %s\n", fixture + 1, sim.errors().c_str());
        pause_ms(kSwapMs);
        sim.control("present");
    }

private:
    std::vector<std::unique_ptr<SimProcess>> sims_;
    std::unique_ptr<Station> station_;
};

int passed_runs(const Station& station)
{
    return static_cast<int>(std::count_if(station.shift().begin(), station.shift().end(),
                                          [](const ShiftRun& run) { return run.passed; }));
}

// Hands-free: the operator goes round the fixtures. The 16 units on the fixtures at the start are
// not the operator's; the rate is that of the operator's units, from the end of the first of
// them to the end of the last: the line's pace once it runs.
double hands_free_rate(Line& line, int units)
{
    Station& station = *line.station();
    station.armAll();
    for (int swapped = 0; swapped < units; ++swapped) {
        const int fixture = swapped % kFixtures;
        wait_until(station, [&] { return station.presence(fixture) == Presence::Done; });
        line.swap(fixture);
    }
    wait_until(station, [&] { return station.shift().size() >= static_cast<std::size_t>(kFixtures + units); });
    const std::vector<ShiftRun> own(station.shift().begin() + kFixtures, station.shift().end());
    station.stop();
    wait_until(station, [&] { return !station.busy(); });
    const auto passed = std::count_if(own.begin() + 1, own.end(), [](const ShiftRun& run) { return run.passed; });
    const double seconds = static_cast<double>(own.front().ended.msecsTo(own.back().ended)) / 1000.0;
    return static_cast<double>(passed) * 3600.0 / seconds;
}

// Batch: swap all, Start, wait for all; the rate over whole rounds.
double batch_rate(Line& line, int units)
{
    Station& station = *line.station();
    const int rounds = std::max(1, units / kFixtures);
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < rounds; ++round) {
        for (int fixture = 0; fixture < kFixtures; ++fixture)
            line.swap(fixture);
        station.startAll();
        wait_until(station, [&] { return !station.busy(); });
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    return passed_runs(station) * 3600.0 / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN); // a simulator that ended says so instead
    const int units = argc > 1 ? std::atoi(argv[1]) : 48;
    QTemporaryDir dir;
    const std::string work = dir.path().toStdString();
    write_station_folder(work);

    Line hands_free(work, "hands-free", true);
    Line batch(work, "batch", false);
    if (!hands_free.station() || !batch.station())
        return 1;
    const double free_rate = hands_free_rate(hands_free, units);
    const double batch_per_hour = batch_rate(batch, units);
    std::printf("%d fixtures, one operator taking %d ms a swap, %d units each way:\n", kFixtures, kSwapMs, units);
    std::printf("hands-free (start=when_present): %.0f units/h, %.3f of the handling limit of %.0f (target >= 0.9)\n",
                free_rate, free_rate / kHandlingLimitPerHour, kHandlingLimitPerHour);
    std::printf("batch (start=button): %.0f units/h, %.3f of the handling limit\n", batch_per_hour,
                batch_per_hour / kHandlingLimitPerHour);
    std::printf("hands-free against batch: %.3f (target >= 1.4)\n", free_rate / batch_per_hour);
    return 0;
}

// Station scaling: 16 simulated units, each on its own pseudo-terminal paced at 115200 baud and
// each taking a 256 KiB image through the station, against one unit alone, measured in one run.
//
//   ratio = one unit's wall time alone / the wall time of all 16 at once   (target at least 0.9)
//
// While the 16 stream, the station's window is shown (offscreen) and a 10 ms timer on the
// user-interface thread measures how late each tick comes (target: 99th percentile under 50 ms)
// and the worst gap between two ticks.
// Also reported: the station process's own resident memory (its kestrin children not counted),
// before the 16 start and at its peak, and the CPU time it used while they ran.
//
//   bench_station_scaling [UNITS]

#include "tests/unit-sim/sim_process.h"
#include "tools/station/station_window.h"
#include "timer_lateness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kBaud = 115200;
constexpr std::size_t kImageBytes = 256 * 1024;
constexpr int kTickMs = 10;

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// kB of the given line of /proc/self/status (VmRSS, VmHWM).
long status_kb(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::string(key).size() + 1);
    return -1;
}

// CPU seconds, user and system, that this process has used so far (its children not counted).
double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The station folder: configuration, script, image, and a station file per unit count.
void write_station_folder(const std::string& dir)
{
    write_file(dir + "/LoaderDefault.ini", "Port=COM1\nBaud=115200\nDataBits=8\nParity=0\nStopBits=1\n"
                                           "Script=flash.sld\nReserved=\nMode=Automatic\n");
    write_file(dir + "/flash.sld", "_TC \"^M\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n");
    std::string image(kImageBytes, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 % 251);
    write_file(dir + "/image.bin", image);
}

struct Units {
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::string station_file;
};

Units start_units(const std::string& dir, const std::string& name, int count)
{
    Units units;
    std::string text = "[station]\nparallel=" + std::to_string(count) + "\nrecords=" + name + ".sqlite\n[units]\n";
    for (int i = 1; i <= count; ++i) {
        const std::string pty = dir + "/" + name + "-" + std::to_string(i);
        units.sims.push_back(std::make_unique<SimProcess>(
            std::vector<std::string>{"--pty", pty, "--baud", std::to_string(kBaud)}));
        text += "U" + std::to_string(i) + "=" + pty + "\n";
    }
    units.station_file = dir + "/" + name + ".ini";
    write_file(units.station_file, text);
    return units;
}

// Runs every unit of the window's station; the wall time in seconds, or -1 when a unit failed.
double run_all(StationWindow& window)
{
    Station& station = *window.station();
    QEventLoop loop;
    QObject::connect(&station, &Station::idle, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QElapsedTimer wall;
    wall.start();
    station.startAll();
    loop.exec();
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    for (int row = 0; row < station.unitCount(); ++row)
        if (station.unit(row).state() != UnitState::Passed) {
            std::fprintf(stderr, "%s: %s\n", station.unit(row).unit().name.c_str(), state_text(station.unit(row)).c_str());
            return -1;
        }
    return seconds;
}

std::unique_ptr<Station> station_of(const std::string& path)
{
    QString error;
    std::unique_ptr<Station> station = make_station(path, error);
    if (!station)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return station;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 16;
    QTemporaryDir dir;
    const std::string work = dir.path().toStdString();
    write_station_folder(work);

    StationWindow window([](const std::string&, QString&) { return std::unique_ptr<Station>(); });
    window.show();

    Units one = start_units(work, "one", 1);
    window.setStation(station_of(one.station_file));
    if (!window.station())
        return 1;
    const double one_s = run_all(window);

    Units many = start_units(work, "many", count);
    window.setStation(station_of(many.station_file));
    if (!window.station() || one_s < 0)
        return 1;
    const long rss_before_kb = status_kb("VmRSS:");

    TimerLateness ticker(kTickMs);
    ticker.start();
    const double cpu_before = cpu_seconds();
    const double many_s = run_all(window);
    const double station_cpu_s = cpu_seconds() - cpu_before;
    ticker.stop();
    if (many_s < 0)
        return 1;

    std::printf("%zu-byte image at %d baud: 1 unit alone %.1f s, %d units at once %.1f s, ratio %.3f (target >= 0.9)\n",
                kImageBytes, kBaud, one_s, count, many_s, one_s / many_s);
    std::printf("window timer while they streamed: ");
    ticker.print();
    std::printf("\n");
    std::printf("station resident memory: %ld kB before the %d units, peak %ld kB; station CPU while they ran %.2f s\n",
                rss_before_kb, count, status_kb("VmHWM:"), station_cpu_s);
    return 0;
}

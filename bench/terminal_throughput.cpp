// Throughput of the terminal view, as a multiple of what the serial line can bring
// (38400 baud, 10 bits a byte):
//  - received text handed over by a second thread in pieces of 1, 64 and 4096 bytes
//    while the interface thread drains and paints, as the serial listener does;
//  - the screen model alone interpreting the same text.
#include "app/terminal_screen.h"
#include "app/terminal_view.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineBytesPerSecond = 38400.0 / 10.0;

// Lines like a unit's output: text, a few tabs, CR LF.
std::string UnitOutput(std::size_t size)
{
    const std::string line = "0x00010000 1234\tflash block written\tok\r\n";
    std::string text;
    while (text.size() < size)
        text += line;
    text.resize(size);
    return text;
}

// Bytes per second over the run, against the line's bytes per second.
void ReportAgainstTheLine(benchmark::State& state, std::size_t bytes_per_iteration, double seconds)
{
    const auto bytes = static_cast<int64_t>(bytes_per_iteration) * state.iterations();
    state.SetBytesProcessed(bytes);
    state.counters["x_line_rate"] = static_cast<double>(bytes) / seconds / kLineBytesPerSecond;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ReceivedIntoTheView(benchmark::State& state)
{
    const auto piece = static_cast<std::size_t>(state.range(0));
    const std::string text = UnitOutput(std::size_t{4} << 20);
    TAdTerminal view;
    view.resize(513, 281);
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        std::atomic<bool> done = false;
        std::thread listener([&] {
            for (std::size_t at = 0; at < text.size(); at += piece)
                view.EnqueueReceived(text.data() + at, std::min(piece, text.size() - at));
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents();
        listener.join();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    ReportAgainstTheLine(state, text.size(), SecondsSince(start));
}
BENCHMARK(BM_ReceivedIntoTheView)
    ->Arg(1)
    ->Arg(64)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ScreenModelAlone(benchmark::State& state)
{
    const std::string text = UnitOutput(std::size_t{4} << 20);
    TerminalScreen screen;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        screen.Write(text);
        benchmark::DoNotOptimize(screen.CursorColumn());
    }
    ReportAgainstTheLine(state, text.size(), SecondsSince(start));
}
BENCHMARK(BM_ScreenModelAlone)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Receive path of the serial port layer over a pseudo-terminal:
//  - throughput of the dispatcher into two listeners (the terminal's on the
//    reader thread, OnTriggerAvail on the interface thread), in MB/s and in
//    CPU seconds per MB spent by the program (the writing side excluded);
//  - latency from a byte's arrival at the device to its notification on the
//    interface thread, median and 99th percentile.
#include "serial_test_support.h"

#include "serial/com_port.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpu_seconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct PortOnPty {
    PortOnPty() : mapping({{1, pty.slave_path()}})
    {
        port.SetAutoOpen(false);
        port.SetComNumber(1);
        port.SetBaud(38400);
        port.SetInSize(8192);
        port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
        port.SetBufferFull(7000);
        port.SetBufferResume(400);
        port.SetOpen(true);
    }
    Pty pty;
    ComMapping mapping;
    TApdComPort port;
};

void BM_ReceiveIntoTwoListeners(benchmark::State& state)
{
    const size_t total = static_cast<size_t>(state.range(0));
    const std::string data(total, 'U');
    std::vector<char> terminal(total), capture(total);
    PortOnPty rig;
    std::atomic<size_t> terminal_got{0};
    size_t capture_got = 0;
    QEventLoop loop;
    rig.port.AddDataListener([&](TApdComPort& p, size_t count) {
        size_t at = terminal_got;
        count = std::min(count, total - at);
        p.GetBlock(terminal.data() + at, count);
        terminal_got += count;
    });
    rig.port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        size_t take = std::min<size_t>(count, total - capture_got);
        p.GetBlock(capture.data() + capture_got, take);
        capture_got += take;
        if (capture_got == total)
            loop.quit();
    };
    double cpu = 0;
    for (auto _ : state) {
        capture_got = 0;
        terminal_got = 0;
        double writer_cpu = 0;
        double process_before = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
        std::thread unit([&] {
            rig.pty.write(data);
            writer_cpu = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
        });
        loop.exec();
        unit.join();
        cpu += cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process_before - writer_cpu;
    }
    const double megabytes = static_cast<double>(total) * static_cast<double>(state.iterations()) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(total) * state.iterations());
    state.counters["cpu_s_per_MB"] = cpu / megabytes;
}
BENCHMARK(BM_ReceiveIntoTwoListeners)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ArrivalToInterfaceNotification(benchmark::State& state)
{
    PortOnPty rig;
    QEventLoop loop;
    Clock::time_point arrived;
    std::vector<double> micros;
    rig.port.AddDataListener([](TApdComPort& p, size_t count) {
        std::vector<char> sink(count);
        p.GetBlock(sink.data(), count);
    });
    rig.port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - arrived).count());
        std::vector<char> sink(count);
        p.GetBlock(sink.data(), count);
        loop.quit();
    };
    for (auto _ : state) {
        QTimer::singleShot(0, [&] {
            arrived = Clock::now();
            rig.pty.write(">");
        });
        loop.exec();
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_ArrivalToInterfaceNotification)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Window responsiveness under a flood: the unit sends text at 1 MB/s for 10 s over a
// pseudo-terminal mapped as COM1, into the main window with its terminal view shown, while a
// 10 ms timer on the user-interface thread measures its own lateness: how much later than 10 ms
// after its last tick each tick came. Reported: the rate the flood reached, the median and 99th
// percentile lateness, the worst gap between two ticks, and the bytes the terminal's screen model
// took against the bytes sent (every byte must be shown). Targets: 99th percentile under 50 ms,
// no gap over 100 ms.
//
//   bench_link_flood_responsiveness [SECONDS] [BYTES_PER_SECOND]

#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "app/terminal_view.h"
#include "serial/com_port.h"
#include "serial_test_support.h"
#include "timer_lateness.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTickMs = 10;

// Lines of printable text as a chatty unit sends them.
std::string unit_text(size_t size)
{
    const std::string line = "flash 0x00010000: block 1234 written, verify ok, 2000 bytes\r\n";
    std::string text;
    while (text.size() < size)
        text += line;
    text.resize(size);
    return text;
}

// Writes `rate` bytes a second for `seconds`, in 1 ms portions; returns the bytes written.
size_t flood(Pty& pty, double rate, int seconds, std::atomic<bool>& done)
{
    const std::string text = unit_text(static_cast<size_t>(rate / 100));
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    size_t written = 0;
    for (Clock::time_point now = start; now < end; now = Clock::now()) {
        const auto due = static_cast<size_t>(std::chrono::duration<double>(now - start).count() * rate);
        for (; written + text.size() <= due; written += text.size())
            pty.write(text);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
    return written;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KESTRIN_UNATTENDED", "1");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const double rate = argc > 2 ? std::atof(argv[2]) : 1e6;

    // A configuration without automatic mode: the window waits, as it does for a technician.
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    std::ofstream("LoaderDefault.ini") << "Port=COM1\nBaud=38400\n";

    Pty pty;
    KestrinWindows windows;
    TKestrinForm& form = *windows.KestrinForm;
    {
        ComMapping no_ports{{}}; // the start-up that showing the window runs finds no unit
        form.show();
        for (int i = 0; i < 100; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ComMapping mapping{{{1, pty.slave_path()}}};
    form.ApdComPort1->SetComNumber(1);
    form.ApdComPort1->SetOpen(true);
    const TerminalScreen& screen = form.AdTerminal1->Screen();

    TimerLateness ticker(kTickMs);

    std::atomic<bool> done = false;
    size_t sent = 0;
    const Clock::time_point start = Clock::now();
    std::thread writer([&] { sent = flood(pty, rate, seconds, done); });
    ticker.start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double flood_s = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    ticker.stop();
    const Clock::time_point drain_end = Clock::now() + std::chrono::seconds(10);
    while (screen.BytesTaken() < sent && Clock::now() < drain_end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    std::printf("flood %.2f MB/s for %.1f s; ", static_cast<double>(sent) / flood_s / 1e6, flood_s);
    ticker.print();
    std::printf("; shown %llu of %zu bytes\n", screen.BytesTaken(), sent);
    return screen.BytesTaken() == sent ? 0 : 1;
}

// TCP upload throughput: a 4 MiB image goes through a script's upload chain to the simulated
// unit over TCP on 127.0.0.1, the script started from its button with the unattended file dialog
// answering (KESTRIN_OPEN). The unit times the data phase from the first image byte to the last.
//
// The ceiling: every 2000-byte block costs at least the two 1 ms pauses that the transfer takes
// around its send on the socket, so from the first block's send to the last one's at least
// 2 ms pass per block. The ratio of that time to the measured one is the share of the ceiling
// the upload reached. Target: at least 0.90.
//
//   bench_link_tcp_upload [MIB]

#include "app/event_pump.h"
#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "link/client_socket.h"
#include "link/client_socket_form.h"
#include "tests/unit-sim/sim_process.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr long long kBlockSize = 2000;
constexpr double kPausesPerBlockMs = 2.0;

long long event_number(const SimProcess& sim, const std::string& prefix)
{
    for (const std::string& event : sim.events())
        if (event.rfind(prefix + " ", 0) == 0)
            return std::stoll(event.substr(prefix.size() + 1));
    return -1;
}

// What one plain 1 ms sleep takes on this machine, averaged over 1000.
double measured_sleep_ms()
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i)
        sleep_ms(1);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
               .count() /
           1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    const long long mib = argc > 1 ? std::atoll(argv[1]) : 4;
    const long long length = mib * 1024 * 1024;
    QTemporaryDir dir;
    const std::string work = dir.path().toStdString();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KESTRIN_UNATTENDED", "1");
    qputenv("KESTRIN_OPEN", (work + "/upload.sld").c_str());
    QApplication app(argc, argv);
    keep_sleeps_precise();
    QDir::setCurrent(dir.path());

    std::string image(static_cast<size_t>(length), '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 % 251);
    std::ofstream(work + "/image.bin", std::ios::binary) << image;
    std::ofstream(work + "/upload.sld")
        << "_SC \"LOADR\"\n_LP 1\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n";

    SimProcess sim({"--tcp", "0", "--prompts", ">>"});
    KestrinWindows windows;
    TKestrinForm& form = *windows.KestrinForm;
    form.set_wait_prompt(form.prompt_char2);
    windows.ClientSocketForm->PortNumberTxEdit->setText(QString::number(sim.tcpPort()));
    windows.ClientSocketForm->ConnectButtonClick();
    if (!form.ClientSocket1->Active()) {
        std::fprintf(stderr, "no connection to the simulated unit\n");
        return 1;
    }
    form.PickButtonClick();

    const long long image_ms = event_number(sim, "image-ms");
    if (event_number(sim, "image-bytes") != length || image_ms <= 0) {
        std::fprintf(stderr, "the upload did not complete\n");
        return 1;
    }
    const long long blocks = (length + kBlockSize - 1) / kBlockSize;
    const double ceiling_ms = static_cast<double>(blocks - 1) * kPausesPerBlockMs;
    const double sleep = measured_sleep_ms();
    std::printf("%lld bytes in %lld blocks: data phase %lld ms, %.0f kB/s; ceiling %.0f ms, share "
                "%.3f; a 1 ms sleep takes %.3f ms here, so the pauses alone take %.0f ms (%.3f)\n",
                length, blocks, image_ms, length / static_cast<double>(image_ms), ceiling_ms,
                ceiling_ms / static_cast<double>(image_ms), sleep, ceiling_ms * sleep,
                ceiling_ms * sleep / static_cast<double>(image_ms));
    return 0;
}

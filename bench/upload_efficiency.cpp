// Upload efficiency on a paced line: a 256 KiB image goes through a script's upload chain to the
// simulated unit on a pseudo-terminal, the unit pacing the line at 38400 and then 115200 baud.
// The unit times the data phase from the first image byte to the last; the ratio of the line's
// own time for those bytes (one start bit, eight data bits, one stop bit each) to that time is
// the share of the line rate the upload reached. Target: at least 0.97.
//
//   bench_upload_efficiency [BAUD ...]

#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "bench/rates_main.h"
#include "serial/com_port.h"
#include "serial_test_support.h"
#include "tests/unit-sim/sim_process.h"
#include "upload/progress_form.h"

#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr size_t kImageBytes = 256 * 1024;

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The unit's event that starts with `prefix`, as the number after it; -1 when it never came.
long long event_number(const SimProcess& sim, const std::string& prefix)
{
    for (const std::string& event : sim.events())
        if (event.rfind(prefix + " ", 0) == 0)
            return std::stoll(event.substr(prefix.size() + 1));
    return -1;
}

// Runs one upload at `baud`; prints its figures and returns false when it did not complete.
bool measure(int baud)
{
    QTemporaryDir dir;
    const std::string work = dir.path().toStdString();
    const std::string pty = work + "/com1";
    SimProcess sim({"--pty", pty, "--baud", std::to_string(baud)});
    ComMapping mapping{{{1, pty}}};
    QDir::setCurrent(dir.path());

    std::string image(kImageBytes, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 % 251);
    write_file(work + "/image.bin", image);
    write_file(work + "/upload.sld", "_SC \"LOADR\"\n_LP 1\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n");

    KestrinWindows windows;
    TKestrinForm& form = *windows.KestrinForm;
    if (form.check_com(1) != 1) {
        std::fprintf(stderr, "%d baud: the simulated unit did not answer\n", baud);
        return false;
    }
    form.ApdComPort1->SetBaud(baud);
    form.script_path = work + "/upload.sld";
    form.clear_script_lines();
    windows.ProgressForm->cancel_flag = 0;
    const int completed = form.read_ini();

    const long long image_ms = event_number(sim, "image-ms");
    if (completed != 1 || event_number(sim, "image-bytes") != static_cast<long long>(kImageBytes) ||
        image_ms <= 0) {
        std::fprintf(stderr, "%d baud: the upload did not complete\n", baud);
        return false;
    }
    // From the first byte's arrival to the last's, the line carries all bytes but the first.
    const double line_ms = (kImageBytes - 1) * 10.0 * 1000.0 / baud;
    std::printf("%6d baud: %zu bytes, data phase %lld ms, line time %.0f ms, efficiency %.3f\n", baud,
                kImageBytes, image_ms, line_ms, line_ms / static_cast<double>(image_ms));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    return measure_at_rates(argc, argv, {38400, 115200}, measure);
}

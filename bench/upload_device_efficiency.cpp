// Upload efficiency on a line that drains at its rate: the transfer streams a 256 KiB image to
// COM1, an in-memory device paced at 115200 and then 921600 baud, whose driver queue (4096 bytes)
// reports the bytes it has not yet sent, as a real driver does. Each block's drain wait therefore
// lasts until the block has gone out, and the line stands idle while the next block is read,
// handed over and written. The data phase runs from the start of the first byte on the line to
// the end of the last; the line's own time for the bytes (ten bits each) against it is the share
// of the line rate the upload reached. Target: at least 0.99 at 115200.
//
//   bench_upload_device_efficiency [BAUD ...]

#include "app/fixed_text.h"
#include "app/kestrin_app.h"
#include "app/kestrin_form.h"
#include "bench/rates_main.h"
#include "fake_serial_device.h"
#include "serial/com_port.h"
#include "serial_test_support.h"
#include "upload/image_file.h"
#include "upload/progress_form.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr size_t kImageBytes = 256 * 1024;

std::string write_image(const QTemporaryDir& dir)
{
    std::string image(kImageBytes, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 % 251);
    const std::string path = dir.filePath("image.bin").toStdString();
    std::ofstream(path, std::ios::binary) << image;
    return path;
}

// Streams the image at `baud`; prints its figures and returns false when it did not complete.
bool measure(int baud)
{
    QTemporaryDir dir;
    FakeLine line;
    line.pace(baud);
    ComMapping mapping{{{1, "/dev/fake-com1"}}};
    KestrinWindows windows;
    TKestrinForm& form = *windows.KestrinForm;
    form.ApdComPort1->SetDeviceFactory(line.factory());
    form.ApdComPort1->SetComNumber(1);
    form.ApdComPort1->SetOpen(true);
    set_text(form.image_file_name, write_image(dir));
    if (form.get_file_checksum() != 1)
        return false;

    {
        ImageFileReader image{std::string(text_of(form.image_file_name))};
        form.stream_image(image);
    }
    windows.ProgressForm->HideProgressForm();
    const auto span = line.paced_span();
    if (windows.ProgressForm->cancel_flag != 0 || !span || line.sent().size() != kImageBytes) {
        std::fprintf(stderr, "%d baud: the upload did not complete\n", baud);
        return false;
    }
    const double phase_ms = std::chrono::duration<double, std::milli>(span->last_byte_end - span->first_byte_start).count();
    const double line_ms = kImageBytes * 10.0 * 1000.0 / baud;
    std::printf("%6d baud: %zu bytes in %zu blocks, data phase %.0f ms, line time %.0f ms, efficiency %.3f\n", baud,
                kImageBytes, (kImageBytes + 1999) / 2000, phase_ms, line_ms, line_ms / phase_ms);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    return measure_at_rates(argc, argv, {115200, 921600}, measure);
}

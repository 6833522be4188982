// The image file's checksum, length and date text, and the transfer to the unit.
//
// The transfer streams image_file_name as raw bytes in blocks of 2000 over whichever link is up,
// with the progress window showing, and hides the serial and Ethernet menus meanwhile. It then
// pauses and checks, up to three times, that the unit is back at its loader prompt. It reports
// failure only through cancel_flag, which also stops the running script.
//
// The unit is told the image's length and checksum in the header, so it must get exactly the
// bytes that _LA measured. _LD refuses a file whose stamp has changed since then, before the
// header goes out. The transfer sends file_length bytes and sums them as it reads: a file that
// has become shorter is never padded with bytes that were not read (the bytes read are sent and
// the upload is cancelled), and when the bytes read do not add up to the header's checksum the
// last block is held back and the upload cancelled, so the unit never gets a whole image that
// does not match its header.

#include "app/kestrin_form.h"

#include "app/event_pump.h"
#include "app/fixed_text.h"
#include "app/terminal_view.h"
#include "link/client_socket.h"
#include "serial/com_port.h"
#include "upload/image_file.h"
#include "upload/progress_form.h"

#include <QAction>
#include <QCryptographicHash>
#include <QMenu>
#include <QTimer>

#include <string>

namespace {

constexpr int32_t kBlockSize = 2000;
constexpr int32_t kAfterUploadTicks = 120;
constexpr int32_t kLastTryTicks = 400;
constexpr int kCommandIntervalAfterUpload = 14000;

} // namespace

int TKestrinForm::get_file_checksum()
{
    const std::string name(text_of(image_file_name));
    QCryptographicHash digest(QCryptographicHash::Sha256);
    const ImageSum sum = sum_image_file(name, [&digest](const unsigned char* bytes, size_t count) {
        digest.addData(QByteArrayView(bytes, static_cast<qsizetype>(count)));
    });
    switch (sum.result) {
    case ImageReadResult::ok:
        file_checksum = sum.checksum;
        file_length = sum.length;
        measured_image_stamp = sum.stamp;
        dialogs_->ImageMeasured(name, file_length, digest.result().toHex().toStdString());
        return 1;
    case ImageReadResult::cannot_open:
        dialogs().Message(this, "Error opening file " + name + ". Unable to get file checksum");
        break;
    case ImageReadResult::read_failed:
        dialogs().Message(this, "Error reading file " + name + ". Unable to get file checksum");
        break;
    case ImageReadResult::too_large:
        dialogs().Message(this, "Error! File " + name +
                                    " is longer than 2147483647 bytes. Unable to get file checksum");
        break;
    }
    return 0;
}

int TKestrinForm::get_date()
{
    const std::string name(text_of(image_file_name));
    const std::optional<std::time_t> written = image_file_time(name);
    if (!written) {
        dialogs().Message(this, "Error opening file " + name);
        return 0;
    }
    set_text(version_text, dos_date_text(*written));
    return 1;
}

bool TKestrinForm::image_unchanged_since_measured()
{
    const std::string name(text_of(image_file_name));
    if (image_file_stamp(name) == measured_image_stamp)
        return true;
    dialogs().Message(this, "Error! File " + name +
                                " has changed since its checksum was taken. Upload cancelled.");
    return false;
}

void TKestrinForm::UploadButtonClick()
{
    upload_idle = 0;
    image_in_flight = true;
    const std::string name(text_of(image_file_name));
    {
        ImageFileReader image(name);
        if (!image.is_open()) {
            // The header has gone out already: the script must not carry on as if the unit had
            // its image.
            dialogs().Message(this, "Error opening " + name + ".\r");
            ProgressForm->cancel_flag = 1;
            upload_idle = 1;
            image_in_flight = false;
            image_transfer_ended();
            return;
        }
        stream_image(image);
        image_transfer_ended();
    }
    ProgressForm->HideProgressForm();
    ConfigMenu->menuAction()->setVisible(true);
    Ethernet1->menuAction()->setVisible(true);
    upload_idle = 1;

    if (ProgressForm->cancel_flag == 1) {
        sleep_ms(500);
        pump_events();
        dialogs().Message(this, "Upload cancelled/incomplete!!! Upload for " + name +
                                    " section was incomplete.");
    } else {
        sleep_ms(post_upload_delay_ms);
    }
    pump_events();
    if (terminal_during_upload == 0)
        AdTerminal1->setEnabled(true);
    // A whole transfer is always checked: without a link its prompt check fails, since a unit that
    // went away after its image may not have kept it.
    if (link_exists() || ProgressForm->cancel_flag != 1)
        check_prompt_after_upload();
    image_in_flight = false;
    pump_events();
    pump_events();
    if (ClientSocket1->Active())
        SetTryEnetAgainFlag(false);
}

void TKestrinForm::stream_image(ImageFileReader& image)
{
    block_count = file_length / kBlockSize;
    const int32_t remainder = file_length - block_count * kBlockSize;
    ConfigMenu->menuAction()->setVisible(false);
    Ethernet1->menuAction()->setVisible(false);
    if (ApdComPort1->Open()) {
        ApdComPort1->FlushInBuffer();
        ApdComPort1->FlushOutBuffer();
        ApdComPort1->ProcessCommunications();
    }
    if (terminal_during_upload == 0)
        AdTerminal1->setEnabled(false);
    ProgressForm->ShowProgressForm(block_count);
    sleep_ms(100);

    if (block_count <= 0) {
        send_image_block(image, remainder);
        return;
    }
    for (int32_t i = 0; i < block_count && ProgressForm->cancel_flag != 1; ++i) {
        send_image_block(image, kBlockSize);
        if (ApdComPort1->Open())
            ApdComPort1->ProcessCommunications();
        pump_events();
    }
    if (ProgressForm->cancel_flag != 1 && remainder > 0) {
        send_image_block(image, remainder);
        pump_events();
    }
}

// Reads the next `count` bytes and sends them; a read that comes up short sends what it read
// and cancels the upload, because the unit was promised file_length bytes of this file.
void TKestrinForm::send_image_block(ImageFileReader& image, int32_t count)
{
    char buffer[2 * kBlockSize];
    const size_t wanted = static_cast<size_t>(count > kBlockSize ? kBlockSize : count);
    const size_t got = image.read(buffer, wanted);
    pump_events();
    if (!image_sum_holds(image)) {
        ProgressForm->cancel_flag = 1;
        return;
    }
    SendByte(static_cast<int32_t>(got), buffer);
    image_block_sent(static_cast<int32_t>(got));
    ProgressForm->StepIt();
    if (got < wanted) {
        dialogs().Message(this, "Error! Unable to read all " + std::to_string(file_length) +
                                    " bytes of file " + std::string(text_of(image_file_name)) +
                                    ". Cancel upload.");
        ProgressForm->cancel_flag = 1;
    }
}

// Once the whole image has been read, its bytes must add up to the checksum in the header.
bool TKestrinForm::image_sum_holds(const ImageFileReader& image)
{
    if (image.bytes_read() != static_cast<uint64_t>(file_length) ||
        image.checksum() == file_checksum)
        return true;
    dialogs().Message(this, "Error! File " + std::string(text_of(image_file_name)) +
                                " changed during the upload. Upload cancelled.");
    return false;
}

void TKestrinForm::check_prompt_after_upload()
{
    set_wait_prompt(prompt_char2);
    prompt_wait_ticks = kAfterUploadTicks;
    if (ClientSocket1->Active()) {
        CommandTimer->setInterval(kCommandIntervalAfterUpload);
        sleep_ms(1000);
        pump_events();
    }
    bool seen = SendCOMCmd_GetPrompt("\r");
    if (!seen) {
        sleep_ms(500);
        if (ClientSocket1->Active())
            sleep_ms(2000);
        pump_events();
        seen = SendCOMCmd_GetPrompt("\r");
    }
    if (!seen) {
        if (ClientSocket1->Active())
            sleep_ms(2000);
        prompt_wait_ticks = kLastTryTicks;
        seen = SendCOMCmd_GetPrompt("\r");
    }
    if (!seen) {
        dialogs().Message(this, "Error! Unable to receive prompt after upload. Upload "
                                "unsuccessful. Exiting script.");
        if (!link_exists())
            dialogs().Message(this, "Error! Communications lost.");
        ProgressForm->cancel_flag = 1;
    }
    CommandTimer->setInterval(kCommandIntervalAfterUpload);
}

// What the caller of an unattended run learns of each image: the header that announced it, its
// progress while it streams and whether all of it went out (upload/image_progress.h). The
// transfer calls these at the points where a block has gone out and where it ends; they neither
// wait nor process events.

#include "app/kestrin_form.h"

#include "app/fixed_text.h"
#include "upload/progress_form.h"

void TKestrinForm::image_announced(std::string_view header_line)
{
    image_progress.Announce(header_line, file_length);
}

// A block that stopped the upload, or that no link carried, may not have gone out whole.
void TKestrinForm::image_block_sent(int32_t count)
{
    if (ProgressForm->cancel_flag == 1 || !link_exists())
        return;
    if (image_progress.BlockSent(count, ImageProgress::Clock::now()))
        dialogs_->ImageProgress(text_of(image_file_name), image_progress.sent(),
                                image_progress.total());
}

void TKestrinForm::image_transfer_ended()
{
    const std::string_view file = text_of(image_file_name);
    if (image_progress.Ended())
        dialogs_->ImageProgress(file, image_progress.sent(), image_progress.total());
    dialogs_->UploadEnded(file, image_progress.header(), image_progress.complete());
}

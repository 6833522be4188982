// The progress window: its labels, the bar's range and steps, and cancel_flag.

#include "app/fixed_text.h"
#include "tests/support/form_fixture.h"
#include "upload/progress_form.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

void set_image(TKestrinForm& form, const char* name, uint32_t checksum, int32_t length,
               const char* address, const char* version)
{
    set_text(form.image_file_name, name);
    form.file_checksum = checksum;
    form.file_length = length;
    set_text(form.load_address_text, address);
    set_text(form.version_text, version);
}

} // namespace

TEST(ProgressForm, DesignedHiddenWithItsCancelButtonHiddenAndDisabled)
{
    FormFixture f;
    TProgressForm& progress = *f.windows->ProgressForm;
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(progress.size(), QSize(430, 154));
    EXPECT_TRUE(progress.CancelButton->isHidden());
    EXPECT_FALSE(progress.CancelButton->isEnabled());
    EXPECT_TRUE(progress.Label5->isHidden());
    EXPECT_TRUE(progress.FilePathLabel->isHidden());
    EXPECT_EQ(progress.Label1->text(), "TRANSFER STATUS ");
    EXPECT_EQ(progress.Label7->text(), "Date Modified:");
    EXPECT_EQ(progress.FileProgressBar->geometry(), QRect(8, 40, 417, 25));
}

TEST(ProgressForm, ShowFillsEveryLabelAndClearsTheCancelFlag)
{
    FormFixture f;
    TProgressForm& progress = *f.windows->ProgressForm;
    progress.cancel_flag = 1;
    set_image(f.form(), "images/boot.bin", 0x1A2B, 1234, "0x10000", "7/4/2003_9:05:08");
    progress.ShowProgressForm(0);
    EXPECT_EQ(progress.cancel_flag, 0);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(progress.BlockNameLabel->text(), "images/boot.bin");
    EXPECT_EQ(progress.ChecksumLabel->text(), "1A2B");
    EXPECT_EQ(progress.LoadAddressLabel->text(), "0x10000");
    EXPECT_EQ(progress.FileSizeLabel->text(), "1234");
    EXPECT_EQ(progress.DateModifiedLabel->text(), "7/4/2003_9:05:08");
    EXPECT_EQ(progress.FileProgressBar->minimum(), 0);
    EXPECT_EQ(progress.FileProgressBar->maximum(), 1);

    // A second upload shows its own values.
    progress.HideProgressForm();
    set_image(f.form(), "b.bin", 0, 4000, "0", "V1.0");
    progress.ShowProgressForm(2);
    EXPECT_EQ(progress.ChecksumLabel->text(), "0");
    EXPECT_EQ(progress.BlockNameLabel->text(), "b.bin");
    EXPECT_EQ(progress.DateModifiedLabel->text(), "V1.0");
    EXPECT_EQ(progress.FileProgressBar->maximum(), 2);
}

TEST(ProgressForm, SteppingPastTheMaximumIsHarmlessAndHideResetsTheBar)
{
    FormFixture f;
    TProgressForm& progress = *f.windows->ProgressForm;
    progress.ShowProgressForm(2);
    for (int step = 0; step < 3; ++step)
        progress.StepIt();
    EXPECT_EQ(progress.FileProgressBar->value(), 2);
    progress.HideProgressForm();
    EXPECT_EQ(progress.FileProgressBar->value(), 0);
    EXPECT_FALSE(progress.isVisible());
    progress.HideProgressForm(); // already hidden: only the reset
    EXPECT_EQ(progress.FileProgressBar->value(), 0);
    progress.CancelButtonClick();
    EXPECT_EQ(progress.cancel_flag, 1);
}

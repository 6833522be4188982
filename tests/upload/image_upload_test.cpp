// The transfer against the in-memory serial device: the blocks it hands over, the state the
// window is in while they stream, the prompt check after them, and the ways it is cut short.

#include "app/fixed_text.h"
#include "app/terminal_view.h"
#include "serial/com_port.h"
#include "tests/support/fake_com1.h"
#include "tests/support/non_regular_files.h"
#include "upload/progress_form.h"

#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Sizes = std::vector<size_t>;
using Strings = std::vector<std::string>;

// What the window showed at one moment while the blocks streamed.
struct Sample {
    bool menus_visible;
    bool idle;
    bool terminal_enabled;
    int bar_maximum;
};

struct UploadOnFakeCom1 : ::testing::Test, FakeCom1 {
    std::vector<Sample> samples;
    QTimer watcher;
    size_t answered_at = 0;

    void SetUp() override
    {
        form.post_upload_delay_ms = 0;
        // Notes the window while the progress window shows, and answers each carriage return that follows
        // the image with the loader prompt, as the unit does once it has its image.
        QObject::connect(&watcher, &QTimer::timeout, [this] {
            if (f.windows->ProgressForm->isVisible())
                samples.push_back({form.ConfigMenu->menuAction()->isVisible() ||
                                       form.Ethernet1->menuAction()->isVisible(),
                                   form.upload_idle == 1, form.AdTerminal1->isEnabled(),
                                   f.windows->ProgressForm->FileProgressBar->maximum()});
            const std::string sent = line.sent();
            if (answer_prompt && sent.size() > image_size && sent.size() > answered_at &&
                sent.back() == '\r') {
                answered_at = sent.size();
                line.feed(">");
            }
        });
        watcher.start(0);
    }

    // An image of `size` bytes, none of them a carriage return, measured as _LA measures it.
    std::string image(size_t size)
    {
        image_size = size;
        std::string bytes(size, 'Z');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>('A' + i % 26);
        f.dir.write("image.bin", bytes);
        set_text(form.image_file_name, "image.bin");
        EXPECT_EQ(form.get_file_checksum(), 1);
        return bytes;
    }

    // The sizes of the image blocks handed over: each block ends with an output flush, and the
    // transfer flushes once before its first block.
    Sizes blocks() const
    {
        const Sizes at = line.sent_at_output_purges();
        Sizes sizes;
        for (size_t i = 1; i < at.size() && at[i] <= image_size; ++i)
            sizes.push_back(at[i] - at[i - 1]);
        return sizes;
    }

    void expect_window_back_at_rest()
    {
        EXPECT_EQ(form.upload_idle, 1);
        EXPECT_FALSE(f.windows->ProgressForm->isVisible());
        EXPECT_EQ(f.windows->ProgressForm->FileProgressBar->value(), 0);
        EXPECT_TRUE(form.ConfigMenu->menuAction()->isVisible());
        EXPECT_TRUE(form.Ethernet1->menuAction()->isVisible());
        EXPECT_TRUE(form.AdTerminal1->isEnabled());
    }

    bool answer_prompt = true;
    size_t image_size = 0;
};

struct BlockCase {
    size_t length;
    Sizes blocks;
    int bar_maximum;
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.length << " bytes"; }

class UploadBlocks : public UploadOnFakeCom1, public ::testing::WithParamInterface<BlockCase> {};

} // namespace

TEST_P(UploadBlocks, StreamsTheImageInBlocksOfAtMost2000AndFindsThePromptAfterIt)
{
    const BlockCase c = GetParam();
    const std::string bytes = image(c.length);
    form.UploadButtonClick();

    EXPECT_EQ(line.sent(), bytes + "\r");
    EXPECT_EQ(blocks(), c.blocks);
    EXPECT_TRUE(f.dialogs.messages.empty());
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 0);
    EXPECT_EQ(form.block_count, static_cast<int32_t>(c.length / 2000));
    EXPECT_EQ(form.prompt_wait_ticks, 120);
    EXPECT_EQ(form.wait_prompt_char, '>');
    EXPECT_EQ(form.CommandTimer->interval(), 14000);
    ASSERT_FALSE(samples.empty());
    for (const Sample& s : samples) {
        EXPECT_FALSE(s.menus_visible);
        EXPECT_FALSE(s.idle);
        EXPECT_TRUE(s.terminal_enabled);
        EXPECT_EQ(s.bar_maximum, c.bar_maximum);
    }
    expect_window_back_at_rest();
}

INSTANTIATE_TEST_SUITE_P(Lengths, UploadBlocks,
                         ::testing::Values(BlockCase{0, {0}, 1}, BlockCase{1, {1}, 1},
                                           BlockCase{1999, {1999}, 1}, BlockCase{2000, {2000}, 1},
                                           BlockCase{6000, {2000, 2000, 2000}, 3},
                                           BlockCase{4500, {2000, 2000, 500}, 2}),
                         [](const auto& test) { return "Bytes" + std::to_string(test.param.length); });

TEST_F(UploadOnFakeCom1, TheTerminalTakesNoKeysWhileTheBlocksStreamWhenTheScriptAskedSo)
{
    form.terminal_during_upload = 0;
    image(4500);
    form.UploadButtonClick();
    ASSERT_FALSE(samples.empty());
    for (const Sample& s : samples)
        EXPECT_FALSE(s.terminal_enabled);
    expect_window_back_at_rest();
}

TEST_F(UploadOnFakeCom1, AFileThatCameUpShortIsSentOnlyAsFarAsItWasReadAndCancelled)
{
    const std::string bytes = image(3000);
    form.file_length = 4500; // the file has shrunk since _LA measured it
    form.UploadButtonClick();

    EXPECT_EQ(line.sent(), bytes + "\r");
    EXPECT_EQ(blocks(), (Sizes{2000, 1000}));
    EXPECT_EQ(f.dialogs.messages,
              (Strings{"Error! Unable to read all 4500 bytes of file image.bin. Cancel upload.",
                       "Upload cancelled/incomplete!!! Upload for image.bin section was incomplete."}));
    // The unit answered the prompt check; the cancel still stands, so the script stops.
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_EQ(form.prompt_wait_ticks, 120);
    expect_window_back_at_rest();
}

TEST_F(UploadOnFakeCom1, ADeviceThatVanishesMidwayStopsTheBlocksAndSkipsThePromptCheck)
{
    image(6000);
    line.vanish_after_written(2500);
    form.UploadButtonClick();

    EXPECT_EQ(line.sent().size(), 2500u);
    EXPECT_EQ(f.dialogs.messages,
              (Strings{"Note: COM Port #1 is not responding.",
                       "Upload cancelled/incomplete!!! Upload for image.bin section was incomplete."}));
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_FALSE(form.ApdComPort1->Open());
    EXPECT_EQ(form.CommandTimer->interval(), 15000); // the prompt check never ran
    expect_window_back_at_rest();
}

TEST_F(UploadOnFakeCom1, AnImageThatCannotBeOpenedSendsNothingAndStopsTheScript)
{
    image(100);
    set_text(form.image_file_name, "gone.bin");
    form.UploadButtonClick();

    EXPECT_EQ(line.sent(), "");
    EXPECT_EQ(line.output_purges(), 0);
    EXPECT_EQ(f.dialogs.messages, (Strings{"Error opening gone.bin.\r"}));
    // The header has gone out: the unit waits for an image, so the script must not go on.
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    EXPECT_TRUE(samples.empty()); // no progress window, no pause
    expect_window_back_at_rest();
}

TEST_F(UploadOnFakeCom1, AnImageThatHasBecomeAPipeIsRefusedTheSameWayAndNeverBlocks)
{
    image(100);
    ASSERT_TRUE(make_non_regular(f.dir.path("pipe.bin"), NonRegular::fifo));
    set_text(form.image_file_name, "pipe.bin");
    form.UploadButtonClick();

    EXPECT_EQ(line.sent(), "");
    EXPECT_EQ(f.dialogs.messages, (Strings{"Error opening pipe.bin.\r"}));
    EXPECT_EQ(f.windows->ProgressForm->cancel_flag, 1);
    expect_window_back_at_rest();
}

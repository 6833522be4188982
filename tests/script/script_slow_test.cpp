// Scripts against the simulated unit, with the exact bytes on the wire: the road of one upload,
// loader mode, the prompt waits and every way a run stops. These wait out the unit's time
// limits (7.4 s loader probes, the 4 s before the image, 6.6 s and 22 s prompt checks).

#include "tests/script/unit_run.h"

#include "tests/support/block_hold.h"
#include "tests/support/file_times.h"
#include "upload/image_file.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

const std::string kSuccess = "SUCCESS. Reading script file complete";
const std::string kTerminated = "Script file reading terminated by user/error(s).";
const std::string kLoaderProbes = "\rLOADR\r\n\r\r\r"; // the text ^M, the loader command, 3 probes

// 1234 bytes whose sum is 0x1A2B, CR, LF and Ctrl-Z among them.
std::string image_1234()
{
    std::string bytes(1234, '\x05');
    for (int i = 0; i < 529; ++i)
        bytes[static_cast<size_t>(i)] = '\x06';
    // Ten bytes of 5 become 13 + 10 + 26 + 1 and six zeros: the sum stays.
    const char special[10] = {'\r', '\n', '\x1a', '\x01', 0, 0, 0, 0, 0, 0};
    bytes.replace(600, 10, special, 10);
    return bytes;
}

} // namespace

TEST(ScriptRoad, OneUploadFromNormalModeToSuccess)
{
    UnitRun run;
    const std::string image = image_1234();
    ASSERT_EQ(sum_image_file(run.fixture.dir.write("probe.bin", image)).checksum, 0x1A2Bu);
    set_write_time(run.fixture.dir.write("image.bin", image), local_time(2003, 7, 4, 9, 5, 8));
    EventRounds rounds(*run.fixture.windows->ProgressForm);

    EXPECT_EQ(run.script("_TC \"^M\"\n_LF image.bin\n_LA 0x10000\n_LV DATE\n_LD\n_FI\n"), 1);

    const std::string header = "LF 0x10000 1234 1a2b 7/4/2003_9:05:08\r";
    EXPECT_TRUE(wire_reads(run, "\rLOADR\r\n\r" "\r" + header + image + "\r"));
    EXPECT_TRUE(run.fixture.dialogs.messages.empty());
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kSuccess);
    EXPECT_EQ(run.saved_image(1), image);
    const std::vector<std::string> events = run.sim().events();
    EXPECT_NE(std::find(events.begin(), events.end(),
                        "header word=LF address=0x10000 length=1234 checksum=1a2b "
                        "version=7/4/2003_9:05:08"),
              events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "checksum ok 1a2b"), events.end());
    // 3000 + 1000 ms between the header and the image, post_upload_delay_ms after it, each
    // without event processing.
    const std::vector<long long> gaps = rounds.gaps_until_progress_shows();
    EXPECT_TRUE(std::ranges::adjacent_find(gaps, [](long long a, long long b) {
                    return a >= 3000 && b >= 1000;
                }) != gaps.end())
        << ::testing::PrintToString(gaps);
    EXPECT_GE(rounds.gap_after_progress_hides(), 4000);

    TKestrinForm& form = run.form();
    EXPECT_EQ(form.version_set, 0);
    EXPECT_EQ(form.wait_prompt_char, '>');
    EXPECT_EQ(form.prompt_wait_ticks, 120);
    EXPECT_EQ(form.upload_idle, 1);
    EXPECT_FALSE(run.fixture.windows->ProgressForm->isVisible());
}

TEST(ScriptLoaderMode, AUnitInNormalModeOnlyStopsTheScript)
{
    UnitRun run({"--normal-only"});
    EXPECT_EQ(run.script("_TC \"^M\"\n_DM \"never\"\n"), 0);
    EXPECT_TRUE(wire_reads(run, kLoaderProbes + "\r"));
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Error! Unit not in Loader Mode! Exiting script"}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), " ");
    EXPECT_EQ(run.form().wait_prompt_char, '#');
    EXPECT_EQ(run.form().prompt_wait_ticks, 400);
    EXPECT_EQ(run.form().script_line_no, 0);
}

TEST(ScriptLoaderMode, ASilentUnitStopsTheScript)
{
    UnitRun run({"--silent"});
    EXPECT_EQ(run.script("_TC \"^M\"\n_DM \"never\"\n"), 0);
    EXPECT_TRUE(wire_reads(run, kLoaderProbes + "\r"));
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Error! Unable to get response from unit(_TC)! Exiting script"}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), " ");
}

TEST(ScriptLoaderMode, AChangedLoaderPromptIsTheOneAwaited)
{
    UnitRun run({"--prompts", "#]"});
    EXPECT_EQ(run.script("_PC \"]\"\n_SC \"LOADR\"\n_TC \"^M\"\n_DM \"in loader mode\"\n"), 1);
    EXPECT_TRUE(wire_reads(run, "LOADR\r\r"));
    EXPECT_EQ(run.fixture.dialogs.messages, (Strings{"in loader mode"}));
    EXPECT_EQ(run.form().wait_prompt_char, ']');
}

TEST(ScriptSendCommand, SendsItsTextAndACarriageReturn)
{
    UnitRun run;
    EXPECT_EQ(run.script("_SC \"AB^MCD\"\n_SC \"\"\n   _SC \"VER\"  x\n"), 1);
    EXPECT_TRUE(wire_reads(run, "AB\rCD\r\rVER\"  \r"));
}

TEST(ScriptUploadFailures, NoPromptBeforeTheUploadStopsTheRunEvenOnTheLastLine)
{
    UnitRun run({"--silent"});
    run.fixture.dir.write("image.bin", "abc");
    // The last line has no line feed: it is carried out whole and its failure stops the run.
    EXPECT_EQ(run.script("_LF image.bin\n_LA 0x10000\n_LV V1\n_LD"), 0);
    EXPECT_TRUE(wire_reads(run, "\r\r"));
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Error! Unable to receive prompt before upload.... Exiting script."}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), " ");
    EXPECT_EQ(run.form().version_set, 1);
    EXPECT_EQ(run.form().prompt_wait_ticks, 400);
}

namespace {

// Ways an image measured by _LA can have become another file by the time _LD runs.
struct ImageChange {
    const char* name;
    void (*change)(const TempWorkDir& dir);
};

void PrintTo(const ImageChange& c, std::ostream* os) { *os << c.name; }

const std::time_t kMeasuredTime = local_time(2003, 7, 4, 9, 5, 8);

// Runs the script as the automatic mode does and returns the result an unattended caller would
// read, once the exit status says the script failed.
std::string scripted_run(UnitRun& run, const std::string& script)
{
    RunRecord& record = run.form().run_record;
    record.ScriptStarted();
    EXPECT_EQ(run.script(script), 1);
    record.ScriptEnded();
    const RunOutcome outcome = record.outcome();
    EXPECT_EQ(outcome.status, kRunScriptFailed);
    return outcome.result;
}

class ScriptImageChanges : public ::testing::TestWithParam<ImageChange> {};

} // namespace

TEST_P(ScriptImageChanges, AreRefusedBeforeTheHeaderAndStopTheRun)
{
    UnitRun run;
    set_write_time(run.fixture.dir.write("image.bin", image_1234()), kMeasuredTime);
    run.fixture.dialogs.onMessage = [&](const std::string& text) {
        if (text == "change")
            GetParam().change(run.fixture.dir);
    };
    EXPECT_EQ(scripted_run(run, "_SC \"LOADR\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_DM \"change\"\n"
                                "_LD\n_DM \"never\"\n"),
              "fail: Error! File image.bin has changed since its checksum was taken. Upload cancelled.");
    // The unit was asked for its prompt and told of no image: a line sent after the run reaches
    // it right after the probe.
    run.form().SendString("end\r");
    EXPECT_TRUE(wire_reads(run, "LOADR\r\rend\r"));
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"change", "Error! File image.bin has changed since its checksum was taken. "
                                 "Upload cancelled."}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kTerminated);
    EXPECT_EQ(run.fixture.windows->ProgressForm->cancel_flag, 1);
    EXPECT_EQ(run.form().upload_idle, 1);
}

INSTANTIATE_TEST_SUITE_P(
    BetweenMeasureAndUpload, ScriptImageChanges,
    ::testing::Values(
        ImageChange{"Shrunk",
                    [](const TempWorkDir& dir) {
                        std::filesystem::resize_file(dir.path("image.bin"), 1000);
                    }},
        ImageChange{"RewrittenWithTheSameSize",
                    [](const TempWorkDir& dir) { dir.write("image.bin", std::string(1234, 'x')); }},
        ImageChange{"ReplacedByAFileOfTheSameSizeAndTime",
                    [](const TempWorkDir& dir) {
                        set_write_time(dir.write("new.bin", std::string(1234, 'x')), kMeasuredTime);
                        std::filesystem::rename(dir.path("new.bin"), dir.path("image.bin"));
                    }},
        ImageChange{"Removed",
                    [](const TempWorkDir& dir) { std::filesystem::remove(dir.path("image.bin")); }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ScriptUploadFailures, AnImageRewrittenDuringTheUploadLosesItsLastBlockAndStopsTheRun)
{
    UnitRun run;
    const std::string image(12000, 'i');
    const std::string path = run.fixture.dir.write("image.bin", image);
    set_write_time(path, kMeasuredTime);
    // Once the first block has gone out, the file's last byte changes; size and time stay.
    QProgressBar* bar = run.fixture.windows->ProgressForm->FileProgressBar;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int blocks) {
        if (blocks != 1)
            return;
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(11999);
        file.put('j');
        file.close();
        set_write_time(path, kMeasuredTime);
    });
    EXPECT_EQ(scripted_run(run, "_SC \"LOADR\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_DM \"never\"\n"),
              "fail: Error! File image.bin changed during the upload. Upload cancelled.");

    // Five of the six blocks reached the unit, which still waits for the rest, so the three
    // carriage returns of the prompt check are image bytes to it.
    EXPECT_TRUE(
        wire_reads(run, "LOADR\r\rLF 0x10000 12000 39e0 V1\r" + image.substr(0, 10000) + "\r\r\r"));
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Error! File image.bin changed during the upload. Upload cancelled.",
                       "Upload cancelled/incomplete!!! Upload for image.bin section was incomplete.",
                       "Error! Unable to receive prompt after upload. Upload unsuccessful. Exiting "
                       "script."}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kTerminated);
    EXPECT_EQ(run.fixture.windows->ProgressForm->cancel_flag, 1);
}

TEST(ScriptUploadFailures, AMissingImageFileIsReportedAndTheScriptGoesOnWithoutUploading)
{
    UnitRun run;
    EXPECT_EQ(run.script("_SC \"LOADR\"\n_LF missing.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n"), 1);
    EXPECT_TRUE(wire_reads(run, "LOADR\r"));
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Error! Unable to open file missing.bin. Cannot upload file."}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kSuccess);
}

TEST(ScriptWaitPrompt, EndsOnWhicheverPromptTheUnitShows)
{
    UnitRun run;
    run.form().prompt_wait_ticks = 10;
    run.form().wait_prompt_char = '>';
    EXPECT_EQ(run.script("_WP\n"), 1);
    // A probe for '>', then one for '#' that the unit in normal mode answers; a unit slower than
    // the 10 ticks adds rounds of two probes. Each probe was answered, so each is logged.
    const std::string wire = run.wire_bytes();
    EXPECT_GE(wire.size(), 2u);
    EXPECT_EQ(wire.size() % 2, 0u);
    EXPECT_EQ(wire.find_first_not_of('\r'), std::string::npos) << wire;
    EXPECT_EQ(run.form().wait_prompt_char, '#');
}

TEST(ScriptWaitPrompt, EndsWhenTheCancelFlagIsRaised)
{
    UnitRun run({"--silent"});
    run.form().prompt_wait_ticks = 5;
    QTimer::singleShot(2000, [&] { run.fixture.windows->ProgressForm->cancel_flag = 1; });
    EXPECT_EQ(run.script("_WP\n_DM \"never\"\n"), 1);
    EXPECT_TRUE(run.fixture.dialogs.messages.empty());
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kTerminated);
    EXPECT_GE(run.wire_bytes(3).size(), 3u);
}

TEST(ScriptWaitPrompt, AUnitThatFallsSilentAfterTheLinkWasVerifiedStopsTheScriptAtTheBound)
{
    UnitRun run({"--quiet-after", "2"});
    TKestrinForm& form = run.form();
    ASSERT_EQ(form.check_com(1), 1); // the unit's first prompt
    form.prompt_wait_ticks = 10;
    form.wp_give_up_ms = 2000;
    // The second prompt ends the first _WP, unless it comes later than the 10 ticks; either way
    // the unit then says nothing more and a _WP gives up at the bound.
    EXPECT_EQ(run.script("_WP\n_WP\n_DM \"never\"\n"), 0);
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Error! Unable to get response from unit(_WP)! Exiting script"}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), " ");
    const std::string wire = run.wire_bytes(2);
    EXPECT_GE(wire.size(), 2u); // the check and the first _WP's probe, then a number of rounds
    EXPECT_EQ(wire.find_first_not_of('\r'), std::string::npos) << wire;
}

namespace {

// Images whose length is 0, a whole number of blocks, and a whole number of blocks and a rest.
class ScriptImageLengths : public ::testing::TestWithParam<size_t> {};

std::string image_of(size_t length)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(i * 7 % 256);
    return bytes;
}

std::string hex_checksum(const std::string& image)
{
    uint32_t sum = 0;
    for (unsigned char byte : image)
        sum += byte;
    char text[8];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(sum % 65536));
    return text;
}

std::string header_v1(const std::string& image)
{
    return "LF 0x10000 " + std::to_string(image.size()) + " " + hex_checksum(image) + " V1\r";
}

} // namespace

TEST_P(ScriptImageLengths, ReachTheUnitWholeAndItsChecksumHolds)
{
    UnitRun run;
    const std::string image = image_of(GetParam());
    run.fixture.dir.write("image.bin", image);

    EXPECT_EQ(run.script("_SC \"LOADR\"\n_LP 1\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n"), 1);

    EXPECT_TRUE(wire_reads(run, "LOADR\r\r" + header_v1(image) + image + "\r"));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kSuccess);
    EXPECT_TRUE(run.fixture.dialogs.messages.empty());
    EXPECT_EQ(run.saved_image(1), image);
    const Strings events = run.sim().events();
    EXPECT_NE(std::find(events.begin(), events.end(), "checksum ok " + hex_checksum(image)),
              events.end());
}

INSTANTIATE_TEST_SUITE_P(Blocks, ScriptImageLengths, ::testing::Values(0u, 4000u, 4500u),
                         [](const auto& test) { return "Bytes" + std::to_string(test.param); });

TEST(ScriptUploadFailures, ALinkDroppedInTheMiddleOfTheImageStopsTheRun)
{
    UnitRun run({"--drop-after", "1000"});
    const std::string image = image_of(4500);
    run.fixture.dir.write("image.bin", image);
    // The pseudo-terminal would take the whole image before the unit drops the link: the
    // transfer waits after its first block until the loss has stopped it.
    TProgressForm& progress = *run.fixture.windows->ProgressForm;
    BlockHold hold(progress, 1, [&] { return progress.cancel_flag == 1; });

    EXPECT_EQ(run.script("_SC \"LOADR\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_DM \"never\"\n"), 1);

    EXPECT_TRUE(hold.held());
    EXPECT_TRUE(run.sim().waitForEvent("dropped after 1000", std::chrono::seconds(10)));
    // The unit took what reached it before it dropped the link: the first block at most, all of
    // it the image's own, in order.
    const std::string sent = "LOADR\r\r" + header_v1(image) + image;
    const std::string wire = run.wire_bytes(sent.size() - image.size() + 1000);
    EXPECT_GE(wire.size(), sent.size() - image.size() + 1000);
    EXPECT_LE(wire.size(), sent.size() - image.size() + 2000);
    EXPECT_TRUE(sent.compare(0, wire.size(), wire) == 0) << "the wire is no prefix of the upload";
    EXPECT_EQ(run.fixture.dialogs.messages,
              (Strings{"Note: COM Port #1 is not responding.",
                       "Upload cancelled/incomplete!!! Upload for image.bin section was incomplete."}));
    EXPECT_EQ(run.fixture.dialogs.statuses.back(), kTerminated);
    EXPECT_FALSE(run.form().ApdComPort1->Open());
    EXPECT_EQ(run.form().upload_idle, 1);
    EXPECT_FALSE(progress.isVisible());
}

// The commands that need no unit: texts, pauses, settings, and the upload chain up to _LD.

#include "tests/script/script_run.h"
#include "tests/support/non_regular_files.h"

#include "app/fixed_text.h"
#include "link/client_socket_form.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

TEST(TextCommands, SendCommandBuildsItsTextWithCarriageReturns)
{
    FormFixture f;
    run_script(f, "_SC \"AB^MCD\"\n");
    EXPECT_STREQ(f.form().cmd_buf, "AB\rCD\r");
    run_script(f, "_SC \"\"\n");
    EXPECT_STREQ(f.form().cmd_buf, "\r");
    // Without a quote the command does nothing, and the line still takes its slot.
    run_script(f, "_SC VER\n");
    EXPECT_STREQ(f.form().cmd_buf, "\r");
    EXPECT_EQ(f.form().script_line_no, 1);
}

TEST(TextCommands, DisplayMessageShowsItsTextAndKeepsIt)
{
    FormFixture f;
    run_script(f, "_DM \"Power the unit^Mthen press OK\"\n_DM \"\n_DM none\n");
    EXPECT_EQ(f.dialogs.messages, (Strings{"Power the unit\rthen press OK"}));
    EXPECT_STREQ(f.form().message_buf, "Power the unit\rthen press OK");
}

TEST(SettingCommands, LoaderPauseSetsSecondsAndIgnoresZeroOrNothing)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    run_script(f, "_LP 0\n_LP x\n_LP\n");
    EXPECT_EQ(form.post_upload_delay_ms, 4000);
    run_script(f, "_LP 2\n");
    EXPECT_EQ(form.post_upload_delay_ms, 2000);
    run_script(f, "_LP 99999999\n");
    EXPECT_EQ(form.post_upload_delay_ms, std::numeric_limits<int32_t>::max());
}

TEST(SettingCommands, UploadWordIsTakenWithoutEscapes)
{
    FormFixture f;
    run_script(f, "_LC \"A^MB\"\n");
    EXPECT_EQ(f.form().upload_cmd_word, "A^MB");
    run_script(f, "_LC \"\"\n");
    EXPECT_EQ(f.form().upload_cmd_word, "");
}

TEST(SettingCommands, PromptCharacterChangesTheLoaderPromptOnly)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    form.wait_prompt_char = '>';
    run_script(f, "_PC \"]\"\n");
    EXPECT_EQ(form.prompt_char2, ']');
    EXPECT_EQ(form.wait_prompt_char, '>');
    run_script(f, "_PC ]\n");
    EXPECT_EQ(form.prompt_char2, ']');
    run_script(f, "_PC \"");
    EXPECT_EQ(form.prompt_char2, '\0');
}

TEST(SettingCommands, TerminalDuringUploadIsOffOnlyForABlankAndNothingElse)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    run_script(f, "_LT 0\n");
    EXPECT_EQ(form.terminal_during_upload, '0');
    run_script(f, "_LT \n");
    EXPECT_EQ(form.terminal_during_upload, 0);
    run_script(f, "_LT1\n");
    EXPECT_EQ(form.terminal_during_upload, 0);
    run_script(f, "_LT   y\n");
    EXPECT_EQ(form.terminal_during_upload, 'y');
}

// --- the upload chain ---------------------------------------------------------------------

namespace {

// 1234 bytes adding up to 70000.
std::string image_1234_summing_70000()
{
    std::string bytes(1234, '\0');
    int left = 70000;
    for (char& b : bytes) {
        const int v = left > 255 ? 255 : left;
        b = static_cast<char>(v);
        left -= v;
    }
    return bytes;
}

} // namespace

TEST(UploadChain, StepsOutOfTurnAreIgnored)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    f.dir.write("image.bin", "abc");
    run_script(f, "_LA 0x10000\n_LV V1\n_LD\n");
    EXPECT_EQ(form.file_length, 0);
    EXPECT_STREQ(form.load_address_text, "");
    EXPECT_STREQ(form.version_text, "");
    EXPECT_EQ(form.script_line_no, 3);
    EXPECT_TRUE(f.dialogs.messages.empty());
}

TEST(UploadChain, FileAddressAndVersionTakeTheChecksumLengthAndTexts)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    f.dir.write("image.bin", image_1234_summing_70000());
    run_script(f, "_LF image.bin\n");
    EXPECT_EQ(form.image_file_set, 1);
    EXPECT_STREQ(form.image_file_name, "image.bin");
    run_script(f, "_LA 0x10000\n");
    EXPECT_EQ(form.image_file_set, 0);
    EXPECT_EQ(form.load_address_set, 1);
    EXPECT_STREQ(form.load_address_text, "0x10000");
    EXPECT_EQ(form.file_length, 1234);
    EXPECT_EQ(form.file_checksum, 0x1170u);
    run_script(f, "_LV v1.0-rc\n");
    EXPECT_EQ(form.load_address_set, 0);
    EXPECT_EQ(form.version_set, 1);
    EXPECT_STREQ(form.version_text, "V1.0-RC");
    EXPECT_TRUE(f.dialogs.messages.empty());
}

TEST(UploadChain, VersionDateInAnyCaseTakesTheFileDate)
{
    for (const char* word : {"date", "Date", "DATE"}) {
        FormFixture f;
        f.dir.write("image.bin", "abc");
        run_script(f, std::string("_LF image.bin\n_LA 0\n_LV ") + word + "\n");
        EXPECT_EQ(f.form().version_set, 1);
        // The text's form is checked with a fixed time in the image file tests.
        EXPECT_NE(std::string(f.form().version_text), "DATE");
        EXPECT_NE(std::string(f.form().version_text).find('_'), std::string::npos);
    }
}

TEST(UploadChain, AFileThatDoesNotOpenIsReportedAndAdvancesNothing)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    run_script(f, "_LF missing.bin\n_LA 0x10000\n_DM \"goes on\"\n");
    const std::string expected = "Error! Unable to open file missing.bin. Cannot upload file.";
    EXPECT_EQ(f.dialogs.messages, (Strings{expected, "goes on"}));
    EXPECT_EQ(form.msg_text, expected);
    EXPECT_EQ(form.image_file_set, 0);
    EXPECT_EQ(form.load_address_set, 0);
    EXPECT_EQ(f.dialogs.statuses.back(), "SUCCESS. Reading script file complete");
}

TEST(UploadChain, AChecksumThatCannotBeTakenSendsTheChainBackToTheFile)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    f.dir.write("image.bin", "abc");
    f.dialogs.onMessage = [&](const std::string& text) {
        if (text == "remove")
            std::filesystem::remove(f.dir.path("image.bin"));
    };
    run_script(f, "_LF image.bin\n_DM \"remove\"\n_LA 0x10000\n_LV V1\n");
    EXPECT_EQ(f.dialogs.messages,
              (Strings{"remove", "Error opening file image.bin. Unable to get file checksum"}));
    EXPECT_EQ(form.image_file_set, 0);
    EXPECT_EQ(form.load_address_set, 0);
    EXPECT_EQ(form.version_set, 0);
}

// A pipe blocks an ordinary open and a device never ends: each step refuses them with its own
// message for a file that does not open, also when the image became one after an earlier step.
TEST(UploadChain, APipeADeviceOrADirectoryIsRefusedByEveryStepLikeAFileThatDoesNotOpen)
{
    for (NonRegular kind : kNonRegularKinds) {
        SCOPED_TRACE(name_of(kind));
        FormFixture f;
        TKestrinForm& form = f.form();
        ASSERT_TRUE(make_non_regular(f.dir.path("odd.bin"), kind));
        run_script(f, "_LF odd.bin\n_LA 0x10000\n");
        EXPECT_EQ(f.dialogs.messages,
                  (Strings{"Error! Unable to open file odd.bin. Cannot upload file."}));
        EXPECT_EQ(form.image_file_set, 0);

        f.dir.write("image.bin", "abc");
        f.dialogs.onMessage = [&](const std::string& text) {
            if (text == "swap")
                make_non_regular(f.dir.path("image.bin"), kind);
        };
        f.dialogs.messages.clear();
        run_script(f, "_LF image.bin\n_DM \"swap\"\n_LA 0x10000\n");
        EXPECT_EQ(f.dialogs.messages,
                  (Strings{"swap", "Error opening file image.bin. Unable to get file checksum"}));
        EXPECT_EQ(form.load_address_set, 0);

        std::filesystem::remove_all(f.dir.path("image.bin"));
        f.dir.write("image.bin", "abc");
        f.dialogs.messages.clear();
        run_script(f, "_LF image.bin\n_LA 0x10000\n_DM \"swap\"\n_LV DATE\n");
        EXPECT_EQ(f.dialogs.messages, (Strings{"swap", "Error opening file image.bin"}));
        EXPECT_STREQ(form.version_text, "DATE");
    }
}

TEST(UploadChain, DateOfAFileThatHasGoneStaysDate)
{
    FormFixture f;
    f.dir.write("image.bin", "abc");
    f.dialogs.onMessage = [&](const std::string& text) {
        if (text == "remove")
            std::filesystem::remove(f.dir.path("image.bin"));
    };
    run_script(f, "_LF image.bin\n_LA 0x10000\n_DM \"remove\"\n_LV DATE\n");
    EXPECT_EQ(f.dialogs.messages, (Strings{"remove", "Error opening file image.bin"}));
    EXPECT_STREQ(f.form().version_text, "DATE");
    EXPECT_EQ(f.form().version_set, 1);
}

TEST(UploadChain, TextsLongerThanTheirFieldsAreRefusedAndNeverOverrun)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    f.dir.write("image.bin", "abc");
    const std::string address(50, 'A');
    run_script(f, "_LF image.bin\n_LA " + address + "\n");
    EXPECT_EQ(f.dialogs.messages, (Strings{"Error! Load address " + address +
                                           " is longer than 49 characters. Cannot upload file."}));
    EXPECT_EQ(form.load_address_set, 0);
    EXPECT_STREQ(form.load_address_text, "");

    const std::string version(90, 'v');
    run_script(f, "_LF image.bin\n_LA " + address.substr(1) + "\n_LV " + version + "\n");
    EXPECT_EQ(f.dialogs.messages.back(), "Error! Version text " + version +
                                             " is longer than 89 characters. Cannot upload file.");
    EXPECT_EQ(std::string(form.load_address_text), address.substr(1));
    EXPECT_EQ(form.version_set, 0);
    EXPECT_STREQ(form.version_text, "");
}

TEST(UploadChain, ANewFileStartsANewChain)
{
    FormFixture f;
    TKestrinForm& form = f.form();
    f.dir.write("a.bin", "abc");
    f.dir.write("b.bin", "defgh");
    run_script(f, "_LF a.bin\n_LA 0x10000\n_LV V1\n_LF b.bin\n_LD\n");
    // _LD of a's chain would carry a's length in b's header: it is ignored.
    EXPECT_EQ(form.version_set, 0);
    EXPECT_EQ(form.load_address_set, 0);
    EXPECT_EQ(form.image_file_set, 1);
    EXPECT_EQ(form.file_length, 3);
    EXPECT_STREQ(form.cmd_buf, "");
}

TEST(UploadChain, ChainStateSurvivesTheEndOfARun)
{
    FormFixture f;
    f.dir.write("image.bin", "abc");
    run_script(f, "_LF image.bin\n");
    run_script(f, "_LA 0x20000\n");
    EXPECT_EQ(f.form().load_address_set, 1);
    EXPECT_EQ(f.form().file_checksum, 0x126u);
}

TEST(WaitPrompt, WithoutAnyLinkStopsTheScriptAtOnceWithItsMessage)
{
    FormFixture f;
    // A connect attempt of the Ethernet link stays on this machine, where nothing listens.
    TClientSocketForm& dialog = *f.windows->ClientSocketForm;
    for (QLineEdit* octet : {dialog.IPEdit1, dialog.IPEdit2, dialog.IPEdit3, dialog.IPEdit4})
        octet->setText("1");
    dialog.IPEdit1->setText("127");
    dialog.PortNumberTxEdit->setText("1");
    EXPECT_EQ(run_script(f, "_WP\n_DM \"never\"\n"), 0);
    ASSERT_FALSE(f.dialogs.messages.empty());
    EXPECT_EQ(f.dialogs.messages.back(), "Error! Unable to get response from unit(_WP)! Exiting script");
    EXPECT_EQ(std::count(f.dialogs.messages.begin(), f.dialogs.messages.end(), "never"), 0);
    EXPECT_EQ(f.dialogs.statuses.back(), " ");
}

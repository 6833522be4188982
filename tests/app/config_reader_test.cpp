// The LoaderDefault.ini reader: positional line counting, every setting-line rule, the prompt
// characters, the brand line, and files that are missing, over-long or full of odd bytes.
#include "app/config_reader.h"

#include "tests/support/non_regular_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <utility>

void PrintTo(const ConfigSettings& s, std::ostream* os)
{
    auto field = [os](const char* name, const auto& value) {
        if (value)
            *os << name << "=" << ::testing::PrintToString(*value) << " ";
    };
    *os << "{opened=" << s.file_opened << " messages=" << ::testing::PrintToString(s.messages) << " ";
    field("ini_com_number", s.ini_com_number);
    field("baud", s.baud);
    field("data_bits", s.data_bits);
    field("parity", s.parity);
    field("stop_bits", s.stop_bits);
    field("auto_script_path", s.auto_script_path);
    field("auto_upload", s.auto_upload);
    field("prompt_char1", s.prompt_char1);
    field("prompt_char2", s.prompt_char2);
    field("loader_mode_cmd", s.loader_mode_cmd);
    field("terminal_visible", s.terminal_visible);
    field("back_color", s.back_color);
    field("text_color", s.text_color);
    field("upload_cmd_word", s.upload_cmd_word);
    field("ethernet_mode", s.ethernet_mode);
    field("unit_address", s.unit_address);
    field("unit_port", s.unit_port);
    *os << "}";
}

namespace {

using Lines = std::vector<std::pair<int, std::string>>;

Lines setting_lines_of(std::string_view text)
{
    Lines lines;
    for_each_setting_line_in_text(text, [&](int n, std::string_view line) { lines.emplace_back(n, line); });
    return lines;
}

// Setting lines that count but hold no '='.
std::string fillers(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "filler\r\n";
    return text;
}

// A file in which `line` is setting line n.
std::string file_with_setting_line(int n, std::string_view line)
{
    return fillers(n - 1) + std::string(line) + "\r\n";
}

ConfigSettings opened(ConfigSettings s)
{
    s.file_opened = true;
    return s;
}

class ConfigFile : public ::testing::Test {
protected:
    std::string write(std::string_view bytes)
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto dir = std::filesystem::path(KESTRIN_BUILD_DIR) / "config_reader_test";
        std::filesystem::create_directories(dir);
        path_ = (dir / (std::string(test->name()) + ".ini")).string();
        std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path_;
    }
    void TearDown() override
    {
        if (!path_.empty())
            std::filesystem::remove(path_);
    }
    std::string path_;
};

} // namespace

TEST(SettingLines, SkippedLinesAreNotCounted)
{
    EXPECT_EQ(setting_lines_of("[Serial]\r\n; comment\r\n\r\nPort=COM3\r\n"), (Lines{{1, "Port=COM3"}}));
    EXPECT_EQ(read_config_settings_from_text("[Serial]\r\n; comment\r\n\r\nPort=COM3\r\n"),
              opened({.ini_com_number = 3}));
    // Only the very first character decides; a line without '=' still counts.
    EXPECT_EQ(setting_lines_of(" ;x\n[\n;\nno equals\n=\n"), (Lines{{1, " ;x"}, {2, "no equals"}, {3, "="}}));
}

TEST(SettingLines, LineEnds)
{
    // Only a CR right before a LF is dropped; a lone CR belongs to the line.
    EXPECT_EQ(setting_lines_of("a\r\nb\rc\r\r\n\r\n\r\r\n"), (Lines{{1, "a"}, {2, "b\rc\r"}, {3, "\r"}}));
    // The end of the file completes the last line, LF or not.
    EXPECT_EQ(setting_lines_of("a\nb"), (Lines{{1, "a"}, {2, "b"}}));
    EXPECT_EQ(setting_lines_of("a\nb\r"), (Lines{{1, "a"}, {2, "b\r"}}));
    EXPECT_EQ(setting_lines_of(""), Lines{});
}

TEST(SettingLines, OverLongLineIsCutAndCountsOnce)
{
    const std::string long_line = "K=" + std::string(500, 'a');
    const Lines lines = setting_lines_of(long_line + "\r\nnext\r\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (std::pair<int, std::string>(1, long_line.substr(0, 299))));
    EXPECT_EQ(lines[1], (std::pair<int, std::string>(2, "next")));
    // Exactly 299 characters fit whole.
    EXPECT_EQ(setting_lines_of(std::string(299, 'x')), (Lines{{1, std::string(299, 'x')}}));
}

TEST(SettingLines, NulEndsTheLineTextAndCtrlZIsOrdinary)
{
    using namespace std::string_literals;
    EXPECT_EQ(setting_lines_of("ab\0cd\nnext"s), (Lines{{1, "ab"}, {2, "next"}}));
    // A line whose text is empty is skipped like an empty line.
    EXPECT_EQ(setting_lines_of("\0abc\nnext"s), (Lines{{1, "next"}}));
    EXPECT_EQ(setting_lines_of("\x1a\nnext\x1a"), (Lines{{1, "\x1a"}, {2, "next\x1a"}}));
}

TEST(SettingLines, AtMostTwentyNineAreRead)
{
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "; between\r\nL" + std::to_string(i) + "\r\n";
    const Lines lines = setting_lines_of(text);
    ASSERT_EQ(lines.size(), 29u);
    for (int i = 1; i <= 29; ++i)
        EXPECT_EQ(lines[i - 1], (std::pair<int, std::string>(i, "L" + std::to_string(i))));
}

TEST(ConfigSettingsRules, EachSettingLine)
{
    const std::string digits20 = "99999999999999999999";
    struct Row {
        int n;
        std::string line;
        ConfigSettings expected;
    };
    const Row rows[] = {
        {1, "Port=COM3", {.ini_com_number = 3}},
        {1, "COM=COM 05", {.ini_com_number = 5}},
        {1, "COM=12", {.ini_com_number = 12}},
        {1, "COM=0", {}},
        {1, "COM=COM", {}},
        {1, "COM=-7x", {.ini_com_number = 7}},
        {1, "COM=" + digits20, {.ini_com_number = INT_MAX}},
        {1, "COM 3", {}},

        {2, "Baud= 9600", {.baud = 9600}},
        {2, "Baud=115200", {.baud = 115200}},
        {2, "Baud=1200", {.baud = 1200}},
        {2, "Baud=14400", {.messages = {kInvalidBaudMessage}}},
        {2, "Baud=", {.messages = {kInvalidBaudMessage}}},
        {2, "Baud=fast", {.messages = {kInvalidBaudMessage}}},
        {2, "Baud=" + digits20, {.messages = {kInvalidBaudMessage}}},
        {2, "Baud=" + std::string(15, '0') + "9600", {.baud = 9600}},
        {2, "Baud=" + std::string(16, '0') + "9600", {.messages = {kInvalidBaudMessage}}}, // "…960" is left
        {2, "Baud 14400", {}},

        {3, "Data=5", {.data_bits = 5}},
        {3, "Data=8", {.data_bits = 8}},
        {3, "Data=4", {}},
        {3, "Data=9", {}},
        {4, "Parity=0", {.parity = 0}},
        {4, "Parity=4", {.parity = 4}},
        {4, "Parity=5", {}},
        {4, "Parity=-1", {}},
        {5, "Stop=1", {.stop_bits = 1}},
        {5, "Stop=2", {.stop_bits = 2}},
        {5, "Stop=0", {}},
        {5, "Stop=3", {}},

        {6, "Script=  /tmp/a b.sld ", {.auto_script_path = "/tmp/a b.sld "}},
        {6, "Script=a=b", {.auto_script_path = "a=b"}},
        {6, "Script=", {.auto_script_path = ""}},
        {6, "Script=" + std::string(250, 's'), {.auto_script_path = std::string(199, 's')}},
        {7, "Unused=5", {}},

        {8, "Mode = automatic", {.auto_upload = true}},
        {8, "Mode=auto matic", {.auto_upload = true}},
        {8, "Mode=AutoMatic", {.auto_upload = true}},
        {8, "Mode=AUTOMATIC;x", {}},
        {8, "Mode=manual", {}},
        {8, "Mode=" + std::string(10, ' ') + "automatic", {.auto_upload = true}},
        {8, "Mode=" + std::string(11, ' ') + "automatic", {}}, // the 'c' is cut off

        {14, "Prompt1=  $x", {.prompt_char1 = '$'}},
        {14, "Prompt1=", {.prompt_char1 = '\0'}},
        {14, "Prompt1=   ", {.prompt_char1 = '\0'}},
        {14, "Prompt1 $", {}},
        {15, "Prompt2=]", {.prompt_char2 = ']'}},
        {15, "Prompt2=", {.prompt_char2 = '\0'}},
        {15, "Prompt2 >", {}},

        {19, "Loader=BOOT", {.loader_mode_cmd = "BOOT\r\n"}},
        {19, "Loader= BOOT ", {.loader_mode_cmd = "BOOT \r\n"}},
        {19, "Loader=", {}},
        {19, "Loader=   ", {}},
        {19, "Loader=ABCDEFGHIJKLMNOPQRS", {.loader_mode_cmd = "ABCDEFGHIJKLMNOPQ\r\n"}},
        {19, "Loader=  ABCDEFGHIJKLMNOPQRS", {.loader_mode_cmd = "ABCDEFGHIJKLMNOPQ\r\n"}},

        {20, "Visible=0", {.terminal_visible = false}},
        {20, "Visible= 1", {.terminal_visible = true}},
        {20, "Visible=no", {.terminal_visible = false}}, // not a number: the number 0
        {20, "Visible=2", {}},
        {21, "Back=0", {.back_color = 0}},
        {21, "Back= 5", {.back_color = 5}},
        {21, "Back=6", {}},
        {21, "Back=-1", {}},
        {22, "Text=3", {.text_color = 3}},
        {22, "Text=-2", {}},
        {23, "Brand=100", {}},

        {24, "Word=LD", {.upload_cmd_word = "LD"}},
        {24, "Word=  ld x ", {.upload_cmd_word = "ld x "}},
        {24, "Word=", {}},
        {24, "Word=" + std::string(25, 'w'), {.upload_cmd_word = std::string(19, 'w')}},

        {25, "Enet= TRUE", {.ethernet_mode = true}},
        {25, "Enet=true", {}},
        {25, "Enet=TRUE ", {}},
        {25, "Enet=FALSE", {}},
        {25, "Enet=TRUE\r", {}}, // a lone CR is part of the value

        {26, "IP=10.0.0.7", {.unit_address = std::array{10, 0, 0, 7}}},
        {26, "IP= 192.168.1.20x", {.unit_address = std::array{192, 168, 1, 20}}},
        {26, "IP=10. 0.+0.7", {.unit_address = std::array{10, 0, 0, 7}}},
        {26, "IP=10.0.0.256", {}},
        {26, "IP=-1.0.0.7", {}},
        {26, "IP=10.0.0", {}},
        {26, "IP=10 .0.0.7", {}},
        {26, "IP=4294967306.0.0.1", {}}, // 2^32 + 10 must not wrap to 10
        {26, "IP=", {}},

        {27, "Port=0", {.unit_port = 0}},
        {27, "Port=3000", {.unit_port = 3000}},
        {27, "Port= 65535 x", {.unit_port = 65535}},
        {27, "Port=70000", {}},
        {27, "Port=65536", {}},
        {27, "Port=-1", {}},
        {27, "Port=x", {}},
        {27, "Port=4294970296", {}}, // 2^32 + 3000 must not wrap to 3000
        {27, "Port=" + digits20, {}},
        {28, "Extra=1", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("setting line " + std::to_string(row.n) + ": " + row.line);
        EXPECT_EQ(read_config_settings_from_text(file_with_setting_line(row.n, row.line)), opened(row.expected));
    }
}

TEST(ConfigSettingsRules, WholeFileSetsEachFieldFromItsPosition)
{
    const std::string text =
        "[Serial]\r\nCOM=COM2\r\nBaud=19200\r\nData=7\r\nParity=2\r\nStop=2\r\n"
        "; automatic run\r\nScript=demo.sld\r\nx=7\r\nMode=Automatic\r\n"
        "9\r\n10\r\n11\r\n12\r\n13\r\nPrompt1=$\r\nPrompt2=%\r\n16\r\n17\r\n18\r\n"
        "[Unit]\r\nLoader=BOOT\r\nVisible=0\r\nBack=1\r\nText=5\r\nBrand=100\r\nWord=LD\r\n"
        "Enet= TRUE\r\nIP=10.1.2.3\r\nPort=3001\r\n28\r\n29\r\nCOM=COM9\r\n";
    EXPECT_EQ(read_config_settings_from_text(text),
              opened({.ini_com_number = 2,
                      .baud = 19200,
                      .data_bits = 7,
                      .parity = 2,
                      .stop_bits = 2,
                      .auto_script_path = "demo.sld",
                      .auto_upload = true,
                      .prompt_char1 = '$',
                      .prompt_char2 = '%',
                      .loader_mode_cmd = "BOOT\r\n",
                      .terminal_visible = false,
                      .back_color = 1,
                      .text_color = 5,
                      .upload_cmd_word = "LD",
                      .ethernet_mode = true,
                      .unit_address = std::array{10, 1, 2, 3},
                      .unit_port = 3001}));
    EXPECT_EQ(read_brand_number_from_text(text), 100);
}

TEST(ConfigSettingsRules, PromptCharactersNeedALineWithEquals)
{
    // No line 14 or 15 at all, or only lines without '=': the caller keeps '#' and '>'.
    const ConfigSettings short_file = read_config_settings_from_text("COM=1\r\n");
    EXPECT_FALSE(short_file.prompt_char1);
    EXPECT_FALSE(short_file.prompt_char2);
    const ConfigSettings no_equals = read_config_settings_from_text(
        file_with_setting_line(14, "Prompt1 $") + "Prompt2 >\r\n");
    EXPECT_FALSE(no_equals.prompt_char1);
    EXPECT_FALSE(no_equals.prompt_char2);
    // An empty value asks for NUL, and gets it.
    const ConfigSettings empty = read_config_settings_from_text(file_with_setting_line(14, "Prompt1=") + "Prompt2=\r\n");
    EXPECT_EQ(empty.prompt_char1, '\0');
    EXPECT_EQ(empty.prompt_char2, '\0');
}

TEST(ConfigSettingsRules, LinesWithoutEqualsChangeNothing)
{
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "setting " + std::to_string(i) + " 14400 TRUE 10.0.0.7\r\n";
    EXPECT_EQ(read_config_settings_from_text(text), opened({}));
    EXPECT_EQ(read_brand_number_from_text(text), std::nullopt);
}

TEST(ConfigSettingsRules, SettingLineThirtyIsNeverRead)
{
    std::string text = file_with_setting_line(29, "x");
    for (int n = 30; n <= 40; ++n)
        text += "Baud=14400\r\n";
    EXPECT_EQ(read_config_settings_from_text(text), opened({}));
}

TEST(ConfigSettingsRules, EveryByteValueInEveryValue)
{
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        std::string text;
        for (int n = 1; n <= 40; ++n)
            text += "K=" + std::string(1, byte) + "1.2.3.4" + std::string(300, byte) + "\r\n";
        const ConfigSettings s = read_config_settings_from_text(text);
        if (s.auto_script_path) {
            EXPECT_LE(s.auto_script_path->size(), kMaxAutoScriptPathLength);
        }
        if (s.loader_mode_cmd) {
            EXPECT_LE(s.loader_mode_cmd->size(), kMaxLoaderModeCmdText + 2);
            EXPECT_TRUE(s.loader_mode_cmd->ends_with("\r\n"));
        }
        if (s.upload_cmd_word) {
            EXPECT_LE(s.upload_cmd_word->size(), 19u);
        }
        EXPECT_LE(s.messages.size(), 1u);
    }
}

TEST(BrandNumber, FromSettingLineTwentyThree)
{
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand=abc")), 0);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand=100")), 100);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand=  7")), 7);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand=-3")), -3);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand=")), 0);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand=" + std::string(40, '9'))), INT_MAX);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(23, "Brand 100")), std::nullopt);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(22, "Brand=100")), std::nullopt);
    EXPECT_EQ(read_brand_number_from_text(file_with_setting_line(24, "Brand=100")), std::nullopt);
    EXPECT_EQ(read_brand_number_from_text("[Brand]\n;x\n\n" + file_with_setting_line(23, "B=100")), 100);
}

TEST_F(ConfigFile, MissingFileSetsNothing)
{
    const std::string missing = std::string(KESTRIN_BUILD_DIR) + "/no-such-dir/LoaderDefault.ini";
    EXPECT_FALSE(for_each_setting_line(missing, [](int, std::string_view) { ADD_FAILURE(); }));
    EXPECT_EQ(read_config_settings(missing), ConfigSettings{});
    EXPECT_EQ(read_brand_number(missing), std::nullopt);
}

TEST_F(ConfigFile, APipeADeviceOrADirectoryIsReadAsMissingWithoutBlocking)
{
    const std::string path = write("Port=COM3\n");
    for (NonRegular kind : kNonRegularKinds) {
        SCOPED_TRACE(name_of(kind));
        ASSERT_TRUE(make_non_regular(path, kind));
        EXPECT_FALSE(for_each_setting_line(path, [](int, std::string_view) { ADD_FAILURE(); }));
        EXPECT_EQ(read_config_settings(path), ConfigSettings{});
        EXPECT_EQ(read_brand_number(path), std::nullopt);
    }
    std::filesystem::remove_all(path);
    std::ofstream(path + ".real") << "Port=COM3\n";
    std::filesystem::create_symlink(path + ".real", path); // a link to a regular file is read
    EXPECT_EQ(read_config_settings(path).ini_com_number, 3);
    std::filesystem::remove(path + ".real");
}

TEST_F(ConfigFile, ReadsLikeTheText)
{
    using namespace std::string_literals;
    const std::string text = "[Serial]\r\nCOM=COM4\r\nBaud=14400\r\n\0junk\r\nData=6\x1a\r\n"s +
                             fillers(15) + "Loader=BOOT\r\n" + fillers(6) + "IP=1.2.3.4\r\n";
    const std::string path = write(text);
    EXPECT_EQ(read_config_settings(path), read_config_settings_from_text(text));
    EXPECT_EQ(read_config_settings(path), opened({.messages = {kInvalidBaudMessage},
                                                  .ini_com_number = 4,
                                                  .data_bits = 6,
                                                  .loader_mode_cmd = "BOOT\r\n",
                                                  .unit_address = std::array{1, 2, 3, 4}}));
}

TEST_F(ConfigFile, LineEndSplitByTheReadsIsStillOneLineEnd)
{
    // Wherever the CR of a CR LF falls in the file, the value stays exactly "TRUE".
    for (std::size_t cr_at : {4093u, 4094u, 4095u, 4096u, 4097u, 8191u, 8192u}) {
        SCOPED_TRACE("CR at offset " + std::to_string(cr_at));
        std::string head = fillers(24);
        const std::string line = "Enet=TRUE";
        head += ";" + std::string(cr_at - head.size() - line.size() - 2, 'p') + "\n";
        const std::string text = head + line + "\r\n";
        ASSERT_EQ(text.find_last_of('\r'), cr_at);
        EXPECT_EQ(read_config_settings(write(text)).ethernet_mode, true);
    }
}

TEST_F(ConfigFile, EveryByteValue)
{
    std::string bytes;
    for (int repeat = 0; repeat < 40; ++repeat)
        for (int b = 0; b < 256; ++b)
            bytes.push_back(static_cast<char>(b));
    const std::string path = write(bytes);
    int expected_n = 1;
    EXPECT_TRUE(for_each_setting_line(path, [&](int n, std::string_view line) {
        EXPECT_EQ(n, expected_n++);
        EXPECT_LE(line.size(), kMaxConfigLineLength);
        EXPECT_EQ(line.find('\0'), std::string_view::npos);
        EXPECT_EQ(line.find('\n'), std::string_view::npos);
        EXPECT_NE(line.front(), ';');
        EXPECT_NE(line.front(), '[');
    }));
    EXPECT_GT(expected_n, 1);
    EXPECT_LE(expected_n, kMaxSettingLines + 1);
    EXPECT_EQ(read_config_settings(path), read_config_settings_from_text(bytes));
}

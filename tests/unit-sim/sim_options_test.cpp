#include "tools/unit-sim/line_pacer.h"
#include "tools/unit-sim/sim_options.h"

#include <gtest/gtest.h>

#include <limits>

using namespace unit_sim;
using namespace std::chrono_literals;

namespace {

SimOptions parsed(const std::vector<std::string>& args)
{
    const OptionsResult result = parse_sim_options(args);
    EXPECT_TRUE(result.options) << result.error;
    return result.options.value_or(SimOptions{});
}

std::string error_of(const std::vector<std::string>& args)
{
    const OptionsResult result = parse_sim_options(args);
    EXPECT_FALSE(result.options);
    return result.error;
}

}  // namespace

TEST(SimOptions, EveryOptionReachesItsSetting)
{
    const SimOptions o = parsed({"--tcp", "0", "--no-echo", "--prompts", "$%", "--loader-cmd", "BOOT",
                                 "--upload-word", "UP", "--reply", "VER=V 2\\nok", "--reply", "ID=",
                                 "--save-dir", "/tmp/i", "--wire-log", "/tmp/w", "--baud", "38400", "--erase-ms",
                                 "3000", "--answer-delay-ms", "50", "--silent", "--normal-only", "--drop-after", "0",
                                 "--refuse", "--flood", "100"});
    EXPECT_EQ(o.tcp_port, 0);
    EXPECT_FALSE(o.unit.echo);
    EXPECT_EQ(o.unit.normal_prompt, '$');
    EXPECT_EQ(o.unit.loader_prompt, '%');
    EXPECT_EQ(o.unit.loader_command, "BOOT");
    EXPECT_EQ(o.unit.upload_word, "UP");
    ASSERT_EQ(o.unit.replies.size(), 2u);
    EXPECT_EQ(o.unit.replies[0].word, "VER");
    EXPECT_EQ(o.unit.replies[0].lines, (std::vector<std::string>{"V 2", "ok"}));
    EXPECT_EQ(o.unit.replies[1].word, "ID");
    EXPECT_TRUE(o.unit.replies[1].lines.empty());
    EXPECT_EQ(o.unit.save_dir, "/tmp/i");
    EXPECT_EQ(o.wire_log, "/tmp/w");
    EXPECT_EQ(o.baud, 38400u);
    EXPECT_EQ(o.unit.erase_time, 3000ms);
    EXPECT_EQ(o.unit.answer_delay, 50ms);
    EXPECT_TRUE(o.unit.silent);
    EXPECT_TRUE(o.unit.normal_only);
    EXPECT_EQ(o.unit.drop_after, 0u);
    EXPECT_TRUE(o.refuse);
    EXPECT_EQ(o.unit.flood_bytes, 100u);
}

TEST(SimOptions, BadCommandLinesSayWhatIsWrong)
{
    EXPECT_EQ(error_of({}), "choose one link: --pty PATH or --tcp PORT");
    EXPECT_EQ(error_of({"--pty", "/tmp/x", "--tcp", "1"}), "choose one link: --pty PATH or --tcp PORT");
    EXPECT_EQ(error_of({"--pty", "/tmp/x", "--refuse"}), "--refuse works on --tcp only");
    EXPECT_EQ(error_of({"--pty", "/tmp/x", "--bogus"}), "unknown option --bogus");
    EXPECT_EQ(error_of({"--pty"}), "--pty needs a value");
    EXPECT_EQ(error_of({"--tcp", "65536"}), "--tcp wants a number from 0 to 65535, not '65536'");
    EXPECT_EQ(error_of({"--tcp", "1", "--baud", "96k"}), "--baud wants a number from 1 to 10000000, not '96k'");
    EXPECT_EQ(error_of({"--tcp", "1", "--prompts", "#"}),
              "--prompts wants two characters: the normal prompt, then the loader prompt");
    EXPECT_EQ(error_of({"--tcp", "1", "--upload-word", "L F"}), "--upload-word wants one word without blanks");
    EXPECT_EQ(error_of({"--tcp", "1", "--reply", "VER"}), "--reply wants WORD=TEXT, not 'VER'");
    EXPECT_TRUE(parse_sim_options({"--tcp", "1", "--help"}).help);
    EXPECT_TRUE(parse_sim_options({"--version", "--pty"}).version);
}

TEST(SimOptions, AStreamNamesItsByteAndChunkAndQuietAfterCountsFromOne)
{
    const SimOptions o = parsed({"--pty", "/tmp/x", "--quiet-after", "1", "--stream", "0,65536"});
    EXPECT_EQ(o.unit.quiet_after, 1u);
    ASSERT_TRUE(o.stream);
    EXPECT_EQ(o.stream->byte, 0);
    EXPECT_EQ(o.stream->chunk, 65536u);
    EXPECT_EQ(parsed({"--pty", "/tmp/x", "--stream", "255,1048576"}).stream->byte, 255);
    const std::string wanted = "--stream wants BYTE,CHUNK: a byte from 0 to 255 and a chunk size from 1 to 1048576";
    for (const char* bad : {"256,1", "0", "0,0", "0,1048577", ",5", "x,5"})
        EXPECT_EQ(error_of({"--pty", "/tmp/x", "--stream", bad}), wanted + ", not '" + bad + "'");
    EXPECT_EQ(error_of({"--pty", "/tmp/x", "--quiet-after", "0"}),
              "--quiet-after wants a number from 1 to 2147483647, not '0'");
}

TEST(LinePacer, LetsThroughATenthOfTheBaudRatePerSecond)
{
    const auto start = LinePacer::Clock::time_point{};
    LinePacer pacer(9600, start);
    std::size_t passed = 0;
    for (auto now = start; now < start + 10s; now += 1ms) {
        const std::size_t allowed = pacer.allowance(now);
        pacer.consume(allowed, true);
        passed += allowed;
    }
    EXPECT_NEAR(static_cast<double>(passed), 9600.0, 4.0);  // the first bucketful comes on top
}

TEST(LinePacer, SavesUpNoCreditWhileTheLineIsIdle)
{
    const auto start = LinePacer::Clock::time_point{};
    LinePacer pacer(9600, start);  // 960 bytes per second, a 4 ms bucket holds 3
    EXPECT_EQ(pacer.allowance(start + 10s), 3u);
    pacer.consume(3, false);
    EXPECT_EQ(pacer.allowance(start + 10s), 0u);
    const auto wait = pacer.wait_for_byte(start + 10s);
    EXPECT_GT(wait, 0us);
    EXPECT_LE(wait, 1042us);  // never longer than one byte takes
    EXPECT_EQ(pacer.allowance(start + 10s + wait), 1u);
}

TEST(LinePacer, ABusyLineCatchesUpAfterALateWakeUp)
{
    const auto start = LinePacer::Clock::time_point{};
    LinePacer pacer(9600, start);
    pacer.consume(pacer.allowance(start), true);  // bytes still wait: busy
    EXPECT_EQ(pacer.allowance(start + 50ms), 48u);
    EXPECT_EQ(pacer.allowance(start + 1s), 96u);  // at most 100 ms of credit
    pacer.consume(10, false);  // nothing waits any more: the line went idle
    EXPECT_EQ(pacer.allowance(start + 2s), 3u);
}

TEST(LinePacer, ZeroBaudIsNotPaced)
{
    LinePacer pacer(0);
    EXPECT_FALSE(pacer.paced());
    EXPECT_EQ(pacer.allowance(LinePacer::Clock::now()), std::numeric_limits<std::size_t>::max());
    EXPECT_EQ(pacer.wait_for_byte(LinePacer::Clock::now()), LinePacer::Clock::duration::zero());
}

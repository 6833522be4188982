#include "tools/unit-sim/unit_protocol.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>

using namespace unit_sim;
using namespace std::chrono_literals;

namespace {

class RecordingSink : public UnitSink {
public:
    void send(std::string_view bytes) override { wire.append(bytes); }
    void hold_output(std::chrono::milliseconds delay) override { holds.push_back({wire.size(), delay}); }
    void event(std::string_view line) override { events.emplace_back(line); }
    void drop_link(std::uint32_t image_bytes) override { dropped = image_bytes; }

    std::string wire;
    std::vector<std::pair<std::size_t, std::chrono::milliseconds>> holds;
    std::vector<std::string> events;
    std::optional<std::uint32_t> dropped;
};

// A unit fed at chosen times after `start`; each exchange returns what the
// unit sent in answer to it.
class Unit {
public:
    explicit Unit(UnitSettings settings = {}) : protocol(std::move(settings), sink) {}

    std::string exchange(std::string_view bytes, std::chrono::milliseconds at = 0ms)
    {
        sink.wire.clear();
        protocol.feed(bytes, start + at);
        return sink.wire;
    }

    std::vector<std::string> take_events() { return std::exchange(sink.events, {}); }

    const UnitProtocol::Clock::time_point start{};
    RecordingSink sink;
    UnitProtocol protocol;
};

UnitSettings with(std::function<void(UnitSettings&)> change)
{
    UnitSettings settings;
    change(settings);
    return settings;
}

using Events = std::vector<std::string>;

}  // namespace

TEST(UnitText, EchoesAndAnswersACarriageReturnWithLineEndOutputAndPrompt)
{
    Unit unit;
    EXPECT_EQ(unit.exchange("\r"), "\r\n#");
    EXPECT_EQ(unit.exchange("HELLO\r"), "HELLO\r\n?\r\n#");
    EXPECT_EQ(unit.take_events(), (Events{"command", "command HELLO"}));
}

TEST(UnitText, LineFeedsEndNothingAndAreNotEchoed)
{
    Unit unit;
    EXPECT_EQ(unit.exchange("\r\n"), "\r\n#");
    EXPECT_EQ(unit.exchange("\nA\nB\r\n"), "AB\r\n?\r\n#");
    EXPECT_EQ(unit.exchange("\r\r"), "\r\n#\r\n#");
    EXPECT_EQ(unit.take_events(), (Events{"command", "command AB", "command", "command"}));
}

TEST(UnitText, BackspaceAndDeleteEraseTheLastCharacter)
{
    Unit unit;
    EXPECT_EQ(unit.exchange("LOADX\bR\r\n"), "LOADX\bR\r\n>");
    EXPECT_EQ(unit.exchange("\x7f\x7fQ\x7f\r"), "\x7f\x7fQ\x7f\r\n>");  // nothing to erase is harmless
    EXPECT_EQ(unit.take_events(), (Events{"command LOADR", "mode loader", "command"}));
}

TEST(UnitText, AnOverlongLineIsAnsweredWithAQuestionMark)
{
    Unit unit;
    const std::string line(kMaxLineLength + 976, 'A');
    EXPECT_EQ(unit.exchange(line + "\r"), line + "\r\n?\r\n#");
    EXPECT_EQ(unit.take_events().back(), "error long-line length=2000");
    EXPECT_EQ(unit.exchange("LOADR\r"), "LOADR\r\n>");
}

TEST(UnitText, EventsEscapeWhatTheWireCarries)
{
    Unit unit;
    unit.exchange("A\x01\\\xff\r");
    EXPECT_EQ(unit.take_events(), (Events{"command A\\x01\\\\\\xff"}));
    EXPECT_EQ(escape_wire_text("\r\n\t~ "), "\\r\\n\\x09~ ");
}

TEST(UnitModes, TheLoaderCommandSwitchesThePromptForGood)
{
    Unit unit;
    EXPECT_EQ(unit.exchange("LOADR\r\n"), "LOADR\r\n>");
    EXPECT_TRUE(unit.protocol.loader_mode());
    EXPECT_EQ(unit.exchange("\r"), "\r\n>");
    EXPECT_EQ(unit.exchange("LOADR \r"), "LOADR \r\n?\r\n>");  // the whole line must match
    unit.protocol.link_lost();
    EXPECT_EQ(unit.exchange("\r"), "\r\n>");
}

TEST(UnitModes, WordsPromptsAndEchoAreConfigurable)
{
    Unit unit(with([](UnitSettings& s) {
        s.echo = false;
        s.normal_prompt = '$';
        s.loader_prompt = '%';
        s.loader_command = "BOOT";
        s.upload_word = "UP";
    }));
    EXPECT_EQ(unit.exchange("LOADR\r"), "\r\n?\r\n$");
    EXPECT_EQ(unit.exchange("BOOT\r"), "\r\n%");
    EXPECT_EQ(unit.exchange("LF 0 0 0 V\r"), "\r\n?\r\n%");
    EXPECT_EQ(unit.exchange("UP 0 0 0 V\r"), "\r\nUPLOAD OK\r\n%");
}

TEST(UnitModes, NormalOnlyUnitDoesNotKnowTheLoaderCommand)
{
    Unit unit(with([](UnitSettings& s) { s.normal_only = true; }));
    EXPECT_EQ(unit.exchange("LOADR\r\n"), "LOADR\r\n?\r\n#");
    EXPECT_FALSE(unit.protocol.loader_mode());
    EXPECT_EQ(unit.exchange("LF 0 0 0 V\r"), "LF 0 0 0 V\r\n?\r\n#");
    EXPECT_EQ(unit.take_events(), (Events{"command LOADR", "command LF 0 0 0 V"}));
}

TEST(UnitReplies, AnswerTheFirstWordWithTheirLines)
{
    Unit unit(with([](UnitSettings& s) {
        s.replies = {{"VER", {"Version 2.10", "ok"}}, {"QUIET", {}}};
    }));
    EXPECT_EQ(unit.exchange("VER\r"), "VER\r\nVersion 2.10\r\nok\r\n#");
    EXPECT_EQ(unit.exchange("VER all\r"), "VER all\r\nVersion 2.10\r\nok\r\n#");
    EXPECT_EQ(unit.exchange("QUIET\r"), "QUIET\r\n#");
    EXPECT_EQ(unit.exchange("VERSION\r"), "VERSION\r\n?\r\n#");
    EXPECT_EQ(unit.take_events(),
              (Events{"command VER", "reply VER", "command VER all", "reply VER", "command QUIET", "reply QUIET",
                      "command VERSION"}));
}

class UnitUpload : public testing::Test {
protected:
    void SetUp() override { unit.exchange("LOADR\r"); unit.take_events(); }
    Unit unit;
};

TEST_F(UnitUpload, TakesExactlyTheAnnouncedRawBytesWithoutEcho)
{
    EXPECT_EQ(unit.exchange("LF 0x10000 6 14a 7/4/2003_9:05:08\r", 0ms), "LF 0x10000 6 14a 7/4/2003_9:05:08\r\n");
    EXPECT_TRUE(unit.protocol.receiving_image());
    EXPECT_EQ(unit.exchange("\nab\r", 4000ms), "");  // carriage returns and line feeds are data
    EXPECT_EQ(unit.exchange("c\r\r", 4250ms), "UPLOAD OK\r\n>\r\n>");  // the last \r is a command again
    EXPECT_EQ(unit.take_events(),
              (Events{"command LF 0x10000 6 14a 7/4/2003_9:05:08",
                      "header word=LF address=0x10000 length=6 checksum=14a version=7/4/2003_9:05:08",
                      "first-image-byte-ms 4000", "image-bytes 6", "image-ms 250", "checksum ok 14a", "command"}));
}

TEST_F(UnitUpload, AWrongChecksumIsReported)
{
    unit.exchange("LF 0x10000 3 127 V\r");
    EXPECT_EQ(unit.exchange("abc"), "UPLOAD BAD CHECKSUM\r\n>");
    EXPECT_EQ(unit.take_events().back(), "checksum bad got=126 want=127");
}

TEST_F(UnitUpload, ALengthOfZeroCompletesAtOnce)
{
    EXPECT_EQ(unit.exchange("LF 0x10000 0 0 V\r"), "LF 0x10000 0 0 V\r\nUPLOAD OK\r\n>");
    EXPECT_FALSE(unit.protocol.receiving_image());
    EXPECT_EQ(unit.exchange("LF 0x10000 0 1 V\r"), "LF 0x10000 0 1 V\r\nUPLOAD BAD CHECKSUM\r\n>");
    const Events events = unit.take_events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "image-bytes 0"), 2);
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.starts_with("image-ms"); }), 0);
}

TEST_F(UnitUpload, AMalformedHeaderIsAnsweredWithAnError)
{
    EXPECT_EQ(unit.exchange("LF 0x10000 12 1A2B V\r"), "LF 0x10000 12 1A2B V\r\nERROR BAD HEADER\r\n>");
    EXPECT_EQ(unit.exchange("LF\r"), "LF\r\nERROR BAD HEADER\r\n>");
    EXPECT_FALSE(unit.protocol.receiving_image());
    EXPECT_EQ(unit.take_events(), (Events{"command LF 0x10000 12 1A2B V", "error bad-header LF 0x10000 12 1A2B V",
                                          "command LF", "error bad-header LF"}));
}

TEST_F(UnitUpload, ImageBytesBeforeTheEraseTimeAreAnError)
{
    Unit erasing(with([](UnitSettings& s) { s.erase_time = 3000ms; }));
    erasing.exchange("LOADR\r");
    erasing.exchange("LF 0 2 0 V\r", 1000ms);
    erasing.exchange(std::string(2, '\0'), 1012ms);
    erasing.exchange("LF 0 2 0 V\r", 2000ms);
    erasing.exchange(std::string(2, '\0'), 5000ms);
    Events events = erasing.take_events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "error early-image-byte ms=12"), 1);
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.starts_with("error"); }), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "checksum ok 0"), 2);  // nothing else changes
}

TEST_F(UnitUpload, ALostLinkCutsTheImageButNotTheMode)
{
    unit.exchange("LF 0 10 0 V\r");
    unit.exchange("abc\r");
    unit.protocol.link_lost();
    EXPECT_FALSE(unit.protocol.receiving_image());
    EXPECT_EQ(unit.take_events().back(), "error upload-cut bytes=4 length=10");
    EXPECT_EQ(unit.exchange("\r"), "\r\n>");
}

TEST(UnitFaults, SilentUnitLogsEverythingAndSendsNothing)
{
    Unit unit(with([](UnitSettings& s) {
        s.silent = true;
        s.flood_bytes = 10;
        s.answer_delay = 100ms;
    }));
    EXPECT_EQ(unit.exchange("LOADR\r\nLF 0 1 61 V\ra\r"), "");
    EXPECT_EQ(unit.take_events(), (Events{"command LOADR", "mode loader", "command LF 0 1 61 V",
                                          "header word=LF address=0 length=1 checksum=61 version=V",
                                          "first-image-byte-ms 0", "image-bytes 1", "image-ms 0", "checksum ok 61",
                                          "command"}));
}

TEST(UnitFaults, AUnitQuietAfterTwoPromptsAnswersTwiceAndThenNothingButStillLogs)
{
    Unit unit(with([](UnitSettings& s) { s.quiet_after = 2; }));
    EXPECT_EQ(unit.exchange("\r"), "\r\n#");
    EXPECT_FALSE(unit.protocol.quiet());
    EXPECT_EQ(unit.exchange("LOADR\r"), "LOADR\r\n>");
    EXPECT_TRUE(unit.protocol.quiet());
    EXPECT_EQ(unit.exchange("\rVER\r"), "");
    EXPECT_EQ(unit.take_events(), (Events{"command", "command LOADR", "mode loader", "command", "command VER"}));
}

TEST(UnitFaults, FloodFollowsEveryPromptWithoutAPromptCharacter)
{
    Unit unit(with([](UnitSettings& s) { s.flood_bytes = 300; }));
    const std::string answer = unit.exchange("\r");
    ASSERT_EQ(answer.size(), 303u);
    EXPECT_EQ(answer.substr(0, 3), "\r\n#");
    const std::string noise = answer.substr(3);
    EXPECT_EQ(noise.find_first_of("#>\r\n"), std::string::npos);
    EXPECT_TRUE(std::all_of(noise.begin(), noise.end(), [](char c) { return c > 32 && c < 127; }));
    unit.exchange("LOADR\r");
    unit.exchange("LF 0 0 0 V\r");
    EXPECT_EQ(unit.sink.wire.substr(0, 18), "LF 0 0 0 V\r\nUPLOAD");
    EXPECT_EQ(unit.sink.wire.size(), 10 + 2 + 11 + 1 + 300u);
}

TEST(UnitFaults, AnswerDelayHoldsEveryAnswerToACarriageReturn)
{
    Unit unit(with([](UnitSettings& s) { s.answer_delay = 250ms; }));
    EXPECT_EQ(unit.exchange("AB\r"), "AB\r\n?\r\n#");
    ASSERT_EQ(unit.sink.holds.size(), 1u);
    EXPECT_EQ(unit.sink.holds[0].first, 2u);  // after the echo, before the line end
    EXPECT_EQ(unit.sink.holds[0].second, 250ms);
}

TEST(UnitFaults, DropAfterStopsTakingBytesAndAsksForTheLinkToGo)
{
    Unit unit(with([](UnitSettings& s) { s.drop_after = 4; }));
    unit.exchange("LOADR\r");
    unit.exchange("LF 0 10 0 V\r");
    EXPECT_EQ(unit.exchange("abcdefghij\r"), "");
    EXPECT_EQ(unit.sink.dropped, 4u);
    EXPECT_FALSE(unit.protocol.receiving_image());
    unit.protocol.link_lost();
    EXPECT_EQ(unit.take_events().back(), "first-image-byte-ms 0");  // no cut reported on top

    Unit at_once(with([](UnitSettings& s) { s.drop_after = 0; }));
    at_once.exchange("LOADR\r");
    EXPECT_EQ(at_once.exchange("LF 0 10 0 V\rabc"), "LF 0 10 0 V\r\n");
    EXPECT_EQ(at_once.sink.dropped, 0u);
}

TEST(UnitSaving, KeepsEachCompleteImageUnderItsSequenceNumber)
{
    const auto dir = std::filesystem::temp_directory_path() / ("unit-sim-save-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const auto read = [&](const char* name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    {
        Unit unit(with([&](UnitSettings& s) { s.save_dir = dir.string(); }));
        unit.exchange("LOADR\r");
        unit.exchange(std::string("LF 0 4 116 V\r\r\n\0\xff", 17));
        unit.exchange("LF 0 3 0 V\rabc");  // a bad checksum is kept too
        unit.exchange("LF 0 3 126 V\rab");
        unit.protocol.link_lost();
        const Events events = unit.take_events();
        EXPECT_EQ(std::count(events.begin(), events.end(), "saved " + (dir / "image-1.bin").string()), 1);
    }
    EXPECT_EQ(read("image-1.bin"), std::string("\r\n\0\xff", 4));
    EXPECT_EQ(read("image-2.bin"), "abc");
    EXPECT_FALSE(std::filesystem::exists(dir / "image-3.bin"));  // cut: not kept
    EXPECT_FALSE(std::filesystem::exists(dir / "image-3.bin.part"));
    std::filesystem::remove_all(dir);
}

TEST(UnitSaving, AnUnwritableDirectoryIsReportedAndTheUploadGoesOn)
{
    Unit unit(with([](UnitSettings& s) { s.save_dir = "/nonexistent/unit-sim"; }));
    unit.exchange("LOADR\r");
    EXPECT_EQ(unit.exchange("LF 0 1 61 V\ra"), "LF 0 1 61 V\r\nUPLOAD OK\r\n>");
    EXPECT_EQ(unit.take_events().back(), "error save-failed /nonexistent/unit-sim/image-1.bin");
}

TEST(UnitRobustness, RandomBytesInRandomChunksNeverBreakTheUnit)
{
    Unit unit(with([](UnitSettings& s) {
        s.drop_after = 300;
        s.flood_bytes = 3;
        s.replies = {{"A", {"x"}}};
    }));
    std::uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const std::string headers[] = {"LOADR\r", "LF 0 100 0 V\r", "LF 0 400 0 V\r", "LF 0 0 0 V\r", "LF x\r"};
    for (int round = 0; round < 2000; ++round) {
        std::string chunk = headers[next() % 5];
        for (std::uint32_t n = next() % 200; n > 0; --n)
            chunk.push_back(static_cast<char>(next() >> 24));
        unit.exchange(chunk);
        if (unit.sink.dropped) {
            unit.sink.dropped.reset();
            unit.protocol.link_lost();
        }
    }
    unit.protocol.link_lost();
    EXPECT_EQ(unit.exchange("\r").substr(0, 3), "\r\n>");
}

// A unit lifted off its fixture answers nothing and loses a half-received image; the fresh unit
// put on in its place starts in normal mode. A unit with a bad contact answers one bare carriage
// return in N, and every other line as usual.
TEST(UnitProtocol, SwappedUnitsAndABadContact)
{
    Unit unit;
    EXPECT_EQ(unit.exchange("LOADR\r"), "LOADR\r\n>");
    EXPECT_EQ(unit.exchange("LF 0x1 4 0 V\r"), "LF 0x1 4 0 V\r\n");
    unit.take_events();
    unit.protocol.take_away();
    EXPECT_EQ(unit.take_events(), (Events{"error upload-cut bytes=0 length=4", "unit absent"}));
    EXPECT_TRUE(unit.protocol.quiet());
    EXPECT_EQ(unit.exchange("\r"), "");
    unit.protocol.put_on();
    EXPECT_FALSE(unit.protocol.loader_mode());
    EXPECT_EQ(unit.exchange("\r"), "\r\n#");

    Unit flaky(with([](UnitSettings& s) { s.answer_every = 2; }));
    std::string answers;
    for (int i = 0; i < 4; ++i)
        answers += flaky.exchange("\r") + "|";
    EXPECT_EQ(answers, "\r\n#||\r\n#||");
    EXPECT_EQ(flaky.exchange("VER\r"), "VER\r\n?\r\n#");
    EXPECT_EQ(std::count(flaky.sink.events.begin(), flaky.sink.events.end(), "ignored"), 2);
}

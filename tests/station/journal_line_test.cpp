// Journal lines as the station reads them: every kind, file names with blanks and colons, and
// lines that only look like one of the kinds.

#include "tools/station/journal_line.h"

#include <gtest/gtest.h>

#include <vector>

TEST(JournalLine, EachKindAndItsFields)
{
    struct Case {
        std::string line;
        JournalEvent expected;
    };
    using K = JournalKind;
    const std::vector<Case> cases = {
        {"status: Uploading file(s). Please wait....", {.kind = K::Status, .text = "Uploading file(s). Please wait...."}},
        {"message: Error! x\\r\\ny", {.kind = K::Message, .text = "Error! x\\r\\ny"}},
        {"detail: /dev/ttyUSB0 is held by minicom (1234)", {.kind = K::Detail, .text = "/dev/ttyUSB0 is held by minicom (1234)"}},
        {"answer: ", {.kind = K::Answer, .text = ""}},
        {"answer: Version 2.03", {.kind = K::Answer, .text = "Version 2.03"}},
        {"question: Kestrin: Go on? -> ok", {.kind = K::Question, .text = "Kestrin: Go on? -> ok"}},
        {"open: /tmp -> cancel", {.kind = K::Open, .text = "/tmp -> cancel"}},
        {"font: cancel", {.kind = K::Font, .text = "cancel"}},
        {"qt: could not connect", {.kind = K::Qt, .text = "could not connect"}},
        {"progress: demo-image.bin 12288/32768", {.kind = K::Progress, .file = "demo-image.bin", .sent = 12288, .total = 32768}},
        {"progress: my image: v2 0/0", {.kind = K::Progress, .file = "my image: v2", .sent = 0, .total = 0}},
        {"progress: a 999999999999999/999999999999999",
         {.kind = K::Progress, .file = "a", .sent = 999999999999999, .total = 999999999999999}},
        {"upload: demo-image.bin: LF 0x10000 32768 2f1a V1 -> complete",
         {.kind = K::Upload, .file = "demo-image.bin", .header = "LF 0x10000 32768 2f1a V1", .complete = true}},
        {"upload: a: b.bin: LF 0x10000 5 1a 7/4/2003_9:05:08 -> incomplete",
         {.kind = K::Upload, .file = "a: b.bin", .header = "LF 0x10000 5 1a 7/4/2003_9:05:08", .complete = false}},
        {"upload: x: LF: LF 0x1 5 ffff v: 2 -> complete",
         {.kind = K::Upload, .file = "x: LF", .header = "LF 0x1 5 ffff v: 2", .complete = true}},
        {"upload: odd: header -> complete", {.kind = K::Upload, .file = "odd", .header = "header", .complete = true}},
        {"result: pass", {.kind = K::Result, .passed = true}},
        {"result: fail: Error! Unable to get response from unit(_WP)! Exiting script",
         {.kind = K::Result, .text = "Error! Unable to get response from unit(_WP)! Exiting script"}},
        {"result: fail", {.kind = K::Result}},
    };
    for (const Case& c : cases) {
        const JournalEvent e = parse_journal_line(c.line, "LF");
        EXPECT_EQ(e.kind, c.expected.kind) << c.line;
        EXPECT_EQ(e.text, c.expected.text) << c.line;
        EXPECT_EQ(e.file, c.expected.file) << c.line;
        EXPECT_EQ(e.sent, c.expected.sent) << c.line;
        EXPECT_EQ(e.total, c.expected.total) << c.line;
        EXPECT_EQ(e.header, c.expected.header) << c.line;
        EXPECT_EQ(e.complete, c.expected.complete) << c.line;
        EXPECT_EQ(e.passed, c.expected.passed) << c.line;
    }
}

TEST(JournalLine, LinesThatOnlyLookLikeAKindChangeNothing)
{
    for (const std::string& line : std::vector<std::string>{"", "status:", "Status: x", " status: x", "progress: a 5/4", "progress: a 5/", "progress: 5/6",
          "progress: a -1/6", "progress: a 1/1000000000000000", "progress: a 1 /6", "upload: a: LF 1 2 3 4 -> done",
          "upload: no separator -> complete", "result: passed", "result: failed", "result: ", "station: stopped",
          std::string("message\0: x", 11)}) {
        EXPECT_EQ(parse_journal_line(line, "LF").kind, JournalKind::Unknown) << line;
    }
}

TEST(JournalLine, TheHeaderFormFollowsTheConfiguredUploadWord)
{
    EXPECT_TRUE(has_upload_header_form("XF 0x10000 32768 2f1a V1", "XF"));
    EXPECT_TRUE(has_upload_header_form("LOAD IT 0x10000 0 0 ", "LOAD IT"));
    EXPECT_FALSE(has_upload_header_form("LF 0x10000 32768 2f1a V1", "XF"));
    EXPECT_FALSE(has_upload_header_form("LF  32768 2f1a V1", "LF"));     // no address
    EXPECT_FALSE(has_upload_header_form("LF 0x1 3x 2f1a V1", "LF"));     // length not decimal
    EXPECT_FALSE(has_upload_header_form("LF 0x1 3 2F1A V1", "LF"));      // checksum in upper case
    EXPECT_FALSE(has_upload_header_form("LF 0x1 3 12345 V1", "LF"));     // more than 16 bits
    EXPECT_FALSE(has_upload_header_form("LF 0x1 3 2f1a", "LF"));         // no version field
    EXPECT_FALSE(has_upload_header_form("LF 0x1 3 2f1a V1", ""));
    const JournalEvent e = parse_journal_line("upload: f: LF 1 2 3: XF 0x1 5 1a V -> complete", "XF");
    EXPECT_EQ(e.file, "f: LF 1 2 3");
    EXPECT_EQ(e.header, "XF 0x1 5 1a V");
}

// The reply capture over received chunks: where the reply ends and that it never overflows.

#include "link/reply_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Capture {
    char buf[kReplyBufferSize] = {};
    int32_t len = 0;
    int32_t min_len = 0;
    ReplyPrompts prompts{'#', '>'};

    bool feed(const std::string& chunk)
    {
        return capture_reply_chunk(buf, len, min_len, chunk.data(), chunk.size(), prompts);
    }
    std::string text() const { return std::string(buf); }
};

} // namespace

TEST(ReplyCapture, APromptEndingTheChunkIsReplacedByTheTerminator)
{
    Capture c;
    EXPECT_TRUE(c.feed("OK\r\n>"));
    EXPECT_EQ(c.text(), "OK\r\n");
    EXPECT_EQ(c.len, 0);
}

TEST(ReplyCapture, APromptInsideTheChunkStaysAndTheChunksLastByteEndsTheText)
{
    Capture c;
    EXPECT_TRUE(c.feed("OK\r\n> "));
    EXPECT_EQ(c.text(), "OK\r\n>");
    Capture t;
    t.prompts = {'>', '>'};
    EXPECT_TRUE(t.feed("abc>xy"));
    EXPECT_EQ(t.text(), "abc>x");
}

TEST(ReplyCapture, EitherPromptEndsASerialCaptureButOnlyTheAwaitedOneATcpCapture)
{
    Capture serial;
    EXPECT_TRUE(serial.feed("ab#"));
    Capture tcp;
    tcp.prompts = {'>', '>'};
    EXPECT_FALSE(tcp.feed("ab#"));
    EXPECT_EQ(tcp.text(), "ab#");
}

TEST(ReplyCapture, APromptBeforeTheMinimumIndexDoesNotEndIt)
{
    Capture c;
    c.min_len = 10;
    EXPECT_FALSE(c.feed("VER>"));
    EXPECT_EQ(c.len, 4);
    EXPECT_FALSE(c.feed("\r\nV2.0"));
    EXPECT_TRUE(c.feed("\r\n>"));
    EXPECT_EQ(c.text(), "VER>\r\nV2.0\r\n");
}

TEST(ReplyCapture, AReplySplitOverTwoChunksIsContiguousAndStaysTerminated)
{
    Capture c;
    std::fill(std::begin(c.buf), std::end(c.buf), 'Z'); // what an earlier capture left behind
    c.buf[0] = '\0';
    EXPECT_FALSE(c.feed("HEL"));
    EXPECT_EQ(c.text(), "HEL");
    EXPECT_TRUE(c.feed("LO\r\n#"));
    EXPECT_EQ(c.text(), "HELLO\r\n");
}

TEST(ReplyCapture, AChunkThatDoesNotFitIsStoredFromTheStart)
{
    Capture c;
    c.len = 990;
    EXPECT_FALSE(c.feed(std::string(20, 'a')));
    EXPECT_EQ(c.len, 20);
    EXPECT_EQ(c.text(), std::string(20, 'a'));
}

TEST(ReplyCapture, AFloodLargerThanTheBufferKeepsItsNewestBytesAndItsPrompt)
{
    Capture c;
    std::string flood(9000, 'x');
    flood[8990] = '>';
    EXPECT_TRUE(c.feed(flood));
    // The newest 999 bytes are kept; the prompt stands at 989 and the last byte becomes the end.
    EXPECT_EQ(c.text().size(), 998u);
    EXPECT_EQ(c.text()[989], '>');

    Capture noPrompt;
    EXPECT_FALSE(noPrompt.feed(std::string(9000, 'y')));
    EXPECT_EQ(noPrompt.text(), std::string(kReplyBufferSize - 1, 'y'));
    EXPECT_FALSE(noPrompt.feed(std::string(5, 'z')));
    EXPECT_EQ(noPrompt.text(), "zzzzz");
}

// The simulator as Kestrin meets it: the real executable over a
// pseudo-terminal and over TCP on 127.0.0.1, one case per fault option.
#include "tests/unit-sim/sim_process.h"
#include "tests/unit-sim/wire_peer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr auto kWait = 5000ms;

class SimExecutable : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("unit-sim-" + std::to_string(getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        pty = (dir / "com1").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string readFile(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Switches the unit to loader mode and announces an image of `length` bytes.
    static void announce(WirePeer& peer, std::size_t length, const std::string& checksum)
    {
        peer.send("LOADR\r\n");
        ASSERT_EQ(peer.readUntil(">", kWait), "LOADR\r\n>");
        const std::string header = "LF 0x10000 " + std::to_string(length) + " " + checksum + " V";
        peer.send(header + "\r");
        ASSERT_EQ(peer.readUntil("\r\n", kWait), header + "\r\n");
    }

    fs::path dir;
    std::string pty;
};

bool isSymlink(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

TEST_F(SimExecutable, PtyKeepsAnsweringAcrossReopensAndLeavesNoLinkBehind)
{
    fs::create_symlink("/nonexistent/stale", pty);  // replaced
    SimProcess sim({"--pty", pty});
    ASSERT_TRUE(sim.started()) << sim.errors();
    EXPECT_EQ(sim.events().front(), "pty " + pty + " -> " + fs::read_symlink(pty).string());
    for (int open = 0; open < 2; ++open) {
        WirePeer peer = WirePeer::openPty(pty);
        ASSERT_TRUE(peer.valid());
        peer.send("\r");
        EXPECT_EQ(peer.readUntil("#", kWait), "\r\n#");
    }
    EXPECT_TRUE(sim.waitForEvent("command", kWait));
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_EQ(sim.events().back(), "stopped");
    EXPECT_FALSE(isSymlink(pty));
}

TEST_F(SimExecutable, SigintEndsTheSimulatorCleanlyToo)
{
    SimProcess sim({"--pty", pty});
    ASSERT_TRUE(sim.started()) << sim.errors();
    kill(sim.pid(), SIGINT);
    EXPECT_EQ(sim.waitForExit(kWait), 0);
    EXPECT_FALSE(isSymlink(pty));
}

TEST_F(SimExecutable, RefusesToReplaceAFileThatIsNotALink)
{
    std::ofstream(pty) << "keep me";
    SimProcess sim({"--pty", pty});
    EXPECT_FALSE(sim.started());
    EXPECT_EQ(sim.waitForExit(kWait), 1);
    EXPECT_NE(sim.errors().find("exists and is not a symbolic link"), std::string::npos);
    EXPECT_EQ(readFile(pty), "keep me");
}

TEST_F(SimExecutable, BadOptionsEndWithUsage)
{
    SimProcess sim({"--tcp", "0", "--baud", "fast"});
    EXPECT_FALSE(sim.started());
    EXPECT_EQ(sim.waitForExit(kWait), 2);
    EXPECT_NE(sim.errors().find("usage: kestrin-unit-sim"), std::string::npos);
    EXPECT_NE(sim.errors().find("--baud wants a number"), std::string::npos);
}

TEST_F(SimExecutable, TcpServesOneClientAfterAnotherInTheSameUnit)
{
    SimProcess sim({"--tcp", "0", "--reply", "VER=V 2.10\\nok"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    ASSERT_NE(sim.tcpPort(), 0);
    {
        WirePeer first = WirePeer::connectTcp(sim.tcpPort());
        ASSERT_TRUE(first.valid());
        EXPECT_TRUE(sim.waitForEvent("connected", kWait));
        first.send("VER\r\n");
        EXPECT_EQ(first.readUntil("#", kWait), "VER\r\nV 2.10\r\nok\r\n#");
        first.send("LOADR\r\n");
        EXPECT_EQ(first.readUntil(">", kWait), "LOADR\r\n>");
    }
    EXPECT_TRUE(sim.waitForEvent("disconnected", kWait));
    WirePeer second = WirePeer::connectTcp(sim.tcpPort());
    second.send("\r\n");
    EXPECT_EQ(second.readUntil(">", kWait), "\r\n>");
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_EQ(sim.events(), (std::vector<std::string>{"listening " + std::to_string(sim.tcpPort()), "connected",
                                                      "command VER", "reply VER", "command LOADR", "mode loader",
                                                      "disconnected", "connected", "command", "disconnected",
                                                      "stopped"}));
}

TEST_F(SimExecutable, WireLogHoldsEveryReceivedByteAndSaveDirTheImage)
{
    const fs::path log = dir / "wire.log";
    SimProcess sim({"--pty", pty, "--wire-log", log.string(), "--save-dir", (dir / "images").string()});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    announce(peer, 5, "1a5");
    peer.send(std::string("\r\n\0\xff\x8f", 5));
    EXPECT_EQ(peer.readUntil(">", kWait), "UPLOAD OK\r\n>");
    EXPECT_TRUE(sim.waitForEvent("saved", kWait));
    EXPECT_EQ(readFile(log), std::string("LOADR\r\nLF 0x10000 5 1a5 V\r\r\n\0\xff\x8f", 31));
    EXPECT_EQ(readFile(dir / "images" / "image-1.bin"), std::string("\r\n\0\xff\x8f", 5));
}

TEST_F(SimExecutable, SilentUnitNeverAnswers)
{
    SimProcess sim({"--pty", pty, "--silent"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    peer.send("LOADR\r\n\r");
    EXPECT_TRUE(sim.waitForEvent("mode loader", kWait));
    EXPECT_TRUE(sim.waitForEvent("command", kWait));
    EXPECT_EQ(peer.readFor(300ms), "");
}

TEST_F(SimExecutable, NormalOnlyUnitStaysInNormalMode)
{
    SimProcess sim({"--tcp", "0", "--normal-only"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::connectTcp(sim.tcpPort());
    peer.send("LOADR\r\n");
    EXPECT_EQ(peer.readUntil("#", kWait), "LOADR\r\n?\r\n#");
}

TEST_F(SimExecutable, DropAfterOnAPtyMakesTheDeviceVanish)
{
    SimProcess sim({"--pty", pty, "--drop-after", "40"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    announce(peer, 100, "0");
    peer.send(std::string(100, '\0'));
    EXPECT_EQ(sim.waitForExit(kWait), 0);
    EXPECT_TRUE(peer.waitClosed(kWait));
    EXPECT_FALSE(isSymlink(pty));
    EXPECT_EQ(sim.events().back(), "dropped after 40");
}

TEST_F(SimExecutable, DropAfterOnTcpClosesTheConnectionAndWaitsForTheNext)
{
    SimProcess sim({"--tcp", "0", "--drop-after", "40"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::connectTcp(sim.tcpPort());
    announce(peer, 100, "0");
    peer.send(std::string(100, '\0'));
    EXPECT_TRUE(peer.waitClosed(kWait));
    EXPECT_TRUE(sim.waitForEvent("dropped after 40", kWait));
    EXPECT_TRUE(sim.waitForEvent("disconnected", kWait));
    WirePeer next = WirePeer::connectTcp(sim.tcpPort());
    next.send("\r");
    EXPECT_EQ(next.readUntil(">", kWait), "\r\n>");
}

TEST_F(SimExecutable, RefuseClosesEveryConnectionAtOnce)
{
    SimProcess sim({"--tcp", "0", "--refuse"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    for (int attempt = 0; attempt < 2; ++attempt) {
        WirePeer peer = WirePeer::connectTcp(sim.tcpPort());
        EXPECT_TRUE(peer.waitClosed(kWait));
        EXPECT_TRUE(sim.waitForEvent("refused", kWait));
    }
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimExecutable, FloodSendsNoiseAfterThePrompt)
{
    SimProcess sim({"--tcp", "0", "--flood", "500"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::connectTcp(sim.tcpPort());
    peer.send("\r\n");
    EXPECT_EQ(peer.readUntil("#", kWait), "\r\n#");
    const std::string noise = peer.readFor(300ms);
    EXPECT_EQ(noise.size(), 500u);
    EXPECT_EQ(noise.find_first_of("#>\r\n"), std::string::npos);
}

TEST_F(SimExecutable, AUnitQuietAfterItsFirstPromptStreamsItsByteAndNothingElse)
{
    SimProcess sim({"--tcp", "0", "--quiet-after", "1", "--stream", "0,4096"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::connectTcp(sim.tcpPort());
    peer.send("\r");
    EXPECT_EQ(peer.readUntil("#", kWait), "\r\n#");
    peer.send("LOADR\r");
    const std::string stream = peer.readFor(300ms);
    EXPECT_GE(stream.size(), 3 * 4096u);  // chunk after chunk
    EXPECT_EQ(stream.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(sim.waitForEvent("command LOADR", kWait));  // still heard, never obeyed aloud
}

TEST_F(SimExecutable, AnswerDelayHoldsTheAnswerButNotTheEcho)
{
    SimProcess sim({"--pty", pty, "--answer-delay-ms", "400"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    peer.send("AB\r");
    EXPECT_EQ(peer.readUntil("AB", kWait), "AB");
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(peer.readUntil("#", kWait), "\r\n?\r\n#");
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms);  // the delay is the behaviour under test
}

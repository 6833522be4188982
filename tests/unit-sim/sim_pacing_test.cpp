// Pacing through a real pseudo-terminal: the unit never takes or sends bytes
// faster than a tenth of the baud rate per second, within 2 % over a few
// seconds, from a moment before the first byte could move. How much slower a
// loaded machine makes it is no fault of the pacing, so nothing here bounds
// it from above.
#include "tests/unit-sim/sim_process.h"
#include "tests/unit-sim/wire_peer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kWait = 10000ms;

std::string ptyPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / ("unit-sim-pacing-" + std::to_string(getpid()) + name)).string();
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Puts the unit into loader mode and announces an image of `length` bytes.
void announce_image(WirePeer& peer, std::size_t length)
{
    peer.send("LOADR\r");
    ASSERT_EQ(peer.readUntil(">", kWait), "LOADR\r\n>");
    const std::string header = "LF 0 " + std::to_string(length) + " 0 V\r";
    peer.send(header);
    ASSERT_EQ(peer.readUntil("V\r\n", kWait), header + "\n");
}

// The unit's own time from the image's first byte to its last, in ms; -1 when it never came.
double unit_image_ms(SimProcess& sim)
{
    const auto event = sim.waitForEvent("image-ms", kWait);
    return event ? std::atof(event->c_str() + 9) : -1;
}

}  // namespace

TEST(SimPacing, TheUnitReadsAnImageAtTheLineRate)
{
    const std::string pty = ptyPath("rx");
    SimProcess sim({"--pty", pty, "--baud", "9600"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    const std::size_t length = 2880;  // three seconds at 960 bytes per second
    ASSERT_NO_FATAL_FAILURE(announce_image(peer, length));

    const auto start = Clock::now();
    peer.send(std::string(length, '\0'));  // the pty takes it all; the unit drains it at the line rate
    ASSERT_EQ(peer.readUntil(">", kWait), "UPLOAD OK\r\n>");
    const double expected = (length + 12) / 960.0;  // and the 12 bytes of the answer
    EXPECT_GE(seconds(Clock::now() - start), expected * 0.98);

    const double unit_ms = unit_image_ms(sim);
    ASSERT_GE(unit_ms, 0);
    EXPECT_GE(unit_ms / 1000.0, (length - 1) / 960.0 * 0.98);
}

TEST(SimPacing, AnIdlePauseBeforeTheImageSavesUpNoBurst)
{
    const std::string pty = ptyPath("idle");
    SimProcess sim({"--pty", pty, "--baud", "9600"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    const std::size_t length = 960;  // one second at 960 bytes per second
    ASSERT_NO_FATAL_FAILURE(announce_image(peer, length));
    std::this_thread::sleep_for(1000ms);  // as Kestrin waits for the unit to erase

    peer.send(std::string(length, '\0'));
    ASSERT_EQ(peer.readUntil(">", kWait), "UPLOAD OK\r\n>");
    // Only the few bytes an idle receiver holds (4 ms of the line) may come at once.
    const double unit_ms = unit_image_ms(sim);
    EXPECT_GE(unit_ms, (length - 1 - 4) / 0.96 - 1);
}

TEST(SimPacing, TheUnitSendsAtTheLineRate)
{
    const std::string pty = ptyPath("tx");
    SimProcess sim({"--pty", pty, "--baud", "38400", "--flood", "11520"});
    ASSERT_TRUE(sim.started()) << sim.errors();
    WirePeer peer = WirePeer::openPty(pty);
    const auto asked = Clock::now();  // the unit sends nothing before it has the carriage return
    peer.send("\r");
    std::string received;
    while (received.size() < 3 + 11520) {
        const std::string more = peer.readFor(50ms);
        if (more.empty() && Clock::now() - asked > kWait)
            break;
        received += more;
    }
    const auto last = Clock::now();
    ASSERT_EQ(received.size(), 3 + 11520u);
    const double expected = received.size() / 3840.0;  // three seconds
    EXPECT_GE(seconds(last - asked), expected * 0.98);
}

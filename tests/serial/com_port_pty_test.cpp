// The port against pseudo-terminals: opening by number, line settings, both
// directions, the string wait, availability, and a far side that goes away.
#include "serial_test_support.h"

#include "serial/com_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <termios.h>
#include <thread>

namespace {

class PtyPort : public ::testing::Test {
protected:
    PtyPort() : mapping({{3, com3.slave_path()}, {4, com4.slave_path()}, {5, "/dev/kestrin-no-such-device"}})
    {
        port.SetAutoOpen(false);
        port.SetComNumber(3);
    }
    void open()
    {
        port.SetOpen(true);
        ASSERT_TRUE(port.Open());
    }
    std::string take(size_t n)
    {
        std::string s(n, '\0');
        port.GetBlock(s.data(), n);
        return s;
    }
    // The slave's settings, read through the master, which shares them.
    termios line_of(const Pty& pty)
    {
        termios tio{};
        EXPECT_EQ(::tcgetattr(pty.master(), &tio), 0);
        return tio;
    }

    Pty com3;
    Pty com4;
    ComMapping mapping;
    TApdComPort port;
};

TEST_F(PtyPort, OpensByNumberAndBytesFlowBothWays)
{
    std::string received;
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        std::string chunk(count, '\0');
        p.GetBlock(chunk.data(), count);
        received += chunk;
    };
    open();
    port.PutString("LOADR\r\n");
    port.PutChar('\r');
    EXPECT_EQ(com3.read(8), "LOADR\r\n\r");
    com3.write(std::string("ok\r\n>\0\xff", 7));
    ASSERT_TRUE(pump_until([&] { return received.size() == 7; }));
    EXPECT_EQ(received, std::string("ok\r\n>\0\xff", 7));
}

TEST_F(PtyPort, LineSettingsApplyAndABaudChangeNeedsNoReopening)
{
    int closings = 0;
    QObject::connect(&port, &TApdComPort::closed, [&] { ++closings; });
    port.SetBaud(38400);
    port.SetParity(pOdd);
    port.SetStopBits(2);
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    open();
    termios tio = line_of(com3);
    // A pseudo-terminal forces 8 data bits without parity; the rest it keeps.
    EXPECT_EQ(::cfgetospeed(&tio), B38400);
    EXPECT_TRUE(tio.c_cflag & PARODD);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));

    port.SetBaud(115200);
    termios now = line_of(com3);
    EXPECT_EQ(::cfgetospeed(&now), B115200);
    EXPECT_EQ(closings, 0);
    EXPECT_TRUE(port.Open());
    port.PutChar('x');
    EXPECT_EQ(com3.read(1), "x");
}

TEST_F(PtyPort, ANumberChangeClosesAndReopensKeepingTheListeners)
{
    int opened = 0, closed = 0;
    QObject::connect(&port, &TApdComPort::opened, [&] { ++opened; });
    QObject::connect(&port, &TApdComPort::closed, [&] { ++closed; });
    Collected seen;
    port.AddDataListener([&](TApdComPort& p, size_t count) { seen.take_all(p, count); });
    open();
    port.SetComNumber(4);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 1);
    HeldElsewhere com3_is_free(com3.slave_path());
    EXPECT_TRUE(com3_is_free.holding());
    port.PutString("on4");
    EXPECT_EQ(com4.read(3), "on4");
    com4.write("from4");
    ASSERT_TRUE(pump_until([&] { return seen.text() == "from4"; }));
}

TEST_F(PtyPort, StringWaitReturnsAfterTheFirstPromptAndLeavesTheSecond)
{
    open();
    com3.write("ab#cd#");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 6; }));
    EXPECT_TRUE(port.WaitForString("#", 20, true, false));
    EXPECT_EQ(port.InBuffUsed(), 3);
    EXPECT_EQ(take(3), "cd#");
}

TEST_F(PtyPort, NoNotificationsDuringAStringWaitAndTheRestIsNotifiedAfter)
{
    bool waiting = false;
    int during = 0;
    std::string after;
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        if (waiting)
            ++during;
        std::string chunk(count, '\0');
        p.GetBlock(chunk.data(), count);
        after += chunk;
    };
    open();
    std::thread unit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        com3.write("xy>");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        com3.write("z");
    });
    waiting = true;
    bool found = port.WaitForString(">", 40, true, false);
    waiting = false;
    unit.join();
    EXPECT_TRUE(found);
    EXPECT_EQ(during, 0);
    ASSERT_TRUE(pump_until([&] { return after == "z"; }));
}

TEST_F(PtyPort, AvailabilityAndOpeningOfAHeldAMissingAndALockedPort)
{
    HeldElsewhere other_program(com3.slave_path());
    ASSERT_TRUE(other_program.holding());
    EXPECT_TRUE(IsPortAvailable(3));
    EXPECT_THROW(port.SetOpen(true), EAlreadyOpen);
    EXPECT_FALSE(port.Open());

    EXPECT_FALSE(IsPortAvailable(5));
    port.SetComNumber(5);
    EXPECT_THROW(port.SetOpen(true), EBadId);
    EXPECT_FALSE(IsPortAvailable(6));
    EXPECT_FALSE(IsPortAvailable(0));
    EXPECT_TRUE(IsPortAvailable(4));

    Pty locked(false);  // a pseudo-terminal not yet unlocked answers EIO
    ComMapping only_locked({{7, locked.slave_path()}});
    EXPECT_FALSE(IsPortAvailable(7));
    port.SetComNumber(7);
    EXPECT_THROW(port.SetOpen(true), EBadId);
}

TEST_F(PtyPort, AnOpenPortCountsAsAvailableAndCannotBeOpenedTwice)
{
    open();
    EXPECT_TRUE(IsPortAvailable(3));
    TApdComPort second;
    second.SetComNumber(3);
    EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
    EXPECT_TRUE(port.Open());
}

TEST_F(PtyPort, APseudoTerminalReadsCtsAndDcdAsSet)
{
    EXPECT_FALSE(port.GetCTS());
    open();
    EXPECT_TRUE(port.GetCTS());
    EXPECT_TRUE(port.GetDCD());
    EXPECT_EQ(port.GetOutBuffUsed(), 0);
    EXPECT_EQ(port.GetOutBuffFree(), port.OutSize());
}

TEST_F(PtyPort, FlushInBufferDiscardsWhatWasReceived)
{
    open();
    com3.write("noise");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 5; }));
    port.FlushInBuffer();
    EXPECT_EQ(port.InBuffUsed(), 0);
    com3.write(">");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 1; }));
    EXPECT_EQ(take(1), ">");
}

TEST_F(PtyPort, AFarSideThatHangsUpClosesThePortWithoutSpinning)
{
    int lost = 0;
    port.OnDeviceLost = [&](TApdComPort&) { ++lost; };
    open();
    com3.write("last words");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 10; }));
    com3.hang_up();
    ASSERT_TRUE(pump_until([&] { return lost == 1; }));
    EXPECT_FALSE(port.Open());
    EXPECT_THROW(port.PutChar('\r'), ECommNotOpen);
    EXPECT_THROW(port.WaitForString(">", 1, true, false), ECommNotOpen);
    EXPECT_FALSE(port.GetCTS());
    pump_for(100);
    EXPECT_EQ(lost, 1);
}

TEST_F(PtyPort, AMegabyteAtFullSpeedReachesBothListenersIntact)
{
    std::string data(1 << 20, '\0');
    std::mt19937 random(3);
    for (char& c : data)
        c = static_cast<char>(random());
    std::string terminal, capture;
    std::atomic<size_t> terminal_size{0};  // the terminal listener runs on the reader thread
    terminal.reserve(data.size());
    capture.reserve(data.size());
    port.AddDataListener([&](TApdComPort& p, size_t count) {
        size_t at = terminal.size();
        terminal.resize(at + count);
        p.GetBlock(terminal.data() + at, count);
        terminal_size = terminal.size();
    });
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        size_t at = capture.size();
        capture.resize(at + count);
        p.GetBlock(capture.data() + at, count);
    };
    port.SetInSize(8192);
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    port.SetBufferFull(7000);
    port.SetBufferResume(400);
    open();
    std::thread unit([&] { com3.write(data); });
    bool all = pump_until([&] { return capture.size() >= data.size(); }, 60000);
    unit.join();
    ASSERT_TRUE(all) << capture.size() << " of " << data.size();
    ASSERT_TRUE(pump_until([&] { return terminal_size >= data.size(); }));
    EXPECT_TRUE(terminal == data);
    EXPECT_TRUE(capture == data);
}

}  // namespace

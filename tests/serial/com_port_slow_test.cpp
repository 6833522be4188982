// Cases that must sit out the port's long waits: the string wait's time-out
// and the reader's 3000 ms limit on the user-interface thread.
#include "fake_serial_device.h"
#include "serial_test_support.h"

#include "serial/com_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono;

class SlowPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.SetDeviceFactory(line.factory());
        port.SetAutoOpen(false);
        port.SetComNumber(1);
        port.AddDataListener([this](TApdComPort& p, size_t count) { terminal.take_all(p, count); });
    }
    std::string terminal_text() const { return terminal.text(); }

    ComMapping mapping{{{1, "/dev/fake1"}}};
    FakeLine line;
    TApdComPort port;
    Collected terminal;
};

TEST_F(SlowPort, AStringWaitOf120TicksWithoutDataFailsAfter6600Ms)
{
    port.SetOpen(true);
    auto start = steady_clock::now();
    bool found = port.WaitForString("#", 120, true, false);
    auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_FALSE(found);
    EXPECT_GE(took, 6599);
    EXPECT_LE(took, 6600 + TApdComPort::kTickMs + 250);
}

TEST_F(SlowPort, ANotificationTheInterfaceTakesTooLateToTakeIsDropped)
{
    std::string capture;
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        std::string chunk(count, '\0');
        p.GetBlock(chunk.data(), count);
        capture += chunk;
    };
    port.SetOpen(true);
    line.feed("early");
    std::this_thread::sleep_for(milliseconds(TApdComPort::kNotifyWaitMs + 500));  // not pumping
    EXPECT_EQ(terminal_text(), "early");
    pump_for(100);
    EXPECT_EQ(capture, "");
    EXPECT_EQ(port.InBuffUsed(), 0);
    line.feed(">");
    ASSERT_TRUE(pump_until([&] { return capture == ">"; }));
}

TEST_F(SlowPort, TheTerminalKeepsReceivingWhileAHandlerRunsPastTheLimit)
{
    std::atomic<int> handler_calls{0};
    size_t terminal_at_handler_end = 0;
    port.OnTriggerAvail = [&](TApdComPort&, uint16_t) {
        if (++handler_calls > 1)
            return;
        line.feed("during");
        std::this_thread::sleep_for(milliseconds(TApdComPort::kNotifyWaitMs + 500));
        terminal_at_handler_end = terminal_text().size();
    };
    port.SetOpen(true);
    line.feed("first");
    ASSERT_TRUE(pump_until([&] { return handler_calls >= 1 && terminal_at_handler_end > 0; }, 10000));
    EXPECT_EQ(terminal_at_handler_end, std::string("firstduring").size());
    EXPECT_EQ(terminal_text(), "firstduring");
    line.feed("!");
    ASSERT_TRUE(pump_until([&] { return handler_calls == 2; }));
}

}  // namespace

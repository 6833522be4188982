// The lamps and their controller against the in-memory device: the
// remembered monitoring wish, the modem-line lamps and the RXD and TXD timers.
#include "fake_serial_device.h"
#include "serial_test_support.h"

#include "serial/com_port.h"
#include "serial/status_light.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

QColor centre_of(TApdStatusLight& lamp)
{
    QImage image(lamp.size(), QImage::Format_RGB32);
    lamp.render(&image);
    return image.pixelColor(6, 6);
}

TEST(StatusLight, IsA13By13LampRedWhenLitGreenWhenNot)
{
    TApdStatusLight lamp;
    EXPECT_EQ(lamp.size(), QSize(13, 13));
    EXPECT_FALSE(lamp.Lit());
    EXPECT_EQ(centre_of(lamp), QColor(Qt::green));
    lamp.SetLit(true);
    EXPECT_TRUE(lamp.Lit());
    EXPECT_EQ(centre_of(lamp), QColor(Qt::red));
}

TEST(StatusLightController, MonitoringWithoutAPortIsAnError)
{
    TApdSLController controller;
    try {
        controller.SetMonitoring(true);
        ADD_FAILURE() << "no error";
    } catch (const EPortNotAssigned& e) {
        EXPECT_STREQ(e.what(), "ComPort component not assigned");
    }
}

class Lamps : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.SetDeviceFactory(line.factory());
        port.SetAutoOpen(false);
        port.SetComNumber(1);
        controller.Lights.CTSLight = &cts;
        controller.Lights.DCDLight = &dcd;
        controller.Lights.RXDLight = &rxd;
        controller.Lights.TXDLight = &txd;
        controller.SetComPort(&port);
    }
    bool any_lit() const { return cts.Lit() || dcd.Lit() || rxd.Lit() || txd.Lit(); }

    ComMapping mapping{{{1, "/dev/fake1"}}};
    FakeLine line;
    TApdComPort port;
    TApdStatusLight cts, dcd, rxd, txd;
    TApdSLController controller;
};

TEST_F(Lamps, AWishWhileClosedLightsNothingAndStartsWhenThePortOpens)
{
    controller.SetMonitoring(true);
    pump_for(120);
    EXPECT_FALSE(controller.Monitoring());
    EXPECT_FALSE(any_lit());
    port.SetOpen(true);
    EXPECT_TRUE(controller.Monitoring());
    EXPECT_TRUE(cts.Lit());
    EXPECT_TRUE(dcd.Lit());
}

TEST_F(Lamps, ClosingStopsMonitoringAndReopeningResumesIt)
{
    port.SetOpen(true);
    controller.SetMonitoring(true);
    EXPECT_TRUE(cts.Lit());
    port.SetOpen(false);
    EXPECT_FALSE(controller.Monitoring());
    EXPECT_FALSE(any_lit());
    port.SetOpen(true);
    EXPECT_TRUE(controller.Monitoring());
    EXPECT_TRUE(cts.Lit());
}

TEST_F(Lamps, SwitchedOffWhileClosedStaysOffOnOpening)
{
    port.SetOpen(true);
    controller.SetMonitoring(true);
    port.SetOpen(false);
    controller.SetMonitoring(false);
    port.SetOpen(true);
    EXPECT_FALSE(controller.Monitoring());
    EXPECT_FALSE(any_lit());
}

TEST_F(Lamps, CtsAndDcdFollowTheLines)
{
    port.SetOpen(true);
    controller.SetMonitoring(true);
    line.set_cts(false);
    ASSERT_TRUE(pump_until([&] { return !cts.Lit(); }, 1000));
    EXPECT_TRUE(dcd.Lit());
    line.set_dcd(false);
    ASSERT_TRUE(pump_until([&] { return !dcd.Lit(); }, 1000));
    line.set_cts(true);
    line.set_dcd(true);
    ASSERT_TRUE(pump_until([&] { return cts.Lit() && dcd.Lit(); }, 1000));
}

TEST_F(Lamps, RxdLightsBeforeTheHandlerAndGoesOutOnceNothingWaits)
{
    bool lit_in_handler = false;
    bool take = false;
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        lit_in_handler = rxd.Lit();
        if (take) {
            std::string chunk(count, '\0');
            p.GetBlock(chunk.data(), count);
        }
    };
    port.SetOpen(true);
    controller.SetMonitoring(true);
    line.feed("left waiting");
    ASSERT_TRUE(pump_until([&] { return lit_in_handler; }, 1000));
    pump_for(4 * TApdComPort::kTickMs);
    EXPECT_TRUE(rxd.Lit()) << "bytes still wait, the lamp stays lit";
    port.FlushInBuffer();
    ASSERT_TRUE(pump_until([&] { return !rxd.Lit(); }, 1000));
    take = true;
    line.feed("taken");
    ASSERT_TRUE(pump_until([&] { return rxd.Lit(); }, 1000));
    ASSERT_TRUE(pump_until([&] { return !rxd.Lit(); }, 1000));
}

TEST_F(Lamps, TxdStaysLitWhileTheTransmitQueueHoldsBytes)
{
    port.SetOpen(true);
    controller.SetMonitoring(true);
    line.set_cts(false);
    port.PutString("\r");
    EXPECT_TRUE(txd.Lit());
    pump_for(4 * TApdComPort::kTickMs);
    EXPECT_TRUE(txd.Lit());
    line.set_cts(true);
    ASSERT_TRUE(pump_until([&] { return !txd.Lit(); }, 1000));
    EXPECT_EQ(line.sent(), "\r");
}

TEST_F(Lamps, NothingLightsWhileMonitoringIsOff)
{
    port.SetOpen(true);
    line.feed("x");
    port.PutChar('y');
    pump_for(100);
    EXPECT_FALSE(any_lit());
}

}  // namespace

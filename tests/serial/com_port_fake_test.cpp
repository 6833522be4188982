// The port against the in-memory device: transmit queue and flow control,
// notification arithmetic, opening failures, a vanishing device, and closing
// while the reader waits on the user-interface thread.
#include "fake_serial_device.h"
#include "serial_test_support.h"

#include "serial/com_port.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono;

class FakePort : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.SetDeviceFactory(line.factory());
        port.SetAutoOpen(false);
        port.SetComNumber(2);
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

    ComMapping mapping{{{2, "/dev/fake2"}, {3, "/dev/fake3"}}};
    FakeLine line;
    TApdComPort port;
};

// --- transmit

TEST_F(FakePort, CtsLowHoldsDataInTheTransmitQueueUntilCtsRises)
{
    open();
    line.set_cts(false);
    port.PutString("LOADR\r\n");
    pump_for(50);
    EXPECT_EQ(line.sent(), "");
    EXPECT_EQ(port.GetOutBuffUsed(), 7);
    EXPECT_EQ(port.GetOutBuffFree(), 4096 - 7);
    line.set_cts(true);
    ASSERT_TRUE(pump_until([&] { return port.GetOutBuffUsed() == 0; }));
    EXPECT_EQ(line.sent(), "LOADR\r\n");
}

TEST_F(FakePort, BytesQueuedInTheDeviceCountAsUsed)
{
    open();
    line.set_draining(false);
    port.PutBlock("0123456789", 10);
    ASSERT_TRUE(pump_until([&] { return line.held_in_device() == 10; }));
    EXPECT_EQ(port.GetOutBuffUsed(), 10);
    EXPECT_EQ(port.GetOutBuffFree(), 4096 - 10);
}

TEST_F(FakePort, MoreThanTheFreeSpaceRaisesAndQueuesNothing)
{
    port.SetOutSize(16);
    open();
    line.set_cts(false);
    port.PutBlock("0123456789", 10);
    EXPECT_THROW(port.PutBlock("abcdefg", 7), EOutputBufferTooSmall);
    EXPECT_THROW(port.PutString("abcdefg"), EOutputBufferTooSmall);
    EXPECT_EQ(port.GetOutBuffUsed(), 10);
    port.PutString("abcde");
    port.PutChar('!');
    EXPECT_EQ(port.GetOutBuffFree(), 0);
    EXPECT_THROW(port.PutChar('?'), EOutputBufferTooSmall);
    line.set_cts(true);
    ASSERT_TRUE(pump_until([&] { return line.sent().size() == 16; }));
    EXPECT_EQ(line.sent(), "0123456789abcde!");
}

TEST_F(FakePort, FlushOutBufferDiscardsWhatWasNotSent)
{
    open();
    line.set_cts(false);
    line.set_draining(false);
    port.PutString("stale");
    pump_for(20);
    port.FlushOutBuffer();
    EXPECT_EQ(port.GetOutBuffUsed(), 0);
    EXPECT_GE(line.output_purges(), 1);
    line.set_cts(true);
    line.set_draining(true);
    port.PutString("k");
    ASSERT_TRUE(pump_until([&] { return !line.sent().empty(); }));
    pump_for(20);
    EXPECT_EQ(line.sent(), "k");
}

TEST_F(FakePort, ARefusedWriteIsReportedByTheNextPut)
{
    open();
    line.fail_writes(EINVAL);
    port.PutString("lost");
    ASSERT_TRUE(pump_until([&] { return port.GetOutBuffUsed() == 0; }));
    EXPECT_THROW(port.PutChar('x'), EPutBlockFail);
    EXPECT_TRUE(port.Open());
}

TEST_F(FakePort, ARefusedWriteIsTakenOnceAndIsThenNoLongerRaised)
{
    open();
    line.fail_writes(EINVAL);
    port.PutString("lost");
    ASSERT_TRUE(pump_until([&] { return port.GetOutBuffUsed() == 0; }));
    EXPECT_TRUE(port.TakeWriteFailure());
    EXPECT_FALSE(port.TakeWriteFailure());
    line.fail_writes(0);
    EXPECT_NO_THROW(port.PutChar('x'));
    ASSERT_TRUE(pump_until([&] { return line.sent() == "x"; }));
}

// --- opening

TEST_F(FakePort, OpeningAppliesTheSettingsAndRaisesDtrAndRts)
{
    port.SetBaud(38400);
    port.SetParity(pEven);
    port.SetDataBits(7);
    port.SetStopBits(2);
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    open();
    ASSERT_EQ(line.applied().size(), 1u);
    EXPECT_EQ(line.applied()[0], (LineSettings{38400, pEven, 7, 2, true}));
    EXPECT_EQ(line.opened_paths(), std::vector<std::string>{"/dev/fake2"});
    EXPECT_TRUE(line.dtr());
    EXPECT_TRUE(line.rts());
}

TEST_F(FakePort, FailedOpeningsRaiseTheirErrorAndLeaveThePortClosed)
{
    struct Case {
        OpenError why;
        const char* message;
    };
    for (Case c : {Case{OpenError::HeldByOther, "ie_Open - device already open"},
                   Case{OpenError::NoSuchDevice, "ie_BadId - Specified comport doesn't exist"}}) {
        line.refuse_open(c.why, EBUSY);
        try {
            port.SetOpen(true);
            ADD_FAILURE() << "opened although refused";
        } catch (const EComError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_FALSE(port.Open());
        EXPECT_THROW(port.PutChar('x'), ECommNotOpen);
    }
    line.refuse_open(OpenError::Other, EPERM);
    EXPECT_THROW(port.SetOpen(true), EComError);
    EXPECT_FALSE(port.Open());
}

TEST_F(FakePort, NumberZeroOrUnmappedIsNoSuchPort)
{
    port.SetComNumber(0);
    EXPECT_THROW(port.SetOpen(true), EBadId);
    port.SetComNumber(9);
    EXPECT_THROW(port.SetOpen(true), EBadId);
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(line.opened_paths().empty());
}

TEST_F(FakePort, RefusedLineSettingsCloseTheDeviceOrKeepTheOldOnes)
{
    line.refuse_settings(true);
    EXPECT_THROW(port.SetOpen(true), EComError);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(line.is_open());

    line.refuse_settings(false);
    open();
    line.refuse_settings(true);
    EXPECT_THROW(port.SetBaud(57600), EComError);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_TRUE(port.Open());
}

TEST_F(FakePort, FillLevelsDefaultToInSizeOnceAFlowOptionIsSet)
{
    port.SetInSize(8192);
    EXPECT_EQ(port.BufferFull(), 0);
    port.SetHWFlowOptions(hwfUseRTS);
    EXPECT_EQ(port.BufferFull(), 7372);
    EXPECT_EQ(port.BufferResume(), 819);
    port.SetBufferFull(7000);
    port.SetBufferResume(400);
    EXPECT_EQ(port.BufferFull(), 7000);
    EXPECT_EQ(port.BufferResume(), 400);
    port.SetBufferResume(7001);
    EXPECT_EQ(port.BufferResume(), 819);
}

TEST_F(FakePort, ClosedPortAnswersItsQueriesAndRefusesTransfers)
{
    port.SetOutSize(1234);
    EXPECT_EQ(port.GetOutBuffFree(), 1234);
    EXPECT_EQ(port.GetOutBuffUsed(), 0);
    EXPECT_FALSE(port.GetCTS());
    EXPECT_FALSE(port.GetDCD());
    char buf[4];
    EXPECT_THROW(port.GetBlock(buf, 1), ECommNotOpen);
    EXPECT_THROW(port.PutString("x"), ECommNotOpen);
    EXPECT_THROW(port.PutBlock(buf, 1), ECommNotOpen);
    EXPECT_THROW(port.FlushInBuffer(), ECommNotOpen);
    EXPECT_THROW(port.FlushOutBuffer(), ECommNotOpen);
    EXPECT_THROW(port.WaitForString("#", 1, true, false), ECommNotOpen);
}

TEST_F(FakePort, AutoOpenOpensOnFirstTransfer)
{
    port.SetAutoOpen(true);
    port.PutChar('a');
    EXPECT_TRUE(port.Open());
    ASSERT_TRUE(pump_until([&] { return line.sent() == "a"; }));
}

// --- receiving

TEST_F(FakePort, ListenersReadAtTheirOwnOffsetAndTheRingGivesUpTheLargestCount)
{
    std::string terminal_saw, capture_saw;
    size_t terminal_count = 0, capture_count = 0;
    port.AddDataListener([&](TApdComPort& p, size_t count) {
        terminal_count = count;
        terminal_saw.resize(2);
        p.GetBlock(terminal_saw.data(), 2);
    });
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t count) {
        capture_count = count;
        capture_saw.resize(4);
        p.GetBlock(capture_saw.data(), 4);
        EXPECT_THROW(p.GetBlock(capture_saw.data(), 3), ENotEnoughData);
    };
    open();
    line.feed("abcdef");
    ASSERT_TRUE(pump_until([&] { return capture_count != 0; }));
    EXPECT_EQ(terminal_count, 6u);
    EXPECT_EQ(capture_count, 6u);
    EXPECT_EQ(terminal_saw, "ab");
    EXPECT_EQ(capture_saw, "abcd");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 2; }));
    EXPECT_EQ(take(2), "ef");
    EXPECT_EQ(port.InBuffUsed(), 0);
}

TEST_F(FakePort, BytesNobodyTakesWaitWithoutAnotherNotification)
{
    int notifications = 0;
    port.OnTriggerAvail = [&](TApdComPort&, uint16_t) { ++notifications; };
    open();
    line.feed("xyz");
    ASSERT_TRUE(pump_until([&] { return notifications == 1; }));
    pump_for(100);
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(port.InBuffUsed(), 3);
    line.feed("!");
    ASSERT_TRUE(pump_until([&] { return notifications == 2; }));
    EXPECT_EQ(take(4), "xyz!");
}

TEST_F(FakePort, ARemovedListenerIsNeverCalledAgainAndAFailingOneHarmsNoOther)
{
    std::atomic<int> removed_calls{0};
    Collected seen;
    int removed = port.AddDataListener([&](TApdComPort&, size_t) { ++removed_calls; });
    port.AddDataListener([](TApdComPort&, size_t) { throw std::runtime_error("listener failed"); });
    port.AddDataListener([&](TApdComPort& p, size_t count) { seen.take_all(p, count); });
    open();
    line.feed("one");
    ASSERT_TRUE(pump_until([&] { return removed_calls == 1; }));
    port.RemoveDataListener(removed);
    line.feed("two");
    ASSERT_TRUE(pump_until([&] { return seen.text() == "onetwo"; }));
    EXPECT_EQ(removed_calls, 1);
}

TEST_F(FakePort, FlushInBufferDiscardsTheRingAndTheDeviceInput)
{
    open();
    line.feed("old");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 3; }));
    port.FlushInBuffer();
    EXPECT_EQ(port.InBuffUsed(), 0);
    EXPECT_GE(line.input_purges(), 1);
    line.feed("new");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 3; }));
    EXPECT_EQ(take(3), "new");
}

TEST_F(FakePort, TheReaderStopsAtTheFillLevelAndNeverOverwrites)
{
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    port.SetBufferFull(7000);
    port.SetBufferResume(400);
    open();
    std::string data;
    for (int i = 0; i < 20000; ++i)
        data += static_cast<char>('A' + i % 23);
    line.feed(data);
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() > 7000; }));
    pump_for(50);
    const size_t held = port.InBuffUsed();
    const size_t unread = line.unread();
    EXPECT_GT(unread, 0u);
    EXPECT_LE(held, TApdComPort::kRingSize);
    std::string got = take(held - 400);  // 400 still wait: not yet below the resume level
    pump_for(50);
    EXPECT_EQ(line.unread(), unread);
    got += take(1);
    ASSERT_TRUE(pump_until([&] { return line.unread() < unread; }));
    while (got.size() < data.size()) {
        if (!pump_until([&] { return port.InBuffUsed() > 0; }))
            break;
        got += take(port.InBuffUsed());
    }
    EXPECT_EQ(got, data);
}

TEST_F(FakePort, WaitForStringMatchesOverlapsAndIgnoresCaseOnRequest)
{
    open();
    line.feed("xaaab");
    EXPECT_TRUE(port.WaitForString("aab", 20, true, false));
    line.feed("LOADER>");
    EXPECT_TRUE(port.WaitForString("der>", 20, true, true));
    line.feed("abc");
    EXPECT_FALSE(port.WaitForString("ABC", 2, true, false));
}

// --- a device that goes away

// A menu command during a prompt wait runs a wait of its own; when that one ends, the outer wait
// must still have every byte to itself.
TEST_F(FakePort, AWaitInsideAnotherKeepsNotificationsHeldUntilTheOuterOneEnds)
{
    open();
    Collected notified;
    port.AddDataListener([&](TApdComPort& p, size_t count) { notified.take_all(p, count); });
    QTimer::singleShot(0, [&] {
        line.feed("x");
        EXPECT_TRUE(port.WaitForString("x", 20, true, false));
        line.feed("abc");
    });
    QTimer::singleShot(300, [&] { line.feed("#"); });
    EXPECT_TRUE(port.WaitForString("#", 40, true, false));
    pump_for(50);
    EXPECT_EQ(notified.text(), "");
}

TEST_F(FakePort, ADeviceVanishingMidTransferClosesThePort)
{
    int lost = 0;
    bool open_when_told = true;
    port.OnDeviceLost = [&](TApdComPort& p) {
        ++lost;
        open_when_told = p.Open();
    };
    int closings = 0;
    QObject::connect(&port, &TApdComPort::closed, [&] { ++closings; });
    open();
    line.vanish_after_written(10);
    std::string block(100, 'z');
    port.PutBlock(block.data(), 100);
    ASSERT_TRUE(pump_until([&] { return lost == 1; }));
    EXPECT_FALSE(open_when_told);
    EXPECT_EQ(closings, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(line.sent(), std::string(10, 'z'));
    EXPECT_THROW(port.PutChar('x'), ECommNotOpen);
    EXPECT_EQ(port.GetOutBuffFree(), 4096);
    pump_for(50);
    EXPECT_EQ(lost, 1);
}

TEST_F(FakePort, ADeviceVanishingWhileReadingClosesThePortAndItOpensAgain)
{
    int lost = 0;
    port.OnDeviceLost = [&](TApdComPort&) { ++lost; };
    open();
    line.vanish();
    ASSERT_TRUE(pump_until([&] { return lost == 1; }));
    EXPECT_FALSE(port.Open());
    char c;
    EXPECT_THROW(port.GetBlock(&c, 1), ECommNotOpen);
    open();
    line.feed("back");
    ASSERT_TRUE(pump_until([&] { return port.InBuffUsed() == 4; }));
}

// --- closing while the reader waits for the user-interface thread

class ReaderWaitingOnUi : public FakePort {
protected:
    // Feeds a byte and returns once the reader is past the data listeners,
    // waiting for the user-interface thread, which does not pump.
    void reader_waits_for_ui()
    {
        port.AddDataListener([this](TApdComPort&, size_t) { listener_ran = true; });
        open();
        line.feed("#");
        auto until = steady_clock::now() + seconds(2);
        while (!listener_ran && steady_clock::now() < until)
            std::this_thread::sleep_for(milliseconds(1));
        ASSERT_TRUE(listener_ran);
        std::this_thread::sleep_for(milliseconds(50));
    }
    template <typename F>
    milliseconds time_of(F&& f)
    {
        auto start = steady_clock::now();
        f();
        return duration_cast<milliseconds>(steady_clock::now() - start);
    }
    std::atomic<bool> listener_ran{false};
};

TEST_F(ReaderWaitingOnUi, ClosingEndsTheWaitAtOnce)
{
    reader_waits_for_ui();
    // The reader's limit is 3000 ms; closing must not sit it out.
    EXPECT_LT(time_of([&] { port.SetOpen(false); }).count(), 2000);
    EXPECT_FALSE(port.Open());
}

TEST_F(ReaderWaitingOnUi, RenumberingEndsTheWaitAtOnce)
{
    int opened = 0, closed = 0;
    QObject::connect(&port, &TApdComPort::opened, [&] { ++opened; });
    QObject::connect(&port, &TApdComPort::closed, [&] { ++closed; });
    reader_waits_for_ui();
    EXPECT_LT(time_of([&] { port.SetComNumber(3); }).count(), 2000);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(line.opened_paths().back(), "/dev/fake3");
}

TEST_F(FakePort, ClosingInsideOnTriggerAvailDoesNotDeadlock)
{
    bool called = false;
    port.OnTriggerAvail = [&](TApdComPort& p, uint16_t) {
        called = true;
        p.SetOpen(false);
    };
    open();
    line.feed("x");
    ASSERT_TRUE(pump_until([&] { return called; }));
    EXPECT_FALSE(port.Open());
}

}  // namespace

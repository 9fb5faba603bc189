// orv-flash's event loop: the order in which it runs posted work, timer ticks and the serial
// port's notifications, which the engines rely on as they rely on the windows' message loop.

#include "event_loop.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orv {
namespace {

TEST(FlashLoop, PostedWorkKeepsItsOrderAlsoAcrossANestedLoopAndFromOtherThreads) {
    TEventLoop loop;
    std::vector<std::string> order;
    bool asked = false, done = false;
    loop.Post([&] { order.emplace_back("a"); });
    // A handler that asks a question: the nested loop runs what comes next, in order.
    loop.Post([&] {
        order.emplace_back("ask");
        loop.RunUntil([&] { return asked; });
        order.emplace_back("answered");
    });
    loop.Post([&] { order.emplace_back("b"); });
    std::thread other([&] {
        loop.Post([&] {
            order.emplace_back("answer");
            asked = true;
        });
    });
    other.join();
    loop.Post([&] {
        order.emplace_back("c");
        done = true;
    });
    loop.RunUntil([&] { return done; });
    EXPECT_EQ(order, (std::vector<std::string>{"a", "ask", "b", "answer", "answered", "c"}));
}

TEST(FlashLoop, TimersTickWhileEnabledKeepTheirPhaseWhenEnabledAgainAndStopWhenDisabled) {
    TEventLoop loop;
    int slowTicks = 0, fastTicks = 0, stoppedTicks = 0;
    TLoopTimer stopped(loop, [&] {
        ++stoppedTicks;
        if (stoppedTicks == 3)
            stopped.Disable();
    });
    TLoopTimer slow(loop, [&] { ++slowTicks; });
    // Enabling a running timer again must not put its tick off: the engines enable Timer2
    // on every send-buffer-empty event while it runs.
    TLoopTimer fast(loop, [&] {
        ++fastTicks;
        slow.Enable();
    });
    stopped.SetInterval(0);
    slow.SetInterval(40);
    fast.SetInterval(2);
    stopped.Enable();
    slow.Enable();
    fast.Enable();
    loop.RunUntil([&] { return slowTicks > 0 || fastTicks == 200; });
    EXPECT_EQ(slowTicks, 1);
    EXPECT_LT(fastTicks, 200);
    EXPECT_EQ(stoppedTicks, 3);
    EXPECT_TRUE(fast.Enabled());
    EXPECT_FALSE(stopped.Enabled());

    // Disabled timers stay silent while another one ticks on.
    fast.Disable();
    const int fastBefore = fastTicks;
    slow.SetInterval(1);
    loop.RunUntil([&] { return slowTicks == 3; });
    EXPECT_EQ(fastTicks, fastBefore);
    EXPECT_EQ(stoppedTicks, 3);
}

TEST(FlashLoop, SerialNotificationsArriveInOrderAndDiscardedOnesNever) {
    TEventLoop loop;
    TLoopCommSink sink(loop);
    TComm comm(&sink);
    std::vector<int> received;
    comm.OnReceiveData = [&](TComm*, const uint8_t* data, uint16_t count) {
        ASSERT_EQ(count, 1);
        received.push_back(data[0]);
    };
    auto post = [&](uint8_t value) {
        CommNotification note;
        note.Target = &comm;
        note.Message = MSG_RECEIVE_DATA;
        note.Count = 1;
        note.Block = std::make_unique<uint8_t[]>(2); // the zero byte after the data
        note.Block[0] = value;
        sink.Post(note);
    };
    std::thread reader([&] {
        for (uint8_t i = 0; i < 50; ++i)
            post(i);
    });
    reader.join();
    loop.RunUntil([&] { return received.size() == 50; });
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(received[static_cast<size_t>(i)], i);

    // The component goes away with a notification still queued: it is never delivered, and
    // the next one still is (the loop holds a wake-up for the discarded one too).
    received.clear();
    post(99);
    sink.Discard(&comm);
    post(200);
    bool drained = false;
    loop.Post([&] { drained = true; });
    loop.RunUntil([&] { return drained; });
    EXPECT_EQ(received, std::vector<int>{200});
}

} // namespace
} // namespace orv

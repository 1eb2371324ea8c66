// Window timers: WM_TIMER with the timer's id, periods, KillTimer and SetTimer resets.

#include "platform/messages/Messages.h"
#include "platform/runtime/SysUtils.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <vector>

namespace {

void DrainQueue() {
    MSG msg;
    for (int i = 0; i < 100000 && PeekMessage(msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
}

class MessagesTimerTest : public ::testing::Test {
protected:
    void SetUp() override { DrainQueue(); }
    void TearDown() override { DrainQueue(); }
};

struct Tick {
    HWND Wnd;
    UINT_PTR Id;
    DWORD At;
};

struct TimerWindow {
    std::vector<Tick> Ticks;
    HWND Wnd = AllocateHWnd([this](TMessage& m) {
        if (m.Msg == WM_TIMER) Ticks.push_back(Tick{Wnd, m.WParam, GetTickCount()});
    });
    ~TimerWindow() { DeallocateHWnd(Wnd); }
    int Count(UINT_PTR id) const {
        int n = 0;
        for (const auto& t : Ticks)
            n += t.Id == id;
        return n;
    }
};

TEST_F(MessagesTimerTest, PeriodicTicksCarryTheIdAndKeepTheirPeriod) {
    vt::test::Watchdog dog(10, "timer period");
    TimerWindow w;
    const DWORD start = GetTickCount();
    ASSERT_EQ(SetTimer(w.Wnd, 7, 50), 7u);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return w.Ticks.size() >= 6; }, 3000));
    KillTimer(w.Wnd, 7);
    for (const auto& t : w.Ticks)
        EXPECT_EQ(t.Id, 7u);
    // First tick after one period; six ticks after about six periods.
    EXPECT_GE(w.Ticks[0].At - start, 45u);
    const DWORD span = w.Ticks[5].At - start;
    EXPECT_GE(span, 290u);
    EXPECT_LE(span, 600u);
    for (size_t i = 1; i < w.Ticks.size(); ++i) {
        EXPECT_GE(w.Ticks[i].At - w.Ticks[i - 1].At, 20u) << "ticks bunch up at " << i;
    }
}

TEST_F(MessagesTimerTest, KillTimerStopsTicksAndReportsUnknownTimers) {
    vt::test::Watchdog dog(10, "kill timer");
    TimerWindow w;
    ASSERT_EQ(SetTimer(w.Wnd, 1, 20), 1u);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return w.Ticks.size() >= 2; }, 3000));
    EXPECT_TRUE(KillTimer(w.Wnd, 1));
    const size_t seen = w.Ticks.size();
    vt::test::PumpFor(150);
    EXPECT_EQ(w.Ticks.size(), seen);
    EXPECT_FALSE(KillTimer(w.Wnd, 1));
    EXPECT_FALSE(KillTimer(w.Wnd, 99));
}

TEST_F(MessagesTimerTest, KillTimerDropsATickAlreadyDue) {
    TimerWindow w;
    ASSERT_EQ(SetTimer(w.Wnd, 1, 10), 1u);
    pollfd pfd{QueueDescriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 2000), 1); // due
    EXPECT_TRUE(KillTimer(w.Wnd, 1));
    vt::test::PumpFor(30);
    EXPECT_EQ(w.Ticks.size(), 0u);
}

TEST_F(MessagesTimerTest, SetTimerOnAnExistingIdRestartsItsPeriod) {
    vt::test::Watchdog dog(10, "timer reset");
    TimerWindow w;
    ASSERT_EQ(SetTimer(w.Wnd, 3, 150), 3u);
    vt::test::PumpFor(100);
    const DWORD reset = GetTickCount();
    ASSERT_EQ(SetTimer(w.Wnd, 3, 150), 3u); // starts over: no tick at the old 150 ms
    ASSERT_TRUE(vt::test::PumpUntil([&] { return !w.Ticks.empty(); }, 3000));
    EXPECT_GE(w.Ticks[0].At - reset, 140u);
    // A new period through the same id takes effect too.
    w.Ticks.clear();
    ASSERT_EQ(SetTimer(w.Wnd, 3, 30), 3u);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return w.Ticks.size() >= 4; }, 3000));
    KillTimer(w.Wnd, 3);
}

TEST_F(MessagesTimerTest, TimersOfSeveralWindowsAndIdsRunSideBySide) {
    vt::test::Watchdog dog(10, "timers side by side");
    TimerWindow a, b;
    ASSERT_EQ(SetTimer(a.Wnd, 1, 30), 1u);
    ASSERT_EQ(SetTimer(a.Wnd, 2, 90), 2u);
    ASSERT_EQ(SetTimer(b.Wnd, 1, 30), 1u);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return a.Count(2) >= 2; }, 3000));
    EXPECT_GE(a.Count(1), 4);
    EXPECT_GE(b.Count(1), 4);
    for (const auto& t : b.Ticks)
        EXPECT_EQ(t.Wnd, b.Wnd);
    KillTimer(a.Wnd, 1);
    KillTimer(a.Wnd, 2);
    KillTimer(b.Wnd, 1);
}

TEST_F(MessagesTimerTest, RefusedForMissingWindowsAndIdZero) {
    HWND gone = AllocateHWnd([](TMessage&) {});
    DeallocateHWnd(gone);
    EXPECT_EQ(SetTimer(gone, 1, 10), 0u);
    EXPECT_EQ(SetTimer(nullptr, 1, 10), 0u);
    TimerWindow w;
    EXPECT_EQ(SetTimer(w.Wnd, 0, 10), 0u);
}

TEST_F(MessagesTimerTest, DeallocatedWindowGetsNoMoreTicks) {
    vt::test::Watchdog dog(10, "dead timer");
    int ticks = 0;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_TIMER) ++ticks;
    });
    ASSERT_EQ(SetTimer(wnd, 1, 10), 1u);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return ticks >= 1; }, 3000));
    DeallocateHWnd(wnd);
    const int seen = ticks;
    vt::test::PumpFor(60);
    EXPECT_EQ(ticks, seen);
    pollfd pfd{QueueDescriptor(), POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 30), 0); // nothing armed any more
}

} // namespace

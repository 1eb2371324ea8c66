// The threaded timer in both modes on the real message loop and a real worker thread:
// planning, mode switches, re-planning, errors and ending the worker.

#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "support/Pump.h"
#include "util/TimerEx.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using vt::test::PumpFor;
using vt::test::PumpUntil;

namespace {

bool ThreadAlive(int tid) {
    struct stat st {};
    return stat(("/proc/self/task/" + std::to_string(tid)).c_str(), &st) == 0;
}

class UtilTimerEx : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Application.SetErrorDisplay(
            [this](const std::string&, const std::string& text) { FErrors.push_back(text); });
        FTimer->SetThreaded(GetParam());
    }

    // An OnTimer handler that records when it ran and checks it runs on this thread.
    TNotifyEvent Recorder() {
        return [this](TObject* sender) {
            EXPECT_EQ(sender, FTimer.get());
            EXPECT_TRUE(vt::IsMainThread());
            FTicks.push_back(GetTickCount());
        };
    }

    vt::test::Watchdog FDog{30, "threaded timer test"};
    std::unique_ptr<TTimerEx> FTimer = std::make_unique<TTimerEx>(nullptr);
    std::vector<DWORD> FTicks;
    std::vector<std::string> FErrors;
};

INSTANTIATE_TEST_SUITE_P(BothModes, UtilTimerEx, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Threaded" : "Window"; });

TEST(UtilTimerExDefaults, NewTimerIsThreadedIdleWithASuspendedWorker) {
    TTimerEx timer(nullptr);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_TRUE(timer.Threaded());
    EXPECT_EQ(timer.ThreadPriority(), tpNormal);
    ASSERT_NE(timer.Worker(), nullptr);
    EXPECT_TRUE(timer.Worker()->Suspended());
    EXPECT_EQ(timer.Worker()->OwnerTimer(), &timer);
    EXPECT_EQ(timer.Window(), nullptr);
    timer.SetInterval(20);
    EXPECT_TRUE(timer.Worker()->Suspended()) << "no OnTimer, nothing runs";
}

TEST_P(UtilTimerEx, DeliversOnTheGuiThreadAtItsPeriod) {
    FTimer->SetInterval(40);
    FTimer->SetOnTimer(Recorder());
    if (GetParam()) {
        EXPECT_FALSE(FTimer->Worker()->Suspended());
    } else {
        EXPECT_EQ(FTimer->Worker(), nullptr);
        EXPECT_NE(FTimer->Window(), nullptr);
    }
    ASSERT_TRUE(PumpUntil([&] { return FTicks.size() >= 5; }, 5000));
    const double mean = double(FTicks[4] - FTicks[0]) / 4;
    EXPECT_GE(mean, 35.0);
    EXPECT_LE(mean, 200.0);
    if (GetParam()) {
        // The worker sleeps a whole interval after each hand-over has returned.
        for (std::size_t i = 1; i < FTicks.size(); ++i) {
            EXPECT_GE(static_cast<std::int32_t>(FTicks[i] - FTicks[i - 1]), 39);
        }
    }
}

TEST_P(UtilTimerEx, IntervalZeroRunsNothing) {
    FTimer->SetInterval(0);
    FTimer->SetOnTimer(Recorder());
    if (GetParam()) {
        EXPECT_TRUE(FTimer->Worker()->Suspended());
    }
    PumpFor(200);
    EXPECT_TRUE(FTicks.empty());
}

TEST_P(UtilTimerEx, DisablingStopsAtOnceAndEnablingRestartsTheFullPeriod) {
    FTimer->SetInterval(150);
    FTimer->SetOnTimer([&](TObject*) {
        FTicks.push_back(GetTickCount());
        if (FTicks.size() == 2) FTimer->SetEnabled(false);
    });
    ASSERT_TRUE(PumpUntil([&] { return FTicks.size() >= 2; }, 5000));
    PumpFor(350);
    EXPECT_EQ(FTicks.size(), 2u);
    if (GetParam()) {
        EXPECT_TRUE(FTimer->Worker()->Suspended());
    }

    FTimer->SetEnabled(true);
    const DWORD restarted = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return FTicks.size() >= 3; }, 5000));
    EXPECT_GE(static_cast<std::int32_t>(FTicks[2] - restarted), 140) << "a whole period again";
}

TEST_P(UtilTimerEx, AssigningTheSameHandlerReplans) {
    const TNotifyEvent handler = Recorder();
    FTimer->SetInterval(300);
    FTimer->SetOnTimer(handler);
    PumpFor(200);
    const DWORD replanned = GetTickCount();
    FTimer->SetOnTimer(handler);
    if (GetParam()) {
        // The worker is suspended and resumed again: it keeps running.
        EXPECT_FALSE(FTimer->Worker()->Suspended());
    }
    ASSERT_TRUE(PumpUntil([&] { return FTicks.size() >= 2; }, 5000));
    if (!GetParam()) {
        EXPECT_GE(static_cast<std::int32_t>(FTicks[0] - replanned), 280)
            << "the window timer starts its period again";
    }
}

TEST_P(UtilTimerEx, HandlerErrorsReachTheErrorDisplayAndTheTimerGoesOn) {
    FTimer->SetInterval(30);
    FTimer->SetOnTimer([&](TObject*) {
        FTicks.push_back(GetTickCount());
        if (FTicks.size() == 1) throw Exception("Timer failed");
        if (FTicks.size() == 2) throw EAbort("quiet");
    });
    ASSERT_TRUE(PumpUntil([&] { return FTicks.size() >= 4; }, 5000));
    EXPECT_EQ(FErrors, std::vector<std::string>{"Timer failed."});
}

TEST_P(UtilTimerEx, DestroyingARunningTimerEndsItsWorker) {
    FTimer->SetInterval(10);
    FTimer->SetOnTimer(Recorder());
    ASSERT_TRUE(PumpUntil([&] { return !FTicks.empty(); }, 5000));
    const int tid = FTimer->Worker() ? FTimer->Worker()->ThreadID() : 0;
    // Not pumping lets a threaded worker block in its hand-over.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const std::size_t before = FTicks.size();
    FTimer.reset();
    if (tid != 0) {
        EXPECT_FALSE(ThreadAlive(tid)) << "the worker has ended";
    }
    PumpFor(100);
    EXPECT_EQ(FTicks.size(), before) << "nothing is delivered after destruction";
}

TEST_P(UtilTimerEx, HandlerMayFreeItsOwnTimer) {
    FTimer->SetInterval(20);
    FTimer->SetOnTimer([&](TObject*) {
        FTicks.push_back(GetTickCount());
        FTimer.reset();
    });
    ASSERT_TRUE(PumpUntil([&] { return !FTimer; }, 5000));
    PumpFor(100);
    EXPECT_EQ(FTicks.size(), 1u);
}

TEST(UtilTimerExModes, SwitchingModesWhileRunningKeepsTheEventsFlowing) {
    vt::test::Watchdog dog(30, "mode switch test");
    TTimerEx timer(nullptr);
    int ticks = 0;
    timer.SetInterval(30);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }, 5000));
    const int tid = timer.Worker()->ThreadID();

    timer.SetThreaded(false);
    EXPECT_EQ(timer.Worker(), nullptr);
    EXPECT_FALSE(ThreadAlive(tid));
    ASSERT_NE(timer.Window(), nullptr);
    int mark = ticks;
    ASSERT_TRUE(PumpUntil([&] { return ticks >= mark + 2; }, 5000));

    timer.SetThreaded(true);
    EXPECT_EQ(timer.Window(), nullptr);
    ASSERT_NE(timer.Worker(), nullptr);
    EXPECT_FALSE(timer.Worker()->Suspended());
    mark = ticks;
    ASSERT_TRUE(PumpUntil([&] { return ticks >= mark + 2; }, 5000));
}

TEST(UtilTimerExModes, HandlerSwitchingToWindowModeDoesNotWaitForItself) {
    vt::test::Watchdog dog(30, "switch from inside the handler");
    TTimerEx timer(nullptr);
    int ticks = 0, tid = 0;
    timer.SetInterval(30);
    timer.SetOnTimer([&](TObject*) {
        if (++ticks == 1) {
            tid = timer.Worker()->ThreadID();
            timer.SetThreaded(false);
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
    EXPECT_FALSE(timer.Threaded());
    EXPECT_EQ(timer.Worker(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return !ThreadAlive(tid); }, 3000)) << "the old worker left";
}

TEST(UtilTimerExModes, PriorityReachesTheRunningWorker) {
    TTimerEx timer(nullptr);
    timer.SetInterval(50);
    timer.SetOnTimer([](TObject*) {});
    timer.SetThreadPriority(tpLower);
    ASSERT_NE(timer.Worker(), nullptr);
    EXPECT_EQ(timer.Worker()->Priority(), tpLower);
    const int tid = timer.Worker()->ThreadID();
    EXPECT_TRUE(PumpUntil([&] { return getpriority(PRIO_PROCESS, tid) == 5; }, 2000))
        << "nice value " << getpriority(PRIO_PROCESS, tid);

    timer.SetThreaded(false);
    timer.SetThreadPriority(tpLowest);
    EXPECT_EQ(timer.ThreadPriority(), tpLowest);
    EXPECT_EQ(timer.Worker(), nullptr) << "only stored while not threaded";
}

} // namespace

namespace {

TEST(UtilTimerExModes, RefusedWindowTimerRaisesAndLeavesTheTimerIdle) {
    vt::test::Watchdog dog(30, "timer refusal test");
    // Take every window timer this thread may hold.
    HWND hog = AllocateHWnd([](TMessage&) {});
    UINT_PTR taken = 0;
    while (SetTimer(hog, taken + 1, 100000) != 0)
        ++taken;
    ASSERT_GT(taken, 0u);

    TTimerEx timer(nullptr);
    timer.SetThreaded(false);
    timer.SetInterval(20);
    int ticks = 0;
    try {
        timer.SetOnTimer([&](TObject*) { ++ticks; });
        ADD_FAILURE() << "no error raised";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), "No More Timers Available");
    }
    EXPECT_FALSE(timer.Threaded());
    EXPECT_NE(timer.Window(), nullptr);

    // With a timer free again, the next plan starts it.
    ASSERT_TRUE(KillTimer(hog, 1));
    timer.SetInterval(25);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }, 5000));
    DeallocateHWnd(hog);
}

} // namespace

// The timer pool on the real message loop: planning of its one timer, handles,
// counts, the firing rule, errors from handlers and handlers that change the pool.

#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "support/Pump.h"
#include "util/Timer.h"
#include "util/TimerPool.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using vt::test::PumpFor;
using vt::test::PumpUntil;

namespace {

struct Firing {
    TObject* Sender;
    std::int32_t Handle, IntervalTicks, ElapsedTicks;
    DWORD At;
};

class UtilTimerPool : public ::testing::Test {
protected:
    void SetUp() override {
        Application.SetErrorDisplay(
            [this](const std::string&, const std::string& text) { FErrors.push_back(text); });
    }

    // An event that records each firing.
    TTriggerEvent Recorder(std::vector<Firing>& into) {
        return [&into](TObject* sender, std::int32_t handle, std::int32_t interval,
                       std::int32_t elapsed) {
            into.push_back({sender, handle, interval, elapsed, GetTickCount()});
        };
    }

    vt::test::Watchdog FDog{30, "timer pool test"};
    std::unique_ptr<TTimerPool> FPool = std::make_unique<TTimerPool>(nullptr);
    std::vector<std::string> FErrors;
};

TEST_F(UtilTimerPool, ShortIntervalIsRaisedTo55AndTheTimerTicksAtThatPace) {
    std::vector<Firing> firings;
    const std::int32_t h = FPool->AddTrigger(10, Recorder(firings));
    EXPECT_EQ(FPool->TriggerByHandle(h)->Interval(), 55);
    ASSERT_NE(FPool->Timer(), nullptr);
    EXPECT_EQ(FPool->Timer()->Interval(), 55u);
    EXPECT_EQ(FPool->TriggerCount(), 1) << "the timer is not counted";

    ASSERT_TRUE(PumpUntil([&] { return firings.size() >= 6; }, 5000));
    const double mean = double(firings[5].At - firings[0].At) / 5;
    EXPECT_GE(mean, 45.0);
    EXPECT_LE(mean, 110.0);
    for (std::size_t i = 1; i < firings.size(); ++i) {
        EXPECT_EQ(firings[i].Sender, FPool.get());
        EXPECT_EQ(firings[i].Handle, h);
        EXPECT_GE(firings[i].IntervalTicks, 55 - kTriggerTolerance);
        EXPECT_GT(firings[i].ElapsedTicks, firings[i - 1].ElapsedTicks);
    }
}

TEST_F(UtilTimerPool, EffectivePeriodIsAWholeNumberOfTicks) {
    std::vector<Firing> fast, slow;
    FPool->AddTrigger(55, Recorder(fast));
    FPool->AddTrigger(100, Recorder(slow));
    EXPECT_EQ(FPool->Timer()->Interval(), 55u);
    ASSERT_TRUE(PumpUntil([&] { return slow.size() >= 4; }, 5000));
    for (const Firing& f : slow)
        EXPECT_GE(f.IntervalTicks, 100 - kTriggerTolerance);
    EXPECT_GE(fast.size(), slow.size() + 2) << "the slow trigger skips ticks";
}

TEST_F(UtilTimerPool, DisabledByDefaultMeansNoTimerAndNoEvents) {
    std::vector<Firing> firings;
    int allTicks = 0;
    FPool->SetDefEnabled(false);
    FPool->SetOnAllTriggers(
        [&](TObject*, std::int32_t, std::int32_t, std::int32_t) { ++allTicks; });
    FPool->AddTrigger(55, Recorder(firings));
    FPool->AddTrigger(60, 3, Recorder(firings));
    EXPECT_EQ(FPool->Timer(), nullptr);
    EXPECT_EQ(FPool->TriggerCount(), 2);
    EXPECT_EQ(FPool->EnabledTriggerCount(), 0);
    PumpFor(250);
    EXPECT_TRUE(firings.empty());
    EXPECT_EQ(allTicks, 0);
}

TEST_F(UtilTimerPool, HandlesAreTheSmallestFreeNumbers) {
    auto none = [](TObject*, std::int32_t, std::int32_t, std::int32_t) {};
    EXPECT_EQ(FPool->AddTrigger(100, none), 0);
    EXPECT_EQ(FPool->AddTrigger(100, none), 1);
    EXPECT_EQ(FPool->AddTrigger(100, none), 2);
    EXPECT_EQ(FPool->TriggerCount(), 3);
    FPool->RemoveTrigger(1);
    EXPECT_EQ(FPool->TriggerCount(), 2);
    EXPECT_EQ(FPool->NextHandle(), 1);
    EXPECT_EQ(FPool->AddTrigger(100, none), 1);
    EXPECT_EQ(FPool->AddTrigger(100, none), 3);
    EXPECT_EQ(FPool->TriggerByHandle(3)->Handle(), 3);
}

TEST_F(UtilTimerPool, HandlesStayRightThroughManyMixedAddsAndRemoves) {
    auto none = [](TObject*, std::int32_t, std::int32_t, std::int32_t) {};
    // Model: handle -> interval of the live trigger holding it.
    std::vector<std::int32_t> live(64, 0);
    auto smallestFree = [&] {
        return std::int32_t(std::find(live.begin(), live.end(), 0) - live.begin());
    };
    unsigned seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int step = 0; step < 400; ++step) {
        const std::int32_t h = std::int32_t(next() % 40);
        if (live[h]) {
            FPool->RemoveTrigger(h);
            live[h] = 0;
        } else {
            const std::int32_t interval = 100 + std::int32_t(next() % 900);
            const std::int32_t expected = smallestFree();
            ASSERT_EQ(FPool->AddTrigger(interval, none), expected) << "step " << step;
            live[expected] = interval;
        }
        ASSERT_EQ(FPool->NextHandle(), smallestFree()) << "step " << step;
    }
    std::int32_t shortest = INT32_MAX;
    for (std::int32_t h = 0; h < std::int32_t(live.size()); ++h) {
        if (live[h]) {
            TTrigger* t = FPool->TriggerByHandle(h);
            EXPECT_EQ(t->Handle(), h);
            EXPECT_EQ(t->Interval(), live[h]);
            shortest = std::min(shortest, live[h]);
        } else {
            EXPECT_THROW(FPool->TriggerByHandle(h), EListError) << h;
        }
    }
    EXPECT_EQ(FPool->TriggerCount(),
              int(std::count_if(live.begin(), live.end(), [](std::int32_t i) { return i != 0; })));
    ASSERT_NE(FPool->Timer(), nullptr);
    EXPECT_EQ(FPool->Timer()->Interval(), UINT(shortest));
}

TEST_F(UtilTimerPool, TriggerMovedToAnotherPoolIsFoundThereOnly) {
    auto none = [](TObject*, std::int32_t, std::int32_t, std::int32_t) {};
    FPool->AddTrigger(100, none);
    FPool->AddTrigger(300, none);
    TTrigger* moved = FPool->TriggerByHandle(1);
    auto other = std::make_unique<TTimerPool>(nullptr);
    other->InsertComponent(moved);
    EXPECT_THROW(FPool->TriggerByHandle(1), EListError);
    EXPECT_EQ(FPool->NextHandle(), 1);
    EXPECT_EQ(other->TriggerByHandle(1), moved);
    EXPECT_EQ(other->NextHandle(), 0);
    EXPECT_EQ(other->AddTrigger(200, none), 0);
    EXPECT_EQ(other->NextHandle(), 2);
    other->RemoveTrigger(1);
    EXPECT_THROW(other->TriggerByHandle(1), EListError);
    EXPECT_EQ(other->TriggerCount(), 1);
}

TEST_F(UtilTimerPool, UnknownHandlesRaiseTheListError) {
    FPool->AddTrigger(100, [](TObject*, std::int32_t, std::int32_t, std::int32_t) {});
    auto expectInvalid = [](auto call, const std::string& text) {
        try {
            call();
            ADD_FAILURE() << "no error, expected " << text;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), text);
        }
    };
    expectInvalid([&] { FPool->TriggerByHandle(-1); }, "Invalid trigger handle -1");
    expectInvalid([&] { FPool->TriggerByHandle(1); }, "Invalid trigger handle 1");
    expectInvalid([&] { FPool->RemoveTrigger(5); }, "Invalid trigger handle 5");
    expectInvalid([&] { FPool->SetTriggerInterval(-3, 100); }, "Invalid trigger handle -3");
    EXPECT_EQ(FPool->TriggerCount(), 1);
}

TEST_F(UtilTimerPool, CountedTriggerFiresThatOftenThenDisablesWhileTheTimerGoesOn) {
    std::vector<Firing> firings;
    int allTicks = 0;
    FPool->SetOnAllTriggers(
        [&](TObject* sender, std::int32_t handle, std::int32_t interval, std::int32_t elapsed) {
            EXPECT_EQ(sender, FPool.get());
            EXPECT_EQ(handle, -1);
            EXPECT_EQ(interval, 0);
            EXPECT_EQ(elapsed, 0);
            ++allTicks;
        });
    const std::int32_t h = FPool->AddTrigger(55, 3, Recorder(firings));
    ASSERT_TRUE(PumpUntil([&] { return firings.size() >= 3; }, 5000));
    const int ticksAtThird = allTicks;
    PumpFor(250);
    EXPECT_EQ(firings.size(), 3u);
    TTrigger* trigger = FPool->TriggerByHandle(h);
    EXPECT_FALSE(trigger->Enabled());
    EXPECT_EQ(trigger->Count(), -1);
    EXPECT_NE(FPool->Timer(), nullptr) << "running out does not plan the timer";
    EXPECT_GT(allTicks, ticksAtThird);

    FPool->SetTriggerInterval(h, 60);
    EXPECT_EQ(FPool->Timer(), nullptr) << "the next plan finds nothing enabled";
}

TEST_F(UtilTimerPool, SetCountRules) {
    auto none = [](TObject*, std::int32_t, std::int32_t, std::int32_t) {};
    TTrigger* five = FPool->TriggerByHandle(FPool->AddTrigger(100, 5, none));
    EXPECT_EQ(five->Count(), 5);
    five->SetCount(0);
    EXPECT_FALSE(five->Enabled());
    EXPECT_EQ(five->Count(), -1);

    std::vector<Firing> firings;
    TTrigger* zero = FPool->TriggerByHandle(FPool->AddTrigger(55, 0, Recorder(firings)));
    EXPECT_EQ(zero->Count(), 0);
    zero->SetCount(0);
    EXPECT_TRUE(zero->Enabled()) << "the same value changes nothing";
    EXPECT_EQ(zero->Count(), 0);
    ASSERT_TRUE(PumpUntil([&] { return !firings.empty(); }, 5000));
    PumpFor(200);
    EXPECT_EQ(firings.size(), 1u);
    EXPECT_FALSE(zero->Enabled());
    EXPECT_EQ(zero->Count(), -1);
}

TEST_F(UtilTimerPool, PlanningKeepsTheTimerForTheSameIntervalAndFollowsTheShortest) {
    auto none = [](TObject*, std::int32_t, std::int32_t, std::int32_t) {};
    const std::int32_t slow = FPool->AddTrigger(300, none);
    vt::TTimer* timer = FPool->Timer();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->Interval(), 300u);
    FPool->SetTriggerInterval(slow, 300);
    EXPECT_EQ(FPool->Timer(), timer);
    FPool->AddTrigger(400, none);
    EXPECT_EQ(FPool->Timer(), timer) << "a longer trigger does not change the plan";
    const std::int32_t fast = FPool->AddTrigger(120, none);
    EXPECT_EQ(FPool->Timer()->Interval(), 120u);
    FPool->SetTriggerInterval(fast, 20);
    EXPECT_EQ(FPool->TriggerByHandle(fast)->Interval(), 55);
    EXPECT_EQ(FPool->Timer()->Interval(), 55u);
    FPool->RemoveTrigger(fast);
    EXPECT_EQ(FPool->Timer()->Interval(), 300u) << "planned without the departing trigger";
    FPool->RemoveTrigger(slow);
    EXPECT_EQ(FPool->Timer()->Interval(), 400u);
    FPool->RemoveTrigger(1);
    EXPECT_EQ(FPool->Timer(), nullptr) << "no trigger left, no timer left";
    EXPECT_EQ(FPool->TriggerCount(), 0);
}

TEST_F(UtilTimerPool, HandlerErrorsAreShownOrSwallowedAndTheTickGoesOn) {
    std::vector<Firing> after;
    int aborts = 0;
    const std::int32_t failing =
        FPool->AddTrigger(55, 2, [](TObject*, std::int32_t, std::int32_t, std::int32_t) {
            throw Exception("Trigger failed");
        });
    FPool->AddTrigger(55, 1, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) {
        ++aborts;
        throw EAbort("quiet");
    });
    FPool->AddTrigger(55, Recorder(after));
    ASSERT_TRUE(PumpUntil([&] { return after.size() >= 3; }, 5000));
    EXPECT_EQ(FErrors, (std::vector<std::string>{"Trigger failed.", "Trigger failed."}));
    EXPECT_EQ(aborts, 1);
    EXPECT_FALSE(FPool->TriggerByHandle(failing)->Enabled()) << "counted down all the same";
    EXPECT_EQ(FPool->TriggerByHandle(failing)->Count(), -1);
}

TEST_F(UtilTimerPool, OnAllTriggersErrorsReachTheErrorDisplay) {
    int ticks = 0;
    FPool->SetOnAllTriggers([&](TObject*, std::int32_t, std::int32_t, std::int32_t) {
        ++ticks;
        throw Exception("All failed");
    });
    FPool->AddTrigger(55, [](TObject*, std::int32_t, std::int32_t, std::int32_t) {});
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }, 5000));
    ASSERT_GE(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0], "All failed.");
}

TEST_F(UtilTimerPool, HandlersMayRemoveAndAddTriggersDuringATick) {
    std::vector<std::string> fired;
    auto log = [&](std::string name) {
        return [&fired, name](TObject*, std::int32_t, std::int32_t, std::int32_t) {
            fired.push_back(name);
        };
    };
    std::int32_t first = -1, third = -1;
    bool added = false;
    first = FPool->AddTrigger(55, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) {
        fired.push_back("first");
        // Removes a trigger later in this tick's walk, then itself.
        FPool->RemoveTrigger(third);
        FPool->RemoveTrigger(first);
    });
    FPool->AddTrigger(55, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) {
        fired.push_back("second");
        if (!added) {
            added = true;
            FPool->AddTrigger(55, log("added"));
        }
    });
    third = FPool->AddTrigger(55, log("third"));
    ASSERT_TRUE(PumpUntil([&] { return fired.size() >= 6; }, 5000));
    auto times = [&](const char* name) { return std::count(fired.begin(), fired.end(), name); };
    EXPECT_EQ(times("first"), 1);
    EXPECT_EQ(times("third"), 0) << "removed before its turn";
    EXPECT_GE(times("second"), 2);
    EXPECT_GE(times("added"), 1);
    EXPECT_EQ(FPool->TriggerCount(), 2);
}

TEST_F(UtilTimerPool, RemovingAnEarlierTriggerDoesNotMakeALaterOneMissItsTick) {
    std::vector<std::int32_t> fired;
    auto log = [&](TObject*, std::int32_t handle, std::int32_t, std::int32_t) {
        fired.push_back(handle);
    };
    const std::int32_t zero = FPool->AddTrigger(55, log);
    FPool->AddTrigger(55, [&](TObject* sender, std::int32_t handle, std::int32_t, std::int32_t) {
        fired.push_back(handle);
        FPool->RemoveTrigger(zero); // shifts the later triggers down the list
    });
    const std::int32_t two = FPool->AddTrigger(55, log);
    Sleep(120); // all three due; the tick is driven by hand, no loop runs meanwhile
    FPool->Tick();
    EXPECT_EQ(fired, (std::vector<std::int32_t>{zero, 1, two}));
}

TEST_F(UtilTimerPool, HandlerRemovingEveryTriggerStopsTheTimer) {
    int fired = 0;
    for (int i = 0; i < 3; ++i) {
        FPool->AddTrigger(55, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) {
            ++fired;
            while (FPool->TriggerCount() > 0) {
                FPool->RemoveTrigger(
                    FPool->FindTrigger([](TTrigger*, std::intptr_t) { return false; }, 0)
                        ->Handle());
            }
        });
    }
    ASSERT_TRUE(PumpUntil([&] { return fired > 0; }, 5000));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(FPool->Timer(), nullptr);
    PumpFor(150);
    EXPECT_EQ(fired, 1);
}

TEST_F(UtilTimerPool, HandlerMayFreeThePool) {
    int fired = 0;
    FPool->AddTrigger(55, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) {
        ++fired;
        FPool.reset();
    });
    FPool->AddTrigger(55, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) { ++fired; });
    FPool->SetOnAllTriggers([&](TObject*, std::int32_t, std::int32_t, std::int32_t) { ++fired; });
    ASSERT_TRUE(PumpUntil([&] { return !FPool; }, 5000));
    PumpFor(150);
    EXPECT_EQ(fired, 1);
}

TEST_F(UtilTimerPool, DestroyingThePoolFreesTriggersAndTimerWithoutEvents) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* pool = new TTimerPool(owner.get());
    int fired = 0;
    pool->AddTrigger(55, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) { ++fired; });
    pool->AddTrigger(70, [&](TObject*, std::int32_t, std::int32_t, std::int32_t) { ++fired; });
    ASSERT_NE(pool->Timer(), nullptr);
    owner.reset();
    PumpFor(150);
    EXPECT_EQ(fired, 0);
}

TEST_F(UtilTimerPool, FindFunctionsVisitInOrderAndSkipDisabled) {
    auto none = [](TObject*, std::int32_t, std::int32_t, std::int32_t) {};
    FPool->AddTrigger(100, none);
    FPool->AddTrigger(200, none);
    FPool->AddTrigger(300, none);
    FPool->TriggerByHandle(1)->SetEnabled(false);
    auto notLonger = [](TTrigger* t, std::intptr_t limit) { return t->Interval() < limit; };
    EXPECT_EQ(FPool->FindTrigger(notLonger, 150)->Handle(), 1);
    EXPECT_EQ(FPool->FindEnabledTrigger(notLonger, 150)->Handle(), 2);
    EXPECT_EQ(FPool->FindTrigger(notLonger, 1000), nullptr);
    EXPECT_EQ(FPool->EnabledTriggerCount(), 2);
}

} // namespace

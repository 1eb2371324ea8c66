// Worker threads: suspension, termination, waiting, priorities and the synchronous
// hand-over of calls to the GUI thread.

#include "platform/messages/Messages.h"
#include "platform/messages/Thread.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Runs a body given by the test; ends the thread in its own destructor because the
// body lives in this class.
class TestThread : public TThread {
public:
    explicit TestThread(std::function<void(TestThread&)> body, bool suspended = true)
        : TThread(suspended), FBody(std::move(body)) {}
    ~TestThread() override { EndThread(); }

    using TThread::CheckSuspended;
    using TThread::SetReturnValue;
    using TThread::Sleep;

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TestThread&)> FBody;
};

// Counts its periods like an interval timer's worker.
struct Ticker {
    std::atomic<int> Ticks{0};
    TestThread Thread{[this](TestThread& t) {
        while (t.Sleep(10))
            ++Ticks;
    }};
};

bool WaitUntil(const std::function<bool()>& pred, int ms) {
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > static_cast<DWORD>(ms)) return false;
        usleep(2000);
    }
    return true;
}

TEST(ThreadTest, CreatedSuspendedRunsOnlyAfterResume) {
    vt::test::Watchdog dog(10, "resume");
    std::atomic<bool> ran{false};
    TestThread thread([&](TestThread&) { ran = true; });
    EXPECT_TRUE(thread.Suspended());
    usleep(50000);
    EXPECT_FALSE(ran);
    thread.Resume();
    EXPECT_FALSE(thread.Suspended());
    EXPECT_TRUE(WaitUntil([&] { return thread.Finished(); }, 5000));
    EXPECT_TRUE(ran);
}

TEST(ThreadTest, NeverResumedThreadIsDestroyedWithoutRunning) {
    vt::test::Watchdog dog(10, "destroy suspended");
    std::atomic<bool> ran{false};
    {
        TestThread thread([&](TestThread&) { ran = true; });
    }
    EXPECT_FALSE(ran);
}

TEST(ThreadTest, SuspendStopsTheWorkerAtItsNextSleepAndResumeRestartsIt) {
    vt::test::Watchdog dog(10, "suspend");
    Ticker ticker;
    ticker.Thread.Resume();
    ASSERT_TRUE(WaitUntil([&] { return ticker.Ticks >= 3; }, 5000));
    ticker.Thread.Suspend();
    EXPECT_TRUE(ticker.Thread.Suspended());
    usleep(30000); // any sleep in progress is cut short and parks
    const int frozen = ticker.Ticks;
    usleep(100000);
    EXPECT_EQ(ticker.Ticks, frozen);
    // Suspensions count: two suspends need two resumes.
    ticker.Thread.Suspend();
    ticker.Thread.Resume();
    EXPECT_TRUE(ticker.Thread.Suspended());
    usleep(50000);
    EXPECT_EQ(ticker.Ticks, frozen);
    ticker.Thread.Resume();
    EXPECT_FALSE(ticker.Thread.Suspended());
    EXPECT_TRUE(WaitUntil([&] { return ticker.Ticks >= frozen + 3; }, 5000));
}

TEST(ThreadTest, ResumedSleepMeasuresItsWholePeriodAgain) {
    vt::test::Watchdog dog(10, "sleep restart");
    std::atomic<DWORD> woke{0};
    TestThread thread([&](TestThread& t) {
        if (t.Sleep(200)) woke = GetTickCount();
    });
    thread.Resume();
    usleep(150000);
    thread.Suspend();
    usleep(100000);
    const DWORD resumed = GetTickCount();
    thread.Resume();
    ASSERT_TRUE(WaitUntil([&] { return woke != 0; }, 5000));
    EXPECT_GE(woke - resumed, 180u);
}

TEST(ThreadTest, TerminateCutsASleepShortAndWaitForGivesTheReturnValue) {
    vt::test::Watchdog dog(10, "terminate");
    std::atomic<bool> slept{true};
    TestThread thread([&](TestThread& t) {
        slept = t.Sleep(60000);
        t.SetReturnValue(t.Terminated() ? 5 : 6);
    });
    thread.Resume();
    usleep(20000);
    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    EXPECT_EQ(thread.WaitFor(), 5); // the watchdog ends a 60 s sleep long before
    EXPECT_FALSE(slept);
    EXPECT_EQ(thread.ReturnValue(), 5);
}

TEST(ThreadTest, SynchronizeRunsOnTheGuiThreadAndBlocksTheWorker) {
    vt::test::Watchdog dog(10, "synchronize");
    ASSERT_TRUE(vt::IsMainThread());
    std::atomic<bool> onMain{false};
    std::atomic<int> afterCall{0};
    int value = 0;
    TestThread thread([&](TestThread& t) {
        t.Synchronize([&] {
            onMain = vt::IsMainThread();
            value = 41;
        });
        afterCall = value + 1; // sees the GUI thread's write: the call has finished
    });
    thread.Resume();
    ASSERT_TRUE(vt::test::PumpUntil([&] { return thread.Finished(); }, 5000));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(afterCall, 42);
}

TEST(ThreadTest, BlockedGetMessageServesHandOversAndTheQueueAnnouncesThem) {
    vt::test::Watchdog dog(10, "synchronize in GetMessage");
    HWND wnd = AllocateHWnd([](TMessage&) {});
    int served = 0;
    TestThread thread([&](TestThread& t) {
        t.Synchronize([&] { ++served; });
        t.Synchronize([&] { ++served; });
        PostMessage(wnd, WM_USER, 0, 0); // ends the GetMessage below
    });
    thread.Resume();
    // A waiting hand-over makes the queue's descriptor readable, for a toolkit loop.
    pollfd pfd{QueueDescriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 5000), 1);
    MSG msg;
    ASSERT_TRUE(GetMessage(msg, nullptr, 0, 0)); // serves both hand-overs while blocked
    EXPECT_EQ(msg.hwnd, wnd);
    EXPECT_EQ(served, 2);
    thread.WaitFor();
    DeallocateHWnd(wnd);
}

TEST(ThreadTest, SynchronizeRethrowsTheCallsErrorInTheWorker) {
    vt::test::Watchdog dog(10, "synchronize error");
    std::string caught;
    bool wasAbort = false;
    TestThread thread([&](TestThread& t) {
        try {
            t.Synchronize([] { throw EListError("List index out of bounds (3)"); });
        } catch (const EListError& e) {
            caught = e.Message();
        }
        try {
            t.Synchronize([] { throw EAbort("Operation aborted"); });
        } catch (const EAbort&) {
            wasAbort = true;
        }
    });
    thread.Resume();
    ASSERT_TRUE(vt::test::PumpUntil([&] { return thread.Finished(); }, 5000));
    EXPECT_EQ(caught, "List index out of bounds (3)");
    EXPECT_TRUE(wasAbort);
    EXPECT_FALSE(thread.FatalException());
}

TEST(ThreadTest, WaitForOnTheGuiThreadServesHandOversWithoutPumping) {
    vt::test::Watchdog dog(10, "waitfor deadlock");
    int calls = 0;
    TestThread thread([&](TestThread& t) {
        for (int i = 0; i < 5; ++i) {
            t.Synchronize([&] { ++calls; });
            t.Sleep(5);
        }
    });
    thread.Resume();
    thread.WaitFor(); // would deadlock if hand-overs waited for a message loop
    EXPECT_EQ(calls, 5);
}

TEST(ThreadTest, DestroyingARunningWorkerEndsItWhileItHandsOver) {
    vt::test::Watchdog dog(10, "destroy running");
    int calls = 0;
    {
        TestThread thread([&](TestThread& t) {
            while (!t.Terminated()) {
                t.Synchronize([&] { ++calls; });
            }
        });
        thread.Resume();
        ASSERT_TRUE(vt::test::PumpUntil([&] { return calls >= 3; }, 5000));
    }
    EXPECT_GE(calls, 3);
}

TEST(ThreadTest, WaitForIsRefusedOnTheThreadItself) {
    vt::test::Watchdog dog(10, "self wait");
    std::string error;
    TestThread thread([&](TestThread& t) {
        try {
            t.WaitFor();
        } catch (const EThread& e) {
            error = e.Message();
        }
    });
    thread.Resume();
    thread.WaitFor();
    EXPECT_FALSE(error.empty());
}

TEST(ThreadTest, ExecuteErrorsAreKeptAndTheProcessGoesOn) {
    vt::test::Watchdog dog(10, "fatal");
    TestThread thread([](TestThread&) { throw EStreamError("Stream read error"); });
    thread.Resume();
    thread.WaitFor();
    ASSERT_TRUE(thread.FatalException());
    try {
        std::rethrow_exception(thread.FatalException());
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
}

TEST(ThreadTest, OnTerminateRunsOnTheGuiThread) {
    vt::test::Watchdog dog(10, "on terminate");
    bool onMain = false;
    TThread* sender = nullptr;
    TestThread thread([](TestThread&) {});
    thread.OnTerminate = [&](TThread* s) {
        onMain = vt::IsMainThread();
        sender = s;
    };
    thread.Resume();
    thread.WaitFor();
    EXPECT_TRUE(onMain);
    EXPECT_EQ(sender, &thread);
}

TEST(ThreadTest, FreeOnTerminateDeletesTheObject) {
    vt::test::Watchdog dog(10, "free on terminate");
    static std::atomic<bool> destroyed;
    destroyed = false;
    struct SelfFreeing : TThread {
        SelfFreeing() : TThread(true) { SetFreeOnTerminate(true); }
        ~SelfFreeing() override { destroyed = true; }
        void Execute() override {}
    };
    auto* thread = new SelfFreeing;
    EXPECT_THROW(thread->WaitFor(), EThread);
    thread->Resume();
    EXPECT_TRUE(WaitUntil([] { return destroyed.load(); }, 5000));
}

TEST(ThreadTest, PrioritiesMapToSchedulingClassesAndNiceValues) {
    vt::test::Watchdog dog(10, "priority");
    Ticker ticker;
    const int tid = ticker.Thread.ThreadID();
    ASSERT_GT(tid, 0);
    EXPECT_EQ(ticker.Thread.Priority(), tpNormal);
    ticker.Thread.SetPriority(tpLowest);
    EXPECT_EQ(ticker.Thread.Priority(), tpLowest);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(tid)), 10);
    ticker.Thread.SetPriority(tpIdle);
    EXPECT_EQ(sched_getscheduler(tid), SCHED_IDLE);
    // Raising may be refused without the privilege; the requested value is kept.
    ticker.Thread.SetPriority(tpHigher);
    EXPECT_EQ(ticker.Thread.Priority(), tpHigher);
    if (geteuid() == 0) {
        EXPECT_EQ(sched_getscheduler(tid), SCHED_OTHER);
        EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(tid)), -5);
    }
    // The priority set while suspended holds once the worker runs.
    ticker.Thread.Resume();
    ASSERT_TRUE(WaitUntil([&] { return ticker.Ticks >= 1; }, 5000));
    EXPECT_EQ(ticker.Thread.Priority(), tpHigher);
}

} // namespace

// The per-thread message queue: windows, posts across threads, filters, quit handling,
// the queue descriptor and descriptor watches.

#include "platform/messages/Application.h"
#include "platform/messages/Messages.h"
#include "platform/runtime/Exceptions.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr UINT WM_TEST = WM_USER + 7;

void DrainQueue() {
    MSG msg;
    for (int i = 0; i < 100000 && PeekMessage(msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
}

bool QueueReadable() {
    pollfd pfd{QueueDescriptor(), POLLIN, 0};
    return poll(&pfd, 1, 0) == 1;
}

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override { DrainQueue(); }
    void TearDown() override { DrainQueue(); }
};

// A window that records what it receives.
struct Recorder {
    std::vector<TMessage> Got;
    HWND Wnd = AllocateHWnd([this](TMessage& m) { Got.push_back(m); });
    ~Recorder() { DeallocateHWnd(Wnd); }
};

struct SocketPair {
    int Fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, Fd), 0); }
    ~SocketPair() {
        for (int fd : Fd) {
            if (fd >= 0) close(fd);
        }
    }
};

TEST_F(MessagesTest, CrossThreadPostsArriveCompleteAndInOrderPerSender) {
    vt::test::Watchdog dog(20, "cross-thread posts");
    constexpr int kSenders = 6;
    constexpr int kPerSender = 3000;
    std::map<WPARAM, LPARAM> lastSeen;
    int total = 0;
    bool ordered = true;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        auto [it, fresh] = lastSeen.try_emplace(m.WParam, -1);
        if (m.LParam != it->second + 1) ordered = false;
        it->second = m.LParam;
        ++total;
    });
    std::atomic<int> refused{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < kPerSender; ++i) {
                if (!PostMessage(wnd, WM_TEST, static_cast<WPARAM>(s), i)) ++refused;
            }
        });
    }
    ASSERT_TRUE(vt::test::PumpUntil([&] { return total == kSenders * kPerSender; }, 15000));
    for (auto& t : senders)
        t.join();
    vt::test::PumpFor(20);
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(total, kSenders * kPerSender);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(lastSeen.size(), static_cast<size_t>(kSenders));
    DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, DestroyedWindowsDropTheirMessagesAndHandlesAreNotReused) {
    int calls = 0;
    HWND wnd = AllocateHWnd([&](TMessage&) { ++calls; });
    EXPECT_TRUE(IsWindow(wnd));
    EXPECT_TRUE(PostMessage(wnd, WM_TEST, 1, 0)); // queued before the window goes
    DeallocateHWnd(wnd);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessage(wnd, WM_TEST, 2, 0));
    bool fromThread = true;
    std::thread([&] { fromThread = PostMessage(wnd, WM_TEST, 3, 0); }).join();
    EXPECT_FALSE(fromThread);
    MSG msg;
    EXPECT_FALSE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(SendMessage(wnd, WM_TEST, 0, 0), 0);
    EXPECT_EQ(calls, 0);

    HWND next = AllocateHWnd([](TMessage&) {});
    EXPECT_NE(next, wnd);
    EXPECT_FALSE(PostMessage(wnd, WM_TEST, 4, 0)); // the stale handle stays dead
    DeallocateHWnd(next);
    DeallocateHWnd(wnd); // twice is harmless
}

TEST_F(MessagesTest, AQueueThatIsNotPumpedRefusesPostsBeyondItsLimit) {
    int got = 0;
    HWND wnd = AllocateHWnd([&](TMessage&) { ++got; });
    int accepted = 0;
    std::thread([&] {
        while (accepted < 200000 && PostMessage(wnd, WM_TEST, 0, 0))
            ++accepted;
    }).join();
    EXPECT_EQ(accepted, 100000);
    MSG msg;
    while (PeekMessage(msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessage(msg);
    EXPECT_EQ(got, 100000);                       // everything accepted is delivered
    EXPECT_TRUE(PostMessage(wnd, WM_TEST, 0, 0)); // room again
    DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, WindowsDieWithTheirThread) {
    HWND wnd = nullptr;
    std::thread([&] { wnd = AllocateHWnd([](TMessage&) {}); }).join();
    ASSERT_NE(wnd, nullptr);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessage(wnd, WM_TEST, 0, 0));
}

TEST_F(MessagesTest, AWorkerThreadRunsItsOwnQueueWithPostsAndTimers) {
    vt::test::Watchdog dog(10, "worker queue");
    std::atomic<HWND> wnd{nullptr};
    std::atomic<int> posts{0}, ticks{0};
    std::atomic<WPARAM> quitCode{0};
    std::thread worker([&] {
        HWND own = AllocateHWnd([&](TMessage& m) {
            if (m.Msg == WM_TIMER) ++ticks;
            if (m.Msg == WM_TEST) ++posts;
            if (m.Msg == WM_CLOSE) PostQuitMessage(9);
        });
        SetTimer(own, 1, 10);
        wnd = own;
        MSG msg;
        while (GetMessage(msg, nullptr, 0, 0))
            DispatchMessage(msg);
        quitCode = msg.wParam;
        DeallocateHWnd(own);
    });
    while (wnd.load() == nullptr)
        std::this_thread::yield();
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(PostMessage(wnd, WM_TEST, i, 0));
    while (ticks < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(PostMessage(wnd, WM_CLOSE, 0, 0));
    worker.join();
    EXPECT_EQ(posts, 100);
    EXPECT_EQ(quitCode, 9u);
    // Nothing of the worker's traffic reached this thread's queue.
    MSG msg;
    EXPECT_FALSE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessagesTest, SendMessageCallsTheProcedureAtOnceAndReturnsItsResult) {
    std::vector<UINT> seen;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        seen.push_back(m.Msg);
        m.Result = static_cast<LRESULT>(m.WParam + m.LParam);
    });
    EXPECT_EQ(SendMessage(wnd, WM_TEST, 40, 2), 42);
    EXPECT_EQ(seen, std::vector<UINT>{WM_TEST});
    HWND plain = AllocateHWnd(nullptr); // no procedure: default handling
    EXPECT_EQ(SendMessage(plain, WM_TEST, 1, 1), 0);
    DeallocateHWnd(plain);
    DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, PeekFiltersByWindowAndRangeAndHonoursNoRemove) {
    Recorder a, b;
    PostMessage(a.Wnd, WM_USER + 1, 1, 0);
    PostMessage(b.Wnd, WM_USER + 2, 2, 0);
    PostMessage(a.Wnd, WM_USER + 3, 3, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessage(msg, b.Wnd, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessage(msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, a.Wnd);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessage(msg, a.Wnd, WM_USER + 2, WM_USER + 3, PM_REMOVE));
    // What is left comes in posting order.
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessagesTest, QuitComesAfterEarlierPostsAndIsNeverDispatched) {
    vt::test::Watchdog dog(10, "quit");
    std::vector<UINT> seen;
    HWND wnd = AllocateHWnd([&](TMessage& m) { seen.push_back(m.Msg); });
    PostMessage(wnd, WM_TEST, 0, 0);
    PostQuitMessage(7);
    MSG msg;
    int dispatched = 0;
    while (GetMessage(msg, nullptr, 0, 0)) {
        DispatchMessage(msg);
        ++dispatched;
    }
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(dispatched, 1);
    EXPECT_EQ(DispatchMessage(msg), 0); // dispatching a WM_QUIT does nothing
    EXPECT_EQ(seen, std::vector<UINT>{WM_TEST});
    EXPECT_FALSE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE)); // taken once only
    DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, WindowMayDeallocateItselfInsideItsProcedure) {
    int calls = 0;
    std::string note = "kept alive";
    HWND wnd = nullptr;
    wnd = AllocateHWnd([&calls, &wnd, note](TMessage&) {
        ++calls;
        DeallocateHWnd(wnd);
        // The captured state must still be valid after the window is gone.
        EXPECT_EQ(note, "kept alive");
    });
    PostMessage(wnd, WM_TEST, 0, 0);
    PostMessage(wnd, WM_TEST, 1, 0);
    MSG msg;
    while (PeekMessage(msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessage(msg);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(MessagesTest, ExceptionsFromProceduresReachTheDispatcher) {
    HWND wnd = AllocateHWnd([](TMessage& m) {
        if (m.WParam == 1) throw EListError("List index out of bounds");
    });
    PostMessage(wnd, WM_TEST, 1, 0);
    PostMessage(wnd, WM_TEST, 2, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    try {
        DispatchMessage(msg);
        ADD_FAILURE() << "no exception";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds");
    }
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE)); // the queue goes on
    EXPECT_EQ(msg.wParam, 2u);
    DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, NestedPumpInsideAProcedureDispatchesLaterMessages) {
    vt::test::Watchdog dog(10, "nested pump");
    std::vector<std::string> order;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        if (m.WParam == 1) {
            order.push_back("outer begin");
            Application.ProcessMessages();
            order.push_back("outer end");
        } else {
            order.push_back("inner " + std::to_string(m.WParam));
        }
    });
    PostMessage(wnd, WM_TEST, 1, 0);
    PostMessage(wnd, WM_TEST, 2, 0);
    PostMessage(wnd, WM_TEST, 3, 0);
    Application.ProcessMessages();
    EXPECT_EQ(order, (std::vector<std::string>{"outer begin", "inner 2", "inner 3", "outer end"}));
    DeallocateHWnd(wnd);
}

TEST_F(MessagesTest, QueueDescriptorIsReadableExactlyWhileWorkIsLeft) {
    Recorder r;
    EXPECT_FALSE(QueueReadable());
    for (int i = 0; i < 10; ++i)
        PostMessage(r.Wnd, WM_TEST, i, 0);
    EXPECT_TRUE(QueueReadable());
    MSG msg;
    // A drain that stops early must leave the queue ready for the next round.
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(QueueReadable());
    while (PeekMessage(msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_FALSE(QueueReadable());
    // A post from another thread wakes the descriptor too.
    std::thread([&] { PostMessage(r.Wnd, WM_TEST, 99, 0); }).join();
    EXPECT_TRUE(QueueReadable());
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(QueueReadable()); // not removed: still work
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(QueueReadable());
}

TEST_F(MessagesTest, WaitMessageTimeoutWakesForPostsAndTimesOutOtherwise) {
    vt::test::Watchdog dog(10, "wait");
    Recorder r;
    EXPECT_FALSE(WaitMessageTimeout(30));
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PostMessage(r.Wnd, WM_TEST, 5, 0);
    });
    // Far longer than the post takes: returning true means the post woke it.
    EXPECT_TRUE(WaitMessageTimeout(8000));
    poster.join();
    MSG msg;
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
}

TEST_F(MessagesTest, ThreadMessagesWithoutWindowAreReturnedButNotDispatched) {
    EXPECT_TRUE(PostMessage(nullptr, WM_TEST, 11, 0));
    MSG msg;
    ASSERT_TRUE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(DispatchMessage(msg), 0);
}

TEST_F(MessagesTest, DescriptorWatchFiresOncePerArming) {
    vt::test::Watchdog dog(10, "watch");
    SocketPair pair;
    Recorder owner;
    int fired = 0;
    std::uint32_t lastEvents = 0;
    auto handler = [&](std::uint32_t events) {
        ++fired;
        lastEvents = events;
    };
    ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, pair.Fd[0], EPOLLIN, handler));
    vt::test::PumpFor(30);
    EXPECT_EQ(fired, 0); // nothing to read yet
    ASSERT_EQ(write(pair.Fd[1], "x", 1), 1);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return fired == 1; }, 3000));
    EXPECT_TRUE(lastEvents & EPOLLIN);
    // The byte stays unread, yet there is no flood: one readiness, one call.
    vt::test::PumpFor(100);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(QueueReadable());
    // Watching again reports the readiness that is still there.
    ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, pair.Fd[0], EPOLLIN, handler));
    ASSERT_TRUE(vt::test::PumpUntil([&] { return fired == 2; }, 3000));
    vt::test::PumpFor(50);
    EXPECT_EQ(fired, 2);
    // Unwatched: no more calls even when watched readiness would be there.
    ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, pair.Fd[0], EPOLLIN, handler));
    vt::UnwatchDescriptor(owner.Wnd, pair.Fd[0]);
    vt::test::PumpFor(50);
    EXPECT_EQ(fired, 2);
}

TEST_F(MessagesTest, HandlerOfADescriptorUnwatchedMeanwhileDoesNotRun) {
    vt::test::Watchdog dog(10, "stale watch");
    SocketPair first, second;
    Recorder owner;
    HWND other = AllocateHWnd([](TMessage&) {});
    std::vector<int> calls;
    // Whichever handler runs first takes the other watch away; the other must not run,
    // though its readiness was already collected in the same round.
    ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, first.Fd[0], EPOLLIN, [&](std::uint32_t) {
        calls.push_back(1);
        vt::UnwatchDescriptor(owner.Wnd, second.Fd[0]);
    }));
    ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, second.Fd[0], EPOLLIN, [&](std::uint32_t) {
        calls.push_back(2);
        vt::UnwatchDescriptor(owner.Wnd, first.Fd[0]);
    }));
    ASSERT_EQ(write(first.Fd[1], "a", 1), 1);
    ASSERT_EQ(write(second.Fd[1], "b", 1), 1);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return !calls.empty(); }, 3000));
    vt::test::PumpFor(50);
    EXPECT_EQ(calls.size(), 1u);

    // A watch whose owning window is deallocated never fires.
    int otherCalls = 0;
    ASSERT_TRUE(
        vt::WatchDescriptor(other, first.Fd[0], EPOLLIN, [&](std::uint32_t) { ++otherCalls; }));
    DeallocateHWnd(other);
    vt::test::PumpFor(50);
    EXPECT_EQ(otherCalls, 0);
    EXPECT_FALSE(vt::WatchDescriptor(other, first.Fd[0], EPOLLIN, [](std::uint32_t) {}));
}

TEST_F(MessagesTest, WatchFollowsAReusedDescriptorNumber) {
    vt::test::Watchdog dog(10, "reused fd");
    Recorder owner;
    int fired = 0;
    int fd;
    {
        SocketPair old;
        ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, old.Fd[0], EPOLLIN,
                                        [&](std::uint32_t) { ADD_FAILURE() << "stale"; }));
        fd = old.Fd[0];
    } // closed without unwatching
    SocketPair fresh;
    if (fresh.Fd[0] != fd) { // make sure the new socket has the old number
        ASSERT_EQ(dup2(fresh.Fd[0], fd), fd);
        close(fresh.Fd[0]);
        fresh.Fd[0] = fd;
    }
    const int target = fd;
    ASSERT_TRUE(vt::WatchDescriptor(owner.Wnd, target, EPOLLIN, [&](std::uint32_t) { ++fired; }));
    ASSERT_EQ(write(fresh.Fd[1], "z", 1), 1);
    ASSERT_TRUE(vt::test::PumpUntil([&] { return fired == 1; }, 3000));
    vt::UnwatchDescriptor(owner.Wnd, target);
}

TEST_F(MessagesTest, OnePassTakesPostsThenReadinessThenTimers) {
    vt::test::Watchdog dog(10, "pass order");
    SocketPair pair;
    std::vector<std::string> order;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        order.push_back(m.Msg == WM_TIMER ? "timer" : "posted");
        if (m.Msg == WM_TIMER) KillTimer(wnd, 1);
    });
    ASSERT_EQ(SetTimer(wnd, 1, 10), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // the timer is due
    ASSERT_EQ(write(pair.Fd[1], "r", 1), 1);
    ASSERT_TRUE(vt::WatchDescriptor(wnd, pair.Fd[0], EPOLLIN,
                                    [&](std::uint32_t) { order.push_back("io"); }));
    PostMessage(wnd, WM_TEST, 0, 0);
    vt::test::PumpUntil([&] { return order.size() == 3; }, 3000);
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "io", "timer"}));
    DeallocateHWnd(wnd);
}

} // namespace

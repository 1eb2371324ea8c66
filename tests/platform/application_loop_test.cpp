// The application object: its loop, termination, the error display and toolkit hooks.

#include "platform/messages/Application.h"
#include "platform/messages/Messages.h"
#include "platform/runtime/Exceptions.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <ostream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/epoll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr UINT WM_TEST = WM_USER + 9;

void DrainQueue() {
    MSG msg;
    for (int i = 0; i < 100000 && PeekMessage(msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
}

struct Shown {
    std::string Title, Text;
    bool operator==(const Shown&) const = default;
    friend void PrintTo(const Shown& s, std::ostream* os) {
        *os << '"' << s.Title << "\" / \"" << s.Text << '"';
    }
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        DrainQueue();
        App.SetTitle("Bren Vik Vantrel");
        App.SetErrorDisplay([this](const std::string& title, const std::string& text) {
            Errors.push_back(Shown{title, text});
        });
    }
    void TearDown() override { DrainQueue(); }

    TApplication App;
    std::vector<Shown> Errors;
};

TEST(ApplicationErrorText, AppendsADotOnlyAfterCharactersSortingAboveIt) {
    EXPECT_EQ(vt::ErrorDisplayText("Bad"), "Bad.");
    EXPECT_EQ(vt::ErrorDisplayText("Done!"), "Done!");
    EXPECT_EQ(vt::ErrorDisplayText("Stop."), "Stop.");
    EXPECT_EQ(vt::ErrorDisplayText(""), "");
    EXPECT_EQ(vt::ErrorDisplayText("Error 10061"), "Error 10061.");
    EXPECT_EQ(vt::ErrorDisplayText("a-"), "a-");            // '-' sorts just below '.'
    EXPECT_EQ(vt::ErrorDisplayText("a/"), "a/.");           // '/' just above it
    EXPECT_EQ(vt::ErrorDisplayText("caf\xE9"), "caf\xE9."); // 8-bit characters sort high
}

TEST_F(ApplicationTest, HandleExceptionShowsTitleAndTextButAbortsStaySilent) {
    App.HandleException(EAbort("Operation aborted"));
    EXPECT_TRUE(Errors.empty());
    App.HandleException(EListError("List index out of bounds (5)"));
    App.HandleException(std::runtime_error("Boom"));
    App.HandleException(std::make_exception_ptr(EOutOfResources("No More Timers Available")));
    App.HandleException(std::make_exception_ptr(EAbort("quiet")));
    App.HandleException(std::make_exception_ptr(42));
    EXPECT_EQ(Errors, (std::vector<Shown>{
                          {"Bren Vik Vantrel", "List index out of bounds (5)"},
                          {"Bren Vik Vantrel", "Boom."},
                          {"Bren Vik Vantrel", "No More Timers Available."},
                          {"Bren Vik Vantrel", "Unknown exception."},
                      }));
}

TEST_F(ApplicationTest, RunDispatchesUntilTerminateAndLeavesNoQuitBehind) {
    vt::test::Watchdog dog(10, "run");
    std::vector<WPARAM> seen;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        seen.push_back(m.WParam);
        if (m.WParam == 2) App.Terminate();
    });
    PostMessage(wnd, WM_TEST, 1, 0);
    PostMessage(wnd, WM_TEST, 2, 0);
    EXPECT_FALSE(App.Terminated());
    App.Run();
    EXPECT_TRUE(App.Terminated());
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
    MSG msg;
    EXPECT_FALSE(PeekMessage(msg, nullptr, 0, 0, PM_REMOVE));
    DeallocateHWnd(wnd);
}

TEST_F(ApplicationTest, RunEndsOnAQuitPostedFromAnotherPathAndNeverDispatchesIt) {
    vt::test::Watchdog dog(10, "quit");
    std::vector<UINT> seen;
    HWND wnd = AllocateHWnd([&](TMessage& m) { seen.push_back(m.Msg); });
    ASSERT_EQ(SetTimer(wnd, 1, 20), 1u);
    HWND quitter = nullptr;
    quitter = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_TIMER) {
            KillTimer(quitter, 1);
            PostQuitMessage(3);
        }
    });
    ASSERT_EQ(SetTimer(quitter, 1, 60), 1u);
    App.Run(); // waits in the kernel between ticks until the quit arrives
    EXPECT_TRUE(App.Terminated());
    for (UINT m : seen)
        EXPECT_EQ(m, WM_TIMER);
    EXPECT_FALSE(seen.empty());
    DeallocateHWnd(quitter);
    DeallocateHWnd(wnd);
}

TEST_F(ApplicationTest, ErrorsFromHandlersGoToTheDisplayAndTheLoopGoesOn) {
    vt::test::Watchdog dog(10, "errors");
    int after = 0;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        if (m.WParam == 1) throw EInvalidGraphic("Unknown picture file extension (.xyz)");
        if (m.WParam == 2) throw EAbort("");
        ++after;
    });
    PostMessage(wnd, WM_TEST, 1, 0);
    PostMessage(wnd, WM_TEST, 2, 0);
    PostMessage(wnd, WM_TEST, 3, 0);
    App.ProcessMessages();
    EXPECT_EQ(after, 1);
    EXPECT_EQ(Errors,
              (std::vector<Shown>{{"Bren Vik Vantrel", "Unknown picture file extension (.xyz)"}}));
    DeallocateHWnd(wnd);
}

TEST_F(ApplicationTest, ErrorsFromDescriptorHandlersGoToTheDisplayToo) {
    vt::test::Watchdog dog(10, "descriptor handler error");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    HWND wnd = AllocateHWnd([](TMessage&) {});
    ASSERT_TRUE(vt::WatchDescriptor(wnd, fds[0], EPOLLIN, [](std::uint32_t) {
        throw Exception("Error 10054 in function recv");
    }));
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    for (int i = 0; i < 100 && Errors.empty(); ++i) {
        App.ProcessMessages();
        WaitMessageTimeout(50);
    }
    EXPECT_EQ(Errors, (std::vector<Shown>{{"Bren Vik Vantrel", "Error 10054 in function recv."}}));
    DeallocateHWnd(wnd);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(ApplicationTest, ProcessMessagesReturnsEvenWhenAHandlerKeepsPosting) {
    vt::test::Watchdog dog(10, "self-posting handler");
    int calls = 0;
    HWND wnd = nullptr;
    wnd = AllocateHWnd([&](TMessage&) {
        ++calls;
        PostMessage(wnd, WM_TEST, 0, 0);
    });
    PostMessage(wnd, WM_TEST, 0, 0);
    App.ProcessMessages();
    EXPECT_GT(calls, 0);
    // What it left is still announced on the queue's descriptor.
    pollfd pfd{QueueDescriptor(), POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 1);
    const int before = calls;
    App.ProcessMessages();
    EXPECT_GT(calls, before);
    DeallocateHWnd(wnd);
}

TEST_F(ApplicationTest, ToolkitHooksArePumpedAndWaitedOn) {
    vt::test::Watchdog dog(10, "toolkit hooks");
    int pumped = 0, dispatched = 0;
    std::vector<int> waits;
    App.SetGuiEventPump([&] {
        ++pumped;
        App.ProcessMessages(); // a toolkit handler draining our queue must not recurse
    });
    // A toolkit wait that watches our descriptor, as the toolkit's loop does.
    vt::SetGuiThreadWait([&](int timeoutMs) {
        waits.push_back(timeoutMs);
        pollfd pfd{QueueDescriptor(), POLLIN, 0};
        poll(&pfd, 1, timeoutMs);
        return timeoutMs == 7; // pretend a toolkit event came in that one
    });
    HWND wnd = AllocateHWnd([&](TMessage&) { ++dispatched; });
    App.ProcessMessages();
    EXPECT_EQ(pumped, 1);
    EXPECT_FALSE(WaitMessageTimeout(20));
    EXPECT_TRUE(WaitMessageTimeout(7));
    // Queued work is taken without waiting at all.
    std::thread([&] { PostMessage(wnd, WM_TEST, 0, 0); }).join();
    App.HandleMessage();
    EXPECT_EQ(dispatched, 1);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        PostMessage(wnd, WM_TEST, 0, 0);
    });
    App.HandleMessage(); // nothing queued: waits through the toolkit until the post
    App.HandleMessage();
    poster.join();
    EXPECT_EQ(dispatched, 2);
    vt::SetGuiThreadWait(nullptr);
    EXPECT_EQ(waits, (std::vector<int>{20, 7, -1}));
    DeallocateHWnd(wnd);
}

TEST(ApplicationGlobal, HasTheProgramNameAsDefaultTitle) {
    EXPECT_FALSE(Application.Title().empty());
    EXPECT_NE(Application.Title().find("platform_tests"), std::string::npos);
}

} // namespace

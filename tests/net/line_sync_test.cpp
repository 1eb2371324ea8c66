// Synchronous waiting: WaitUntilReady and Synchronize keep the message loop running
// without spinning, end by their flag, their time limit or a quit message; ReadLine
// takes one line per call.

#include "net/WSocket.h"
#include "net/interop/LoopbackPeer.h"
#include "platform/messages/Messages.h"
#include "platform/runtime/SysUtils.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

using vt::test::TScriptedServer;
using vt::test::TStep;

namespace {

constexpr UINT_PTR TimerId = 7;

// A hidden window whose timer sets a flag after a delay.
class TDelayedFlag {
public:
    TDelayedFlag(bool& flag, UINT delayMs) : FFlag(flag) {
        FWnd = AllocateHWnd([this](TMessage& m) {
            if (m.Msg == WM_TIMER) {
                KillTimer(FWnd, TimerId);
                FFlag = true;
            }
        });
        FDelayMs = delayMs;
    }
    ~TDelayedFlag() { DeallocateHWnd(FWnd); }
    void Arm() { SetTimer(FWnd, TimerId, FDelayMs); }

private:
    bool& FFlag;
    HWND FWnd = nullptr;
    UINT FDelayMs = 0;
};

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(SyncWait, EndsByTheFlagWithoutSpinning) {
    vt::test::Watchdog dog(20, "WaitUntilReady without limit");
    TWSocket socket(nullptr);
    EXPECT_EQ(socket.Timeout(), 0);
    bool done = false;
    TDelayedFlag flag(done, 300);
    flag.Arm();
    const double cpu = CpuSeconds();
    const DWORD start = GetTickCount();
    EXPECT_EQ(socket.WaitUntilReady(done), 0);
    const DWORD waited = GetTickCount() - start;
    EXPECT_TRUE(done);
    EXPECT_GE(waited, 250u);
    // A spinning loop would burn the whole wait on the processor.
    EXPECT_LT(CpuSeconds() - cpu, waited / 1000.0 / 2) << "the wait used the processor";
}

TEST(SyncWait, TimeLimitAnswersTheTimeoutError) {
    vt::test::Watchdog dog(20, "WaitUntilReady with limit");
    TWSocket socket(nullptr);
    socket.SetTimeout(100);
    bool never = false;
    const DWORD start = GetTickCount();
    EXPECT_EQ(socket.WaitUntilReady(never), WaitTimeoutError);
    EXPECT_GE(GetTickCount() - start, 100u);
    // A flag that is already set ends the wait at once, whatever the limit.
    bool set = true;
    EXPECT_EQ(socket.WaitUntilReady(set), 0);
}

TEST(SyncWait, SynchronizeClearsTheFlagRunsTheProcAndWaits) {
    vt::test::Watchdog dog(20, "Synchronize");
    TWSocket socket(nullptr);
    bool done = true; // left over from an earlier wait
    TDelayedFlag flag(done, 50);
    int ran = 0;
    EXPECT_EQ(socket.Synchronize(
                  [&] {
                      ++ran;
                      EXPECT_FALSE(done);
                      flag.Arm();
                  },
                  done),
              0);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(done);
    // Without a procedure the flag, cleared, can only end by the limit.
    socket.SetTimeout(50);
    EXPECT_EQ(socket.Synchronize(nullptr, done), WaitTimeoutError);
    EXPECT_FALSE(done);
}

TEST(SyncWait, QuitMessageSeenByTheOwnPumpEndsTheWait) {
    vt::test::Watchdog dog(20, "WaitUntilReady and WM_QUIT");
    TWSocket socket(nullptr);
    socket.SetMultiThreaded(true);
    bool never = false;
    PostQuitMessage(0);
    EXPECT_EQ(socket.WaitUntilReady(never), WaitTimeoutError);
    EXPECT_TRUE(socket.Terminated());
}

TEST(SyncWait, ReadLineTakesOneLinePerCallAndReportsTheClose) {
    vt::test::Watchdog dog(20, "ReadLine");
    TScriptedServer server({TStep::Out("first\r\nsecond\r\n"), TStep::In("more"),
                            TStep::Out("third\r\nrest"), TStep::Wait(50), TStep::Hangup()});
    TWSocket socket(nullptr);
    int readerCalls = 0;
    socket.OnDataAvailable = [&](TObject*, WORD) { ++readerCalls; };
    socket.SetTimeout(5000);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(server.Port());
    socket.Connect();
    std::string line;
    EXPECT_EQ(socket.ReadLine(line), 0);
    EXPECT_EQ(line, "first\r\n");
    EXPECT_EQ(socket.ReadLine(line), 0);
    EXPECT_EQ(line, "second\r\n");
    socket.SendString("more");
    EXPECT_EQ(socket.ReadLine(line), 0);
    EXPECT_EQ(line, "third\r\n");
    EXPECT_EQ(socket.ReadLine(line), 0);
    EXPECT_EQ(line, "rest");
    EXPECT_EQ(socket.ReadLine(line), WSAENOTCONN);
    EXPECT_EQ(line, "");
    EXPECT_EQ(readerCalls, 0) << "a line went to the handler instead of ReadLine";
    ASSERT_TRUE(static_cast<bool>(socket.OnDataAvailable)) << "the handler was not restored";
}

} // namespace

// A socket owned by a worker thread with MultiThreaded on, served by its own pump while
// the test (GUI) thread's queue stays idle.

#include "net/BsdPeer.h"
#include "net/NetTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using vt::test::PatternBytes;
using vt::test::TBsdEchoServer;
using vt::test::Watchdog;

namespace {

struct TWorkerResult {
    int Connected = -1;
    std::string Received;
    int DataSent = 0;
    int Closed = 0;
    bool Terminated = false;
    bool TimedOut = false;
    std::string Failure; // an exception that ended the worker
};

// Runs on the worker: connect, send, wait for the echo, close. Bounded by a deadline.
void RunWorker(const std::string& port, const std::string& data, TWorkerResult& r) {
    TCustomWSocket s(nullptr);
    s.SetMultiThreaded(true);
    s.OnSessionConnected = [&](TObject*, WORD e) { r.Connected = e; };
    s.OnDataSent = [&](TObject*, WORD) { ++r.DataSent; };
    s.OnSessionClosed = [&](TObject*, WORD) { ++r.Closed; };
    s.OnDataAvailable = [&](TObject*, WORD) {
        char buf[16384];
        const int n = s.Receive(buf, sizeof(buf));
        if (n > 0) r.Received.append(buf, static_cast<size_t>(n));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto pumpUntil = [&](const std::function<bool()>& pred) {
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) {
                r.TimedOut = true;
                return false;
            }
            s.PumpOwnMessages();
            WaitMessageTimeout(20);
        }
        return true;
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Connect();
    if (!pumpUntil([&] { return r.Connected >= 0; }) || r.Connected != 0) return;
    s.Send(data.data(), static_cast<int>(data.size()));
    s.Flush(); // pumps with the socket's own pump, on this thread
    if (!pumpUntil([&] { return r.Received.size() >= data.size(); })) return;
    s.Close();
    PostQuitMessage(0);
    s.PumpOwnMessages();
    r.Terminated = s.Terminated();
}

TEST(NetThread, WorkerSocketWithItsOwnPump) {
    Watchdog dog(20, "worker socket");
    TBsdEchoServer server;
    const std::string data = PatternBytes(256 * 1024, 3);
    TWorkerResult r;
    std::thread worker([&] {
        try {
            RunWorker(server.Port(), data, r);
        } catch (const std::exception& e) {
            r.Failure = e.what();
        }
    });
    // Meanwhile nothing reaches this thread's queue.
    bool guiQueueUsed = false;
    while (!guiQueueUsed && server.Echoed() < static_cast<long>(data.size())) {
        MSG msg;
        guiQueueUsed = PeekMessage(msg, nullptr, 0, 0, PM_NOREMOVE);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker.join();
    EXPECT_EQ(r.Failure, "");
    EXPECT_FALSE(guiQueueUsed);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Connected, 0);
    EXPECT_TRUE(r.Received == data) << r.Received.size();
    EXPECT_GE(r.DataSent, 1);
    EXPECT_EQ(r.Closed, 1);
    EXPECT_TRUE(r.Terminated);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server.PeerClosed() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(server.PeerClosed());
}

} // namespace

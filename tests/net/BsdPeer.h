#pragma once
// A plain blocking BSD-socket echo server on 127.0.0.1, run on its own thread: a peer
// outside the socket component, for tests where the test thread must stay idle.
// (Kept apart from the Winsock header, which stands in for the host's socket headers.)

#include <atomic>
#include <string>
#include <thread>

namespace vt::test {

class TBsdEchoServer {
public:
    // Listens at once; serves one connection, echoing until the peer closes.
    TBsdEchoServer();
    ~TBsdEchoServer();
    TBsdEchoServer(const TBsdEchoServer&) = delete;
    TBsdEchoServer& operator=(const TBsdEchoServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }
    // Bytes echoed so far, and whether the peer's close was seen.
    long Echoed() const { return FEchoed.load(); }
    bool PeerClosed() const { return FPeerClosed.load(); }

private:
    void Serve();
    int FListenFd = -1;
    int FPort = 0;
    std::atomic<long> FEchoed{0};
    std::atomic<bool> FPeerClosed{false};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

} // namespace vt::test

#pragma once
// Shared pieces of the socket tests: a loopback echo server built from the socket
// component itself (listen, accept, Dup) and a client that records what it sees.

#include "net/CustomWSocket.h"
#include "support/Pump.h"

#include <memory>
#include <string>
#include <vector>

namespace vt::test {

// Listens on 127.0.0.1 at a port the system picks; every accepted connection is
// adopted by a fresh socket with Dup. Echoes what arrives unless Echo is false.
class TLoopbackServer {
public:
    struct TPeer {
        std::unique_ptr<TCustomWSocket> Socket;
        std::string Received;
        int ClosedCount = 0;
        WORD ClosedError = 0xFFFF;
    };

    explicit TLoopbackServer(bool echo = true) : Echo(echo) {
        Listener = std::make_unique<TCustomWSocket>(nullptr);
        Listener->SetAddr("127.0.0.1");
        Listener->SetPort("0");
        Listener->OnSessionAvailable = [this](TObject*, WORD) { AcceptOne(); };
        Listener->Listen();
        Port = Listener->GetBoundPort();
    }

    TPeer& Peer(size_t i) { return *Peers.at(i); }

    bool Echo;
    std::unique_ptr<TCustomWSocket> Listener;
    std::string Port;
    std::vector<std::unique_ptr<TPeer>> Peers;

private:
    void AcceptOne() {
        auto peer = std::make_unique<TPeer>();
        peer->Socket = std::make_unique<TCustomWSocket>(nullptr);
        TPeer* p = peer.get();
        p->Socket->OnDataAvailable = [this, p](TObject*, WORD) {
            char buf[8192];
            const int n = p->Socket->Receive(buf, sizeof(buf));
            if (n <= 0) return;
            if (Echo)
                p->Socket->Send(buf, n);
            else
                p->Received.append(buf, static_cast<size_t>(n));
        };
        p->Socket->OnSessionClosed = [p](TObject*, WORD error) {
            ++p->ClosedCount;
            p->ClosedError = error;
        };
        p->Socket->Dup(Listener->Accept());
        Peers.push_back(std::move(peer));
    }
};

// A client that keeps what it receives and counts its events.
struct TRecordingClient {
    TRecordingClient() : Socket(std::make_unique<TCustomWSocket>(nullptr)) {
        Socket->OnSessionConnected = [this](TObject*, WORD error) {
            ++ConnectedCount;
            ConnectedError = error;
        };
        Socket->OnSessionClosed = [this](TObject*, WORD error) {
            ++ClosedCount;
            ClosedError = error;
        };
        Socket->OnDataAvailable = [this](TObject*, WORD) {
            char buf[8192];
            const int n = Socket->Receive(buf, sizeof(buf));
            if (n > 0) Received.append(buf, static_cast<size_t>(n));
        };
    }

    void Connect(const std::string& port) {
        Socket->SetAddr("127.0.0.1");
        Socket->SetPort(port);
        Socket->Connect();
    }

    bool WaitConnected(int ms = 5000) {
        return PumpUntil([this] { return ConnectedCount > 0; }, ms);
    }

    std::unique_ptr<TCustomWSocket> Socket;
    std::string Received;
    int ConnectedCount = 0;
    WORD ConnectedError = 0xFFFF;
    int ClosedCount = 0;
    WORD ClosedError = 0xFFFF;
};

// Bytes whose value depends on their position, so a lost, doubled or swapped piece
// shows as a mismatch.
inline std::string PatternBytes(size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace vt::test

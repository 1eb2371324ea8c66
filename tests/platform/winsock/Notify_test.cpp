// WSAAsyncSelect's rules on real loopback connections: which notification comes, with
// which error, how often, and when none may come.
#include "HostPeer.h"
#include "WinsockLib.h"

#include "support/Pump.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace vt::test;

namespace {

constexpr long kAllEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr int kQuietMs = 250; // long enough for a wrong notification to show up

class WinsockNotify : public ::testing::Test {
protected:
    WinsockLib ws;
    NoteWindow win;
    Watchdog dog{20, "winsock notification test"};
    int listenFd = -1;
    int listenPort = 0;

    void SetUp() override {
        ASSERT_TRUE(ws.Loaded());
        listenFd = HostListen(listenPort);
        ASSERT_GE(listenFd, 0);
    }
    void TearDown() override { HostClose(listenFd); }

    int Connect(SOCKET s, int port) {
        const sockaddr_in to = ws.Loopback(port);
        return ws->connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    // A stand-in socket connected to a host peer, its first notifications consumed.
    SOCKET Connected(int& peer, long events = kAllEvents) {
        const SOCKET s = ws.Socket();
        EXPECT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, events), 0);
        EXPECT_EQ(Connect(s, listenPort), SOCKET_ERROR);
        EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
        peer = HostAccept(listenFd);
        EXPECT_GE(peer, 0);
        const long first = (events & FD_WRITE) ? FD_WRITE : FD_CONNECT;
        EXPECT_TRUE(win.WaitFor(s, first));
        return s;
    }

    std::string Recv(SOCKET s, int max = 4096) {
        std::string buf(static_cast<std::size_t>(max), '\0');
        const int n = ws->recv(s, buf.data(), max, 0);
        return n > 0 ? buf.substr(0, static_cast<std::size_t>(n)) : std::string();
    }
};

} // namespace

TEST_F(WinsockNotify, ConnectToClosedPortReportsRefusalOnceAndNothingElse) {
    const SOCKET s = ws.Socket();
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, kAllEvents), 0);
    EXPECT_EQ(Connect(s, HostClosedPort()), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(win.WaitFor(s, FD_CONNECT));
    PumpFor(kQuietMs);
    const auto notes = win.For(s);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(WSAGETSELECTEVENT(notes[0].LParam), FD_CONNECT);
    EXPECT_EQ(WSAGETSELECTERROR(notes[0].LParam), WSAECONNREFUSED);
    EXPECT_EQ(ws->closesocket(s), 0);
}

TEST_F(WinsockNotify, ConnectGivesConnectThenOneWrite) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    PumpFor(kQuietMs);
    const auto notes = win.For(s);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].LParam, WSAMAKESELECTREPLY(FD_CONNECT, 0));
    EXPECT_EQ(notes[1].LParam, WSAMAKESELECTREPLY(FD_WRITE, 0));
    // A send that goes through does not ask for another FD_WRITE.
    EXPECT_EQ(ws->send(s, "hello", 5, 0), 5);
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_WRITE), 1);
    EXPECT_EQ(HostReceive(peer, 5), "hello");
    sockaddr_in name{};
    int len = sizeof name;
    ASSERT_EQ(ws->getpeername(s, reinterpret_cast<sockaddr*>(&name), &len), 0);
    EXPECT_EQ(ws->ntohs(name.sin_port), listenPort);
    EXPECT_STREQ(ws->inet_ntoa(name.sin_addr), "127.0.0.1");
    ws->closesocket(s);
    HostClose(peer);
}

TEST_F(WinsockNotify, OneReadNotificationUntilRecvThenAgainWhileDataRemains) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    ASSERT_TRUE(HostSendAll(peer, "abc"));
    ASSERT_TRUE(win.WaitFor(s, FD_READ));
    ASSERT_TRUE(HostSendAll(peer, "def"));
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_READ), 1) << "no second FD_READ before recv";
    u_long waiting = 0;
    ASSERT_EQ(ws->ioctlsocket(s, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 6u);

    EXPECT_EQ(Recv(s, 2), "ab");
    ASSERT_TRUE(win.WaitFor(s, FD_READ, 2)) << "data remains after recv";
    EXPECT_EQ(Recv(s), "cdef");
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_READ), 2) << "nothing left, nothing reported";
    char c;
    EXPECT_EQ(ws->recv(s, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_TRUE(HostSendAll(peer, "g"));
    ASSERT_TRUE(win.WaitFor(s, FD_READ, 3)) << "the next arrival is reported";
    EXPECT_EQ(Recv(s), "g");
    ws->closesocket(s);
    HostClose(peer);
}

TEST_F(WinsockNotify, WriteComesBackOnlyAfterASendThatWouldBlock) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    const int small = 4096;
    ws->setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small);
    const std::string chunk(16384, 'w');
    std::size_t sent = 0;
    bool blocked = false;
    for (int i = 0; i < 2000 && !blocked; ++i) {
        const int n = ws->send(s, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (n == SOCKET_ERROR) {
            ASSERT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
            blocked = true;
        }
    }
    ASSERT_TRUE(blocked) << "the host never filled up";
    EXPECT_EQ(win.Count(s, FD_WRITE), 1);
    // The peer reads; room comes back and exactly one FD_WRITE says so.
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
        got += HostDrain(peer);
        return win.Count(s, FD_WRITE) >= 2;
    }));
    PumpFor(kQuietMs);
    got += HostDrain(peer);
    EXPECT_EQ(win.Count(s, FD_WRITE), 2);
    got += HostReceive(peer, sent - got.size());
    EXPECT_EQ(got.size(), sent);
    EXPECT_EQ(got.find_first_not_of('w'), std::string::npos);
    ws->closesocket(s);
    HostClose(peer);
}

TEST_F(WinsockNotify, AcceptIsReportedAgainOnlyAfterAccept) {
    const SOCKET server = ws.Socket();
    const sockaddr_in any = ws.Loopback(0);
    ASSERT_EQ(ws->bind(server, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(ws->listen(server, 5), 0);
    ASSERT_EQ(ws->WSAAsyncSelect(server, win.Handle(), WM_SOCKET, FD_ACCEPT | FD_READ | FD_CLOSE),
              0);
    const int port = ws.BoundPort(server);
    const int first = HostConnect(port);
    const int second = HostConnect(port);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(win.WaitFor(server, FD_ACCEPT));
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(server, FD_ACCEPT), 1);

    sockaddr_in from{};
    int fromLen = sizeof from;
    const SOCKET a = ws->accept(server, reinterpret_cast<sockaddr*>(&from), &fromLen);
    ASSERT_NE(a, INVALID_SOCKET);
    EXPECT_STREQ(ws->inet_ntoa(from.sin_addr), "127.0.0.1");
    EXPECT_EQ(ws->ntohs(from.sin_port), HostLocalPort(first));
    ASSERT_TRUE(win.WaitFor(server, FD_ACCEPT, 2)) << "another connection waits";
    const SOCKET b = ws->accept(server, nullptr, nullptr);
    ASSERT_NE(b, INVALID_SOCKET);
    EXPECT_NE(a, b);
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(server, FD_ACCEPT), 2);
    EXPECT_EQ(ws->accept(server, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);

    // Accepted sockets carry the listener's registration and work at once.
    ASSERT_TRUE(HostSendAll(second, "to-b"));
    ASSERT_TRUE(win.WaitFor(b, FD_READ));
    char buf[16];
    EXPECT_EQ(ws->recv(b, buf, sizeof buf, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "to-b");
    for (SOCKET s : {a, b, server})
        ws->closesocket(s);
    HostClose(first);
    HostClose(second);
}

TEST_F(WinsockNotify, GracefulCloseIsReportedOnceAfterTheDataBeforeIt) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    ASSERT_TRUE(HostSendAll(peer, "xy"));
    HostClose(peer);
    ASSERT_TRUE(win.WaitFor(s, FD_READ));
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_CLOSE), 0) << "data is still unread";
    EXPECT_EQ(Recv(s), "xy");
    ASSERT_TRUE(win.WaitFor(s, FD_CLOSE));
    EXPECT_EQ(win.ErrorOf(s, FD_CLOSE), 0);
    char c;
    EXPECT_EQ(ws->recv(s, &c, 1, 0), 0);
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_CLOSE), 1);
    EXPECT_EQ(win.Count(s, FD_READ), 1);
    ws->closesocket(s);
}

TEST_F(WinsockNotify, ResetByPeerIsReportedOnceWith10054) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    HostAbort(peer);
    ASSERT_TRUE(win.WaitFor(s, FD_CLOSE));
    EXPECT_EQ(win.ErrorOf(s, FD_CLOSE), WSAECONNRESET);
    char c;
    EXPECT_EQ(ws->recv(s, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAECONNRESET);
    EXPECT_EQ(ws->send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAECONNRESET);
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_CLOSE), 1);
    ws->closesocket(s);
}

TEST_F(WinsockNotify, OurAbortiveCloseResetsThePeer) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    const linger hard{1, 0};
    ASSERT_EQ(
        ws->setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard),
        0);
    ASSERT_EQ(ws->closesocket(s), 0);
    EXPECT_EQ(HostAwaitEnd(peer), "reset");
    HostClose(peer);

    // And the default close is graceful.
    const SOCKET t = Connected(peer);
    ASSERT_EQ(ws->send(t, "bye", 3, 0), 3);
    ASSERT_EQ(ws->closesocket(t), 0);
    EXPECT_EQ(HostReceive(peer, 3), "bye");
    EXPECT_EQ(HostAwaitEnd(peer), "eof");
    HostClose(peer);
}

TEST_F(WinsockNotify, MaskZeroStopsAndANewRegistrationReportsWhatHolds) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), 0, 0), 0);
    const std::size_t before = win.Notes().size();
    ASSERT_TRUE(HostSendAll(peer, "quiet"));
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Notes().size(), before);
    // Still non-blocking without notifications.
    char buf[16];
    EXPECT_EQ(ws->recv(s, buf, 2, 0), 2);
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, FD_READ), 0);
    ASSERT_TRUE(win.WaitFor(s, FD_READ)) << "unread data is reported at once";
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "iet");
    ws->closesocket(s);
    HostClose(peer);
}

TEST_F(WinsockNotify, NothingArrivesAboutASocketOnceClosesocketReturned) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    PumpFor(50);
    const std::size_t before = win.Notes().size();
    ASSERT_TRUE(HostSendAll(peer, "late data"));
    ASSERT_EQ(ws->closesocket(s), 0);
    HostClose(peer);
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Notes().size(), before);
    EXPECT_EQ(ws->send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAENOTSOCK);
    // Handles are not reused, so a leftover message can never name a newer socket.
    const SOCKET next = ws.Socket();
    EXPECT_NE(next, s);
    ws->closesocket(next);
}

TEST_F(WinsockNotify, DatagramsAreReportedOneAtATimeWithTheirSender) {
    const SOCKET rx = ws.Socket(SOCK_DGRAM);
    const SOCKET tx = ws.Socket(SOCK_DGRAM);
    const sockaddr_in local = ws.Loopback(0);
    ASSERT_EQ(ws->bind(rx, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(ws->bind(tx, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(ws->WSAAsyncSelect(rx, win.Handle(), WM_SOCKET, FD_READ), 0);
    const sockaddr_in to = ws.Loopback(ws.BoundPort(rx));
    const auto* dest = reinterpret_cast<const sockaddr*>(&to);
    ASSERT_EQ(ws->sendto(tx, "first", 5, 0, dest, sizeof to), 5);
    ASSERT_EQ(ws->sendto(tx, "second!", 7, 0, dest, sizeof to), 7);
    ASSERT_TRUE(win.WaitFor(rx, FD_READ));
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(rx, FD_READ), 1);

    char buf[64];
    sockaddr_in from{};
    int fromLen = sizeof from;
    ASSERT_EQ(ws->recvfrom(rx, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen),
              5);
    EXPECT_EQ(std::string(buf, 5), "first");
    EXPECT_EQ(fromLen, static_cast<int>(sizeof from));
    EXPECT_EQ(ws->ntohs(from.sin_port), ws.BoundPort(tx));
    ASSERT_TRUE(win.WaitFor(rx, FD_READ, 2));
    // A datagram larger than the buffer: the buffer is filled, the rest reported lost.
    EXPECT_EQ(ws->recvfrom(rx, buf, 3, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buf, 3), "sec");
    EXPECT_EQ(ws->recvfrom(rx, buf, sizeof buf, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
    ws->closesocket(rx);
    ws->closesocket(tx);
}

TEST_F(WinsockNotify, ManyReadsBeforeTheLoopRunsAgainBringOneNotification) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    ASSERT_TRUE(HostSendAll(peer, std::string(1000, 'r')));
    ASSERT_TRUE(win.WaitFor(s, FD_READ));
    // A receive loop: many reads inside one notification, each leaving data behind.
    std::string got;
    for (int i = 0; i < 50; ++i)
        got += Recv(s, 10);
    EXPECT_EQ(got, std::string(500, 'r'));
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_READ), 2) << "one for the data left, not one per read";
    got = Recv(s, 600);
    EXPECT_EQ(got.size(), 500u);
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_READ), 2) << "all read, nothing more to report";
    ws->closesocket(s);
    HostClose(peer);
}

TEST_F(WinsockNotify, BytesLeftByTheLastReadAndThePeersEnd) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    ASSERT_TRUE(HostSendAll(peer, std::string(100, 'q')));
    ASSERT_TRUE(win.WaitFor(s, FD_READ));
    u_long left = 12345;
    ASSERT_EQ(ws->ioctlsocket(s, FIONREADLEFT, &left), 0);
    EXPECT_EQ(left, 100u) << "no read yet: what waits now";
    EXPECT_EQ(Recv(s, 40).size(), 40u);
    ASSERT_EQ(ws->ioctlsocket(s, FIONREADLEFT, &left), 0);
    EXPECT_EQ(left, 60u);
    EXPECT_EQ(Recv(s, 59).size(), 59u);
    ASSERT_EQ(ws->ioctlsocket(s, FIONREADLEFT, &left), 0);
    EXPECT_EQ(left, 1u) << "one real byte left";
    HostClose(peer);
    ASSERT_TRUE(win.WaitFor(s, FD_READ, 2));
    EXPECT_EQ(Recv(s, 10).size(), 1u);
    // The host reports a peer's end after the last byte like one byte left.
    ASSERT_EQ(ws->ioctlsocket(s, FIONREADLEFT, &left), 0);
    EXPECT_EQ(left, 0u) << "nothing is left after the peer's end";
    ASSERT_TRUE(win.WaitFor(s, FD_CLOSE));
    ws->closesocket(s);
}

TEST_F(WinsockNotify, DataAndTheEndArrivingTogetherNeedOneReadThenCloseOnce) {
    int peer = -1;
    const SOCKET s = Connected(peer);
    ASSERT_TRUE(HostSendAll(peer, std::string(3000, 'd')));
    HostClose(peer);
    PumpFor(kQuietMs); // both have arrived before the first read
    ASSERT_EQ(win.Count(s, FD_READ), 1);
    EXPECT_EQ(Recv(s, 8192), std::string(3000, 'd'));
    ASSERT_TRUE(win.WaitFor(s, FD_CLOSE)) << "the read took everything before the end";
    u_long waiting = 1;
    ASSERT_EQ(ws->ioctlsocket(s, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 0u);
    char c;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ws->recv(s, &c, 1, 0), 0) << "every read after the end meets it";
    PumpFor(kQuietMs);
    EXPECT_EQ(win.Count(s, FD_READ), 1);
    EXPECT_EQ(win.Count(s, FD_CLOSE), 1);
    EXPECT_EQ(win.ErrorOf(s, FD_CLOSE), 0);
    ws->closesocket(s);
}

TEST_F(WinsockNotify, EveryFilledReadOfALongStreamKnowsWhatItLeaves) {
    std::string data(300 * 1000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    // The peer ends after the reads, or before them: the host then counts the end as a
    // byte of its own, which must not show in the count.
    for (const bool endFirst : {false, true}) {
        SCOPED_TRACE(endFirst ? "the end arrived before the reads" : "the end comes after them");
        // A large receive buffer (asked before the connect, so the window scales) takes
        // the whole stream before the first read, which makes every count exact.
        const SOCKET s = ws.Socket();
        const int big = 1 << 20;
        ASSERT_EQ(ws->setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&big),
                                 sizeof big),
                  0);
        ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, kAllEvents), 0);
        EXPECT_EQ(Connect(s, listenPort), SOCKET_ERROR);
        const int peer = HostAccept(listenFd);
        ASSERT_GE(peer, 0);
        std::thread sender([&] { HostSendAll(peer, data); });
        u_long queued = 0;
        const bool allQueued = PumpUntil(
            [&] { return ws->ioctlsocket(s, FIONREAD, &queued) == 0 && queued == data.size(); },
            5000);
        sender.join();
        ASSERT_TRUE(allQueued) << queued << " bytes queued";
        if (endFirst) {
            HostClose(peer);
            PumpFor(kQuietMs); // the library hears of the end before the first read
        }

        std::string got;
        while (got.size() < data.size()) {
            const std::string piece = Recv(s, 8192);
            ASSERT_FALSE(piece.empty()) << "after " << got.size() << " bytes";
            got += piece;
            u_long left = 0;
            ASSERT_EQ(ws->ioctlsocket(s, FIONREADLEFT, &left), 0);
            ASSERT_EQ(left, data.size() - got.size()) << "after " << got.size() << " bytes";
        }
        EXPECT_TRUE(got == data);
        if (!endFirst) HostClose(peer);
        ASSERT_TRUE(win.WaitFor(s, FD_CLOSE));
        char c;
        EXPECT_EQ(ws->recv(s, &c, 1, 0), 0);
        EXPECT_EQ(win.ErrorOf(s, FD_CLOSE), 0);
        ws->closesocket(s);
    }
}

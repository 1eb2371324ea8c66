// TCustomWSocket over TCP on loopback: connect, transfer, send chain, close paths,
// receive dispatch and the refusals of the property setters.

#include "net/NetTest.h"
#include "net/WSocketErrorText.h"

#include <gtest/gtest.h>

using vt::test::PatternBytes;
using vt::test::PumpFor;
using vt::test::PumpUntil;
using vt::test::TLoopbackServer;
using vt::test::TRecordingClient;
using vt::test::Watchdog;

namespace {

std::string ErrorMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.Message();
    }
    return "(no exception)";
}

TEST(NetSocket, MegabyteInOddChunksComesBackByteForByte) {
    Watchdog dog(30, "echo transfer");
    std::vector<std::pair<TSocketState, TSocketState>> states; // outlives the client
    TLoopbackServer server;
    TRecordingClient client;
    client.Socket->OnChangeState = [&](TObject*, TSocketState o, TSocketState n) {
        states.emplace_back(o, n);
    };
    client.Connect(server.Port);
    EXPECT_EQ(client.Socket->State(), wsConnecting);
    ASSERT_TRUE(client.WaitConnected());
    EXPECT_EQ(client.ConnectedError, 0);
    EXPECT_EQ(client.Socket->State(), wsConnected);
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states[0].second, wsOpened);
    EXPECT_EQ(states[1].second, wsConnecting);
    EXPECT_EQ(states[2].second, wsConnected);

    // Every OnDataSent must find everything handed to Send already given to Winsock,
    // and none may come from inside Send.
    const std::string data = PatternBytes(1 << 20);
    size_t queued = 0, handedToWinsock = 0;
    bool insideSend = false, sentFromInsideSend = false, sentEarly = false;
    int dataSentCount = 0;
    client.Socket->OnSendData = [&](TObject*, int n) { handedToWinsock += static_cast<size_t>(n); };
    client.Socket->OnDataSent = [&](TObject*, WORD error) {
        ++dataSentCount;
        sentFromInsideSend |= insideSend;
        sentEarly |= handedToWinsock != queued;
        EXPECT_EQ(error, 0);
    };
    size_t chunk = 1, pos = 0;
    while (pos < data.size()) {
        const size_t n = std::min(chunk, data.size() - pos);
        insideSend = true;
        EXPECT_EQ(client.Socket->Send(data.data() + pos, static_cast<int>(n)), static_cast<int>(n));
        insideSend = false;
        queued += n;
        pos += n;
        chunk = (chunk * 7 + 3) % 9973; // odd sizes across block boundaries
    }
    ASSERT_TRUE(PumpUntil([&] { return client.Received.size() >= data.size(); }, 20000))
        << client.Received.size();
    EXPECT_TRUE(client.Received == data);
    EXPECT_EQ(handedToWinsock, data.size());
    EXPECT_GE(dataSentCount, 1);
    EXPECT_FALSE(sentFromInsideSend);
    EXPECT_FALSE(sentEarly);
    EXPECT_EQ(client.Socket->ReadCount(), static_cast<int>(data.size()));
}

TEST(NetSocket, DataSentOnlyFromTheLoopEvenWhenAllLeftAtOnce) {
    Watchdog dog(10, "data sent");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    PumpFor(50); // let the connect-time FD_WRITE pass
    int sent = 0;
    client.Socket->OnDataSent = [&](TObject*, WORD) { ++sent; };
    EXPECT_EQ(client.Socket->SendString("hello"), 5);
    EXPECT_EQ(sent, 0);
    ASSERT_TRUE(PumpUntil([&] { return sent > 0; }));
    ASSERT_TRUE(PumpUntil([&] { return client.Received == "hello"; }));
    EXPECT_EQ(client.Socket->Send("x", 0), 0);
}

TEST(NetSocket, SendingNothingOnAFreshConnectionStillCompletes) {
    Watchdog dog(10, "empty send");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    PumpFor(50);
    int sent = 0;
    client.Socket->OnDataSent = [&](TObject*, WORD) { ++sent; };
    EXPECT_EQ(client.Socket->Send(nullptr, 0), 0);
    client.Socket->Flush(); // returns: nothing is pending
    EXPECT_TRUE(PumpUntil([&] { return sent > 0; }));
}

TEST(NetSocket, ClientCloseRaisesSessionClosedOnceOnEachSide) {
    Watchdog dog(10, "client close");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    client.Socket->SendString("last words");
    client.Socket->Close();
    EXPECT_EQ(client.Socket->State(), wsClosed);
    EXPECT_EQ(client.ClosedCount, 1);
    EXPECT_EQ(client.ClosedError, 0);
    auto& peer = server.Peer(0);
    ASSERT_TRUE(PumpUntil([&] { return peer.ClosedCount > 0; }));
    PumpFor(100);
    EXPECT_EQ(peer.ClosedCount, 1);
    EXPECT_EQ(peer.ClosedError, 0);
    EXPECT_EQ(peer.Received, "last words"); // drained before the close was reported
    EXPECT_EQ(peer.Socket->State(), wsClosed);
    EXPECT_EQ(client.ClosedCount, 1);
}

TEST(NetSocket, ServerCloseDeliversQueuedDataThenClosesOnce) {
    Watchdog dog(15, "server close");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    auto& peer = server.Peer(0);
    const std::string data = PatternBytes(300000, 7);
    peer.Socket->Send(data.data(), static_cast<int>(data.size()));
    peer.Socket->Flush(); // all handed to Winsock before the close
    peer.Socket->Close();
    EXPECT_EQ(peer.ClosedCount, 1);
    ASSERT_TRUE(PumpUntil([&] { return client.ClosedCount > 0; }, 10000));
    PumpFor(100);
    EXPECT_EQ(client.ClosedCount, 1);
    EXPECT_EQ(client.ClosedError, 0);
    EXPECT_TRUE(client.Received == data) << client.Received.size();
    EXPECT_EQ(client.Socket->State(), wsClosed);
}

TEST(NetSocket, DataWaitingAtCloseIsDrainedCompletely) {
    Watchdog dog(15, "drain at close");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    // The client reads in small pieces, so the data outlasts one notification's passes.
    client.Socket->OnDataAvailable = [&](TObject*, WORD) {
        char buf[100];
        const int n = client.Socket->Receive(buf, sizeof(buf));
        if (n > 0) client.Received.append(buf, static_cast<size_t>(n));
    };
    client.Socket->Pause();
    auto& peer = server.Peer(0);
    const std::string data = PatternBytes(200000, 13);
    peer.Socket->Send(data.data(), static_cast<int>(data.size()));
    peer.Socket->Flush();
    peer.Socket->Close();
    client.Socket->Resume(); // data and close are both waiting now
    ASSERT_TRUE(PumpUntil([&] { return client.ClosedCount > 0; }, 10000));
    EXPECT_EQ(client.ClosedCount, 1);
    EXPECT_TRUE(client.Received == data) << client.Received.size();
}

TEST(NetSocket, ConnectToClosedPortReportsRefusalThenClosesOnce) {
    Watchdog dog(10, "refused");
    std::string port;
    {
        TLoopbackServer gone; // a port that was ours a moment ago and listens no more
        port = gone.Port;
    }
    TRecordingClient client;
    TSocketState stateAtConnected = wsInvalidState;
    client.Socket->OnSessionConnected = [&](TObject*, WORD error) {
        ++client.ConnectedCount;
        client.ConnectedError = error;
        stateAtConnected = client.Socket->State();
    };
    client.Connect(port);
    ASSERT_TRUE(client.WaitConnected());
    EXPECT_EQ(client.ConnectedError, 10061);
    EXPECT_EQ(stateAtConnected, wsConnected);
    PumpFor(100);
    EXPECT_EQ(client.Socket->State(), wsClosed);
    EXPECT_EQ(client.ClosedCount, 1);
    EXPECT_EQ(client.ClosedError, 0);
}

TEST(NetSocket, SendWhileConnectingFailsWithNotConnectedAndCloses) {
    Watchdog dog(10, "send while connecting");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_EQ(client.Socket->State(), wsConnecting);
    EXPECT_EQ(ErrorMessage([&] { client.Socket->SendString("early"); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(client.Socket->State(), wsClosed);
    EXPECT_EQ(client.Socket->LastError(), 10057);
    // The connection's own notifications no longer reach the closed socket.
    PumpFor(100);
    EXPECT_EQ(client.ConnectedCount, 0);
    EXPECT_EQ(client.ClosedCount, 0);

    int errors = 0;
    client.Socket->OnError = [&](TObject*) { ++errors; };
    EXPECT_EQ(client.Socket->SendString("x"), -1);
    EXPECT_EQ(errors, 1);
}

TEST(NetSocket, CloseNotificationWhileConnectingIsIgnored) {
    Watchdog dog(10, "close while connecting");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_EQ(client.Socket->State(), wsConnecting); // stays so until the loop runs
    SendMessage(client.Socket->WindowHandle(), WM_SOCKET_SELECT, client.Socket->SocketHandle(),
                MAKELONG(FD_CLOSE, 0));
    EXPECT_EQ(client.Socket->State(), wsConnecting);
    EXPECT_EQ(client.ClosedCount, 0);
    ASSERT_TRUE(client.WaitConnected());
    EXPECT_EQ(client.ConnectedError, 0);
    EXPECT_EQ(client.Socket->State(), wsConnected);
}

TEST(NetSocket, PropertyRulesAndResetAfterClose) {
    Watchdog dog(10, "properties");
    TLoopbackServer server;
    TRecordingClient client;
    auto& s = *client.Socket;
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(s.LocalPort(), "0");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.FlushTimeout(), 60);
    EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(ErrorMessage([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(server.Port);
    EXPECT_EQ(ErrorMessage([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr(" 127.0.0.1 ");
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    s.Connect();
    EXPECT_EQ(ErrorMessage([&] { s.Connect(); }), "Connect: Socket already in use");
    ASSERT_TRUE(client.WaitConnected());
    s.SetPort(server.Port); // same text: nothing happens
    EXPECT_EQ(ErrorMessage([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(ErrorMessage([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(ErrorMessage([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(ErrorMessage([&] { s.SetLocalPort("5"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(ErrorMessage([&] { s.SetLocalAddr("1.2.3.4"); }),
              "Cannot change LocalAddr if not closed");
    EXPECT_NE(s.PeerAddr(), "error");
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), server.Port);
    s.Close();
    EXPECT_EQ(s.PeerAddr(), "error");
    EXPECT_EQ(s.Addr(), "127.0.0.1"); // kept, but must be assigned again
    EXPECT_EQ(ErrorMessage([&] { s.Connect(); }), "Connect: No Port Specified");
    EXPECT_EQ(s.Proto(), "tcp");

    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    s.SetLocalAddr("127.000.000.001");
    EXPECT_EQ(s.LocalAddr(), "127.0.0.1");
    EXPECT_EQ(ErrorMessage([&] { s.SetLocalAddr("no.such.address"); }),
              "SetLocalAddr(): Invalid IP address");

    EXPECT_EQ(s.SendFlags(), wsSendNormal);
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(ErrorMessage([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }),
              "Invalid SendFlags");
}

TEST(NetSocket, OnErrorReplacesExceptionsAndLastErrorTellsTheCause) {
    Watchdog dog(10, "on error");
    TCustomWSocket s(nullptr);
    int errors = 0;
    TObject* lastSender = nullptr;
    s.OnError = [&](TObject* sender) {
        lastSender = sender;
        ++errors;
    };
    s.Connect(); // no port
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(lastSender, &s);
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    s.SetProto("tcp");
    EXPECT_NO_THROW(s.Listen());
    EXPECT_EQ(s.State(), wsListening);
    TCustomWSocket other(nullptr);
    other.OnError = s.OnError;
    EXPECT_EQ(other.Accept(), INVALID_SOCKET);
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(lastSender, &other);
    EXPECT_EQ(other.LastError(), 10022);
    other.Dup(0);
    EXPECT_EQ(errors, 3);
}

TEST(NetSocket, ListenRefusalsAndBoundPort) {
    Watchdog dog(10, "listen");
    TCustomWSocket s(nullptr);
    EXPECT_EQ(ErrorMessage([&] { s.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    s.SetPort("0");
    EXPECT_EQ(ErrorMessage([&] { s.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    EXPECT_EQ(s.GetBoundPort(), "error");
    s.SetAddr("127.0.0.1");
    s.Listen();
    const std::string port = s.GetBoundPort();
    EXPECT_NE(port, "error");
    EXPECT_GT(std::stoi(port), 0);

    // A second listener on the same port cannot bind; the handle is not kept.
    TCustomWSocket t(nullptr);
    t.SetAddr("127.0.0.1");
    t.SetPort(port);
    EXPECT_EQ(ErrorMessage([&] { t.Listen(); }),
              "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(t.State(), wsClosed);
    EXPECT_EQ(t.SocketHandle(), INVALID_SOCKET);
}

TEST(NetSocket, LocalBindMakesTheChosenPortVisible) {
    Watchdog dog(10, "local bind");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Socket->SetLocalAddr("127.0.0.1");
    client.Connect(server.Port);
    ASSERT_NE(client.Socket->LocalPort(), "0");
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    EXPECT_EQ(server.Peer(0).Socket->PeerPort(), client.Socket->LocalPort());
    EXPECT_EQ(client.Socket->GetBoundPort(), client.Socket->LocalPort());

    // A local port already taken by the listener cannot be bound.
    TCustomWSocket other(nullptr);
    other.SetLocalAddr("127.0.0.1");
    other.SetLocalPort(server.Port);
    other.SetAddr("127.0.0.1");
    other.SetPort(server.Port);
    EXPECT_EQ(ErrorMessage([&] { other.Connect(); }), "winsock.bind failed, error #10048");
}

// Waits (without reading) until `n` bytes are queued at the socket.
bool WaitQueued(TCustomWSocket& s, int n) {
    return PumpUntil([&] { return s.RcvdCount() >= n; });
}

TEST(NetSocket, ReceiveDispatchLoopsOnlyWhileTheHandlerTakesData) {
    Watchdog dog(15, "receive dispatch");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    auto& s = *client.Socket;

    // A handler that takes nothing is not called again and again.
    int idleCalls = 0;
    s.OnDataAvailable = [&](TObject*, WORD) { ++idleCalls; };
    server.Peer(0).Socket->SendString(std::string(1000, 'a'));
    ASSERT_TRUE(WaitQueued(s, 1000));
    PumpFor(200);
    EXPECT_GE(idleCalls, 1);
    EXPECT_LE(idleCalls, 3);
    EXPECT_EQ(s.RcvdCount(), 1000);

    // One notification with the loop: the handler is called until the data is used up.
    int calls = 0;
    s.OnDataAvailable = [&](TObject*, WORD) {
        ++calls;
        char buf[10];
        s.Receive(buf, sizeof(buf));
    };
    SendMessage(s.WindowHandle(), WM_SOCKET_SELECT, s.SocketHandle(), MAKELONG(FD_READ, 0));
    EXPECT_EQ(calls, 100);
    EXPECT_EQ(s.RcvdCount(), 0);

    // With wsoNoReceiveLoop one notification calls it exactly once.
    s.OnDataAvailable = [&](TObject*, WORD) {};
    server.Peer(0).Socket->SendString(std::string(1000, 'b'));
    ASSERT_TRUE(WaitQueued(s, 1000));
    s.SetComponentOptions({wsoNoReceiveLoop});
    calls = 0;
    s.OnDataAvailable = [&](TObject*, WORD) {
        ++calls;
        char buf[10];
        s.Receive(buf, sizeof(buf));
    };
    SendMessage(s.WindowHandle(), WM_SOCKET_SELECT, s.SocketHandle(), MAKELONG(FD_READ, 0));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s.RcvdCount(), 990);
}

TEST(NetSocket, BulkTransferCallsTheHandlerOnlyWhenThereIsData) {
    Watchdog dog(30, "bulk receive");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    auto& peer = server.Peer(0);
    // Reads that fill the buffer leave data behind again and again; none of that may
    // turn into notifications that find nothing to read.
    int calls = 0, emptyCalls = 0;
    peer.Socket->OnDataAvailable = [&](TObject*, WORD) {
        ++calls;
        char buf[8192];
        const int n = peer.Socket->Receive(buf, sizeof(buf));
        if (n <= 0)
            ++emptyCalls;
        else
            peer.Received.append(buf, static_cast<size_t>(n));
    };
    const std::string data = PatternBytes(4 << 20);
    ASSERT_EQ(client.Socket->Send(data.data(), static_cast<int>(data.size())),
              static_cast<int>(data.size()));
    ASSERT_TRUE(PumpUntil([&] { return peer.Received.size() >= data.size(); }, 20000))
        << peer.Received.size();
    PumpFor(200);
    EXPECT_TRUE(peer.Received == data);
    EXPECT_GE(calls, static_cast<int>(data.size() / 8192));
    EXPECT_LE(emptyCalls, 3) << "of " << calls << " calls";
    EXPECT_EQ(peer.Socket->ReadCount(), static_cast<int>(data.size()));
}

TEST(NetSocket, WithoutHandlerDataIsDiscardedInKilobytePieces) {
    Watchdog dog(10, "discard");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    auto& s = *client.Socket;
    s.OnDataAvailable = [&](TObject*, WORD) {}; // hold the data until it is all there
    server.Peer(0).Socket->SendString(std::string(5000, 'z'));
    ASSERT_TRUE(WaitQueued(s, 5000));
    s.OnDataAvailable = nullptr;
    SendMessage(s.WindowHandle(), WM_SOCKET_SELECT, s.SocketHandle(), MAKELONG(FD_READ, 0));
    EXPECT_EQ(s.RcvdCount(), 0);
    EXPECT_EQ(s.ReadCount(), 0); // discarded, not received
    EXPECT_EQ(s.State(), wsConnected);
}

TEST(NetSocket, HandlerExceptionIsSwallowedByTheReceiveDispatch) {
    Watchdog dog(10, "handler exception");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    int calls = 0;
    client.Socket->OnDataAvailable = [&](TObject*, WORD) {
        ++calls;
        char buf[4];
        client.Socket->Receive(buf, sizeof(buf));
        throw ESocketException("handler failed");
    };
    client.Socket->SendString("ping-pong");
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
    EXPECT_EQ(client.Socket->State(), wsConnected); // not aborted
}

TEST(NetSocket, CloseLaterInsideHandlerClosesAfterItReturns) {
    Watchdog dog(10, "close later");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    TSocketState stateAtReturn = wsInvalidState;
    client.Socket->OnDataAvailable = [&](TObject*, WORD) {
        char buf[64];
        client.Socket->Receive(buf, sizeof(buf));
        client.Socket->CloseLater();
        stateAtReturn = client.Socket->State();
    };
    client.Socket->SendString("bye");
    ASSERT_TRUE(PumpUntil([&] { return client.Socket->State() == wsClosed; }));
    EXPECT_EQ(stateAtReturn, wsConnected);
    EXPECT_EQ(client.ClosedCount, 1);
}

TEST(NetSocket, FreeLaterDestroysTheSocketFromTheLoop) {
    Watchdog dog(10, "free later");
    struct TWatched : TCustomWSocket {
        explicit TWatched(bool& gone) : TCustomWSocket(nullptr), Gone(gone) {}
        ~TWatched() override { Gone = true; }
        bool& Gone;
    };
    bool gone = false;
    auto* s = new TWatched(gone);
    s->FreeLater();
    EXPECT_FALSE(gone);
    EXPECT_TRUE(PumpUntil([&] { return gone; }));
}

TEST(NetSocket, BackgroundExceptionGoesToHandlerAndAbortsByDefault) {
    Watchdog dog(10, "background exception");
    TLoopbackServer server;
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    std::string seen;
    bool allowClose = false;
    client.Socket->OnBgException = [&](TObject*, Exception& e, bool& canClose) {
        seen = e.Message();
        canClose = allowClose;
    };
    PostMessage(client.Socket->WindowHandle(), WM_SOCKET_TEST, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, "Test exception in WSocket");
    EXPECT_EQ(client.Socket->State(), wsConnected);

    seen.clear();
    allowClose = true;
    PostMessage(client.Socket->WindowHandle(), WM_SOCKET_TEST, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(client.Socket->State(), wsClosed);
    EXPECT_EQ(client.ClosedCount, 1);
}

TEST(NetSocket, AbortResetsTheConnection) {
    Watchdog dog(10, "abort");
    TLoopbackServer server(false);
    TRecordingClient client;
    client.Connect(server.Port);
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
    client.Socket->Abort();
    EXPECT_EQ(client.Socket->State(), wsClosed);
    EXPECT_EQ(client.ClosedCount, 1);
    auto& peer = server.Peer(0);
    ASSERT_TRUE(PumpUntil([&] { return peer.ClosedCount > 0; }));
    EXPECT_EQ(peer.ClosedError, 10054);
}

TEST(NetSocket, TimevalHelpers) {
    TCustomWSocket s(nullptr);
    TTimeVal t{0, 0}, u{1, 0};
    EXPECT_FALSE(s.TimevalIsSet(t));
    EXPECT_TRUE(s.TimevalIsSet(u));
    EXPECT_TRUE(s.TimevalCompare(t, u, false));
    EXPECT_FALSE(s.TimevalCompare(t, u, true));
    s.TimevalClear(u);
    EXPECT_TRUE(s.TimevalCompare(t, u, true));
}

} // namespace

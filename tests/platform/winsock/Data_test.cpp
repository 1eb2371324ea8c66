// Error codes from the host's errors, blocking mode, and the fault variant's knobs.
#include "HostPeer.h"
#include "WinsockLib.h"

#include "support/Pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace vt::test;

namespace {

constexpr long kAllEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

struct Listener {
    int Fd = -1;
    int Port = 0;
    Listener() { Fd = HostListen(Port); }
    ~Listener() { HostClose(Fd); }
};

int ConnectTo(const WinsockLib& ws, SOCKET s, int port) {
    const sockaddr_in to = ws.Loopback(port);
    return ws->connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

} // namespace

TEST(WinsockErrors, HostErrorsComeOutAsWinsockCodes) {
    Watchdog dog(20);
    WinsockLib ws;
    Listener listener;
    ASSERT_GE(listener.Fd, 0);
    const SOCKET s = ws.Socket();
    char buf[8];
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(ws->send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAENOTCONN);

    const sockaddr_in taken = ws.Loopback(listener.Port);
    EXPECT_EQ(ws->bind(s, reinterpret_cast<const sockaddr*>(&taken), sizeof taken), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEADDRINUSE);
    EXPECT_EQ(ws->bind(s, reinterpret_cast<const sockaddr*>(&taken), 8), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(ws->listen(s, 5), SOCKET_ERROR) << "listen needs a bound socket";
    EXPECT_EQ(ws->WSAGetLastError(), WSAEINVAL);

    EXPECT_EQ(ws->socket(AF_UNSPEC, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(ws->socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), INVALID_SOCKET);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEPROTONOSUPPORT);
    EXPECT_EQ(ws->closesocket(12345), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(ws->setsockopt(s, SOL_SOCKET, 0x7777, buf, 4), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAENOPROTOOPT);
    u_long arg = 0;
    EXPECT_EQ(ws->ioctlsocket(s, 0x1234, &arg), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEINVAL);

    // Connected and non-blocking: nothing to read would block; FIONREAD tells what waits.
    ASSERT_EQ(ws->WSAAsyncSelect(s, nullptr, 0, 0), 0);
    EXPECT_EQ(ConnectTo(ws, s, listener.Port), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
    const int peer = HostAccept(listener.Fd);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([&] {
        return ws->recv(s, buf, sizeof buf, 0) == SOCKET_ERROR &&
               ws->WSAGetLastError() == WSAEWOULDBLOCK;
    }));
    EXPECT_EQ(ConnectTo(ws, s, listener.Port), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEISCONN);
    ASSERT_TRUE(HostSendAll(peer, "12345"));
    ASSERT_TRUE(PumpUntil([&] { return ws->ioctlsocket(s, FIONREAD, &arg) == 0 && arg == 5; }));
    EXPECT_EQ(ws->recv(s, buf, 0, 0), 0) << "a zero-length probe with data waiting";
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), 5);
    EXPECT_EQ(std::string(buf, 5), "12345");
    EXPECT_EQ(ws->recv(s, buf, 0, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK) << "a zero-length probe with nothing";
    // After our own shutdown, sending is refused with Winsock's code.
    ASSERT_EQ(ws->shutdown(s, SD_SEND), 0);
    EXPECT_EQ(HostAwaitEnd(peer), "eof");
    EXPECT_EQ(ws->send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAESHUTDOWN);
    ws->closesocket(s);
    HostClose(peer);
}

TEST(WinsockBlocking, ANewSocketBlocksUntilDoneAndReportsFailuresDirectly) {
    Watchdog dog(20);
    WinsockLib ws;
    Listener listener;
    const SOCKET refused = ws.Socket();
    EXPECT_EQ(ConnectTo(ws, refused, HostClosedPort()), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAECONNREFUSED);
    ws->closesocket(refused);

    const SOCKET s = ws.Socket();
    ASSERT_EQ(ConnectTo(ws, s, listener.Port), 0);
    const int peer = HostAccept(listener.Fd);
    ASSERT_GE(peer, 0);
    const std::string big(300000, 'b');
    std::string got;
    std::thread reader([&] { got = HostReceive(peer, big.size(), 10000); });
    EXPECT_EQ(ws->send(s, big.data(), static_cast<int>(big.size()), 0),
              static_cast<int>(big.size()))
        << "a blocking send takes everything";
    reader.join();
    EXPECT_EQ(got, big);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        HostSendAll(peer, "later");
    });
    char buf[16];
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), 5) << "a blocking recv waits for data";
    EXPECT_EQ(std::string(buf, 5), "later");
    writer.join();
    // Switching to non-blocking by hand, and back; not back while notifications are on.
    u_long on = 1;
    ASSERT_EQ(ws->ioctlsocket(s, FIONBIO, &on), 0);
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
    NoteWindow win;
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, FD_READ), 0);
    u_long off = 0;
    EXPECT_EQ(ws->ioctlsocket(s, FIONBIO, &off), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEINVAL);
    ws->closesocket(s);
    HostClose(peer);
}

TEST(WinsockFaults, PartialSendsAskForFdWriteAndLoseNothing) {
    Watchdog dog(20);
    WinsockLib ws("wsock32-fault.dll");
    Listener listener;
    NoteWindow win;
    ASSERT_EQ(ws->VtFaultSet("send.max", 100), 0);
    const SOCKET s = ws.Socket();
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, kAllEvents), 0);
    ConnectTo(ws, s, listener.Port);
    const int peer = HostAccept(listener.Fd);
    ASSERT_TRUE(win.WaitFor(s, FD_WRITE));
    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += static_cast<char>('a' + i % 26);
    std::size_t offset = 0;
    int writes = 1;
    while (offset < data.size()) {
        const int n = ws->send(s, data.data() + offset, static_cast<int>(data.size() - offset), 0);
        ASSERT_EQ(n, 100);
        offset += static_cast<std::size_t>(n);
        if (offset < data.size()) {
            ASSERT_TRUE(win.WaitFor(s, FD_WRITE, ++writes));
        }
    }
    EXPECT_EQ(HostReceive(peer, data.size()), data);
    ws->closesocket(s);
    HostClose(peer);
}

TEST(WinsockFaults, EveryOtherSendWouldBlockAndFdWriteFollows) {
    Watchdog dog(20);
    WinsockLib ws("wsock32-fault.dll");
    Listener listener;
    NoteWindow win;
    const SOCKET s = ws.Socket();
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, kAllEvents), 0);
    ConnectTo(ws, s, listener.Port);
    const int peer = HostAccept(listener.Fd);
    ASSERT_TRUE(win.WaitFor(s, FD_WRITE));
    ASSERT_EQ(ws->VtFaultSet("send.wouldblock", 1), 0);
    EXPECT_EQ(ws->send(s, "one", 3, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(win.WaitFor(s, FD_WRITE, 2));
    EXPECT_EQ(ws->send(s, "one", 3, 0), 3);
    EXPECT_EQ(ws->send(s, "two", 3, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->send(s, "two", 3, 0), 3);
    EXPECT_EQ(HostReceive(peer, 6), "onetwo");
    ws->closesocket(s);
    HostClose(peer);
}

TEST(WinsockFaults, ConnectionResetAfterNBytes) {
    Watchdog dog(20);
    WinsockLib ws("wsock32-fault.dll");
    Listener listener;
    NoteWindow win;
    ASSERT_EQ(ws->VtFaultSet("recv.reset.after", 4), 0);
    const SOCKET s = ws.Socket();
    ASSERT_EQ(ws->WSAAsyncSelect(s, win.Handle(), WM_SOCKET, kAllEvents), 0);
    ConnectTo(ws, s, listener.Port);
    const int peer = HostAccept(listener.Fd);
    ASSERT_TRUE(win.WaitFor(s, FD_WRITE));
    ASSERT_TRUE(HostSendAll(peer, "0123456789"));
    ASSERT_TRUE(win.WaitFor(s, FD_READ));
    char buf[16];
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    ASSERT_TRUE(win.WaitFor(s, FD_CLOSE));
    EXPECT_EQ(win.ErrorOf(s, FD_CLOSE), WSAECONNRESET);
    EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAECONNRESET);
    EXPECT_EQ(HostAwaitEnd(peer), "reset") << "the peer sees the reset too";
    ws->closesocket(s);
    HostClose(peer);
}

TEST(WinsockFaults, SocketCreationFailsWithTheGivenCode) {
    WinsockLib ws("wsock32-fault.dll");
    ASSERT_EQ(ws->VtFaultSet("socket.error", WSAEMFILE), 0);
    EXPECT_EQ(ws->socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEMFILE);
    ws->VtFaultSet("socket.error", 0);
    const SOCKET s = ws.Socket();
    EXPECT_NE(s, INVALID_SOCKET);
    ws->closesocket(s);
}

// The scripted loopback proxy that the SOCKS and line tests rely on, checked with
// plain sockets: it must record exactly what arrived and send exactly its script.
// This file also builds the peers into the test binary.

#include "net/interop/LoopbackPeer.cpp"

#include <gtest/gtest.h>

namespace {

using vt::test::TScriptedServer;
using vt::test::TStep;

int ConnectPlain(const std::string& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    return fd;
}

std::string ReadExactly(int fd, size_t n) {
    std::string got;
    char buf[256];
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) break;
        const ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0) break;
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

TEST(ScriptedPeer, RecordsStepsAndTrailingBytesExactly) {
    TScriptedServer server({TStep::In("abcde"), TStep::Out("xyz"), TStep::In("1")});
    const int fd = ConnectPlain(server.Port());
    ::send(fd, "abc", 3, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::send(fd, "de", 2, 0);
    EXPECT_EQ(ReadExactly(fd, 3), "xyz");
    ::send(fd, "1tail", 5, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::close(fd);
    for (int i = 0; i < 300 && !server.Finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(server.Finished());
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"abcde", "1"}));
    EXPECT_EQ(server.Trailing(), "tail");
}

TEST(ScriptedPeer, EchoServerReturnsWhatItGets) {
    vt::test::TEchoServer echo;
    const int fd = ConnectPlain(std::to_string(echo.Port()));
    const std::string sent(20000, 'e');
    vt::test::SendAll(fd, sent.data(), sent.size());
    EXPECT_EQ(ReadExactly(fd, sent.size()), sent);
    ::close(fd);
    EXPECT_EQ(echo.Connections(), 1);
}

} // namespace

// The loopback echo server that the SOCKS servers relay to, checked with plain
// sockets.

#include "net/interop/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    return fd;
}

void SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        done += static_cast<size_t>(n);
    }
}

std::string ReadExactly(int fd, size_t n) {
    std::string got;
    char buf[4096];
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) break;
        const ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0) break;
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

TEST(EchoPeer, ServesTwoClientsAtOnceWithoutMixingTheirBytes) {
    vt::test::TEchoServer echo;
    const int a = ConnectTo(echo.Port());
    const int b = ConnectTo(echo.Port());
    const std::string toA(30000, 'a');
    const std::string toB = "only b";
    SendAll(a, toA);
    SendAll(b, toB);
    EXPECT_EQ(ReadExactly(b, toB.size()), toB);
    EXPECT_EQ(ReadExactly(a, toA.size()), toA);
    ::close(a);
    ::close(b);
    EXPECT_EQ(echo.Connections(), 2);
}

} // namespace

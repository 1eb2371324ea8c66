#include "net/BsdPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::test {

TBsdEchoServer::TBsdEchoServer() {
    FListenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (FListenFd < 0 || ::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(FListenFd, 1) != 0 ||
        ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("echo server: cannot listen");
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Serve(); });
}

TBsdEchoServer::~TBsdEchoServer() {
    FStop = true;
    FThread.join();
    ::close(FListenFd);
}

void TBsdEchoServer::Serve() {
    // Polls with a short time-out so the destructor can always end the thread.
    pollfd p{FListenFd, POLLIN, 0};
    while (!FStop && ::poll(&p, 1, 50) <= 0) {
    }
    if (FStop) return;
    const int fd = ::accept(FListenFd, nullptr, nullptr);
    if (fd < 0) return;
    char buf[65536];
    pollfd c{fd, POLLIN, 0};
    while (!FStop) {
        if (::poll(&c, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) {
            FPeerClosed = true;
            break;
        }
        for (ssize_t off = 0; off < n;) {
            const ssize_t w = ::send(fd, buf + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
            if (w <= 0) break;
            off += w;
        }
        FEchoed += n;
    }
    ::close(fd);
}

} // namespace vt::test

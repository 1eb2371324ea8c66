#include "HostPeer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::test {

namespace {

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int HostListen(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    port = HostLocalPort(fd);
    return fd;
}

int HostClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int port = HostLocalPort(fd);
    ::close(fd);
    return port;
}

int HostAccept(int listenFd, int timeoutMs) {
    if (!WaitReadable(listenFd, timeoutMs)) return -1;
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

int HostConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool HostSendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string HostReceive(int fd, std::size_t count, int timeoutMs) {
    std::string result;
    const std::int64_t deadline = NowMs() + timeoutMs;
    char buf[65536];
    while (result.size() < count) {
        const std::int64_t left = deadline - NowMs();
        if (left <= 0 || !WaitReadable(fd, static_cast<int>(left))) break;
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - result.size()), 0);
        if (n <= 0) break;
        result.append(buf, static_cast<std::size_t>(n));
    }
    return result;
}

std::string HostDrain(int fd) {
    std::string result;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) break;
        result.append(buf, static_cast<std::size_t>(n));
    }
    return result;
}

std::string HostAwaitEnd(int fd, int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    char buf[4096];
    for (;;) {
        const std::int64_t left = deadline - NowMs();
        if (left <= 0 || !WaitReadable(fd, static_cast<int>(left))) return "timeout";
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) return "eof";
        if (n < 0) return errno == ECONNRESET ? "reset" : "error";
    }
}

void HostAbort(int fd) {
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

void HostClose(int fd) {
    if (fd >= 0) ::close(fd);
}

int HostLocalPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
    return ntohs(addr.sin_port);
}

} // namespace vt::test

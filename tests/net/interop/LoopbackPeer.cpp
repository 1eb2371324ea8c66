// The loopback peers of LoopbackPeer.h. Built into a test binary by exactly one
// translation unit that does not see the Winsock declarations.

#include "net/interop/LoopbackPeer.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::test {

namespace {

bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

void SendAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

} // namespace

int ListenLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    port = ntohs(sa.sin_port);
    return fd;
}

void CloseDescriptor(int fd) {
    ::close(fd);
}

TScriptedServer::TScriptedServer(std::vector<TStep> script) : FScript(std::move(script)) {
    FListener = ListenLoopback(FPort);
    FThread = std::thread([this] { Run(); });
}

TScriptedServer::~TScriptedServer() {
    FStop = true;
    FThread.join();
    ::close(FListener);
}

std::vector<std::string> TScriptedServer::Received() {
    std::lock_guard lock(FMutex);
    return FReceived;
}

std::string TScriptedServer::Trailing() {
    std::lock_guard lock(FMutex);
    return FTrailing;
}

void TScriptedServer::Run() {
    int fd = -1;
    for (int waited = 0; fd < 0 && waited < StepTimeoutMs && !FStop; waited += 20) {
        if (Readable(FListener, 20)) fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (fd < 0) {
        FFinished = true;
        return;
    }
    for (const TStep& step : FScript) {
        if (step.Kind == TStep::Expect) {
            std::string got = ReadUpTo(fd, step.Bytes.size());
            std::lock_guard lock(FMutex);
            FReceived.push_back(std::move(got));
        } else if (step.Kind == TStep::Reply) {
            SendAll(fd, step.Bytes.data(), step.Bytes.size());
        } else if (step.Kind == TStep::Pause) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.Ms));
        } else {
            ::close(fd);
            fd = -1;
            break;
        }
    }
    // Keep what the client still sends, until it closes or the test ends.
    while (fd >= 0 && !FStop) {
        if (!Readable(fd, 20)) continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        std::lock_guard lock(FMutex);
        FTrailing.append(buf, static_cast<size_t>(n));
    }
    if (fd >= 0) ::close(fd);
    FFinished = true;
}

std::string TScriptedServer::ReadUpTo(int fd, size_t count) {
    std::string got;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(StepTimeoutMs);
    while (got.size() < count && !FStop && std::chrono::steady_clock::now() < deadline) {
        if (!Readable(fd, 20)) continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

TEchoServer::TEchoServer() {
    FListener = ListenLoopback(FPort);
    FThread = std::thread([this] { Run(); });
}

TEchoServer::~TEchoServer() {
    FStop = true;
    FThread.join();
    ::close(FListener);
}

void TEchoServer::Run() {
    std::vector<pollfd> fds{{FListener, POLLIN, 0}};
    while (!FStop) {
        if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
        const bool incoming = fds[0].revents & POLLIN;
        for (size_t i = 1; i < fds.size();) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[8192];
                const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(fds[i].fd);
                    fds.erase(fds.begin() + static_cast<long>(i));
                    continue;
                }
                SendAll(fds[i].fd, buf, static_cast<size_t>(n));
            }
            ++i;
        }
        if (incoming) {
            const int c = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                fds.push_back({c, POLLIN, 0});
                ++FConnections;
            }
        }
    }
    for (size_t i = 1; i < fds.size(); ++i)
        ::close(fds[i].fd);
}

} // namespace vt::test

#include "support/CannedServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::test {

namespace {

// Waits up to ms for fd to become readable; false on time-out.
bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

void SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return; // the client went away; nothing more to say
        sent += static_cast<size_t>(n);
    }
}

// The value of "Content-Length:" in a request head, 0 when absent.
size_t RequestBodyLength(const std::string& head) {
    const size_t at = head.find("\r\nContent-Length: ");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 18));
}

} // namespace

TCannedServer::TCannedServer(std::vector<TCannedReply> Replies, bool RepeatLast)
    : FReplies(std::move(Replies)), FRepeatLast(RepeatLast) {
    FListenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(FListenFd, 16) != 0 ||
        ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("canned server cannot listen");
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Serve(); });
}

TCannedServer::~TCannedServer() {
    FStop = true;
    FThread.join();
    ::close(FListenFd);
}

std::vector<std::string> TCannedServer::Requests() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRequests;
}

void TCannedServer::Serve() {
    while (!FStop) {
        if (!WaitReadable(FListenFd, 20)) continue;
        const int fd = ::accept(FListenFd, nullptr, nullptr);
        if (fd < 0) continue;
        const size_t index = static_cast<size_t>(FConnections.load());
        const TCannedReply* reply = nullptr;
        if (index < FReplies.size())
            reply = &FReplies[index];
        else if (FRepeatLast && !FReplies.empty())
            reply = &FReplies.back();
        ServeOne(fd, reply);
        ++FConnections;
    }
}

std::string TCannedServer::ReadRequest(int fd) {
    std::string request;
    char buf[4096];
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    // Bounded: a request head or body never takes longer than a few seconds here.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!FStop && std::chrono::steady_clock::now() < deadline) {
        if (headEnd != std::string::npos && request.size() >= wanted) break;
        if (!WaitReadable(fd, 20)) continue;
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
        if (headEnd == std::string::npos) {
            headEnd = request.find("\r\n\r\n");
            if (headEnd != std::string::npos)
                wanted = headEnd + 4 + RequestBodyLength(request.substr(0, headEnd + 2));
        }
    }
    return request;
}

void TCannedServer::ServeOne(int fd, const TCannedReply* reply) {
    const std::string request = ReadRequest(fd);
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FRequests.push_back(request);
    }
    if (reply != nullptr) {
        for (size_t i = 0; i < reply->Pieces.size() && !FStop; ++i) {
            if (i > 0 && reply->PauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply->PauseMs));
            SendAll(fd, reply->Pieces[i]);
        }
        if (reply->HoldOpen) {
            // Until the client closes (or the server stops).
            char buf[512];
            while (!FStop) {
                if (!WaitReadable(fd, 20)) continue;
                if (::recv(fd, buf, sizeof(buf), 0) <= 0) break;
            }
        }
        if (reply->Reset) {
            linger hard{1, 0}; // a zero linger turns the close into a reset
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        }
    }
    ::close(fd);
}

} // namespace vt::test

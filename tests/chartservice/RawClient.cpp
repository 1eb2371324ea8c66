#include "chartservice/RawClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::test {

std::string RawExchange(int port, const std::string& request, std::size_t chunk, int pauseMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{8, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        for (std::size_t at = 0; at < request.size();) {
            const std::size_t n = chunk ? std::min(chunk, request.size() - at) : request.size();
            if (::send(fd, request.data() + at, n, MSG_NOSIGNAL) <= 0) break;
            at += n;
            if (pauseMs) ::usleep(pauseMs * 1000);
        }
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            response.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return response;
}

} // namespace vt::test

#include "platform/winsock/HostCalls.h"

#include "platform/winsock/WinsockDefs.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vt::ws {

namespace {

template <typename... Args> long Call(long number, Args... args) {
    return syscall(number, args...);
}

} // namespace

int HostSocket(int domain, int type, int protocol) {
    return static_cast<int>(Call(SYS_socket, domain, type, protocol));
}

int HostBind(int fd, const void* addr, unsigned len) {
    return static_cast<int>(Call(SYS_bind, fd, addr, len));
}

int HostConnect(int fd, const void* addr, unsigned len) {
    return static_cast<int>(Call(SYS_connect, fd, addr, len));
}

int HostListen(int fd, int backlog) {
    return static_cast<int>(Call(SYS_listen, fd, backlog));
}

int HostAccept(int fd, void* addr, unsigned* len) {
    return static_cast<int>(Call(SYS_accept4, fd, addr, len, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

ssize_t HostSendTo(int fd, const void* buf, std::size_t len, int flags, const void* to,
                   unsigned tolen) {
    // No SIGPIPE: a write to a closed connection is an error code, as on Winsock.
    return Call(SYS_sendto, fd, buf, len, flags | MSG_NOSIGNAL, to, tolen);
}

ssize_t HostRecvFrom(int fd, void* buf, std::size_t len, int flags, void* from, unsigned* fromlen) {
    return Call(SYS_recvfrom, fd, buf, len, flags, from, fromlen);
}

ssize_t HostRecvTelling(int fd, void* buf, std::size_t len, int& left) {
    iovec part{buf, len};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = Call(SYS_recvmsg, fd, &msg, 0);
    left = -1;
    if (n <= 0) return n;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_TCP && c->cmsg_type == TCP_CM_INQ)
            std::memcpy(&left, CMSG_DATA(c), sizeof left);
    }
    return n;
}

void HostTellBytesLeft(int fd) {
    const int on = 1;
    Call(SYS_setsockopt, fd, SOL_TCP, TCP_INQ, &on, sizeof on); // without it reads just don't tell
}

int HostShutdown(int fd, int how) {
    return static_cast<int>(Call(SYS_shutdown, fd, how));
}

int HostSetSockOpt(int fd, int level, int name, const void* value, unsigned len) {
    return static_cast<int>(Call(SYS_setsockopt, fd, level, name, value, len));
}

int HostGetSockName(int fd, void* addr, unsigned* len) {
    return static_cast<int>(Call(SYS_getsockname, fd, addr, len));
}

int HostGetPeerName(int fd, void* addr, unsigned* len) {
    return static_cast<int>(Call(SYS_getpeername, fd, addr, len));
}

int WsaErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS:
        return WSAEWOULDBLOCK; // non-blocking connect under way
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETOOMANYREFS:
        return WSAETOOMANYREFS;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case ENOTEMPTY:
        return WSAENOTEMPTY;
    case EUSERS:
        return WSAEUSERS;
    case EDQUOT:
        return WSAEDQUOT;
    case ESTALE:
        return WSAESTALE;
    case EREMOTE:
        return WSAEREMOTE;
    default:
        return WSAEINVAL;
    }
}

int WsaErrorFromGai(int gaiError, int err) {
    switch (gaiError) {
    case 0:
        return 0;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
    case EAI_MEMORY:
        return WSAENOBUFS;
    case EAI_SYSTEM:
        return err != 0 ? WsaErrorFromErrno(err) : WSANO_RECOVERY;
    default:
        return WSANO_RECOVERY;
    }
}

} // namespace vt::ws

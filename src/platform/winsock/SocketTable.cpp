#include "platform/winsock/SocketTable.h"

#include "platform/messages/Messages.h"
#include "platform/winsock/Faults.h"
#include "platform/winsock/HostCalls.h"
#include "platform/winsock/SelectRules.h"
#include "platform/winsock/WinsockDefs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::ws {

namespace {

thread_local int tLastError = 0;

constexpr int kAddrLen = sizeof(sockaddr_in);
// Blocking calls wait in slices so that a closesocket from another thread ends them.
constexpr int kBlockingSliceMs = 100;

SocketId FailSocket(int code) {
    tLastError = code;
    return kInvalidSocket;
}

// Checks a Winsock address argument; 0 when usable.
int CheckAddress(const void* addr, int len) {
    if (addr == nullptr || len < kAddrLen) return WSAEFAULT;
    sockaddr_in in{};
    std::memcpy(&in, addr, kAddrLen);
    return in.sin_family == AF_INET ? 0 : WSAEAFNOSUPPORT;
}

bool IsAnyAddress(const void* addr) {
    sockaddr_in in{};
    std::memcpy(&in, addr, kAddrLen);
    return in.sin_addr.s_addr == htonl(INADDR_ANY) || in.sin_port == 0;
}

// Waits for the host descriptor in Winsock's blocking mode. False, with the last error
// set, when the socket was closed meanwhile or the wait failed.
bool WaitBlocking(std::unique_lock<std::mutex>& lock, const EntryPtr& e, short events) {
    for (;;) {
        lock.unlock();
        pollfd p{e->Fd, events, 0};
        const int rc = ::poll(&p, 1, kBlockingSliceMs);
        const int err = errno;
        lock.lock();
        if (e->Closed) {
            Fail(WSAEINTR);
            return false;
        }
        if (rc > 0) return true;
        if (rc < 0 && err != EINTR) {
            Fail(WsaErrorFromErrno(err));
            return false;
        }
    }
}

// Resets the connection for the fault knob: the peer sees a real reset.
void InjectReset(Entry& e) {
    const linger hard{1, 0};
    HostSetSockOpt(e.Fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    sockaddr unspec{};
    unspec.sa_family = AF_UNSPEC;
    HostConnect(e.Fd, &unspec, sizeof unspec);
    e.Terminal = true;
    e.PeerClosed = true;
    e.ResetError = WSAECONNRESET;
    // A reset drops what was received and not yet read, held bytes included.
    e.AheadAt = e.AheadEnd = 0;
    e.HostLeft = -1;
}

// --- Data ------------------------------------------------------------------------------

int ProbeStream(std::unique_lock<std::mutex>& lock, const EntryPtr& e) {
    // A zero-length recv tells whether reading would block, as on Winsock.
    if (e->Held() > 0) return 0;
    for (;;) {
        if (PollNow(e->Fd, POLLIN | POLLRDHUP) & (POLLIN | POLLRDHUP | POLLHUP | POLLERR))
            return e->ResetError != 0 ? Fail(e->ResetError) : 0;
        if (e->NonBlocking) return Fail(WSAEWOULDBLOCK);
        if (!WaitBlocking(lock, e, POLLIN)) return -1;
    }
}

// A block of the read-ahead: reads this small or smaller are served from memory.
constexpr std::size_t kReadAheadBlock = 128 * 1024;

// One plain read from the host; `left` receives what it still holds. A read short of
// its request emptied the queue. The host is asked to tell the rest with every read
// only after a full one, so that a small exchange never pays for the option.
ssize_t HostRead(Entry& e, char* buf, std::size_t len, int& left) {
    const bool endArrived = e.PeerClosed && !e.Terminal && e.ResetError == 0;
    const ssize_t got = HostRecvTelling(e.Fd, buf, len, left);
    if (left > 0 && endArrived) --left; // the host counts a received end as one byte
    if (got <= 0 || left >= 0) return got;
    if (static_cast<std::size_t>(got) < len) {
        left = 0;
        // The peer's end had arrived, so every byte before it was queued and is read
        // now: the end is next, and nothing can follow it.
        if (endArrived) e.EndRead = true;
    } else if (!e.TellsLeft) {
        HostTellBytesLeft(e.Fd);
        e.TellsLeft = true;
        left = BytesWaiting(e.Fd);
    }
    return got;
}

// One read of stream data, in order: held bytes first, then what the host has. A plain
// read smaller than a block that finds nothing held takes a block from the host; a read
// that empties the block while the host still has data goes on with the next block, so
// the caller sees the same full reads it would see without the read-ahead.
ssize_t ReadStreamBytes(Entry& e, char* buf, std::size_t want, int flags) {
    const bool peek = (flags & MSG_PEEK) != 0;
    if ((flags & MSG_OOB) != 0) return HostRecvFrom(e.Fd, buf, want, flags, nullptr, nullptr);
    if (e.Held() == 0) {
        if (peek) return HostRecvFrom(e.Fd, buf, want, flags, nullptr, nullptr);
        if (want >= kReadAheadBlock) return HostRead(e, buf, want, e.LeftAfterRecv);
        if (!e.Ahead) e.Ahead.reset(new char[kReadAheadBlock]);
        const ssize_t got = HostRead(e, e.Ahead.get(), kReadAheadBlock, e.HostLeft);
        if (got <= 0) return got;
        e.AheadAt = 0;
        e.AheadEnd = static_cast<std::size_t>(got);
    }
    std::size_t done = 0;
    for (;;) {
        const std::size_t n = std::min(want - done, e.Held());
        std::memcpy(buf + done, e.Ahead.get() + e.AheadAt, n);
        done += n;
        if (peek) return static_cast<ssize_t>(done);
        e.AheadAt += n;
        // The host says 1 for a peer's end as well: more than 1 is certainly data.
        if (done == want || e.HostLeft <= 1) break;
        const ssize_t got = HostRead(e, e.Ahead.get(), kReadAheadBlock, e.HostLeft);
        if (got <= 0) break;
        e.AheadAt = 0;
        e.AheadEnd = static_cast<std::size_t>(got);
    }
    // What is left: the held bytes and what the host had behind them.
    e.LeftAfterRecv =
        e.Held() == 0 ? e.HostLeft : static_cast<int>(e.Held()) + std::max(e.HostLeft, 0);
    return static_cast<ssize_t>(done);
}

int ReceiveStream(std::unique_lock<std::mutex>& lock, const EntryPtr& e, char* buf, int len,
                  int flags) {
    if (len == 0) return ProbeStream(lock, e);
    std::size_t want = static_cast<std::size_t>(len);
    const long resetAfter = Faults().RecvResetAfter.load(std::memory_order_relaxed);
    const bool counted = resetAfter > 0 && (flags & (MSG_OOB | MSG_PEEK)) == 0;
    if (counted) {
        if (e->Received >= resetAfter && e->ResetError == 0) InjectReset(*e);
        want = std::min<std::size_t>(
            want, static_cast<std::size_t>(std::max<long long>(resetAfter - e->Received, 1)));
    }
    // Past the end the host's queue stays empty: no need to ask it again.
    if (e->EndRead && e->Held() == 0 && (flags & MSG_OOB) == 0)
        return e->ResetError != 0 ? Fail(e->ResetError) : 0;
    for (;;) {
        // A plain read also learns what it leaves queued, for BytesLeftByRecv.
        e->LeftAfterRecv = -1;
        const ssize_t n = ReadStreamBytes(*e, buf, want, flags & (MSG_OOB | MSG_PEEK));
        if (n > 0) {
            if ((flags & MSG_PEEK) == 0) e->Received += n;
            if (counted && e->Received >= resetAfter) {
                InjectReset(*e);
                if (!e->CloseReported && Wants(*e, FD_CLOSE)) {
                    e->CloseReported = true;
                    Post(*e, FD_CLOSE, e->ResetError);
                }
            }
            return static_cast<int>(n);
        }
        const int err = n == 0 ? 0 : errno;
        if (e->ResetError != 0 && (err == 0 || err == ENOTCONN)) return Fail(e->ResetError);
        if (n == 0) {
            e->PeerClosed = true;
            e->EndRead = true;
            return 0;
        }
        if (err == EINTR) continue;
        if (err == EAGAIN) {
            if (e->NonBlocking) return Fail(WSAEWOULDBLOCK);
            if (!WaitBlocking(lock, e, POLLIN | POLLPRI)) return -1;
            continue;
        }
        const int code = WsaErrorFromErrno(err);
        if (err == ECONNRESET || err == ETIMEDOUT || err == ECONNABORTED) {
            e->ResetError = code;
            e->Terminal = true;
            e->PeerClosed = true;
        }
        return Fail(code);
    }
}

int ReceiveDatagram(std::unique_lock<std::mutex>& lock, const EntryPtr& e, char* buf, int len,
                    int flags, void* from, int* fromlen) {
    for (;;) {
        sockaddr_in peer{};
        unsigned peerLen = sizeof peer;
        // MSG_TRUNC makes the host tell the real size of a datagram cut to fit.
        const ssize_t n = HostRecvFrom(e->Fd, buf, static_cast<std::size_t>(len),
                                       (flags & (MSG_OOB | MSG_PEEK)) | MSG_TRUNC, &peer, &peerLen);
        if (n >= 0) {
            if (from != nullptr) {
                std::memcpy(from, &peer, kAddrLen);
                *fromlen = kAddrLen;
            }
            // Winsock fills the buffer and reports the rest of the datagram as lost.
            return n > len ? Fail(WSAEMSGSIZE) : static_cast<int>(n);
        }
        const int err = errno;
        if (err == EINTR) continue;
        if (err == EAGAIN) {
            if (e->NonBlocking) return Fail(WSAEWOULDBLOCK);
            if (!WaitBlocking(lock, e, POLLIN)) return -1;
            continue;
        }
        // An ICMP refusal of an earlier datagram reads as a reset on Winsock.
        return Fail(err == ECONNREFUSED ? WSAECONNRESET : WsaErrorFromErrno(err));
    }
}

int Receive(SocketId s, char* buf, int len, int flags, void* from, int* fromlen) {
    std::unique_lock lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (len < 0 || (len > 0 && buf == nullptr)) return Fail(WSAEFAULT);
    if (from != nullptr && (fromlen == nullptr || *fromlen < kAddrLen)) return Fail(WSAEFAULT);
    if ((flags & ~(MSG_OOB | MSG_PEEK)) != 0) return Fail(WSAEOPNOTSUPP);
    const bool stream = e->Type == SOCK_STREAM;
    UpdateConnecting(*e);
    if (stream && e->State != Phase::Connected) return Fail(WSAENOTCONN);
    if (!stream && !e->Bound) return Fail(WSAEINVAL);
    // Another read at an end already met changes nothing a notification depends on.
    const bool endAgain = stream && e->EndRead && e->Held() == 0 && (flags & MSG_OOB) == 0;
    const int result = stream ? ReceiveStream(lock, e, buf, len, flags)
                              : ReceiveDatagram(lock, e, buf, len, flags, from, fromlen);
    if (endAgain && (e->CloseReported || !Wants(*e, FD_CLOSE))) {
        e->ReadEnabled = true;
        return result;
    }
    // recv is the re-enabling call of FD_READ (FD_OOB with MSG_OOB). A plain read that
    // took data or found none leaves the connection as it was, so the cheap way serves.
    if (!e->Closed) {
        const bool plain =
            stream && flags == 0 && (result > 0 || (result < 0 && LastError() == WSAEWOULDBLOCK));
        if (flags & MSG_OOB) {
            e->OobEnabled = true;
            Refresh(*e);
        } else if (!(plain && ReenableRead(*e))) {
            e->ReadEnabled = true;
            Refresh(*e);
        }
    }
    return result;
}

int Transmit(SocketId s, const char* buf, int len, int flags, const void* to, int tolen) {
    std::unique_lock lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (len < 0 || (len > 0 && buf == nullptr)) return Fail(WSAEFAULT);
    if ((flags & ~(MSG_OOB | MSG_DONTROUTE)) != 0) return Fail(WSAEOPNOTSUPP);
    const bool stream = e->Type == SOCK_STREAM;
    UpdateConnecting(*e);
    if (stream) {
        to = nullptr; // a connected stream ignores a destination, as on Winsock
        if (e->State != Phase::Connected) return Fail(WSAENOTCONN);
        if (e->ResetError != 0) return Fail(e->ResetError);
        if (e->SendShut) return Fail(WSAESHUTDOWN);
    } else if (to != nullptr) {
        if (const int bad = CheckAddress(to, tolen)) return Fail(bad);
        if (IsAnyAddress(to)) return Fail(WSAEADDRNOTAVAIL);
    } else if (e->State != Phase::Connected) {
        return Fail(WSAENOTCONN);
    }
    if (InjectSendWouldBlock()) {
        e->WriteArmed = true;
        Refresh(*e);
        return Fail(WSAEWOULDBLOCK);
    }
    std::size_t want = static_cast<std::size_t>(len);
    const long sendMax = Faults().SendMax.load(std::memory_order_relaxed);
    if (stream && sendMax > 0) want = std::min(want, static_cast<std::size_t>(sendMax));

    std::size_t total = 0;
    for (;;) {
        const ssize_t n =
            HostSendTo(e->Fd, buf + total, want - total, flags, to, to != nullptr ? kAddrLen : 0);
        if (n >= 0) {
            total += static_cast<std::size_t>(n);
            if (!stream || total == want || e->NonBlocking) break;
            continue; // blocking mode sends everything
        }
        const int err = errno;
        if (err == EINTR) continue;
        if (err == EAGAIN) {
            if (e->NonBlocking) {
                if (total > 0) break;
                e->WriteArmed = true; // FD_WRITE once the host takes data again
                Refresh(*e);
                return Fail(WSAEWOULDBLOCK);
            }
            if (!WaitBlocking(lock, e, POLLOUT)) return -1;
            continue;
        }
        if (err == EPIPE && e->SendShut) return Fail(WSAESHUTDOWN);
        const int code = WsaErrorFromErrno(err);
        if (stream && (err == ECONNRESET || err == EPIPE)) {
            e->ResetError = code;
            e->Terminal = true;
        }
        if (!stream && err == ECONNREFUSED) return Fail(WSAECONNRESET);
        return Fail(code);
    }
    if (!stream) e->Bound = true; // the host bound it on the first datagram
    // Fewer bytes than asked means the rest would block: FD_WRITE follows when room is
    // back, otherwise a caller waiting for it to send the rest would wait for ever.
    if (stream && total < static_cast<std::size_t>(len)) {
        e->WriteArmed = true;
        Refresh(*e);
    }
    return static_cast<int>(total);
}

void CloseEverything(std::vector<EntryPtr>& victims) {
    auto& table = Sockets();
    std::lock_guard lock(table.Mutex);
    for (auto& [id, e] : table.Sockets) {
        e->Closed = true;
        StopWatching(*e);
        victims.push_back(e);
    }
    table.Sockets.clear();
}

} // namespace

Table& Sockets() {
    // Never destroyed: watch handlers may run while the process exits.
    static auto* table = new Table;
    return *table;
}

EntryPtr Find(SocketId s) {
    auto& sockets = Sockets().Sockets;
    auto it = sockets.find(s);
    return it == sockets.end() ? nullptr : it->second;
}

void SetLastError(int code) {
    tLastError = code;
}
int LastError() {
    return tLastError;
}
int Fail(int code) {
    tLastError = code;
    return -1;
}

void Start() {
    Sockets().Starts.fetch_add(1);
}
bool Started() {
    return Sockets().Starts.load() > 0;
}

bool Stop() {
    auto& table = Sockets();
    int starts = table.Starts.load();
    do {
        if (starts <= 0) return false;
    } while (!table.Starts.compare_exchange_weak(starts, starts - 1));
    if (starts == 1) {
        // The last clean-up closes what is left, as Winsock does.
        std::vector<EntryPtr> victims;
        CloseEverything(victims);
    }
    return true;
}

SocketId OpenSocket(int family, int type, int protocol) {
    if (const long code = Faults().SocketError.load(std::memory_order_relaxed))
        return FailSocket(static_cast<int>(code));
    if (family != AF_INET) return FailSocket(WSAEAFNOSUPPORT);
    if (type == SOCK_STREAM) {
        if (protocol != 0 && protocol != IPPROTO_TCP) return FailSocket(WSAEPROTONOSUPPORT);
    } else if (type == SOCK_DGRAM) {
        if (protocol != 0 && protocol != IPPROTO_UDP) return FailSocket(WSAEPROTONOSUPPORT);
    } else {
        return FailSocket(WSAESOCKTNOSUPPORT);
    }
    const int fd = HostSocket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) return FailSocket(WsaErrorFromErrno(errno));
    auto e = std::make_shared<Entry>();
    e->Fd = fd;
    e->Type = type;
    auto& table = Sockets();
    std::lock_guard lock(table.Mutex);
    table.LastId += kSocketIdStep;
    e->Id = table.LastId;
    table.Sockets.emplace(e->Id, e);
    return e->Id;
}

int CloseSocket(SocketId s) {
    EntryPtr victim; // released after the lock: a lingering close may take a while
    {
        auto& table = Sockets();
        std::lock_guard lock(table.Mutex);
        auto it = table.Sockets.find(s);
        if (it == table.Sockets.end()) return Fail(WSAENOTSOCK);
        victim = std::move(it->second);
        table.Sockets.erase(it);
        victim->Closed = true;
        StopWatching(*victim);
        victim->Wnd = nullptr;
        if (victim->NonBlocking && victim->LingerOn && victim->LingerSeconds > 0) {
            // A non-blocking socket must not block in close: its data still goes out
            // in the background.
            const linger graceful{0, 0};
            HostSetSockOpt(victim->Fd, SOL_SOCKET, SO_LINGER, &graceful, sizeof graceful);
        }
    }
    return 0;
}

int Bind(SocketId s, const void* addr, int len) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (const int bad = CheckAddress(addr, len)) return Fail(bad);
    if (e->Bound) return Fail(WSAEINVAL);
    if (HostBind(e->Fd, addr, kAddrLen) != 0) return Fail(WsaErrorFromErrno(errno));
    e->Bound = true;
    Refresh(*e);
    return 0;
}

int Connect(SocketId s, const void* addr, int len) {
    std::unique_lock lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (const int bad = CheckAddress(addr, len)) return Fail(bad);
    if (IsAnyAddress(addr)) return Fail(WSAEADDRNOTAVAIL);
    UpdateConnecting(*e);
    if (e->Type == SOCK_DGRAM) {
        if (HostConnect(e->Fd, addr, kAddrLen) != 0) return Fail(WsaErrorFromErrno(errno));
        e->State = Phase::Connected;
        e->Bound = true;
        // Even an immediate datagram connect is reported.
        if (Wants(*e, FD_CONNECT)) Post(*e, FD_CONNECT, 0);
        Refresh(*e);
        return 0;
    }
    if (e->State == Phase::Connected) return Fail(WSAEISCONN);
    if (e->State == Phase::Connecting) return Fail(WSAEALREADY);
    if (e->State == Phase::Listening) return Fail(WSAEINVAL);
    const int rc = HostConnect(e->Fd, addr, kAddrLen);
    if (rc != 0 && errno != EINPROGRESS) return Fail(WsaErrorFromErrno(errno));
    e->State = Phase::Connecting;
    e->Bound = true;
    if (e->NonBlocking) {
        Refresh(*e); // FD_CONNECT follows, also after an immediate success
        return rc == 0 ? 0 : Fail(WSAEWOULDBLOCK);
    }
    while (e->State == Phase::Connecting) {
        if (!WaitBlocking(lock, e, POLLOUT)) return -1;
        UpdateConnecting(*e);
    }
    if (e->State == Phase::Failed) return Fail(e->ConnectError);
    Refresh(*e);
    return 0;
}

int Listen(SocketId s, int backlog) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (e->Type != SOCK_STREAM) return Fail(WSAEOPNOTSUPP);
    if (e->State == Phase::Connected || e->State == Phase::Connecting) return Fail(WSAEISCONN);
    if (!e->Bound) return Fail(WSAEINVAL);
    if (HostListen(e->Fd, std::max(backlog, 1)) != 0) return Fail(WsaErrorFromErrno(errno));
    e->State = Phase::Listening;
    e->AcceptEnabled = true;
    Refresh(*e);
    return 0;
}

SocketId Accept(SocketId s, void* addr, int* len) {
    std::unique_lock lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return FailSocket(WSAENOTSOCK);
    if (e->State != Phase::Listening) return FailSocket(WSAEINVAL);
    if (addr != nullptr && (len == nullptr || *len < kAddrLen)) return FailSocket(WSAEFAULT);
    sockaddr_in peer{};
    int fd = -1;
    for (;;) {
        unsigned peerLen = sizeof peer;
        fd = HostAccept(e->Fd, &peer, &peerLen);
        if (fd >= 0) break;
        const int err = errno;
        if (err == EINTR || err == ECONNABORTED) continue;
        if (err == EAGAIN && !e->NonBlocking) {
            if (!WaitBlocking(lock, e, POLLIN)) return kInvalidSocket;
            continue;
        }
        // accept re-enables FD_ACCEPT even when nothing was waiting.
        e->AcceptEnabled = true;
        Refresh(*e);
        return FailSocket(WsaErrorFromErrno(err));
    }
    auto n = std::make_shared<Entry>();
    n->Fd = fd;
    n->Type = SOCK_STREAM;
    n->State = Phase::Connected;
    n->Bound = true;
    n->NonBlocking = e->NonBlocking;
    n->LingerOn = e->LingerOn;
    n->LingerSeconds = e->LingerSeconds;
    // The accepted socket inherits the listener's notifications, FD_WRITE first.
    n->Wnd = e->Wnd;
    n->Msg = e->Msg;
    n->Mask = e->Mask;
    n->Owner = e->Owner;
    n->WriteArmed = true;
    auto& table = Sockets();
    table.LastId += kSocketIdStep;
    n->Id = table.LastId;
    table.Sockets.emplace(n->Id, n);
    Refresh(*n);
    e->AcceptEnabled = true;
    Refresh(*e);
    if (addr != nullptr) {
        std::memcpy(addr, &peer, kAddrLen);
        *len = kAddrLen;
    }
    return n->Id;
}

int Send(SocketId s, const char* buf, int len, int flags) {
    return Transmit(s, buf, len, flags, nullptr, 0);
}

int SendTo(SocketId s, const char* buf, int len, int flags, const void* to, int tolen) {
    return Transmit(s, buf, len, flags, to, tolen);
}

int Recv(SocketId s, char* buf, int len, int flags) {
    return Receive(s, buf, len, flags, nullptr, nullptr);
}

int RecvFrom(SocketId s, char* buf, int len, int flags, void* from, int* fromlen) {
    return Receive(s, buf, len, flags, from, fromlen);
}

int Shutdown(SocketId s, int how) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (how < SHUT_RD || how > SHUT_RDWR) return Fail(WSAEINVAL);
    UpdateConnecting(*e);
    if (e->Type == SOCK_STREAM && e->State != Phase::Connected) return Fail(WSAENOTCONN);
    if (HostShutdown(e->Fd, how) != 0 && e->ResetError == 0) return Fail(WsaErrorFromErrno(errno));
    if (how != SHUT_RD) e->SendShut = true;
    Refresh(*e);
    return 0;
}

int SetOption(SocketId s, Option option, int value, int value2) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    int level = SOL_SOCKET;
    int name = 0;
    int flag = value != 0 ? 1 : 0;
    const void* data = &flag;
    unsigned size = sizeof flag;
    linger l{};
    switch (option) {
    case Option::Debug:
        return 0; // accepted, nothing to switch on here
    case Option::ReuseAddr:
        name = SO_REUSEADDR;
        break;
    case Option::KeepAlive:
        name = SO_KEEPALIVE;
        break;
    case Option::DontRoute:
        name = SO_DONTROUTE;
        break;
    case Option::Broadcast:
        name = SO_BROADCAST;
        break;
    case Option::OobInline:
        name = SO_OOBINLINE;
        break;
    case Option::SendBuffer:
    case Option::ReceiveBuffer:
        if (value <= 0) return Fail(WSAEINVAL);
        name = option == Option::SendBuffer ? SO_SNDBUF : SO_RCVBUF;
        flag = value;
        break;
    case Option::NoDelay:
        if (e->Type != SOCK_STREAM) return Fail(WSAENOPROTOOPT);
        level = IPPROTO_TCP;
        name = TCP_NODELAY;
        break;
    case Option::Linger:
    case Option::DontLinger:
        if (e->Type != SOCK_STREAM) return Fail(WSAENOPROTOOPT);
        name = SO_LINGER;
        l.l_onoff = option == Option::Linger ? (value != 0) : (value == 0);
        l.l_linger = option == Option::Linger ? value2 : e->LingerSeconds;
        data = &l;
        size = sizeof l;
        break;
    }
    // A fresh socket does not linger: setting that again costs the host nothing to skip.
    if (name == SO_LINGER && (l.l_onoff != 0) == e->LingerOn && l.l_linger == e->LingerSeconds)
        return 0;
    if (HostSetSockOpt(e->Fd, level, name, data, size) != 0) return Fail(WsaErrorFromErrno(errno));
    if (name == SO_LINGER) {
        e->LingerOn = l.l_onoff != 0;
        e->LingerSeconds = l.l_linger;
    }
    return 0;
}

int IoControl(SocketId s, IoCommand command, unsigned long* arg) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (arg == nullptr) return Fail(WSAEFAULT);
    switch (command) {
    case IoCommand::BytesLeftByRecv:
        // What the host reported with the last plain recv. It says 1 for a peer's end
        // as well, so that value is looked up.
        if (e->LeftAfterRecv >= 0 && e->LeftAfterRecv != 1) {
            *arg = static_cast<unsigned long>(e->LeftAfterRecv);
            return 0;
        }
        [[fallthrough]];
    case IoCommand::BytesWaiting: {
        if (e->State == Phase::Listening) {
            *arg = 0;
            return 0;
        }
        int n = 0;
        if (!e->EndRead && ::ioctl(e->Fd, FIONREAD, &n) != 0) return Fail(WsaErrorFromErrno(errno));
        *arg = static_cast<unsigned long>(n) + e->Held();
        return 0;
    }
    case IoCommand::NonBlocking:
        // Notifications need a non-blocking socket.
        if (*arg == 0 && e->Mask != 0) return Fail(WSAEINVAL);
        e->NonBlocking = *arg != 0;
        return 0;
    case IoCommand::AtOobMark:
        *arg = (PollNow(e->Fd, POLLPRI) & POLLPRI) ? 0 : 1;
        return 0;
    }
    return Fail(WSAEINVAL);
}

int GetSockName(SocketId s, void* addr, int* len) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (addr == nullptr || len == nullptr || *len < kAddrLen) return Fail(WSAEFAULT);
    if (!e->Bound) return Fail(WSAEINVAL);
    sockaddr_in in{};
    unsigned inLen = sizeof in;
    if (HostGetSockName(e->Fd, &in, &inLen) != 0) return Fail(WsaErrorFromErrno(errno));
    std::memcpy(addr, &in, kAddrLen);
    *len = kAddrLen;
    return 0;
}

int GetPeerName(SocketId s, void* addr, int* len) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if (addr == nullptr || len == nullptr || *len < kAddrLen) return Fail(WSAEFAULT);
    UpdateConnecting(*e);
    if (e->State != Phase::Connected) return Fail(WSAENOTCONN);
    sockaddr_in in{};
    unsigned inLen = sizeof in;
    if (HostGetPeerName(e->Fd, &in, &inLen) != 0) return Fail(WsaErrorFromErrno(errno));
    std::memcpy(addr, &in, kAddrLen);
    *len = kAddrLen;
    return 0;
}

int AsyncSelect(SocketId s, HWND wnd, UINT msg, long events) {
    std::lock_guard lock(Sockets().Mutex);
    EntryPtr e = Find(s);
    if (!e) return Fail(WSAENOTSOCK);
    if ((events & ~FD_ALL_EVENTS) != 0) return Fail(WSAEINVAL);
    if (events != 0 && !IsWindow(wnd)) return Fail(WSAEINVAL);
    StopWatching(*e);
    e->Wnd = events != 0 ? wnd : nullptr;
    e->Msg = msg;
    e->Mask = events;
    e->Owner = std::this_thread::get_id();
    e->NonBlocking = true;
    // A new registration starts afresh: what holds now is reported at once.
    e->ReadEnabled = true;
    e->AcceptEnabled = true;
    e->OobEnabled = true;
    e->CloseReported = false;
    e->WriteArmed = e->Type == SOCK_DGRAM || (e->State == Phase::Connected && !e->Terminal);
    Refresh(*e);
    return 0;
}

} // namespace vt::ws

// The entry points of the socket library, with Winsock's names, signatures and numbers.
// They check start-up and arguments, translate Winsock's option and command numbers,
// and hand over to the socket table and the look-ups, which work in host terms.
#include "platform/winsock/Winsock.h"

#include "platform/winsock/Faults.h"
#include "platform/winsock/HostLookup.h"
#include "platform/winsock/SocketTable.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#define VT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using vt::ws::Fail;
using vt::ws::HostEntryLayout;
using vt::ws::ProtoEntryLayout;
using vt::ws::ServEntryLayout;

// The host-side writers and the program must agree on the entry layouts.
static_assert(sizeof(HostEntryLayout) == sizeof(hostent) &&
              offsetof(HostEntryLayout, h_name) == offsetof(hostent, h_name) &&
              offsetof(HostEntryLayout, h_aliases) == offsetof(hostent, h_aliases) &&
              offsetof(HostEntryLayout, h_addrtype) == offsetof(hostent, h_addrtype) &&
              offsetof(HostEntryLayout, h_length) == offsetof(hostent, h_length) &&
              offsetof(HostEntryLayout, h_addr_list) == offsetof(hostent, h_addr_list));
static_assert(sizeof(ServEntryLayout) == sizeof(servent) &&
              offsetof(ServEntryLayout, s_name) == offsetof(servent, s_name) &&
              offsetof(ServEntryLayout, s_aliases) == offsetof(servent, s_aliases) &&
              offsetof(ServEntryLayout, s_port) == offsetof(servent, s_port) &&
              offsetof(ServEntryLayout, s_proto) == offsetof(servent, s_proto));
static_assert(sizeof(ProtoEntryLayout) == sizeof(protoent) &&
              offsetof(ProtoEntryLayout, p_name) == offsetof(protoent, p_name) &&
              offsetof(ProtoEntryLayout, p_aliases) == offsetof(protoent, p_aliases) &&
              offsetof(ProtoEntryLayout, p_proto) == offsetof(protoent, p_proto));

constexpr WORD kHighVersion = 0x0101;
constexpr char kDescription[] = "Brenvik Vantrel Sockets 1.1";

// Every call but the start-up, the error functions and the byte-order and address
// helpers needs a started library.
bool Ready() {
    if (vt::ws::Started()) return true;
    vt::ws::SetLastError(WSANOTINITIALISED);
    return false;
}

bool ToOption(int level, int optname, vt::ws::Option& option) {
    using vt::ws::Option;
    if (level == IPPROTO_TCP) {
        option = Option::NoDelay;
        return optname == TCP_NODELAY;
    }
    if (level != SOL_SOCKET) return false;
    switch (optname) {
    case SO_DEBUG:
        option = Option::Debug;
        return true;
    case SO_REUSEADDR:
        option = Option::ReuseAddr;
        return true;
    case SO_KEEPALIVE:
        option = Option::KeepAlive;
        return true;
    case SO_DONTROUTE:
        option = Option::DontRoute;
        return true;
    case SO_BROADCAST:
        option = Option::Broadcast;
        return true;
    case SO_LINGER:
        option = Option::Linger;
        return true;
    case SO_DONTLINGER:
        option = Option::DontLinger;
        return true;
    case SO_OOBINLINE:
        option = Option::OobInline;
        return true;
    case SO_SNDBUF:
        option = Option::SendBuffer;
        return true;
    case SO_RCVBUF:
        option = Option::ReceiveBuffer;
        return true;
    default:
        return false;
    }
}

} // namespace

VT_EXPORT int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (const long code = vt::ws::Faults().StartupError.load()) return static_cast<int>(code);
    const int major = wVersionRequested & 0xFF;
    const int minor = (wVersionRequested >> 8) & 0xFF;
    // 1.0 and 1.1 are served; anything newer is answered with 1.1 for the caller to judge.
    if (major < 1) return WSAVERNOTSUPPORTED;
    if (lpWSAData == nullptr) return WSAEFAULT;
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    lpWSAData->wVersion = (major == 1 && minor == 0) ? WORD(0x0001) : kHighVersion;
    lpWSAData->wHighVersion = kHighVersion;
    std::snprintf(lpWSAData->szDescription, sizeof lpWSAData->szDescription, "%s", kDescription);
    std::snprintf(lpWSAData->szSystemStatus, sizeof lpWSAData->szSystemStatus, "Running");
    lpWSAData->iMaxSockets = 0x7FFF;
    lpWSAData->iMaxUdpDg = 65467;
    lpWSAData->lpVendorInfo = nullptr;
    vt::ws::Start();
    return 0;
}

VT_EXPORT int WSACleanup() {
    if (!vt::ws::Stop()) return Fail(WSANOTINITIALISED);
    if (!vt::ws::Started()) vt::ws::CancelAllAsync();
    return 0;
}

VT_EXPORT void WSASetLastError(int iError) {
    vt::ws::SetLastError(iError);
}

VT_EXPORT int WSAGetLastError() {
    return vt::ws::LastError();
}

VT_EXPORT int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::CancelAsync(reinterpret_cast<vt::ws::TaskId>(hAsyncTaskHandle));
}

VT_EXPORT HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf,
                                       int buflen) {
    if (!Ready()) return nullptr;
    return reinterpret_cast<HANDLE>(vt::ws::AsyncHostByName(hWnd, wMsg, name, buf, buflen));
}

VT_EXPORT HANDLE WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type,
                                       char* buf, int buflen) {
    if (!Ready()) return nullptr;
    return reinterpret_cast<HANDLE>(
        vt::ws::AsyncHostByAddr(hWnd, wMsg, addr, len, type, buf, buflen));
}

#ifndef VT_WINSOCK_NO_ASYNCSELECT
VT_EXPORT int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::AsyncSelect(s, hWnd, wMsg, lEvent);
}
#endif

VT_EXPORT servent* getservbyname(const char* name, const char* proto) {
    if (!Ready()) return nullptr;
    return reinterpret_cast<servent*>(vt::ws::ServByName(name, proto));
}

VT_EXPORT protoent* getprotobyname(const char* name) {
    if (!Ready()) return nullptr;
    return reinterpret_cast<protoent*>(vt::ws::ProtoByName(name));
}

VT_EXPORT hostent* gethostbyname(const char* name) {
    if (!Ready()) return nullptr;
    return reinterpret_cast<hostent*>(vt::ws::HostByName(name));
}

VT_EXPORT SOCKET socket(int af, int type, int protocol) {
    if (!Ready()) return INVALID_SOCKET;
    return vt::ws::OpenSocket(af, type, protocol);
}

VT_EXPORT int shutdown(SOCKET s, int how) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::Shutdown(s, how);
}

VT_EXPORT int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    if (!Ready()) return SOCKET_ERROR;
    vt::ws::Option option{};
    if (!ToOption(level, optname, option)) return Fail(WSAENOPROTOOPT);
    if (optval == nullptr) return Fail(WSAEFAULT);
    if (option == vt::ws::Option::Linger) {
        if (optlen < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
        linger value{};
        std::memcpy(&value, optval, sizeof value);
        return vt::ws::SetOption(s, option, value.l_onoff, value.l_linger);
    }
    // Winsock's BOOL and int options take four bytes.
    if (optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
    int value = 0;
    std::memcpy(&value, optval, sizeof value);
    return vt::ws::SetOption(s, option, value, 0);
}

VT_EXPORT int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::SendTo(s, buf, len, flags, to, tolen);
}

VT_EXPORT int send(SOCKET s, const char* buf, int len, int flags) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::Send(s, buf, len, flags);
}

VT_EXPORT int recv(SOCKET s, char* buf, int len, int flags) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::Recv(s, buf, len, flags);
}

VT_EXPORT int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::RecvFrom(s, buf, len, flags, from, fromlen);
}

VT_EXPORT u_short ntohs(u_short netshort) {
    return static_cast<u_short>((netshort >> 8) | (netshort << 8));
}

VT_EXPORT int listen(SOCKET s, int backlog) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::Listen(s, backlog);
}

VT_EXPORT int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    if (!Ready()) return SOCKET_ERROR;
    switch (cmd) {
    case FIONREAD:
        return vt::ws::IoControl(s, vt::ws::IoCommand::BytesWaiting, argp);
    case FIONREADLEFT:
        return vt::ws::IoControl(s, vt::ws::IoCommand::BytesLeftByRecv, argp);
    case FIONBIO:
        return vt::ws::IoControl(s, vt::ws::IoCommand::NonBlocking, argp);
    case SIOCATMARK:
        return vt::ws::IoControl(s, vt::ws::IoCommand::AtOobMark, argp);
    default:
        return Fail(WSAEINVAL);
    }
}

VT_EXPORT char* inet_ntoa(in_addr in) {
    thread_local char text[16]; // per thread, as Winsock keeps it
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", in.S_un.S_un_b.s_b1, in.S_un.S_un_b.s_b2,
                  in.S_un.S_un_b.s_b3, in.S_un.S_un_b.s_b4);
    return text;
}

VT_EXPORT u_long inet_addr(const char* cp) {
    if (cp == nullptr) return INADDR_NONE;
    // Berkeley's forms: a.b.c.d, a.b.c, a.b and a, each part decimal, octal (0...) or
    // hexadecimal (0x...); trailing blanks end the text.
    std::uint32_t parts[4] = {};
    int count = 0;
    const char* p = cp;
    for (;;) {
        if (count == 4 || !(*p >= '0' && *p <= '9')) return INADDR_NONE;
        std::uint64_t value = 0;
        int base = 10;
        if (*p == '0') {
            base = 8;
            ++p;
            if (*p == 'x' || *p == 'X') {
                base = 16;
                ++p;
            }
        }
        for (;; ++p) {
            int digit;
            if (*p >= '0' && *p <= '9')
                digit = *p - '0';
            else if (base == 16 && *p >= 'a' && *p <= 'f')
                digit = *p - 'a' + 10;
            else if (base == 16 && *p >= 'A' && *p <= 'F')
                digit = *p - 'A' + 10;
            else
                break;
            if (digit >= base) return INADDR_NONE;
            value = value * base + digit;
            if (value > 0xFFFFFFFFu) return INADDR_NONE;
        }
        parts[count++] = static_cast<std::uint32_t>(value);
        if (*p != '.') break;
        ++p;
    }
    for (; *p != '\0'; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return INADDR_NONE;
    std::uint32_t host = 0;
    switch (count) {
    case 1:
        host = parts[0];
        break;
    case 2:
        if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return INADDR_NONE;
        host = parts[0] << 24 | parts[1];
        break;
    case 3:
        if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return INADDR_NONE;
        host = parts[0] << 24 | parts[1] << 16 | parts[2];
        break;
    default:
        for (int i = 0; i < 4; ++i)
            if (parts[i] > 0xFF) return INADDR_NONE;
        host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
        break;
    }
    in_addr result{};
    result.S_un.S_un_b = {static_cast<u_char>(host >> 24), static_cast<u_char>(host >> 16),
                          static_cast<u_char>(host >> 8), static_cast<u_char>(host)};
    return result.S_un.S_addr;
}

VT_EXPORT u_short htons(u_short hostshort) {
    return static_cast<u_short>((hostshort >> 8) | (hostshort << 8));
}

VT_EXPORT int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::GetSockName(s, name, namelen);
}

VT_EXPORT int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::GetPeerName(s, name, namelen);
}

VT_EXPORT int connect(SOCKET s, const sockaddr* name, int namelen) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::Connect(s, name, namelen);
}

VT_EXPORT int closesocket(SOCKET s) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::CloseSocket(s);
}

VT_EXPORT int bind(SOCKET s, const sockaddr* addr, int namelen) {
    if (!Ready()) return SOCKET_ERROR;
    return vt::ws::Bind(s, addr, namelen);
}

VT_EXPORT SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    if (!Ready()) return INVALID_SOCKET;
    return vt::ws::Accept(s, addr, addrlen);
}

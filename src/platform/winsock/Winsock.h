#pragma once
// Windows Sockets 1.1 as the program sees it: types, constants, error codes and one
// function-pointer type per entry point of "wsock32.dll", the socket library that is
// loaded by name at run time (dlopen with RTLD_LOCAL, never linked) and resolved entry
// point by entry point.
//
// Layouts and numbers are Winsock's, not the host's (SOL_SOCKET is 0xffff, linger holds
// two 16-bit words, hostent has 16-bit type and length), so this header stands in for the
// host's socket headers: a file includes either this one or <sys/socket.h>,
// <netinet/in.h>, <netdb.h>, never both.
//
// Notifications of WSAAsyncSelect are posted to the window with wParam = the socket and
// lParam = WSAMAKESELECTREPLY(event, error), one event per message. Socket handles are
// never reused, so a notification still queued when its socket was closed names no live
// socket; none is posted once closesocket has returned. WSAAsyncSelect is called on the
// thread that owns the window, and a socket with notifications is driven (recv, send,
// accept) from that thread: the watching happens in that thread's message queue.
//
// Lookup answers arrive with wParam = the task handle and lParam =
// WSAMAKEASYNCREPLY(bytes, error). The host entry is laid out at the start of the caller's
// buffer with every pointer pointing into that buffer; give a pointer-aligned buffer
// (alignas(hostent) char buf[MAXGETHOSTSTRUCT]).

#if defined(_SYS_SOCKET_H) || defined(_NETINET_IN_H) || defined(_NETDB_H) || defined(_ARPA_INET_H)
#error "Winsock.h replaces the host's socket headers; do not include both in one file"
#endif

#include "platform/runtime/WinTypes.h"
#include "platform/winsock/WinsockDefs.h"

#include <cstdint>
// struct timeval: the host's has Winsock's fields (seconds and microseconds, both long)
// and comes with the C library's headers anyway, so it is shared rather than redefined.
#include <sys/time.h>

// Same types as the host's <sys/types.h> declares, so both may meet in one program.
typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef unsigned long u_long;

using HANDLE = void*;
using SOCKET = UINT_PTR;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

constexpr WORD WINSOCK_VERSION = 0x0101; // 1.1: major in the low byte
constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

// An IPv4 address in network byte order.
struct in_addr {
    union {
        union {
            struct {
                u_char s_b1, s_b2, s_b3, s_b4;
            } S_un_b;
            struct {
                u_short s_w1, s_w2;
            } S_un_w;
            std::uint32_t S_addr;
        } S_un;
        std::uint32_t s_addr;
    };
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port; // network byte order
    in_addr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr) == 16);

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list; // null-terminated list of h_length-byte addresses
};

struct servent {
    char* s_name;
    char** s_aliases;
    short s_port; // network byte order
    char* s_proto;
};

struct protoent {
    char* p_name;
    char** p_aliases;
    short p_proto;
};

struct linger {
    u_short l_onoff;
    u_short l_linger; // seconds
};

using TIMEVAL = timeval;
using IN_ADDR = in_addr;
using SOCKADDR = sockaddr;
using SOCKADDR_IN = sockaddr_in;
using HOSTENT = hostent;
using SERVENT = servent;
using PROTOENT = protoent;
using LINGER = linger;

constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int PF_INET = AF_INET;

constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int SOCK_RAW = 3;

constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_ICMP = 1;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;
constexpr int IPPROTO_RAW = 255;

constexpr u_long INADDR_ANY = 0x00000000UL;
constexpr u_long INADDR_LOOPBACK = 0x7f000001UL; // host byte order
constexpr u_long INADDR_BROADCAST = 0xffffffffUL;
constexpr u_long INADDR_NONE = 0xffffffffUL;

constexpr int SOMAXCONN = 5;

constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int MSG_DONTROUTE = 0x4;

// shutdown
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr int SOL_SOCKET = 0xffff;
constexpr int SO_DEBUG = 0x0001;
constexpr int SO_ACCEPTCONN = 0x0002;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_DONTROUTE = 0x0010;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_USELOOPBACK = 0x0040;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_DONTLINGER = ~SO_LINGER;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_SNDLOWAT = 0x1003;
constexpr int SO_RCVLOWAT = 0x1004;
constexpr int SO_SNDTIMEO = 0x1005;
constexpr int SO_RCVTIMEO = 0x1006;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;

// ioctlsocket commands
constexpr long FIONREAD = 0x4004667FL;
constexpr long FIONBIO = static_cast<long>(0x8004667EUL);
constexpr long SIOCATMARK = 0x40047307L;
// Not a Windows Sockets command: the bytes a stream still held right after its last
// recv, as that read found them, so a receive loop that just read needs no fresh query
// to decide whether to read again. Anything else asks FIONREAD. _IOR('v', 127, u_long).
constexpr long FIONREADLEFT = 0x4004767FL;

// One type per entry point of the library, in the binding's table order.
using LPFN_WSASTARTUP = int (*)(WORD wVersionRequested, LPWSADATA lpWSAData);
using LPFN_WSACLEANUP = int (*)();
using LPFN_WSASETLASTERROR = void (*)(int iError);
using LPFN_WSAGETLASTERROR = int (*)();
using LPFN_WSACANCELASYNCREQUEST = int (*)(HANDLE hAsyncTaskHandle);
using LPFN_WSAASYNCGETHOSTBYNAME = HANDLE (*)(HWND hWnd, u_int wMsg, const char* name, char* buf,
                                              int buflen);
using LPFN_WSAASYNCGETHOSTBYADDR = HANDLE (*)(HWND hWnd, u_int wMsg, const char* addr, int len,
                                              int type, char* buf, int buflen);
using LPFN_WSAASYNCSELECT = int (*)(SOCKET s, HWND hWnd, u_int wMsg, long lEvent);
using LPFN_GETSERVBYNAME = servent* (*)(const char* name, const char* proto);
using LPFN_GETPROTOBYNAME = protoent* (*)(const char* name);
using LPFN_GETHOSTBYNAME = hostent* (*)(const char* name);
using LPFN_SOCKET = SOCKET (*)(int af, int type, int protocol);
using LPFN_SHUTDOWN = int (*)(SOCKET s, int how);
using LPFN_SETSOCKOPT = int (*)(SOCKET s, int level, int optname, const char* optval, int optlen);
using LPFN_SENDTO = int (*)(SOCKET s, const char* buf, int len, int flags, const sockaddr* to,
                            int tolen);
using LPFN_SEND = int (*)(SOCKET s, const char* buf, int len, int flags);
using LPFN_RECV = int (*)(SOCKET s, char* buf, int len, int flags);
using LPFN_RECVFROM = int (*)(SOCKET s, char* buf, int len, int flags, sockaddr* from,
                              int* fromlen);
using LPFN_NTOHS = u_short (*)(u_short netshort);
using LPFN_LISTEN = int (*)(SOCKET s, int backlog);
using LPFN_IOCTLSOCKET = int (*)(SOCKET s, long cmd, u_long* argp);
using LPFN_INET_NTOA = char* (*)(in_addr in);
using LPFN_INET_ADDR = u_long (*)(const char* cp);
using LPFN_HTONS = u_short (*)(u_short hostshort);
using LPFN_GETSOCKNAME = int (*)(SOCKET s, sockaddr* name, int* namelen);
using LPFN_GETPEERNAME = int (*)(SOCKET s, sockaddr* name, int* namelen);
using LPFN_CONNECT = int (*)(SOCKET s, const sockaddr* name, int namelen);
using LPFN_CLOSESOCKET = int (*)(SOCKET s);
using LPFN_BIND = int (*)(SOCKET s, const sockaddr* addr, int namelen);
using LPFN_ACCEPT = SOCKET (*)(SOCKET s, sockaddr* addr, int* addrlen);

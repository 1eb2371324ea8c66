// The scripted variant of the socket library (see ScriptControl.h): Winsock's entry
// points over connections whose peer is played from a script, with no real socket. It
// serves one thread, the one that connects (as a fuzz target or a test does).
#include "platform/winsock/ScriptControl.h"
#include "platform/winsock/Winsock.h"

#include "platform/messages/Messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#define VT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr UINT WM_SCRIPT_STEP = WM_USER + 1;
// What the program sent is kept up to this size; the rest is only counted.
constexpr size_t MaxSentKept = 1 << 20;
constexpr long Loopback = 0x0100007F; // 127.0.0.1 in network byte order

enum Op { OpData, OpClose, OpReset, OpRecvLimit, OpRefuse, OpPause, OpLookupFail, OpBigData };

struct Conn {
    HWND Wnd = nullptr;
    UINT Msg = 0;
    long Mask = 0;
    bool Connected = false;
    bool PeerClosed = false;
    bool Reset = false;
    bool CloseReported = false;
    bool ReadEnabled = true;
    u_short Port = 0;
    std::string Rx; // bytes the peer sent and the program has not read
};

struct State {
    int Started = 0;
    int LastError = 0;
    SOCKET NextId = 100;
    std::map<SOCKET, Conn> Sockets;
    std::vector<unsigned char> Script;
    size_t Cursor = 0;
    int RecvLimit = 0;
    std::string Sent;
    int Connections = 0;
    SOCKET Current = INVALID_SOCKET; // the connection the script plays to
    HWND StepWnd = nullptr;
    bool StepPosted = false;
    uintptr_t NextTask = 1;
};

State& S() {
    static State state;
    return state;
}

u_short Swap16(u_short v) {
    return static_cast<u_short>((v << 8) | (v >> 8));
}

int Fail(int code) {
    S().LastError = code;
    return SOCKET_ERROR;
}

Conn* Find(SOCKET s) {
    auto it = S().Sockets.find(s);
    return it == S().Sockets.end() ? nullptr : &it->second;
}

void Notify(SOCKET s, Conn& c, long event, int error) {
    if (c.Wnd != nullptr && (c.Mask & event) != 0)
        PostMessage(c.Wnd, c.Msg, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(event, error));
}

// FD_READ while unread bytes wait and the last one was answered by a recv.
void NotifyRead(SOCKET s, Conn& c) {
    if (!c.Rx.empty() && c.ReadEnabled && (c.Mask & FD_READ) != 0 && c.Wnd != nullptr) {
        c.ReadEnabled = false;
        Notify(s, c, FD_READ, 0);
    }
}

// A graceful close is reported once the bytes before it have been read.
void NotifyClose(SOCKET s, Conn& c) {
    if (c.PeerClosed && c.Rx.empty() && !c.CloseReported && (c.Mask & FD_CLOSE) != 0) {
        c.CloseReported = true;
        Notify(s, c, FD_CLOSE, 0);
    }
}

// The next script byte, or 0 past the end.
unsigned char Next() {
    State& st = S();
    return st.Cursor < st.Script.size() ? st.Script[st.Cursor++] : 0;
}

// Takes the next step when it is the given operation (a connect- or lookup-time step).
bool TakeIf(Op op) {
    State& st = S();
    if (st.Cursor >= st.Script.size() || st.Script[st.Cursor] % 8 != op) return false;
    ++st.Cursor;
    return true;
}

std::string TakeBytes(size_t n) {
    State& st = S();
    n = std::min(n, st.Script.size() - st.Cursor);
    std::string bytes(reinterpret_cast<const char*>(st.Script.data() + st.Cursor), n);
    st.Cursor += n;
    return bytes;
}

// Plays steps up to the next one that the program can see (data, a close, a reset) or a
// pause, so that one step message is one event.
void PlayStep(SOCKET s, Conn& c) {
    State& st = S();
    for (;;) {
        if (st.Cursor >= st.Script.size()) {
            c.PeerClosed = true;
            NotifyClose(s, c);
            return;
        }
        switch (static_cast<Op>(Next() % 8)) {
        case OpData:
            c.Rx += TakeBytes(static_cast<size_t>(Next()) + 1);
            NotifyRead(s, c);
            return;
        case OpBigData: {
            const size_t hi = Next();
            c.Rx += TakeBytes(hi * 256 + Next() + 1);
            NotifyRead(s, c);
            return;
        }
        case OpClose:
            c.PeerClosed = true;
            NotifyClose(s, c);
            return;
        case OpReset:
            c.PeerClosed = c.Reset = true;
            c.Rx.clear();
            if (!c.CloseReported) {
                c.CloseReported = true;
                Notify(s, c, FD_CLOSE, WSAECONNRESET);
            }
            return;
        case OpPause:
            return;
        case OpRecvLimit:
            st.RecvLimit = Next();
            break;
        case OpRefuse:
        case OpLookupFail:
            break; // only meant for a connect or a look-up
        }
    }
}

void StepMessage(TMessage& Msg) {
    State& st = S();
    if (Msg.Msg != WM_SCRIPT_STEP) return;
    st.StepPosted = false;
    Conn* c = Find(st.Current);
    if (c == nullptr || !c->Connected || c->PeerClosed) return;
    PlayStep(st.Current, *c);
    if (!c->PeerClosed) {
        st.StepPosted = true;
        PostMessage(st.StepWnd, WM_SCRIPT_STEP, 0, 0);
    }
}

void StartStepping() {
    State& st = S();
    if (st.StepWnd == nullptr) st.StepWnd = AllocateHWnd(StepMessage);
    if (!st.StepPosted) {
        st.StepPosted = true;
        PostMessage(st.StepWnd, WM_SCRIPT_STEP, 0, 0);
    }
}

void FillAddress(sockaddr* name, int* namelen, u_short port) {
    if (name == nullptr || namelen == nullptr || *namelen < static_cast<int>(sizeof(sockaddr_in)))
        return;
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = port;
    in.sin_addr.s_addr = Loopback;
    std::memcpy(name, &in, sizeof in);
    *namelen = sizeof in;
}

// A host entry for 127.0.0.1 laid out at the start of buf; its size, or 0 when too small.
int LayOutHost(const char* name, char* buf, int buflen) {
    const size_t nameLen = std::strlen(name) + 1;
    const size_t needed = sizeof(hostent) + 3 * sizeof(char*) + 4 + nameLen;
    if (buf == nullptr || buflen < 0 || needed > static_cast<size_t>(buflen)) return 0;
    auto* entry = reinterpret_cast<hostent*>(buf);
    auto** lists = reinterpret_cast<char**>(buf + sizeof(hostent));
    char* address = buf + sizeof(hostent) + 3 * sizeof(char*);
    char* copy = address + 4;
    std::memcpy(address, &Loopback, 4);
    std::memcpy(copy, name, nameLen);
    lists[0] = nullptr; // no aliases
    lists[1] = address;
    lists[2] = nullptr;
    entry->h_name = copy;
    entry->h_aliases = lists;
    entry->h_addrtype = AF_INET;
    entry->h_length = 4;
    entry->h_addr_list = lists + 1;
    return static_cast<int>(needed);
}

HANDLE AnswerLookup(HWND wnd, u_int msg, const char* name, char* buf, int buflen) {
    const auto task = S().NextTask++;
    LPARAM reply = WSAMAKEASYNCREPLY(0, WSAHOST_NOT_FOUND);
    if (!TakeIf(OpLookupFail)) {
        const int size = LayOutHost(name, buf, buflen);
        reply = size > 0 ? WSAMAKEASYNCREPLY(static_cast<WORD>(size), 0)
                         : WSAMAKEASYNCREPLY(MAXGETHOSTSTRUCT, WSAENOBUFS);
    }
    PostMessage(wnd, msg, static_cast<WPARAM>(task), reply);
    return reinterpret_cast<HANDLE>(task);
}

} // namespace

// ---------------------------------------------------------------- the script

VT_EXPORT void VtScriptPlay(const unsigned char* data, int len) {
    State& st = S();
    st.Script.assign(data, data + std::max(len, 0));
    st.Cursor = 0;
    st.RecvLimit = 0;
    st.Sent.clear();
    st.Connections = 0;
    st.Current = INVALID_SOCKET;
}

VT_EXPORT const char* VtScriptSent(int* len) {
    if (len != nullptr) *len = static_cast<int>(S().Sent.size());
    return S().Sent.data();
}

VT_EXPORT int VtScriptConnections() {
    return S().Connections;
}

// ---------------------------------------------------------------- start-up, errors

VT_EXPORT int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (lpWSAData == nullptr) return WSAEFAULT;
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    lpWSAData->wVersion = WINSOCK_VERSION;
    lpWSAData->wHighVersion = WINSOCK_VERSION;
    std::snprintf(lpWSAData->szDescription, sizeof lpWSAData->szDescription, "Scripted peer");
    std::snprintf(lpWSAData->szSystemStatus, sizeof lpWSAData->szSystemStatus, "Running");
    lpWSAData->iMaxSockets = 0x7FFF;
    ++S().Started;
    return 0;
}

VT_EXPORT int WSACleanup() {
    State& st = S();
    if (st.Started == 0) return Fail(WSANOTINITIALISED);
    if (--st.Started == 0) st.Sockets.clear();
    return 0;
}

VT_EXPORT void WSASetLastError(int iError) {
    S().LastError = iError;
}

VT_EXPORT int WSAGetLastError() {
    return S().LastError;
}

// ---------------------------------------------------------------- look-ups

VT_EXPORT int WSACancelAsyncRequest(HANDLE) {
    return 0;
}

VT_EXPORT HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf,
                                       int buflen) {
    return AnswerLookup(hWnd, wMsg, name != nullptr ? name : "", buf, buflen);
}

VT_EXPORT HANDLE WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char*, int, int, char* buf,
                                       int buflen) {
    return AnswerLookup(hWnd, wMsg, "localhost", buf, buflen);
}

VT_EXPORT hostent* gethostbyname(const char* name) {
    alignas(hostent) static char buf[MAXGETHOSTSTRUCT];
    if (name == nullptr || *name == '\0' || std::strlen(name) > 255) {
        Fail(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    LayOutHost(name, buf, sizeof buf);
    return reinterpret_cast<hostent*>(buf);
}

VT_EXPORT servent* getservbyname(const char* name, const char*) {
    static char tcp[] = "tcp";
    static char* noAliases[] = {nullptr};
    static char nameBuf[32];
    static servent entry{};
    static const struct {
        const char* Name;
        int Port;
    } known[] = {{"http", 80}, {"socks", 1080}, {"ftp", 21}, {"telnet", 23}};
    for (const auto& k : known) {
        if (name == nullptr || std::strcmp(name, k.Name) != 0) continue;
        std::snprintf(nameBuf, sizeof nameBuf, "%s", k.Name);
        entry.s_name = nameBuf;
        entry.s_aliases = noAliases;
        entry.s_port = static_cast<short>(Swap16(static_cast<u_short>(k.Port)));
        entry.s_proto = tcp;
        return &entry;
    }
    Fail(WSANO_DATA);
    return nullptr;
}

VT_EXPORT protoent* getprotobyname(const char* name) {
    static char tcp[] = "tcp";
    static char udp[] = "udp";
    static char* noAliases[] = {nullptr};
    static protoent entries[] = {{tcp, noAliases, 6}, {udp, noAliases, 17}};
    for (auto& entry : entries)
        if (name != nullptr && std::strcmp(name, entry.p_name) == 0) return &entry;
    Fail(WSANO_DATA);
    return nullptr;
}

// ---------------------------------------------------------------- sockets

VT_EXPORT SOCKET socket(int af, int type, int) {
    if (af != AF_INET) {
        Fail(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != SOCK_STREAM) {
        Fail(WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    const SOCKET id = S().NextId++;
    S().Sockets.emplace(id, Conn{});
    return id;
}

VT_EXPORT int closesocket(SOCKET s) {
    State& st = S();
    if (st.Sockets.erase(s) == 0) return Fail(WSAENOTSOCK);
    if (st.Current == s) st.Current = INVALID_SOCKET;
    return 0;
}

VT_EXPORT int shutdown(SOCKET s, int) {
    return Find(s) != nullptr ? 0 : Fail(WSAENOTSOCK);
}

VT_EXPORT int setsockopt(SOCKET s, int, int, const char*, int) {
    return Find(s) != nullptr ? 0 : Fail(WSAENOTSOCK);
}

VT_EXPORT int bind(SOCKET s, const sockaddr*, int) {
    return Find(s) != nullptr ? 0 : Fail(WSAENOTSOCK);
}

VT_EXPORT int listen(SOCKET, int) {
    return Fail(WSAEOPNOTSUPP);
}

VT_EXPORT SOCKET accept(SOCKET, sockaddr*, int*) {
    Fail(WSAEOPNOTSUPP);
    return INVALID_SOCKET;
}

VT_EXPORT int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent) {
    Conn* c = Find(s);
    if (c == nullptr) return Fail(WSAENOTSOCK);
    c->Wnd = hWnd;
    c->Msg = wMsg;
    c->Mask = lEvent;
    if (c->Connected) {
        NotifyRead(s, *c);
        NotifyClose(s, *c);
    }
    return 0;
}

VT_EXPORT int connect(SOCKET s, const sockaddr* name, int namelen) {
    State& st = S();
    Conn* c = Find(s);
    if (c == nullptr) return Fail(WSAENOTSOCK);
    if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
    if (c->Connected) return Fail(WSAEISCONN);
    sockaddr_in to{};
    std::memcpy(&to, name, sizeof to);
    c->Port = to.sin_port;
    if (TakeIf(OpRefuse)) {
        Notify(s, *c, FD_CONNECT, WSAECONNREFUSED);
        return Fail(WSAEWOULDBLOCK);
    }
    c->Connected = true;
    ++st.Connections;
    Notify(s, *c, FD_CONNECT, 0);
    Notify(s, *c, FD_WRITE, 0);
    st.Current = s;
    StartStepping();
    return Fail(WSAEWOULDBLOCK);
}

VT_EXPORT int send(SOCKET s, const char* buf, int len, int) {
    State& st = S();
    Conn* c = Find(s);
    if (c == nullptr) return Fail(WSAENOTSOCK);
    if (c->Reset) return Fail(WSAECONNRESET);
    if (!c->Connected) return Fail(WSAENOTCONN);
    if (buf == nullptr || len < 0) return Fail(WSAEFAULT);
    st.Sent.append(buf, std::min(static_cast<size_t>(len),
                                 MaxSentKept - std::min(MaxSentKept, st.Sent.size())));
    return len;
}

VT_EXPORT int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr*, int) {
    return send(s, buf, len, flags);
}

VT_EXPORT int recv(SOCKET s, char* buf, int len, int flags) {
    State& st = S();
    Conn* c = Find(s);
    if (c == nullptr) return Fail(WSAENOTSOCK);
    if (c->Reset) return Fail(WSAECONNRESET);
    if (!c->Connected) return Fail(WSAENOTCONN);
    if (len <= 0 || buf == nullptr) return 0;
    if (c->Rx.empty()) {
        if (c->PeerClosed) return 0;
        c->ReadEnabled = true;
        return Fail(WSAEWOULDBLOCK);
    }
    size_t n = std::min(static_cast<size_t>(len), c->Rx.size());
    if (st.RecvLimit > 0) n = std::min(n, static_cast<size_t>(st.RecvLimit));
    std::memcpy(buf, c->Rx.data(), n);
    if ((flags & MSG_PEEK) == 0) c->Rx.erase(0, n);
    c->ReadEnabled = true;
    NotifyRead(s, *c);
    NotifyClose(s, *c);
    return static_cast<int>(n);
}

VT_EXPORT int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    FillAddress(from, fromlen, 0);
    return recv(s, buf, len, flags);
}

VT_EXPORT int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    Conn* c = Find(s);
    if (c == nullptr) return Fail(WSAENOTSOCK);
    if (argp == nullptr) return Fail(WSAEFAULT);
    if (cmd == FIONREAD || cmd == FIONREADLEFT) {
        *argp = c->Rx.size();
    } else if (cmd == SIOCATMARK) {
        *argp = 1;
    } else if (cmd != FIONBIO) {
        return Fail(WSAEINVAL);
    }
    return 0;
}

VT_EXPORT int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    if (Find(s) == nullptr) return Fail(WSAENOTSOCK);
    FillAddress(name, namelen, Swap16(49152));
    return 0;
}

VT_EXPORT int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    Conn* c = Find(s);
    if (c == nullptr) return Fail(WSAENOTSOCK);
    if (!c->Connected) return Fail(WSAENOTCONN);
    FillAddress(name, namelen, c->Port);
    return 0;
}

// ---------------------------------------------------------------- byte order, addresses

VT_EXPORT u_short htons(u_short hostshort) {
    return Swap16(hostshort);
}

VT_EXPORT u_short ntohs(u_short netshort) {
    return Swap16(netshort);
}

VT_EXPORT u_long inet_addr(const char* cp) {
    unsigned parts[4];
    char tail = 0;
    if (cp == nullptr || std::sscanf(cp, "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2],
                                     &parts[3], &tail) != 4)
        return INADDR_NONE;
    u_long address = 0;
    for (int i = 3; i >= 0; --i) {
        if (parts[i] > 255) return INADDR_NONE;
        address = (address << 8) | parts[i];
    }
    return address;
}

VT_EXPORT char* inet_ntoa(in_addr in) {
    static char text[16];
    unsigned char b[4];
    std::memcpy(b, &in, 4);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

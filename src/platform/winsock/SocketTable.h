#pragma once
// The sockets of the library: Winsock semantics on the host's non-blocking sockets,
// including WSAAsyncSelect's notification rules. Plain types only, so that the entry
// points (Winsock layouts) and this code (host layouts) stay in separate files.
//
// Every function returns -1 (or kInvalidSocket) after storing the Winsock error code as
// the calling thread's last error.

#include "platform/runtime/WinTypes.h"

#include <cstdint>

namespace vt::ws {

using SocketId = std::uintptr_t;
constexpr SocketId kInvalidSocket = ~SocketId(0);

void SetLastError(int code);
int LastError();
// Stores `code` as the last error and returns -1.
int Fail(int code);

// WSAStartup/WSACleanup bookkeeping; the final clean-up closes every socket.
void Start();
bool Started();
bool Stop();

// Options and commands, translated from their Winsock numbers by the entry points.
enum class Option {
    Debug,
    ReuseAddr,
    KeepAlive,
    DontRoute,
    Broadcast,
    Linger,
    DontLinger,
    OobInline,
    SendBuffer,
    ReceiveBuffer,
    NoDelay
};
enum class IoCommand { BytesWaiting, BytesLeftByRecv, NonBlocking, AtOobMark };

SocketId OpenSocket(int family, int type, int protocol);
int CloseSocket(SocketId s);
int Bind(SocketId s, const void* addr, int len);
int Connect(SocketId s, const void* addr, int len);
int Listen(SocketId s, int backlog);
SocketId Accept(SocketId s, void* addr, int* len);
int Send(SocketId s, const char* buf, int len, int flags);
int SendTo(SocketId s, const char* buf, int len, int flags, const void* to, int tolen);
int Recv(SocketId s, char* buf, int len, int flags);
int RecvFrom(SocketId s, char* buf, int len, int flags, void* from, int* fromlen);
int Shutdown(SocketId s, int how);
// value2 is the linger time in seconds for Option::Linger.
int SetOption(SocketId s, Option option, int value, int value2);
int IoControl(SocketId s, IoCommand command, unsigned long* arg);
int GetSockName(SocketId s, void* addr, int* len);
int GetPeerName(SocketId s, void* addr, int* len);
int AsyncSelect(SocketId s, HWND wnd, UINT msg, long events);

} // namespace vt::ws

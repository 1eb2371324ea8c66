#pragma once
// The binding to the Windows Sockets library: loaded by name at run time on first use,
// started with version 1.1, released when the last socket object goes. Every Winsock
// call of the socket layer goes through the wrappers in vt::wsapi, which resolve their
// entry point once and cache it.

#include "platform/winsock/Winsock.h"

#include <string>

// The Winsock records as the socket layer names them.
using TSockAddrIn = sockaddr_in;
using TSockAddr = sockaddr;
using TInAddr = in_addr;
using THostEnt = hostent;
using TServEnt = servent;
using TProtoEnt = protoent;
using TTimeVal = TIMEVAL;
using TWSAData = WSADATA;

// Number of live socket objects; the library is released when it drops to 0.
extern int WinsockUsers;

// Loads and starts the library when needed, then resolves Name (an empty name only
// loads and starts, and answers nullptr). Raises ESocketException on failure.
void* WSocketLoadProc(const std::string& Name);
// Cleans up and releases the library; safe when nothing is loaded. WinsockUsers := 0.
void WSocketUnload();

namespace vt {

// For tests: the file name the binding loads instead of "wsock32.dll" (for instance a
// fault-injecting variant). Takes effect at the next load; an empty name restores the
// default. Error texts keep naming "wsock32.dll".
void SetWinsockLibraryName(const std::string& FileName);
// True while the library is loaded.
bool WinsockLoaded();

// The system error codes reported by the load errors when the loader gives none of its
// own: the library file is missing, cannot be loaded, or lacks an entry point.
constexpr int WinsockErrorModuleNotFound = 126;
constexpr int WinsockErrorBadLibrary = 193;
constexpr int WinsockErrorProcNotFound = 127;

namespace wsapi {

int WSAStartup(WORD VersionRequested, TWSAData* Data);
int WSACleanup();
void WSASetLastError(int Error);
int WSAGetLastError();
int WSACancelAsyncRequest(HANDLE AsyncTaskHandle);
HANDLE WSAAsyncGetHostByName(HWND Wnd, UINT Msg, const char* Name, char* Buf, int BufLen);
HANDLE WSAAsyncGetHostByAddr(HWND Wnd, UINT Msg, const char* Addr, int Len, int Type, char* Buf,
                             int BufLen);
int WSAAsyncSelect(SOCKET S, HWND Wnd, UINT Msg, long Event);
TServEnt* getservbyname(const char* Name, const char* Proto);
TProtoEnt* getprotobyname(const char* Name);
THostEnt* gethostbyname(const char* Name);
SOCKET socket(int Af, int Type, int Protocol);
int shutdown(SOCKET S, int How);
int setsockopt(SOCKET S, int Level, int OptName, const char* OptVal, int OptLen);
int sendto(SOCKET S, const char* Buf, int Len, int Flags, const TSockAddr* To, int ToLen);
int send(SOCKET S, const char* Buf, int Len, int Flags);
int recv(SOCKET S, char* Buf, int Len, int Flags);
int recvfrom(SOCKET S, char* Buf, int Len, int Flags, TSockAddr* From, int* FromLen);
u_short ntohs(u_short NetShort);
int listen(SOCKET S, int Backlog);
int ioctlsocket(SOCKET S, long Cmd, u_long* Argp);
char* inet_ntoa(TInAddr In);
u_long inet_addr(const char* Cp);
u_short htons(u_short HostShort);
int getsockname(SOCKET S, TSockAddr* Name, int* NameLen);
int getpeername(SOCKET S, TSockAddr* Name, int* NameLen);
int connect(SOCKET S, const TSockAddr* Name, int NameLen);
int closesocket(SOCKET S);
int bind(SOCKET S, const TSockAddr* Addr, int NameLen);
SOCKET accept(SOCKET S, TSockAddr* Addr, int* AddrLen);

} // namespace wsapi
} // namespace vt

#pragma once
// Loads a variant of the socket library the way the program does (dlopen by file name
// from the program's folder, RTLD_LOCAL, entry points by name), starts it, and offers a
// window that records the notifications it receives.

#include "platform/messages/Messages.h"
#include "platform/winsock/FaultControl.h"
#include "platform/winsock/Winsock.h"

#include <string>
#include <vector>

namespace vt::test {

// The names every variant but the one without it must export, in the binding's order.
extern const char* const kWinsockEntryPoints[30];

std::string ProgramDir();

struct WinsockApi {
    LPFN_WSASTARTUP WSAStartup = nullptr;
    LPFN_WSACLEANUP WSACleanup = nullptr;
    LPFN_WSASETLASTERROR WSASetLastError = nullptr;
    LPFN_WSAGETLASTERROR WSAGetLastError = nullptr;
    LPFN_WSACANCELASYNCREQUEST WSACancelAsyncRequest = nullptr;
    LPFN_WSAASYNCGETHOSTBYNAME WSAAsyncGetHostByName = nullptr;
    LPFN_WSAASYNCGETHOSTBYADDR WSAAsyncGetHostByAddr = nullptr;
    LPFN_WSAASYNCSELECT WSAAsyncSelect = nullptr;
    LPFN_GETSERVBYNAME getservbyname = nullptr;
    LPFN_GETPROTOBYNAME getprotobyname = nullptr;
    LPFN_GETHOSTBYNAME gethostbyname = nullptr;
    LPFN_SOCKET socket = nullptr;
    LPFN_SHUTDOWN shutdown = nullptr;
    LPFN_SETSOCKOPT setsockopt = nullptr;
    LPFN_SENDTO sendto = nullptr;
    LPFN_SEND send = nullptr;
    LPFN_RECV recv = nullptr;
    LPFN_RECVFROM recvfrom = nullptr;
    LPFN_NTOHS ntohs = nullptr;
    LPFN_LISTEN listen = nullptr;
    LPFN_IOCTLSOCKET ioctlsocket = nullptr;
    LPFN_INET_NTOA inet_ntoa = nullptr;
    LPFN_INET_ADDR inet_addr = nullptr;
    LPFN_HTONS htons = nullptr;
    LPFN_GETSOCKNAME getsockname = nullptr;
    LPFN_GETPEERNAME getpeername = nullptr;
    LPFN_CONNECT connect = nullptr;
    LPFN_CLOSESOCKET closesocket = nullptr;
    LPFN_BIND bind = nullptr;
    LPFN_ACCEPT accept = nullptr;
    // Only in the fault variant.
    VtFaultSetProc VtFaultSet = nullptr;
    VtFaultResetProc VtFaultReset = nullptr;
};

class WinsockLib {
public:
    // Loads bin/<file>; fails the test (ADD_FAILURE) when something is missing.
    explicit WinsockLib(const std::string& file = "wsock32.dll", bool start = true);
    ~WinsockLib();
    WinsockLib(const WinsockLib&) = delete;
    WinsockLib& operator=(const WinsockLib&) = delete;

    const WinsockApi* operator->() const { return &FApi; }
    bool Loaded() const { return FModule != nullptr; }
    void* Module() const { return FModule; }

    // Helpers on top of the entry points.
    sockaddr_in Loopback(int port) const;
    int BoundPort(SOCKET s) const;
    SOCKET Socket(int type = SOCK_STREAM) const;

private:
    void* FModule = nullptr;
    bool FStarted = false;
    WinsockApi FApi;
};

constexpr UINT WM_SOCKET = WM_USER + 1;
constexpr UINT WM_LOOKUP = WM_USER + 2;

struct Note {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
};

// A hidden window that keeps every message it gets.
class NoteWindow {
public:
    NoteWindow();
    ~NoteWindow();
    NoteWindow(const NoteWindow&) = delete;
    NoteWindow& operator=(const NoteWindow&) = delete;

    HWND Handle() const { return FWnd; }
    const std::vector<Note>& Notes() const { return FNotes; }
    // Socket notifications for s, event and error, in arrival order.
    std::vector<Note> For(SOCKET s) const;
    int Count(SOCKET s, long event) const;
    // Pumps until `count` notifications of `event` for s are in, at most timeoutMs.
    bool WaitFor(SOCKET s, long event, int count = 1, int timeoutMs = 5000) const;
    // The error word of the first notification of `event` for s (-1 if none).
    int ErrorOf(SOCKET s, long event) const;

private:
    HWND FWnd = nullptr;
    std::vector<Note> FNotes;
};

} // namespace vt::test

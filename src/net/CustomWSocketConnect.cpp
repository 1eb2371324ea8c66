// TCustomWSocket: connecting, listening, accepting, duplicating and closing.
#include "net/CustomWSocket.h"

#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"
#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr long SelectMaskConnect = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 59
constexpr long SelectMaskListen = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;               // 43
constexpr long SelectMaskDup = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;                 // 51
constexpr int ListenBacklog = 5;
// Waiting loops (Flush, WaitUntilClosed) sleep in the kernel between pumps for at most
// this long, so they never spin while the network is slow.
constexpr DWORD WaitSliceMs = 50;

} // namespace

// ---------------------------------------------------------------- connect, listen

void TCustomWSocket::ResolveForConnect(bool WithLocalPort) {
    if (!FProtoResolved) {
        FProtocolNumber = WSocketResolveProto(FProtoStr);
        FSocketType = FProtocolNumber == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
        FProtoResolved = true;
    }
    if (!FPortResolved) {
        FPortNumber = WSocketResolvePort(FPortStr, FProtoStr);
        FRemoteAddress.sin_port = vt::wsapi::htons(static_cast<u_short>(FPortNumber));
        FPortResolved = true;
    }
    if (WithLocalPort && !FLocalPortResolved) {
        FLocalPortNumber = WSocketResolvePort(FLocalPortStr, FProtoStr);
        FLocalPortResolved = true;
    }
    if (!FAddrResolved) {
        FRemoteAddress.sin_addr.s_addr = WSocketResolveHost(FAddrStr);
        FAddrResolved = true;
    }
}

void TCustomWSocket::Connect() {
    if (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
        RaiseError("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        RaiseError("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        RaiseError("Connect: No IP Address Specified");
        return;
    }
    if (!FProtoAssigned) {
        RaiseError("Connect: No Protocol Specified");
        return;
    }
    try {
        vt::wsapi::WSASetLastError(0);
        ResolveForConnect(true);
    } catch (Exception& E) {
        // The caller learns the cause from LastError too, never a stale or zero code.
        FLastError = vt::WinsockLoaded() ? vt::wsapi::WSAGetLastError() : 0;
        if (FLastError == 0) FLastError = WSAEINVAL;
        RaiseError("connect: " + E.Message());
        return;
    }

    ClearSendBuffer();
    FSocketHandle = vt::wsapi::socket(FAddressFamily, FSocketType, FProtocolNumber);
    if (FSocketHandle == INVALID_SOCKET) {
        ReportSocketError("Connect (socket)");
        return;
    }
    ChangeState(wsOpened);

    if (FSocketType == SOCK_DGRAM) {
        BindLocal();
        if (FRemoteAddress.sin_addr.s_addr == INADDR_NONE) {
            const int on = 1;
            if (vt::wsapi::setsockopt(FSocketHandle, SOL_SOCKET, SO_BROADCAST,
                                      reinterpret_cast<const char*>(&on),
                                      sizeof(on)) == SOCKET_ERROR) {
                ReportSocketError("setsockopt(SO_BROADCAST)");
                return;
            }
        }
    } else {
        if (FLocalPortNumber != 0 || FLocalAddr != "0.0.0.0") BindLocal();
        ApplyLinger();
        const int on = -1;
        if (vt::wsapi::setsockopt(FSocketHandle, SOL_SOCKET, SO_KEEPALIVE,
                                  reinterpret_cast<const char*>(&on), sizeof(on)) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (vt::wsapi::setsockopt(FSocketHandle, SOL_SOCKET, SO_REUSEADDR,
                                  reinterpret_cast<const char*>(&on), sizeof(on)) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
    }

    FSelectEventMask = SelectMaskConnect;
    if (vt::wsapi::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT,
                                  FSelectEventMask) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }

    if (FSocketType == SOCK_DGRAM) {
        ChangeState(wsConnected);
        DoSessionConnected(0);
        return;
    }

    if (vt::wsapi::connect(FSocketHandle, reinterpret_cast<const TSockAddr*>(&FRemoteAddress),
                           sizeof(FRemoteAddress)) == SOCKET_ERROR) {
        const int code = vt::wsapi::WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            FLastError = code;
            ReportSocketError("Connect");
            return;
        }
    }
    ChangeState(wsConnecting);
}

void TCustomWSocket::BindLocal() {
    TSockAddrIn local{};
    local.sin_family = AF_INET;
    local.sin_port = vt::wsapi::htons(static_cast<u_short>(FLocalPortNumber));
    local.sin_addr.s_addr = WSocketResolveHost(FLocalAddr);
    if (vt::wsapi::bind(FSocketHandle, reinterpret_cast<const TSockAddr*>(&local), sizeof(local)) ==
        SOCKET_ERROR) {
        RaiseErrorFmt("winsock.bind failed, error #%d", {vt::wsapi::WSAGetLastError()});
        return;
    }
    TSockAddrIn bound{};
    int len = sizeof(bound);
    if (vt::wsapi::getsockname(FSocketHandle, reinterpret_cast<TSockAddr*>(&bound), &len) ==
        SOCKET_ERROR) {
        RaiseErrorFmt("winsock.getsockname failed, error #%d", {vt::wsapi::WSAGetLastError()});
        return;
    }
    FLocalPortNumber = vt::wsapi::ntohs(bound.sin_port);
    FLocalPortStr = std::to_string(FLocalPortNumber);
}

void TCustomWSocket::ApplyLinger() {
    if (FLingerOnOff == wsLingerNoSet) return;
    if (FSocketHandle == INVALID_SOCKET) {
        RaiseError("Cannot set linger option at this time");
        return;
    }
    linger record{};
    // A zero-second linger turns every close into a reset that throws away whatever the
    // peer has not received yet; a plain close must deliver it, so that case lingers
    // in the background (graceful close). Abort asks for the reset explicitly.
    const bool on = FLingerOnOff == wsLingerOn && (FLingerTimeout & 0xFFFF) != 0;
    record.l_onoff = on ? 1 : 0;
    record.l_linger = static_cast<u_short>(FLingerTimeout & 0xFFFF);
    if (vt::wsapi::setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER,
                              reinterpret_cast<const char*>(&record),
                              sizeof(record)) == SOCKET_ERROR)
        ReportSocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::Listen() {
    if (!FPortAssigned) {
        vt::wsapi::WSASetLastError(WSAEINVAL);
        ReportSocketError("listen: port not assigned");
        return;
    }
    if (!FProtoAssigned) {
        vt::wsapi::WSASetLastError(WSAEINVAL);
        ReportSocketError("listen: protocol not assigned");
        return;
    }
    if (!FAddrAssigned) {
        vt::wsapi::WSASetLastError(WSAEINVAL);
        ReportSocketError("listen: address not assigned");
        return;
    }
    try {
        ResolveForConnect(false);
    } catch (Exception& E) {
        RaiseError("listen: " + E.Message());
        return;
    }

    ClearSendBuffer();
    FSocketHandle = vt::wsapi::socket(FAddressFamily, FSocketType, FProtocolNumber);
    if (FSocketHandle == INVALID_SOCKET) {
        ReportSocketError("socket");
        return;
    }
    if (vt::wsapi::bind(FSocketHandle, reinterpret_cast<const TSockAddr*>(&FRemoteAddress),
                        sizeof(FRemoteAddress)) == SOCKET_ERROR) {
        // The state is still wsClosed, where Close would leave the handle open: release
        // it here, keeping the code for the report.
        const int code = vt::wsapi::WSAGetLastError();
        vt::wsapi::closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
        vt::wsapi::WSASetLastError(code);
        ReportSocketError("Bind");
        return;
    }
    ChangeState(wsBound);

    if (FSocketType == SOCK_DGRAM) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        DoSessionConnected(0);
    } else {
        if (vt::wsapi::listen(FSocketHandle, ListenBacklog) == SOCKET_ERROR) {
            ReportSocketError("Listen");
            return;
        }
        ChangeState(wsListening);
    }

    FSelectEventMask = SelectMaskListen;
    if (vt::wsapi::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT,
                                  FSelectEventMask) == SOCKET_ERROR)
        ReportSocketError("WSAASyncSelect");
}

SOCKET TCustomWSocket::Accept() {
    if (FState != wsListening) {
        vt::wsapi::WSASetLastError(WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    int len = sizeof(FRemoteAddress);
    FAcceptedHandle =
        vt::wsapi::accept(FSocketHandle, reinterpret_cast<TSockAddr*>(&FRemoteAddress), &len);
    if (FAcceptedHandle == INVALID_SOCKET) {
        ReportSocketError("Accept");
        return INVALID_SOCKET;
    }
    return FAcceptedHandle;
}

void TCustomWSocket::Dup(SOCKET NewHandle) {
    if (NewHandle == 0 || NewHandle == INVALID_SOCKET) {
        vt::wsapi::WSASetLastError(WSAEINVAL);
        ReportSocketError("Dup");
        return;
    }
    if (FState != wsClosed) {
        const SOCKET old = FSocketHandle;
        FSocketHandle = INVALID_SOCKET;
        if (old != INVALID_SOCKET && vt::wsapi::closesocket(old) == SOCKET_ERROR) {
            ReportSocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
    }
    FSocketHandle = NewHandle;
    ApplyLinger();
    FSelectEventMask = SelectMaskDup;
    if (vt::wsapi::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT,
                                  FSelectEventMask) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    ChangeState(wsConnected);
}

// ---------------------------------------------------------------- closing

void TCustomWSocket::Close() {
    InternalClose(true, 0);
}

void TCustomWSocket::Shutdown(int How) {
    if (FSocketHandle != INVALID_SOCKET) vt::wsapi::shutdown(FSocketHandle, How);
}

void TCustomWSocket::InternalClose(bool Shut, WORD Error) {
    if (FSocketHandle == INVALID_SOCKET) {
        if (FState != wsClosed) {
            ChangeState(wsClosed);
            ResetToDefaults();
        }
        return;
    }
    if (FState == wsClosed) return;
    if (Shut) Shutdown(1);

    while (vt::wsapi::closesocket(FSocketHandle) == SOCKET_ERROR) {
        const int code = vt::wsapi::WSAGetLastError();
        if (code == WSAEWOULDBLOCK) {
            PumpMessages();
            WaitMessageTimeout(WaitSliceMs);
            continue;
        }
        if (code == WSANOTINITIALISED) break;
        FLastError = code;
        FSocketHandle = INVALID_SOCKET;
        ReportSocketError("Disconnect (closesocket)");
        return;
    }
    FSocketHandle = INVALID_SOCKET;
    ChangeState(wsClosed);
    if (!IsDestroying() && !FCloseInvoked) {
        FCloseInvoked = true;
        DoSessionClosed(Error);
    }
    try {
        ResetToDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::Abort() {
    CancelLookup();
    ClearSendBuffer();
    if (FState == wsConnected && FProtocolNumber == IPPROTO_TCP) {
        FLingerOnOff = wsLingerOff;
        // A zero-second linger makes the close below a reset instead of a lingering close.
        linger record{};
        record.l_onoff = 1;
        record.l_linger = 0;
        if (FSocketHandle != INVALID_SOCKET &&
            vt::wsapi::setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER,
                                  reinterpret_cast<const char*>(&record),
                                  sizeof(record)) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_LINGER)");
            return;
        }
    }
    InternalClose(false, 0);
}

void TCustomWSocket::Flush() {
    while (FSocketHandle != INVALID_SOCKET && !FAllSent) {
        TryToSend();
        PumpMessages();
        if (FSocketHandle != INVALID_SOCKET && !FAllSent) WaitMessageTimeout(WaitSliceMs);
    }
}

void TCustomWSocket::WaitUntilClosed() {
    while (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
        PumpMessages();
        if (FSocketHandle == INVALID_SOCKET) break;
        u_long waiting = 0;
        if (vt::wsapi::ioctlsocket(FSocketHandle, FIONREAD, &waiting) == SOCKET_ERROR) break;
        if (waiting > 0) DoDataAvailable(0);
        if (FSocketHandle == INVALID_SOCKET) break;
        char probe = 0;
        if (RawReceive(&probe, 0, 0) <= 0) {
            FLastError = vt::wsapi::WSAGetLastError();
            if (FLastError != WSAEWOULDBLOCK) break;
        }
        PumpMessages();
        if (FSocketHandle != INVALID_SOCKET && FState != wsClosed) WaitMessageTimeout(WaitSliceMs);
    }
}

void TCustomWSocket::Pause() {
    FPaused = true;
    vt::wsapi::WSAAsyncSelect(FSocketHandle, FWindowHandle, 0, 0);
}

void TCustomWSocket::Resume() {
    FPaused = false;
    vt::wsapi::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT, FSelectEventMask);
}

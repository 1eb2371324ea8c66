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
constexpr int DiscardChunk = 1024;
constexpr int IpProtoTcp = 6;
constexpr int IpProtoUdp = 17;
// Waiting loops (Flush, WaitUntilClosed) sleep in the kernel between pumps for at most
// this long, so they never spin while the network is slow.
constexpr DWORD WaitSliceMs = 50;
// Handler calls one FD_READ notification makes at most.
constexpr int MaxReceivePasses = 256;
// Drained send blocks a socket keeps for reuse (about 48 KB).
constexpr size_t MaxSpareBlocks = 32;
// Messages one PumpOwnMessages call dispatches at most.
constexpr int PumpBatchLimit = 10000;

// "%d" and "%s" of a format, filled from Args in order; "%%" is a percent sign.
std::string FormatArgs(const std::string& Format, const std::vector<TFmtArg>& Args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < Format.size(); ++i) {
        const char c = Format[i];
        if (c != '%' || i + 1 >= Format.size()) {
            out += c;
            continue;
        }
        const char conv = Format[++i];
        if (conv == '%') {
            out += '%';
        } else if ((conv == 'd' || conv == 's') && next < Args.size()) {
            const TFmtArg& arg = Args[next++];
            if (const int* n = std::get_if<int>(&arg))
                out += std::to_string(*n);
            else
                out += std::get<std::string>(arg);
        } else {
            out += '%';
            out += conv;
        }
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- construction

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
    FWindowHandle = AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); });
    FLookupBuffer = std::make_unique<char[]>(LookupBufferSize);
    ResetToDefaults();
    ++WinsockUsers;
}

TCustomWSocket::~TCustomWSocket() {
    // The owner and subscribers hear of the removal while the socket is still whole,
    // and from here on CancelLookup and InternalClose raise no events.
    BeginDestroy();
    try {
        CancelLookup();
    } catch (...) {
    }
    if (FState != wsClosed) {
        try {
            Close();
        } catch (...) {
        }
    }
    // A handle can outlive the closed state (a Dup whose WSAAsyncSelect failed): never
    // leak it.
    if (FSocketHandle != INVALID_SOCKET && vt::WinsockLoaded()) {
        vt::wsapi::closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
    }
    --WinsockUsers;
    if (WinsockUsers <= 0) {
        WSocketUnload();
        WinsockUsers = 0;
    }
    ClearSendBuffer();
    DeallocateHWnd(FWindowHandle);
    FWindowHandle = nullptr;
}

void TCustomWSocket::ResetToDefaults() {
    std::memset(&FRemoteAddress, 0, sizeof(FRemoteAddress));
    FRemoteAddress.sin_family = AF_INET;
    FAddressFamily = AF_INET;
    FPortAssigned = false;
    FAddrAssigned = false;
    FAddrResolved = false;
    FPortResolved = false;
    FProtoResolved = false;
    FLocalPortResolved = false;
    FProtoAssigned = true;
    FProtocolNumber = IpProtoTcp;
    FProtoStr = "tcp";
    FSocketType = SOCK_STREAM;
    FLocalPortStr = "0";
    FLocalAddr = "0.0.0.0";
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    FSocketHandle = INVALID_SOCKET;
    FState = wsClosed;
    FAllSent = true;
    FPaused = false;
    FReadCount = 0;
    FCloseInvoked = false;
    FCloseDeferred = false;
    FFlushTimeout = 60;
}

// ---------------------------------------------------------------- window messages

void TCustomWSocket::WndProc(TMessage& Msg) {
    HandleWindowMessage(Msg);
}

void TCustomWSocket::HandleWindowMessage(TMessage& Msg) {
    try {
        switch (Msg.Msg) {
        case WM_SOCKET_SELECT:
            HandleSelect(Msg);
            break;
        case WM_SOCKET_HOST_BY_NAME:
            HandleHostByName(Msg);
            break;
        case WM_SOCKET_HOST_BY_ADDR:
            HandleHostByAddr(Msg);
            break;
        case WM_SOCKET_CLOSE_LATER:
            Close();
            break;
        case WM_SOCKET_FREE_LATER:
            delete this; // nothing of the object may be touched after this
            return;
        case WM_SOCKET_TEST:
            throw ESocketException("Test exception in WSocket");
        default:
            Msg.Result = DefWindowProc(FWindowHandle, Msg.Msg, Msg.WParam, Msg.LParam);
            break;
        }
    } catch (Exception& E) {
        HandleBackgroundException(E);
    }
}

void TCustomWSocket::HandleSelect(TMessage& Msg) {
    // A notification for a handle that is gone (or for no handle at all, as after a
    // close inside Send) must not raise events of the next connection.
    if (FSocketHandle == INVALID_SOCKET || static_cast<SOCKET>(Msg.WParam) != FSocketHandle ||
        FPaused)
        return;
    WORD events = LOWORD(Msg.LParam);
    const WORD error = HIWORD(Msg.LParam);
    const SOCKET handle = FSocketHandle;
    if (FSelectRunning == handle && (events & FD_CLOSE)) {
        // A handler of this connection pumps messages: the close waits until it has
        // returned, so that the data it is still taking is not cut off.
        FCloseDeferred = true;
        FCloseDeferredError = error;
        events &= ~FD_CLOSE;
    }
    const SOCKET outer = FSelectRunning;
    FSelectRunning = handle;
    try {
        ServeSelect(events, error, handle);
    } catch (...) {
        FSelectRunning = outer;
        throw;
    }
    FSelectRunning = outer;
    if (outer != handle && FCloseDeferred && FSocketHandle == handle) {
        FCloseDeferred = false;
        ServeClose(FCloseDeferredError, handle);
    }
}

void TCustomWSocket::ServeSelect(WORD Events, WORD Error, SOCKET Handle) {
    // Handlers may close the socket; later bits then belong to a connection that is gone.
    auto stillOurs = [&] { return FSocketHandle == Handle; };

    if (Events & FD_CONNECT) {
        ChangeState(wsConnected);
        DoSessionConnected(Error);
        if (Error != 0 && FState != wsClosed) Close();
        if (!stillOurs()) return;
    }
    if (Events & FD_READ) {
        DispatchReceive(Error);
        if (!stillOurs()) return;
    }
    if (Events & FD_WRITE) {
        TryToSend();
        if (FAllSent && stillOurs()) DoDataSent(Error);
        if (!stillOurs()) return;
    }
    if (Events & FD_ACCEPT) {
        DoSessionAvailable(Error);
        if (!stillOurs()) return;
    }
    if ((Events & FD_CLOSE) && FState != wsConnecting) ServeClose(Error, Handle);
}

void TCustomWSocket::ServeClose(WORD Error, SOCKET Handle) {
    DispatchReceive(0, true);
    // A data handler that closed the socket has reported the close already.
    if (FSocketHandle != Handle) return;
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        DoSessionClosed(Error);
    }
    if (FState != wsClosed && FSocketHandle == Handle) Close();
}

void TCustomWSocket::HandleBackgroundException(Exception& E) {
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, E, canClose);
        } catch (...) {
        }
    }
    if (canClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomWSocket::CloseLater() {
    PostMessage(FWindowHandle, WM_SOCKET_CLOSE_LATER, 0, 0);
}

void TCustomWSocket::FreeLater() {
    PostMessage(FWindowHandle, WM_SOCKET_FREE_LATER, 0, 0);
}

// ---------------------------------------------------------------- message pumps

void TCustomWSocket::PumpOwnMessages() {
    MSG msg;
    // Bounded, so handlers that keep posting (a sender refilling on OnDataSent) cannot
    // hold a waiting caller inside the pump; what is left stays queued for the next call.
    for (int budget = PumpBatchLimit; budget > 0 && PeekMessage(msg, nullptr, 0, 0, PM_REMOVE);
         --budget) {
        if (msg.message == WM_QUIT) {
            FTerminated = true;
            continue;
        }
        TranslateMessage(msg);
        DispatchMessage(msg);
    }
}

void TCustomWSocket::PumpMessages() {
    if (FMultiThreaded)
        PumpOwnMessages();
    else
        Application.ProcessMessages();
}

// ---------------------------------------------------------------- properties

void TCustomWSocket::SetAddr(const std::string& Value) {
    if (FAddrAssigned && Value == FAddrStr) return;
    if (FState != wsClosed) {
        RaiseError("Cannot change Addr if not closed");
        return;
    }
    FAddrStr = Trim(Value);
    FAddrAssigned = !FAddrStr.empty();
    if (FAddrAssigned) FAddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& Value) {
    if (FPortAssigned && Value == FPortStr) return;
    if (FState != wsClosed) {
        RaiseError("Cannot change Port if not closed");
        return;
    }
    FPortStr = Trim(Value);
    FPortAssigned = !FPortStr.empty();
    if (FPortAssigned) FPortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& Value) {
    if (FProtoAssigned && Value == FProtoStr) return;
    if (FState != wsClosed) {
        RaiseError("Cannot change Proto if not closed");
        return;
    }
    FProtoStr = Trim(Value);
    FProtoAssigned = !FProtoStr.empty();
    if (FProtoAssigned) FProtoResolved = false;
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseError("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPortStr = Value;
    FLocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseError("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string text = Value.empty() ? std::string("0.0.0.0") : Value;
    TInAddr addr{};
    addr.s_addr = vt::wsapi::inet_addr(text.c_str());
    if (addr.s_addr == INADDR_NONE) {
        RaiseError("SetLocalAddr(): Invalid IP address");
        return;
    }
    FLocalAddr = vt::wsapi::inet_ntoa(addr);
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    switch (FSendFlagsValue) {
    case 0:
        return wsSendNormal;
    case MSG_OOB:
        return wsSendUrgent;
    default:
        RaiseError("Invalid internal SendFlags");
        return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
    switch (Value) {
    case wsSendNormal:
        FSendFlagsValue = 0;
        break;
    case wsSendUrgent:
        FSendFlagsValue = MSG_OOB;
        break;
    default:
        RaiseError("Invalid SendFlags");
        break;
    }
}

int TCustomWSocket::BufferedCount() {
    return 0;
}

int TCustomWSocket::RcvdCount() {
    u_long count = 0;
    if (vt::wsapi::ioctlsocket(FSocketHandle, FIONREAD, &count) == SOCKET_ERROR) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(count);
}

// ---------------------------------------------------------------- errors

void TCustomWSocket::RaiseError(const std::string& Msg) {
    if (OnError)
        DoError();
    else
        throw ESocketException(Msg);
}

void TCustomWSocket::RaiseErrorFmt(const std::string& Format, const std::vector<TFmtArg>& Args) {
    if (OnError)
        DoError();
    else
        throw ESocketException(FormatArgs(Format, Args));
}

void TCustomWSocket::ReportSocketError(const std::string& Function) {
    const int code = vt::wsapi::WSAGetLastError();
    const std::string message = "Error " + std::to_string(code) + " in function " + Function +
                                "\r\n" + WSocketErrorText(code);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (FSocketHandle != INVALID_SOCKET) vt::wsapi::closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
        ChangeState(wsClosed);
    }
    FLastError = code;
    RaiseError(message);
}

// ---------------------------------------------------------------- events

void TCustomWSocket::ChangeState(TSocketState NewState) {
    const TSocketState old = FState;
    FState = NewState;
    DoChangeState(old, NewState);
}

bool TCustomWSocket::DoDataAvailable(WORD Error) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomWSocket::DoSessionAvailable(WORD Error) {
    if (OnSessionAvailable) OnSessionAvailable(this, Error);
}

void TCustomWSocket::DoSessionConnected(WORD Error) {
    if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomWSocket::DoSessionClosed(WORD Error) {
    if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomWSocket::DoDataSent(WORD Error) {
    if (OnDataSent) OnDataSent(this, Error);
}

void TCustomWSocket::DoChangeState(TSocketState OldState, TSocketState NewState) {
    if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::DoDnsLookupDone(WORD Error) {
    if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::DoError() {
    if (OnError) OnError(this);
}

// ---------------------------------------------------------------- connect, listen

void TCustomWSocket::ResolveForConnect(bool WithLocalPort) {
    if (!FProtoResolved) {
        FProtocolNumber = WSocketResolveProto(FProtoStr);
        FSocketType = FProtocolNumber == IpProtoUdp ? SOCK_DGRAM : SOCK_STREAM;
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
    if (FState == wsConnected && FProtocolNumber == IpProtoTcp) {
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

// ---------------------------------------------------------------- sending

void TCustomWSocket::ClearSendBuffer() {
    FSendBuffers.clear();
    FSpareBuffers.clear();
}

std::unique_ptr<TBuffer> TCustomWSocket::NewSendBlock() {
    if (FSpareBuffers.empty()) return std::make_unique<TBuffer>(SendBlockSize);
    auto block = std::move(FSpareBuffers.back()); // drained: both positions are 0
    FSpareBuffers.pop_back();
    return block;
}

void TCustomWSocket::AppendToSendBuffer(const void* Data, int Len) {
    const char* p = static_cast<const char*>(Data);
    if (FSendBuffers.empty()) FSendBuffers.push_back(NewSendBlock());
    while (Len > 0) {
        const int n = FSendBuffers.back()->PutData(p, Len);
        p += n;
        Len -= n;
        if (Len > 0) FSendBuffers.push_back(NewSendBlock());
    }
}

int TCustomWSocket::Send(const void* Data, int Len) {
    if (FState != wsConnected) {
        vt::wsapi::WSASetLastError(WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    FAllSent = false;
    int result = 0;
    if (Len > 0) {
        AppendToSendBuffer(Data, Len);
        result = Len;
    }
    TryToSend();
    // OnDataSent comes from the loop, never from inside Send.
    if (FAllSent && FSocketHandle != INVALID_SOCKET)
        PostMessage(FWindowHandle, WM_SOCKET_SELECT, static_cast<WPARAM>(FSocketHandle),
                    MAKELONG(FD_WRITE, 0));
    return result;
}

int TCustomWSocket::SendString(const std::string& Str) {
    return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::RawSend(const void* Data, int Len) {
    int result;
    if (FSocketType == SOCK_DGRAM)
        result = vt::wsapi::sendto(
            FSocketHandle, static_cast<const char*>(Data), Len, FSendFlagsValue,
            reinterpret_cast<const TSockAddr*>(&FRemoteAddress), sizeof(FRemoteAddress));
    else
        result =
            vt::wsapi::send(FSocketHandle, static_cast<const char*>(Data), Len, FSendFlagsValue);
    if (result > 0 && OnSendData) OnSendData(this, result);
    return result;
}

void TCustomWSocket::TryToSend() {
    if (FSocketHandle == INVALID_SOCKET) return;
    if (FSendBuffers.empty()) {
        // An empty chain is all sent: otherwise a Send of nothing on a fresh connection
        // would never see OnDataSent, and Flush would wait for ever.
        FAllSent = true;
        return;
    }
    for (;;) {
        TBuffer& first = *FSendBuffers.front();
        int len = 0;
        const char* data = first.PeekData(len);
        if (len <= 0) {
            if (FSendBuffers.size() > 1) {
                if (FSpareBuffers.size() < MaxSpareBlocks)
                    FSpareBuffers.push_back(std::move(FSendBuffers.front()));
                FSendBuffers.pop_front();
                continue;
            }
            FAllSent = true;
            return;
        }
        const int sent = RawSend(data, len);
        if (sent == 0) return;
        if (sent < 0) {
            const int code = vt::wsapi::WSAGetLastError();
            switch (code) {
            case WSAEWOULDBLOCK:
                return;
            case WSAEINVAL:
            case WSAENOTSOCK:
            case WSAECONNABORTED:
            case WSAECONNRESET:
            case WSAENOTCONN:
                FCloseInvoked = true;
                Close();
                DoSessionClosed(static_cast<WORD>(code));
                return;
            default:
                ReportSocketError("TryToSend failed");
                return;
            }
        }
        // A handler of OnSendData may have closed the socket and cleared the chain.
        if (FSendBuffers.empty()) return;
        FSendBuffers.front()->Consume(sent);
        if (sent < len) return;
    }
}

int TCustomWSocket::SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len) {
    // The destination is always the 16-byte IPv4 address; a larger DestLen must not make
    // Winsock read past it.
    const TSockAddrIn to = Dest;
    const int result =
        vt::wsapi::sendto(FSocketHandle, static_cast<const char*>(Data), Len, FSendFlagsValue,
                          reinterpret_cast<const TSockAddr*>(&to), sizeof(to));
    if (result > 0 && OnSendData) OnSendData(this, result);
    return result;
}

// ---------------------------------------------------------------- receiving

int TCustomWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    const int result =
        vt::wsapi::recv(FSocketHandle, static_cast<char*>(Buffer), BufferSize, Flags);
    if (Flags == 0 && BufferSize > 0)
        FRecvOutcome = result == BufferSize ? TRecvOutcome::Filled : TRecvOutcome::Drained;
    return result;
}

int TCustomWSocket::RawReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen) {
    return vt::wsapi::recvfrom(FSocketHandle, static_cast<char*>(Buffer), BufferSize, 0,
                               reinterpret_cast<TSockAddr*>(&From), &FromLen);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
    const int result = RawReceive(Buffer, BufferSize, 0);
    if (result < 0)
        FLastError = vt::wsapi::WSAGetLastError();
    else
        FReadCount += result;
    return result;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen) {
    const int result = RawReceiveFrom(Buffer, BufferSize, From, FromLen);
    if (result < 0)
        FLastError = vt::wsapi::WSAGetLastError();
    else
        FReadCount += result;
    return result;
}

std::string TCustomWSocket::ReceiveString() {
    const int count = RcvdCount();
    if (count <= 0) return {};
    std::string result(static_cast<size_t>(count), '\0');
    const int got = Receive(result.data(), count);
    result.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return result;
}

void TCustomWSocket::DispatchReceive(WORD Error, bool Draining) {
    const SOCKET handle = FSocketHandle;
    try {
        // Bounded, so a peer that sends faster than we read cannot starve the rest of the
        // loop; the last read re-armed FD_READ, which brings us back for the remainder.
        // The drain at FD_CLOSE is the last chance for the data, so it goes to the end.
        for (int pass = 0; Draining || pass < MaxReceivePasses; ++pass) {
            FLastError = 0;
            FRecvOutcome = TRecvOutcome::None;
            const int readBefore = FReadCount;
            const bool taken = DoDataAvailable(Error);
            if (!taken) {
                char discard[DiscardChunk];
                if (FSocketHandle != INVALID_SOCKET &&
                    RawReceive(discard, sizeof(discard), 0) < 0) {
                    FLastError = vt::wsapi::WSAGetLastError();
                    if (FLastError == WSAEWOULDBLOCK) {
                        FLastError = 0;
                        return;
                    }
                }
            } else if (FReadCount == readBefore) {
                // The handler took nothing: calling it again would spin. The next
                // reception (or its own Receive later) brings the next notification.
                return;
            }
            if (FComponentOptions.Contains(wsoNoReceiveLoop) || FLastError != 0) return;
            // The handler may have closed the socket (or adopted another handle).
            if (FSocketHandle == INVALID_SOCKET || FSocketHandle != handle) return;
            // Bytes a layer still holds for the reader are not in the socket's queue.
            if (BufferedCount() > 0) continue;
            // A short read found the queue empty; what arrives after it is notified anew.
            if (FRecvOutcome == TRecvOutcome::Drained) return;
            // After a read that filled its buffer, that read already knew what it left.
            u_long waiting = 0;
            if ((FRecvOutcome != TRecvOutcome::Filled ||
                 vt::wsapi::ioctlsocket(FSocketHandle, FIONREADLEFT, &waiting) == SOCKET_ERROR) &&
                vt::wsapi::ioctlsocket(FSocketHandle, FIONREAD, &waiting) == SOCKET_ERROR) {
                FLastError = vt::wsapi::WSAGetLastError();
                return;
            }
            if (waiting == 0) return;
        }
    } catch (...) {
        // A failing data handler must not take the notification path down with it: its
        // exception ends this pass of reading. (The HTTP client never throws here; it
        // records its own failures.)
    }
}

// ---------------------------------------------------------------- addresses

std::string TCustomWSocket::PeerAddr() {
    if (FState != wsConnected) return "error";
    TSockAddrIn peer{};
    int len = sizeof(peer);
    if (vt::wsapi::getpeername(FSocketHandle, reinterpret_cast<TSockAddr*>(&peer), &len) ==
        SOCKET_ERROR) {
        ReportSocketError("GetPeerName");
        return "error";
    }
    return vt::wsapi::inet_ntoa(peer.sin_addr);
}

std::string TCustomWSocket::PeerPort() {
    if (FState != wsConnected) return "error";
    TSockAddrIn peer{};
    int len = sizeof(peer);
    if (vt::wsapi::getpeername(FSocketHandle, reinterpret_cast<TSockAddr*>(&peer), &len) ==
        SOCKET_ERROR) {
        ReportSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(vt::wsapi::ntohs(peer.sin_port));
}

int TCustomWSocket::GetPeerName(TSockAddrIn& Name, int NameLen) {
    if (FState != wsConnected) return -1;
    return vt::wsapi::getpeername(FSocketHandle, reinterpret_cast<TSockAddr*>(&Name), &NameLen);
}

int TCustomWSocket::GetSockName(TSockAddrIn& Name, int& NameLen) {
    return vt::wsapi::getsockname(FSocketHandle, reinterpret_cast<TSockAddr*>(&Name), &NameLen);
}

std::string TCustomWSocket::GetBoundPort() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
    TSockAddrIn local{};
    int len = sizeof(local);
    if (vt::wsapi::getsockname(FSocketHandle, reinterpret_cast<TSockAddr*>(&local), &len) ==
        SOCKET_ERROR)
        return "error";
    return std::to_string(vt::wsapi::ntohs(local.sin_port));
}

bool TCustomWSocket::TimevalIsSet(const TTimeVal& T) {
    return T.tv_sec != 0 || T.tv_usec != 0;
}

void TCustomWSocket::TimevalClear(TTimeVal& T) {
    T.tv_sec = 0;
    T.tv_usec = 0;
}

bool TCustomWSocket::TimevalCompare(const TTimeVal& T, const TTimeVal& U, bool IsEqual) {
    const bool equal = T.tv_sec == U.tv_sec && T.tv_usec == U.tv_usec;
    return equal == IsEqual;
}

// TCustomWSocket: construction, window messages, message pumps, errors and events. The
// other concerns have files of their own: Connect, Send, Receive, Options and Lookup.
#include "net/CustomWSocket.h"

#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"
#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

namespace {

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
    FProtocolNumber = IPPROTO_TCP;
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

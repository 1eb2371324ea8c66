// TCustomWSocket: properties and addresses.
#include "net/CustomWSocket.h"

#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"
#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

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

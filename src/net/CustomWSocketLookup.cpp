// The asynchronous name lookups of TCustomWSocket: Winsock answers into the socket's
// lookup buffer and reports completion to its hidden window.

#include "net/CustomWSocket.h"

#include <cstring>

namespace {

constexpr WORD LookupInvalidName = 10022; // WSAEINVAL
constexpr WORD LookupCancelled = 10004;   // WSAEINTR

} // namespace

void TCustomWSocket::BeginLookup() {
    if (FLookupHandle != nullptr) {
        vt::wsapi::WSACancelAsyncRequest(FLookupHandle); // a replaced lookup reports nothing
        FLookupHandle = nullptr;
    }
    FDnsResult.clear();
    FDnsResultList.Clear();
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
    if (HostName.empty()) {
        RaiseError("DNS lookup: invalid host name.");
        DoDnsLookupDone(LookupInvalidName);
        return;
    }
    BeginLookup();
    TInAddr numeric{};
    numeric.s_addr = vt::wsapi::inet_addr(HostName.c_str());
    if (numeric.s_addr != INADDR_NONE) {
        FDnsResult = vt::wsapi::inet_ntoa(numeric);
        DoDnsLookupDone(0);
        return;
    }
    FLookupHandle =
        vt::wsapi::WSAAsyncGetHostByName(FWindowHandle, WM_SOCKET_HOST_BY_NAME, HostName.c_str(),
                                         FLookupBuffer.get(), LookupBufferSize);
    if (FLookupHandle == nullptr)
        RaiseErrorFmt("%s: can't start DNS lookup, error #%d",
                      {HostName, vt::wsapi::WSAGetLastError()});
}

void TCustomWSocket::AddressLookup(const std::string& HostAddr) {
    if (HostAddr.empty()) {
        RaiseError("DNS lookup: invalid host name.");
        DoDnsLookupDone(LookupInvalidName);
        return;
    }
    BeginLookup();
    TInAddr addr{};
    addr.s_addr = static_cast<std::uint32_t>(vt::wsapi::inet_addr(HostAddr.c_str()));
    FLookupHandle = vt::wsapi::WSAAsyncGetHostByAddr(
        FWindowHandle, WM_SOCKET_HOST_BY_ADDR, reinterpret_cast<const char*>(&addr.s_addr),
        sizeof(addr.s_addr), PF_INET, FLookupBuffer.get(), LookupBufferSize);
    if (FLookupHandle == nullptr)
        RaiseErrorFmt("%s: can't start DNS lookup, error #%d",
                      {HostAddr, vt::wsapi::WSAGetLastError()});
}

void TCustomWSocket::CancelLookup() {
    if (FLookupHandle == nullptr) return;
    if (vt::wsapi::WSACancelAsyncRequest(FLookupHandle) == SOCKET_ERROR &&
        vt::wsapi::WSAGetLastError() != WSAEALREADY) {
        FLookupHandle = nullptr;
        ReportSocketError("WSACancelAsyncRequest");
        return;
    }
    // WSAEALREADY: the answer is already on its way. Clearing the handle makes it be
    // ignored, so the caller sees the cancellation it asked for, once, like any other.
    FLookupHandle = nullptr;
    if (!IsDestroying()) DoDnsLookupDone(LookupCancelled);
}

void TCustomWSocket::HandleHostByName(TMessage& Msg) {
    if (FLookupHandle == nullptr || reinterpret_cast<HANDLE>(Msg.WParam) != FLookupHandle) return;
    FLookupHandle = nullptr;
    const WORD error = HIWORD(Msg.LParam);
    if (error == 0) {
        const auto* entry = reinterpret_cast<const THostEnt*>(FLookupBuffer.get());
        for (char** p = entry->h_addr_list; p != nullptr && *p != nullptr; ++p) {
            TInAddr addr{};
            std::memcpy(&addr, *p, sizeof(addr));
            FDnsResultList.Add(vt::wsapi::inet_ntoa(addr));
        }
        if (FDnsResultList.Count() > 0) FDnsResult = FDnsResultList.Strings(0);
    }
    DoDnsLookupDone(error);
}

void TCustomWSocket::HandleHostByAddr(TMessage& Msg) {
    if (FLookupHandle == nullptr || reinterpret_cast<HANDLE>(Msg.WParam) != FLookupHandle) return;
    FLookupHandle = nullptr;
    const WORD error = HIWORD(Msg.LParam);
    if (error == 0) {
        const auto* entry = reinterpret_cast<const THostEnt*>(FLookupBuffer.get());
        if (entry->h_name != nullptr) {
            FDnsResult = entry->h_name;
            FDnsResultList.Add(FDnsResult);
        }
    }
    DoDnsLookupDone(error);
}

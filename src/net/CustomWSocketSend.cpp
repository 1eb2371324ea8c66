// TCustomWSocket: the send chain.
#include "net/CustomWSocket.h"

#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"
#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

namespace {

// Drained send blocks a socket keeps for reuse (about 48 KB).
constexpr size_t MaxSpareBlocks = 32;

} // namespace

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

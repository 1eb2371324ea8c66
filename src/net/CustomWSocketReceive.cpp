// TCustomWSocket: dispatching received data.
#include "net/CustomWSocket.h"

#include "net/WSocketErrorText.h"
#include "net/WSocketResolve.h"
#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int DiscardChunk = 1024;
// Handler calls one FD_READ notification makes at most.
constexpr int MaxReceivePasses = 256;

} // namespace

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

#include "net/CustomSyncWSocket.h"

#include "platform/messages/Application.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>

TCustomSyncWSocket::TCustomSyncWSocket(TComponent* AOwner) : TCustomLineWSocket(AOwner) {}

int TCustomSyncWSocket::Synchronize(const std::function<void()>& Proc, bool& DoneFlag) {
    DoneFlag = false;
    if (Proc) Proc();
    return WaitUntilReady(DoneFlag);
}

int TCustomSyncWSocket::WaitUntilReady(bool& DoneFlag) {
    FTimeStop = GetTickCount() + static_cast<DWORD>(FTimeout);
    for (;;) {
        if (DoneFlag) return 0;
        // Signed difference: the tick counter wraps after 49.7 days.
        const auto left = static_cast<std::int32_t>(FTimeStop - GetTickCount());
        if (FTimeout > 0 && left < 0) return WaitTimeoutError;
        if (Application.Terminated() || Terminated()) return WaitTimeoutError;
        PumpMessages();
        if (DoneFlag) continue;
        // Sleep in the kernel until the queue has work, never past the time limit.
        DWORD slice = WaitSliceMs;
        if (FTimeout > 0)
            slice = static_cast<DWORD>(std::clamp<std::int32_t>(left + 1, 0, WaitSliceMs));
        WaitMessageTimeout(slice);
    }
}

int TCustomSyncWSocket::ReadLine(std::string& Line) {
    Line.clear();
    if (!LineMode()) SetLineMode(true);
    bool done = false;
    bool closed = false;
    const TDataAvailable savedData = OnDataAvailable;
    const TSessionClosed savedClosed = OnSessionClosed;
    // The caller's handlers come back however the wait ends.
    struct TRestore {
        TCustomSyncWSocket& Socket;
        const TDataAvailable& Data;
        const TSessionClosed& Closed;
        ~TRestore() {
            Socket.OnDataAvailable = Data;
            Socket.OnSessionClosed = Closed;
            // Lines that came along with this one go to the restored handler.
            if (Socket.HeldCount() > 0) PostMessage(Socket.WindowHandle(), WM_LINE_PENDING, 0, 0);
        }
    } restore{*this, savedData, savedClosed};
    OnDataAvailable = [&](TObject*, WORD) {
        if (done) return; // one line per call; later ones stay held
        const int size = RcvdCount();
        if (size <= 0) return;
        Line.resize(size);
        const int got = Receive(Line.data(), size);
        Line.resize(std::max(got, 0));
        done = true;
    };
    OnSessionClosed = [&](TObject* Sender, WORD Error) {
        closed = true;
        done = true;
        if (savedClosed) savedClosed(Sender, Error);
    };
    DeliverLines();
    if (!done && State() == wsClosed) return WSAENOTCONN;
    const int result = WaitUntilReady(done);
    if (result != 0) return result;
    return closed && Line.empty() ? WSAENOTCONN : 0;
}

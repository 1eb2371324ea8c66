#include "chartservice/ChartServer.h"

#include "platform/runtime/SysUtils.h"

#include <algorithm>

namespace {

constexpr UINT WM_RELEASE_CONNECTION = WM_USER + 1;
constexpr UINT_PTR TimeoutTimer = 1;
constexpr UINT TimeoutCheckMs = 250;

} // namespace

TChartServer::TChartServer(const TChartService& Service)
    : FService(Service), FListener(std::make_unique<TWSocket>(nullptr)) {
    FWindow = AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); });
}

TChartServer::~TChartServer() {
    DeallocateHWnd(FWindow);
    FConnections.clear();
    FListener.reset();
}

void TChartServer::Listen(const std::string& Addr, const std::string& Port) {
    FListener->SetAddr(Addr);
    FListener->SetPort(Port);
    FListener->SetProto("tcp");
    FListener->OnSessionAvailable = [this](TObject*, WORD) { AcceptOne(); };
    FListener->Listen();
    // From here on a failure (of accept) is reported, never raised into the loop.
    FListener->OnError = [this](TObject*) {
        if (OnError) OnError("accept failed, error " + std::to_string(FListener->LastError()));
    };
    SetTimer(FWindow, TimeoutTimer, TimeoutCheckMs);
}

std::string TChartServer::Port() const {
    return FListener->GetBoundPort();
}

void TChartServer::AcceptOne() {
    const SOCKET handle = FListener->Accept();
    if (handle == INVALID_SOCKET) return;
    const bool busy = ConnectionCount() >= FMaxClients;
    FConnections.push_back(std::make_unique<TChartConnection>(
        FService, handle, GetTickCount(), busy, [this](TChartConnection* Connection) {
            // The connection's socket is inside its own event: free it from the loop.
            PostMessage(FWindow, WM_RELEASE_CONNECTION, 0, reinterpret_cast<LPARAM>(Connection));
        }));
    FConnections.back()->OnAnswer = [this](const std::string& Line, const std::string& Response) {
        if (OnAnswer) OnAnswer(Line, Response);
    };
}

void TChartServer::Release(TChartConnection* Connection) {
    // Found by address: a connection reported twice is freed once.
    FConnections.remove_if([Connection](const auto& c) { return c.get() == Connection; });
}

void TChartServer::CheckTimeouts() {
    const DWORD now = GetTickCount();
    for (const auto& connection : FConnections)
        if (now - connection->Started() > FTimeoutMs) connection->Abort();
}

void TChartServer::WndProc(TMessage& Msg) {
    switch (Msg.Msg) {
    case WM_RELEASE_CONNECTION:
        Release(reinterpret_cast<TChartConnection*>(Msg.LParam));
        break;
    case WM_TIMER:
        CheckTimeouts();
        break;
    default:
        Msg.Result = DefWindowProc(FWindow, Msg.Msg, Msg.WParam, Msg.LParam);
    }
}

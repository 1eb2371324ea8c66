#include "util/Timer.h"

#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"

namespace vt {

TTimer::TTimer(TComponent* AOwner)
    : TComponent(AOwner), FWindow(AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); })) {}

TTimer::~TTimer() {
    FEnabled = false;
    KillTimer(FWindow, kTimerId);
    DeallocateHWnd(FWindow);
}

void TTimer::SetEnabled(bool Value) {
    if (Value == FEnabled) return;
    FEnabled = Value;
    UpdateTimer();
}

void TTimer::SetInterval(UINT Value) {
    if (Value == FInterval) return;
    FInterval = Value;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent Value) {
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    KillTimer(FWindow, kTimerId);
    if (FInterval == 0 || !FEnabled || !FOnTimer) return;
    if (SetTimer(FWindow, kTimerId, FInterval) == 0) {
        throw EOutOfResources("Not enough timers available");
    }
}

void TTimer::DoTimer() {
    // A copy, so a handler that frees this timer does not pull its own code away.
    if (const TNotifyEvent handler = FOnTimer) handler(this);
}

void ServeTimerWindow(HWND Window, TMessage& Msg, const std::function<void()>& onTimer) {
    if (Msg.Msg != WM_TIMER) {
        Msg.Result = DefWindowProc(Window, Msg.Msg, Msg.WParam, Msg.LParam);
        return;
    }
    try {
        onTimer();
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
}

void TTimer::WndProc(TMessage& Msg) {
    ServeTimerWindow(FWindow, Msg, [this] { DoTimer(); });
}

} // namespace vt

#pragma once
// A small interval timer component: a window timer on a hidden window of the
// creating thread, raising OnTimer from that thread's message loop.

#include "platform/messages/Messages.h"
#include "platform/runtime/Classes.h"

#include <functional>

namespace vt {

// The window procedure of a timer's hidden window: WM_TIMER runs onTimer, whose errors
// go to the application's error display (the timer goes on); everything else gets the
// default handling.
void ServeTimerWindow(HWND Window, TMessage& Msg, const std::function<void()>& onTimer);

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    // Milliseconds; 0 runs no timer.
    UINT Interval() const { return FInterval; }
    void SetInterval(UINT Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);

protected:
    virtual void DoTimer();

private:
    // Restarts the window timer for the current settings; raises EOutOfResources
    // "Not enough timers available" when the system refuses one.
    void UpdateTimer();
    void WndProc(TMessage& Msg);

    static constexpr UINT_PTR kTimerId = 1;

    bool FEnabled = true;
    UINT FInterval = 1000;
    TNotifyEvent FOnTimer;
    HWND FWindow = nullptr;
};

} // namespace vt

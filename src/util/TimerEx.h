#pragma once
// An interval timer that runs either as a window timer or on a worker thread of its
// own, which sleeps for the interval and hands the timer event to the GUI thread. In
// both modes OnTimer runs on the GUI thread.

#include "platform/messages/Messages.h"
#include "platform/messages/Thread.h"
#include "platform/runtime/Classes.h"

#include <atomic>
#include <memory>

class TTimerEx;

// The worker of a threaded TTimerEx. Created suspended: it never runs before its
// owner resumes it.
class TTimerThread : public TThread {
public:
    explicit TTimerThread(TTimerEx* Owner);
    ~TTimerThread() override;

    TTimerEx* OwnerTimer() const { return FOwnerTimer; }
    bool StopRequested() const { return FStopRequested.load(std::memory_order_relaxed); }
    void SetStopRequested(bool Value) { FStopRequested.store(Value, std::memory_order_relaxed); }
    // True on the GUI thread while it runs this worker's hand-over.
    bool HandingOver() const { return FHandingOver; }

protected:
    void Execute() override;

private:
    TTimerEx* FOwnerTimer;
    std::atomic<bool> FStopRequested{false};
    bool FHandingOver = false; // GUI thread only
};

class TTimerEx : public TComponent {
public:
    explicit TTimerEx(TComponent* AOwner);
    ~TTimerEx() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    // Milliseconds; 0 runs no timer. The worker reads it anew before every sleep.
    UINT Interval() const { return FInterval.load(std::memory_order_relaxed); }
    void SetInterval(UINT Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    // Always re-plans, even for the same handler.
    void SetOnTimer(TNotifyEvent Value);
    bool Threaded() const { return FThreaded; }
    void SetThreaded(bool Value);
    TThreadPriority ThreadPriority() const {
        return FThreadPriority.load(std::memory_order_relaxed);
    }
    void SetThreadPriority(TThreadPriority Value);

    // Raises OnTimer when enabled; the worker hands it to the GUI thread.
    virtual void DoTimer();

    // The worker (threaded mode) and the hidden window (window mode), or null.
    TTimerThread* Worker() const { return FWorker.get(); }
    HWND Window() const { return FWindow; }

private:
    // Brings worker and window timer in line with the properties; raises
    // EOutOfResources "No More Timers Available" when a window timer is refused.
    void UpdateTimer();
    void EndWorker();
    void ReleaseWindow();
    void WndProc(TMessage& Msg);

    static constexpr UINT_PTR kTimerId = 1;

    bool FEnabled = true;
    std::atomic<UINT> FInterval{1000};
    TNotifyEvent FOnTimer;
    bool FThreaded = true;
    std::atomic<TThreadPriority> FThreadPriority{tpNormal};
    std::unique_ptr<TTimerThread> FWorker;
    HWND FWindow = nullptr;
};

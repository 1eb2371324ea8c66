#include "util/TimerEx.h"

#include "util/Timer.h"

#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"

#include <utility>

// ---- TTimerThread -----------------------------------------------------------------

TTimerThread::TTimerThread(TTimerEx* Owner) : TThread(true), FOwnerTimer(Owner) {
    SetPriority(Owner->ThreadPriority());
}

TTimerThread::~TTimerThread() {
    if (!FreeOnTerminate()) EndThread();
}

void TTimerThread::Execute() {
    SetPriority(FOwnerTimer->ThreadPriority());
    while (!Terminated()) {
        if (!Sleep(FOwnerTimer->Interval())) break;
        if (StopRequested() || Terminated()) continue;
        // The handler's errors are shown on the GUI thread, so the worker goes on.
        Synchronize([this] {
            FHandingOver = true;
            try {
                FOwnerTimer->DoTimer();
            } catch (...) {
                Application.HandleException(std::current_exception());
            }
            FHandingOver = false;
        });
    }
}

// ---- TTimerEx ---------------------------------------------------------------------

TTimerEx::TTimerEx(TComponent* AOwner)
    : TComponent(AOwner), FWorker(std::make_unique<TTimerThread>(this)) {}

TTimerEx::~TTimerEx() {
    // Hand-overs still waiting deliver nothing from here on.
    FEnabled = false;
    if (FWindow) KillTimer(FWindow, kTimerId);
    EndWorker();
    ReleaseWindow();
}

void TTimerEx::SetEnabled(bool Value) {
    if (Value == FEnabled) return;
    FEnabled = Value;
    UpdateTimer();
}

void TTimerEx::SetInterval(UINT Value) {
    if (Value == Interval()) return;
    FInterval.store(Value, std::memory_order_relaxed);
    UpdateTimer();
}

void TTimerEx::SetOnTimer(TNotifyEvent Value) {
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TTimerEx::SetThreaded(bool Value) {
    if (Value == FThreaded) return;
    FThreaded = Value;
    UpdateTimer();
}

void TTimerEx::SetThreadPriority(TThreadPriority Value) {
    if (Value == ThreadPriority()) return;
    FThreadPriority.store(Value, std::memory_order_relaxed);
    if (FThreaded) UpdateTimer();
}

void TTimerEx::UpdateTimer() {
    if (FWorker && !FWorker->Suspended()) FWorker->Suspend();
    if (FWindow) KillTimer(FWindow, kTimerId);
    if (FThreaded) {
        ReleaseWindow();
        if (!FWorker) FWorker = std::make_unique<TTimerThread>(this);
    } else {
        EndWorker();
        if (!FWindow) FWindow = AllocateHWnd([this](TMessage& Msg) { WndProc(Msg); });
    }
    if (Interval() == 0 || !FEnabled || !FOnTimer) return;
    if (FThreaded) {
        FWorker->SetPriority(ThreadPriority());
        while (FWorker->Suspended())
            FWorker->Resume();
    } else if (SetTimer(FWindow, kTimerId, Interval()) == 0) {
        throw EOutOfResources("No More Timers Available");
    }
}

void TTimerEx::EndWorker() {
    if (!FWorker) return;
    FWorker->SetStopRequested(true);
    if (FWorker->HandingOver()) {
        // Ended from inside its own hand-over (OnTimer switching modes or freeing the
        // timer): the worker waits for this very call, so waiting for it would never
        // end. It leaves on its own once the hand-over returns, without touching us.
        FWorker->SetFreeOnTerminate(true);
        FWorker->Terminate();
        while (FWorker->Suspended())
            FWorker->Resume();
        (void)FWorker.release();
        return;
    }
    // Serves the worker's hand-over requests while it waits, so neither blocks the other.
    FWorker->EndThread();
    FWorker.reset();
}

void TTimerEx::ReleaseWindow() {
    if (FWindow) DeallocateHWnd(std::exchange(FWindow, nullptr));
}

void TTimerEx::DoTimer() {
    if (!FEnabled) return;
    // A copy, so a handler that frees this timer does not pull its own code away.
    if (const TNotifyEvent handler = FOnTimer) handler(this);
}

void TTimerEx::WndProc(TMessage& Msg) {
    vt::ServeTimerWindow(FWindow, Msg, [this] { DoTimer(); });
}

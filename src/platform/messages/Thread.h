#pragma once
// Worker threads with the framework's life cycle: created suspended or running,
// resumed and suspended by their owner, told to terminate, waited for, and able to
// hand a call synchronously to the GUI thread.
//
// The GUI thread is the process's main thread (the one whose thread id equals the
// process id). It serves hand-over requests from its message pump (PeekMessage,
// GetMessage, WaitMessage, WaitMessageTimeout, Application.ProcessMessages) and from
// TThread::WaitFor, so a worker handing over while the GUI thread waits for it cannot
// deadlock.
//
// Suspension is taken at the worker's suspension points, never in the middle of its
// code (which could freeze it while it holds a lock of the allocator or the C
// library): the start of Execute, Sleep, Synchronize and CheckSuspended. Suspend()
// counts at once; Suspended() reports the requested state. A suspension that arrives
// while the worker sleeps interrupts the sleep, and after Resume the sleep starts over
// with its full length, so a resumed interval timer measures a whole period again.

#include "platform/runtime/WinTypes.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
public:
    // The thread exists from construction on; Execute starts once it is not suspended.
    // C++ builds a derived class after this constructor returns, so a thread created
    // running may enter Execute before its class is complete: classes that derive
    // from TThread create it suspended and Resume at the end of their constructor (or
    // let the owner resume it), as every thread of this program does.
    explicit TThread(bool CreateSuspended);
    // Ends the thread: Terminate, release any suspension and wait (serving hand-overs
    // on the GUI thread). A thread that never left its initial suspension never runs
    // Execute. A derived class whose Execute uses the derived class's own members must
    // end the thread in its own destructor (EndThread), before those members go.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Resume undoes one Suspend; the worker runs again when none is left. Suspend
    // called by the worker itself parks it at once.
    void Resume();
    void Suspend();
    bool Suspended() const;

    // Sets Terminated and wakes the worker from Sleep; Execute is expected to return.
    void Terminate();
    bool Terminated() const;
    // Blocks until Execute has returned and gives its ReturnValue. On the GUI thread it
    // keeps serving hand-over requests while it waits. Raises EThread when called by
    // the thread itself or for a thread that frees itself on termination.
    int WaitFor();
    // Terminate, release every suspension, WaitFor. A thread that never left its
    // initial suspension ends without running Execute.
    void EndThread();
    bool Finished() const;

    // Mapped to Linux scheduling: tpIdle is SCHED_IDLE, the others nice values
    // 10, 5, 0, -5, -10, -15. A priority the system refuses (raising it without the
    // privilege) is kept as the requested value and otherwise ignored.
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority Value);

    // When true the object deletes itself after Execute has returned.
    bool FreeOnTerminate() const;
    void SetFreeOnTerminate(bool Value);

    int ReturnValue() const;
    // The exception that ended Execute, if any; it never ends the process.
    std::exception_ptr FatalException() const;
    // The kernel thread id (for diagnostics and scheduling).
    int ThreadID() const { return FThreadID; }

    // Raised on the GUI thread after Execute has returned.
    std::function<void(TThread* Sender)> OnTerminate;

    // Runs Method on the GUI thread and blocks until it has run; an exception it raises
    // is rethrown here. A suspension point. Called on the GUI thread it just runs Method.
    void Synchronize(const std::function<void()>& Method);

protected:
    virtual void Execute() = 0;

    // Sleeps Milliseconds; false when Terminate cut the sleep short. A suspension point.
    // Inside a derived class it hides the global Sleep, which knows nothing of these.
    bool Sleep(DWORD Milliseconds);
    // Parks the calling worker while it is suspended.
    void CheckSuspended();
    void SetReturnValue(int Value) { FReturnValue = Value; }

private:
    void ThreadMain();
    void ParkWhileSuspended(std::unique_lock<std::mutex>& lock);
    void ApplyPriority();
    bool OnOwnThread() const;

    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::thread FThread;
    std::thread::id FOwnId;
    int FThreadID = 0;
    int FFinishedSignal = -1; // eventfd written once Execute has returned
    int FSuspendCount = 0;
    bool FTerminated = false;
    bool FEnding = false;
    bool FFinished = false;
    bool FFreeOnTerminate = false;
    TThreadPriority FPriority = tpNormal;
    int FReturnValue = 0;
    std::exception_ptr FFatalException;
};

namespace vt {

// True on the process's main thread, the GUI thread of this program.
bool IsMainThread();
// Hands Method to the GUI thread and waits for it to run (runs it directly when called
// on the GUI thread); its exception is rethrown to the caller.
void SynchronizeWithMainThread(const std::function<void()>& Method);
// Runs the hand-over requests waiting for the GUI thread; true when any ran. Only the
// GUI thread calls it; elsewhere it does nothing.
bool CheckSynchronize();
// Readable while hand-over requests wait; the GUI thread's queue watches it.
int SynchronizeDescriptor();

} // namespace vt

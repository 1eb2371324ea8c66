#pragma once
// One thread's message queue on epoll: posted messages behind an eventfd, window
// timers behind one timerfd, one-shot descriptor watches, and (on the GUI thread) the
// hand-over requests of worker threads. The epoll descriptor is the queue's single
// pollable descriptor; once handed out, it is readable exactly while the queue has work.

#include "platform/messages/Messages.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace vt {

class MessageQueue;

// A hidden window. Shared so a window procedure that is running keeps its record (and
// its method) alive even when the window is deallocated inside it.
struct WindowRecord {
    HWND Handle = nullptr;
    TWndMethod Method;
    std::shared_ptr<MessageQueue> Queue;
    std::atomic<bool> Alive{true};
};

class MessageQueue {
public:
    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // The calling thread's queue, created on first use and closed when the thread ends.
    static MessageQueue& Current();
    static std::shared_ptr<MessageQueue> CurrentShared();
    // Only for the thread that owns the queue.
    bool IsCurrent() const;

    // Any thread. False when the queue is closed (its thread has ended).
    bool Post(const MSG& msg);
    void PostQuit(int exitCode);

    // Owner thread only from here on.
    void AddWindow(const std::shared_ptr<WindowRecord>& window);
    // Forgets the window with its timers and watches.
    void RemoveWindow(HWND wnd);
    // The live window of this thread, or null.
    std::shared_ptr<WindowRecord> FindWindow(HWND wnd);

    bool Peek(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags);
    // Blocks up to timeoutMs (-1: without limit) until the queue has work; true then.
    bool Wait(int timeoutMs);
    bool HasWork();

    UINT_PTR SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs);
    bool KillTimer(HWND wnd, UINT_PTR id);

    bool Watch(HWND owner, int fd, std::uint32_t events, TDescriptorHandler handler);
    void Unwatch(HWND owner, int fd);

    // From the first call on, the descriptor is kept readable for the owner's own posts
    // too, for the toolkit that watches it.
    int Descriptor();

    // Called when the owning thread ends: its windows die and later posts are refused.
    void Close();

private:
    struct Timer {
        std::shared_ptr<WindowRecord> Window;
        UINT_PTR Id = 0;
        std::int64_t IntervalMs = 0;
        std::int64_t Deadline = 0; // monotonic milliseconds
        bool Pending = false;      // a WM_TIMER waits to be taken
    };
    struct WatchEntry {
        std::shared_ptr<WindowRecord> Owner;
        TDescriptorHandler Handler; // empty once fired, until watched again
        std::uint32_t Generation = 0;
    };
    struct Readiness {
        int Fd;
        std::uint32_t Generation;
        std::uint32_t Events;
    };

    bool TakePosted(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, bool remove);
    bool TakeTimer(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, bool remove);
    void Collect(int timeoutMs);
    void RunReadyHandlers();
    void UpdateTimers(std::int64_t now);
    void ArmTimerDescriptor();
    void ServeSynchronize();
    // Keeps the wake eventfd signalled while work is left (for the owner's own work only
    // once the descriptor is shared), and drained when none is.
    void RefreshWake();
    void SignalWakeLocked();
    bool HasWorkLocked() const;
    bool IsAlive(HWND wnd);

    int FEpoll = -1;
    int FWake = -1;
    int FTimerFd = -1;
    bool FIsMain = false;
    bool FInGuiWait = false;
    std::int64_t FArmedDeadline = -1;

    // Shared with posting threads.
    mutable std::mutex FMutex;
    std::deque<MSG> FPosted;
    bool FQuit = false;
    int FQuitCode = 0;
    bool FWakeSignalled = false;
    bool FDescriptorShared = false;
    bool FClosed = false;

    // Owner thread only.
    std::unordered_map<HWND, std::shared_ptr<WindowRecord>> FWindows;
    std::vector<Timer> FTimers;
    std::unordered_map<int, WatchEntry> FWatches;
    std::deque<Readiness> FReady;
    std::uint32_t FGeneration = 0;
    int FPostedStreak = 0;
};

// The toolkit's wait on the GUI thread (see SetGuiThreadWait), or empty.
TGuiWait& GuiThreadWait();

// Monotonic milliseconds, and the same as a message time (GetTickCount's counter).
std::int64_t MonotonicMs();
DWORD TickNow();

// The process-wide window table (any thread).
void RegisterWindow(const std::shared_ptr<WindowRecord>& window);
std::shared_ptr<WindowRecord> UnregisterWindow(HWND wnd);
std::shared_ptr<WindowRecord> LookupWindow(HWND wnd);

} // namespace vt

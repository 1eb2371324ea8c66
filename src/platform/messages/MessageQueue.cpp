#include "platform/messages/MessageQueue.h"

#include "platform/messages/Thread.h"
#include "platform/runtime/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace vt {

namespace {

// epoll tags of the queue's own descriptors; watches carry a generation >= 1 in the
// upper half, so they never collide with these.
constexpr std::uint64_t kWakeTag = 1;
constexpr std::uint64_t kTimerTag = 2;
constexpr std::uint64_t kSyncTag = 3;

// Posted messages taken in a row before I/O readiness and timers get their turn: few,
// so that sockets served on the same thread as busy posters stay close to the wire.
constexpr int kPostedPerPass = 4;
// Windows' own limits for a window timer's period.
constexpr std::int64_t kMinTimerMs = 10;
constexpr std::int64_t kMaxTimerMs = 0x7FFFFFFF;
// Window timers one thread may hold before SetTimer refuses.
constexpr std::size_t kMaxTimersPerThread = 10000;
constexpr int kEventsPerCollect = 64;
// Posted messages a queue holds before PostMessage refuses more, so a thread that
// stops pumping cannot make its posters grow memory without bound.
constexpr std::size_t kMaxPostedMessages = 100000;

[[noreturn]] void FailResource(const char* what) {
    throw EOutOfResources(std::string("Cannot create the message queue (") + what +
                          "): " + std::strerror(errno));
}

void AddToEpoll(int epoll, int fd, std::uint64_t tag) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = tag;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) != 0) FailResource("epoll_ctl");
}

void SignalEventFd(int fd) {
    const std::uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void DrainEventFd(int fd) {
    std::uint64_t count;
    while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool InRange(UINT msg, UINT filterMin, UINT filterMax) {
    return (filterMin == 0 && filterMax == 0) || (msg >= filterMin && msg <= filterMax);
}

// Closes the queue when its thread ends, so posts to its windows are refused.
struct QueueHolder {
    std::shared_ptr<MessageQueue> Queue;
    ~QueueHolder() {
        if (Queue) Queue->Close();
    }
};

thread_local QueueHolder t_holder;

} // namespace

DWORD TickNow() {
    return static_cast<DWORD>(MonotonicMs());
}

TGuiWait& GuiThreadWait() {
    static TGuiWait wait;
    return wait;
}

std::int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

MessageQueue::MessageQueue() : FIsMain(IsMainThread()) {
    FEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (FEpoll < 0) FailResource("epoll");
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake < 0) FailResource("eventfd");
    FTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (FTimerFd < 0) FailResource("timerfd");
    AddToEpoll(FEpoll, FWake, kWakeTag);
    AddToEpoll(FEpoll, FTimerFd, kTimerTag);
    if (FIsMain) AddToEpoll(FEpoll, SynchronizeDescriptor(), kSyncTag);
}

MessageQueue::~MessageQueue() {
    for (int fd : {FTimerFd, FWake, FEpoll}) {
        if (fd >= 0) close(fd);
    }
}

MessageQueue& MessageQueue::Current() {
    return *CurrentShared();
}

std::shared_ptr<MessageQueue> MessageQueue::CurrentShared() {
    if (!t_holder.Queue) t_holder.Queue = std::make_shared<MessageQueue>();
    return t_holder.Queue;
}

bool MessageQueue::IsCurrent() const {
    return t_holder.Queue.get() == this;
}

bool MessageQueue::Post(const MSG& msg) {
    const bool fromOwner = IsCurrent();
    std::lock_guard lock(FMutex);
    if (FClosed || FPosted.size() >= kMaxPostedMessages) return false;
    FPosted.push_back(msg);
    if (!fromOwner || FDescriptorShared) SignalWakeLocked();
    return true;
}

void MessageQueue::PostQuit(int exitCode) {
    const bool fromOwner = IsCurrent();
    std::lock_guard lock(FMutex);
    FQuit = true;
    FQuitCode = exitCode;
    if (!fromOwner || FDescriptorShared) SignalWakeLocked();
}

// The owner looks at its queue before it waits, so its own posts need no wake-up: only
// another thread's do, and everything once a toolkit watches the descriptor. That
// saves two system calls per post on a thread that serves its own sockets.
void MessageQueue::SignalWakeLocked() {
    if (FWakeSignalled) return;
    SignalEventFd(FWake);
    FWakeSignalled = true;
}

int MessageQueue::Descriptor() {
    {
        std::lock_guard lock(FMutex);
        FDescriptorShared = true;
    }
    RefreshWake();
    return FEpoll;
}

void MessageQueue::Close() {
    for (auto& [handle, window] : FWindows) {
        window->Alive = false;
        UnregisterWindow(handle);
    }
    // The windows' records point back here; dropping them breaks that cycle.
    auto windows = std::move(FWindows);
    FWindows.clear();
    FTimers.clear();
    FWatches.clear();
    FReady.clear();
    std::lock_guard lock(FMutex);
    FClosed = true;
    FPosted.clear();
}

void MessageQueue::AddWindow(const std::shared_ptr<WindowRecord>& window) {
    FWindows.emplace(window->Handle, window);
}

void MessageQueue::RemoveWindow(HWND wnd) {
    FWindows.erase(wnd);
    std::erase_if(FTimers, [wnd](const Timer& t) { return t.Window->Handle == wnd; });
    for (auto it = FWatches.begin(); it != FWatches.end();) {
        if (it->second.Owner->Handle == wnd) {
            epoll_ctl(FEpoll, EPOLL_CTL_DEL, it->first, nullptr);
            it = FWatches.erase(it);
        } else {
            ++it;
        }
    }
    ArmTimerDescriptor();
}

std::shared_ptr<WindowRecord> MessageQueue::FindWindow(HWND wnd) {
    auto it = FWindows.find(wnd);
    if (it == FWindows.end()) return nullptr;
    if (!it->second->Alive) {
        // Deallocated by another thread: clean up here, on the owner's thread.
        RemoveWindow(wnd);
        return nullptr;
    }
    return it->second;
}

bool MessageQueue::IsAlive(HWND wnd) {
    return wnd == nullptr || FindWindow(wnd) != nullptr;
}

// One pass: up to kPostedPerPass posted messages (and a quit), then I/O readiness,
// then window timers; messages posted by I/O handlers are taken in the same call.
bool MessageQueue::Peek(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags) {
    struct WakeGuard {
        MessageQueue* Queue;
        ~WakeGuard() { Queue->RefreshWake(); }
    } guard{this};
    const bool remove = (removeFlags & PM_REMOVE) != 0;
    ServeSynchronize();
    if (FPostedStreak < kPostedPerPass && TakePosted(msg, filter, filterMin, filterMax, remove)) {
        if (remove) ++FPostedStreak;
        return true;
    }
    FPostedStreak = 0;
    Collect(0);
    RunReadyHandlers();
    if (TakeTimer(msg, filter, filterMin, filterMax, remove)) return true;
    if (TakePosted(msg, filter, filterMin, filterMax, remove)) {
        if (remove) ++FPostedStreak;
        return true;
    }
    return false;
}

bool MessageQueue::TakePosted(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, bool remove) {
    std::unique_lock lock(FMutex);
    for (auto it = FPosted.begin(); it != FPosted.end();) {
        if (it->hwnd != nullptr && (filter == nullptr || filter == it->hwnd)) {
            // FindWindow may clean up timers and watches; it never touches FPosted.
            if (!IsAlive(it->hwnd)) {
                it = FPosted.erase(it); // the window is gone: its messages go with it
                continue;
            }
        }
        const bool matches =
            (filter == nullptr || filter == it->hwnd) && InRange(it->message, filterMin, filterMax);
        if (matches) {
            msg = *it;
            if (remove) FPosted.erase(it);
            return true;
        }
        ++it;
    }
    if (FQuit && filter == nullptr && InRange(WM_QUIT, filterMin, filterMax)) {
        msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(FQuitCode), 0, TickNow()};
        if (remove) FQuit = false;
        return true;
    }
    return false;
}

bool MessageQueue::TakeTimer(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, bool remove) {
    if (FTimers.empty() || !InRange(WM_TIMER, filterMin, filterMax)) return false;
    UpdateTimers(MonotonicMs());
    for (auto& timer : FTimers) {
        if (!timer.Pending || (filter != nullptr && filter != timer.Window->Handle)) continue;
        msg = MSG{timer.Window->Handle, WM_TIMER, timer.Id, 0, TickNow()};
        if (remove) timer.Pending = false;
        return true;
    }
    return false;
}

void MessageQueue::Collect(int timeoutMs) {
    epoll_event events[kEventsPerCollect];
    const int n = epoll_wait(FEpoll, events, kEventsPerCollect, timeoutMs);
    bool timerFired = false;
    for (int i = 0; i < n; ++i) {
        const std::uint64_t tag = events[i].data.u64;
        if (tag == kTimerTag) {
            DrainEventFd(FTimerFd); // a timerfd reads like an eventfd: one 8-byte count
            timerFired = true;
        } else if (tag == kWakeTag || tag == kSyncTag) {
            // Level-triggered; consumed when the work they announce is done.
        } else {
            FReady.push_back(Readiness{static_cast<int>(tag & 0xFFFFFFFFu),
                                       static_cast<std::uint32_t>(tag >> 32), events[i].events});
        }
    }
    if (timerFired) {
        FArmedDeadline = -1;
        UpdateTimers(MonotonicMs());
    }
}

void MessageQueue::RunReadyHandlers() {
    while (!FReady.empty()) {
        const Readiness ready = FReady.front();
        FReady.pop_front();
        auto it = FWatches.find(ready.Fd);
        // Unwatched, watched anew or already fired since: the readiness is stale.
        if (it == FWatches.end() || it->second.Generation != ready.Generation ||
            !it->second.Handler)
            continue;
        if (!it->second.Owner->Alive) {
            epoll_ctl(FEpoll, EPOLL_CTL_DEL, ready.Fd, nullptr);
            FWatches.erase(it);
            continue;
        }
        // The handler may watch, unwatch or deallocate anything; it runs from a local.
        TDescriptorHandler handler = std::move(it->second.Handler);
        it->second.Handler = nullptr;
        handler(ready.Events);
    }
}

void MessageQueue::UpdateTimers(std::int64_t now) {
    std::erase_if(FTimers, [](const Timer& t) { return !t.Window->Alive; });
    for (auto& timer : FTimers) {
        if (timer.Deadline > now) continue;
        timer.Pending = true;
        // Keep the phase when on time; a late timer does not make up missed periods.
        timer.Deadline += timer.IntervalMs;
        if (timer.Deadline <= now) timer.Deadline = now + timer.IntervalMs;
    }
    ArmTimerDescriptor();
}

void MessageQueue::ArmTimerDescriptor() {
    std::int64_t nearest = -1;
    for (const auto& timer : FTimers) {
        if (nearest < 0 || timer.Deadline < nearest) nearest = timer.Deadline;
    }
    if (nearest == FArmedDeadline) return;
    itimerspec deadline{};
    if (nearest >= 0) {
        deadline.it_value.tv_sec = nearest / 1000;
        deadline.it_value.tv_nsec = (nearest % 1000) * 1000000;
        if (nearest == 0) deadline.it_value.tv_nsec = 1; // zero would disarm
    }
    timerfd_settime(FTimerFd, TFD_TIMER_ABSTIME, &deadline, nullptr);
    FArmedDeadline = nearest;
}

void MessageQueue::ServeSynchronize() {
    if (FIsMain) CheckSynchronize();
}

bool MessageQueue::HasWorkLocked() const {
    return !FPosted.empty() || FQuit || !FReady.empty() ||
           std::any_of(FTimers.begin(), FTimers.end(), [](const Timer& t) { return t.Pending; });
}

bool MessageQueue::HasWork() {
    std::lock_guard lock(FMutex);
    return HasWorkLocked();
}

void MessageQueue::RefreshWake() {
    std::lock_guard lock(FMutex);
    const bool work = HasWorkLocked();
    if (work && FDescriptorShared) {
        SignalWakeLocked();
    } else if (!work && FWakeSignalled) {
        DrainEventFd(FWake);
        FWakeSignalled = false;
    }
}

bool MessageQueue::Wait(int timeoutMs) {
    ServeSynchronize();
    if (HasWork()) return true;
    bool toolkitEvents = false;
    TGuiWait& guiWait = GuiThreadWait();
    if (FIsMain && guiWait && !FInGuiWait) {
        // The toolkit watches our descriptor, so its wait ends for our work too.
        FInGuiWait = true;
        try {
            toolkitEvents = guiWait(timeoutMs);
        } catch (...) {
            FInGuiWait = false;
            throw;
        }
        FInGuiWait = false;
        Collect(0);
    } else {
        Collect(timeoutMs);
    }
    ServeSynchronize();
    RefreshWake();
    return HasWork() || toolkitEvents;
}

UINT_PTR MessageQueue::SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs) {
    auto window = FindWindow(wnd);
    if (!window || id == 0) return 0;
    const std::int64_t interval =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(elapseMs), kMinTimerMs, kMaxTimerMs);
    const std::int64_t deadline = MonotonicMs() + interval;
    auto it = std::find_if(FTimers.begin(), FTimers.end(),
                           [&](const Timer& t) { return t.Window->Handle == wnd && t.Id == id; });
    if (it != FTimers.end()) {
        // Setting an existing timer starts its period afresh and drops a waiting tick.
        it->IntervalMs = interval;
        it->Deadline = deadline;
        it->Pending = false;
    } else {
        if (FTimers.size() >= kMaxTimersPerThread) return 0;
        FTimers.push_back(Timer{window, id, interval, deadline, false});
    }
    ArmTimerDescriptor();
    RefreshWake();
    return id;
}

bool MessageQueue::KillTimer(HWND wnd, UINT_PTR id) {
    const auto before = FTimers.size();
    std::erase_if(FTimers, [&](const Timer& t) { return t.Window->Handle == wnd && t.Id == id; });
    if (FTimers.size() == before) return false;
    ArmTimerDescriptor();
    RefreshWake();
    return true;
}

bool MessageQueue::Watch(HWND owner, int fd, std::uint32_t events, TDescriptorHandler handler) {
    auto window = FindWindow(owner);
    if (!window || fd < 0 || !handler) return false;
    const std::uint32_t generation = ++FGeneration == 0 ? ++FGeneration : FGeneration;
    epoll_event ev{};
    // One-shot: a ready socket is reported once, never flooding the loop.
    ev.events = (events & ~static_cast<std::uint32_t>(EPOLLET)) | EPOLLONESHOT;
    ev.data.u64 = (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
    const bool known = FWatches.count(fd) != 0;
    int rc = epoll_ctl(FEpoll, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev);
    // The kernel forgets a descriptor when it is closed; a reused number needs ADD, and
    // one the kernel still knows needs MOD.
    if (rc != 0 && known && errno == ENOENT) rc = epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &ev);
    if (rc != 0 && !known && errno == EEXIST) rc = epoll_ctl(FEpoll, EPOLL_CTL_MOD, fd, &ev);
    if (rc != 0) {
        FWatches.erase(fd);
        return false;
    }
    FWatches[fd] = WatchEntry{std::move(window), std::move(handler), generation};
    return true;
}

void MessageQueue::Unwatch(HWND owner, int fd) {
    auto it = FWatches.find(fd);
    if (it == FWatches.end() || it->second.Owner->Handle != owner) return;
    // A watch that fired is disabled in the kernel already (one-shot); closing the
    // descriptor makes the kernel forget it, and watching it again adds or modifies.
    if (it->second.Handler) epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr);
    FWatches.erase(it);
}

} // namespace vt

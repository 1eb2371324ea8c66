#include "platform/messages/Thread.h"

#include "platform/runtime/Exceptions.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vt {

namespace {

// A call handed to the GUI thread; lives on the waiting worker's stack.
struct SyncRequest {
    const std::function<void()>* Method = nullptr;
    std::exception_ptr Error;
    bool Done = false;
};

struct SyncState {
    std::mutex Mutex;
    std::condition_variable Done;
    std::deque<SyncRequest*> Requests;
    int Fd = -1;
    bool Signalled = false;
    std::atomic<bool> Pending{false};
};

// Never destroyed: workers may still hand over while the process exits.
SyncState& Sync() {
    static SyncState* state = [] {
        auto* s = new SyncState;
        s->Fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (s->Fd < 0) throw EOutOfResources("Cannot create the thread hand-over signal");
        return s;
    }();
    return *state;
}

void WriteOne(int fd) {
    const std::uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void ReadAll(int fd) {
    std::uint64_t count;
    while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

} // namespace

bool IsMainThread() {
    static thread_local const bool main = gettid() == getpid();
    return main;
}

int SynchronizeDescriptor() {
    return Sync().Fd;
}

void SynchronizeWithMainThread(const std::function<void()>& Method) {
    if (IsMainThread()) {
        Method();
        return;
    }
    auto& sync = Sync();
    SyncRequest request;
    request.Method = &Method;
    std::unique_lock lock(sync.Mutex);
    sync.Requests.push_back(&request);
    sync.Pending = true;
    if (!sync.Signalled) {
        WriteOne(sync.Fd);
        sync.Signalled = true;
    }
    sync.Done.wait(lock, [&] { return request.Done; });
    lock.unlock();
    if (request.Error) std::rethrow_exception(request.Error);
}

bool CheckSynchronize() {
    if (!IsMainThread()) return false;
    auto& sync = Sync();
    if (!sync.Pending.load(std::memory_order_acquire)) return false;
    std::deque<SyncRequest*> batch;
    {
        std::lock_guard lock(sync.Mutex);
        batch.swap(sync.Requests);
        sync.Pending = false;
        if (sync.Signalled) {
            ReadAll(sync.Fd);
            sync.Signalled = false;
        }
    }
    for (SyncRequest* request : batch) {
        try {
            (*request->Method)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        {
            std::lock_guard lock(sync.Mutex);
            request->Done = true;
        }
        sync.Done.notify_all();
    }
    return !batch.empty();
}

} // namespace vt

TThread::TThread(bool CreateSuspended) {
    FFinishedSignal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FFinishedSignal < 0) throw EThread("Cannot create a thread signal");
    FSuspendCount = CreateSuspended ? 1 : 0;
    try {
        FThread = std::thread(&TThread::ThreadMain, this);
    } catch (const std::system_error& e) {
        close(FFinishedSignal);
        throw EThread(std::string("Thread creation error: ") + e.what());
    }
    // The id is needed to set the priority from the owner's side.
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return FThreadID != 0; });
}

TThread::~TThread() {
    if (OnOwnThread()) {
        // Freed by its own thread on termination: nobody is left to join it.
        FThread.detach();
    } else {
        EndThread();
        if (FThread.joinable()) FThread.join();
    }
    close(FFinishedSignal);
}

bool TThread::OnOwnThread() const {
    // FOwnId is written by the worker before the constructor returns, unlike FThread,
    // which the constructor may still be assigning while the worker runs.
    return std::this_thread::get_id() == FOwnId;
}

void TThread::ThreadMain() {
    {
        std::unique_lock lock(FMutex);
        FThreadID = gettid();
        FOwnId = std::this_thread::get_id();
        FChanged.notify_all();
    }
    ApplyPriority();
    bool run;
    {
        std::unique_lock lock(FMutex);
        ParkWhileSuspended(lock);
        run = !FEnding;
    }
    if (run) {
        try {
            Execute();
        } catch (...) {
            FFatalException = std::current_exception();
        }
        if (OnTerminate) {
            try {
                Synchronize([this] { OnTerminate(this); });
            } catch (...) {
                if (!FFatalException) FFatalException = std::current_exception();
            }
        }
    }
    bool freeSelf;
    {
        std::lock_guard lock(FMutex);
        FFinished = true;
        freeSelf = FFreeOnTerminate && !FEnding;
        vt::WriteOne(FFinishedSignal);
        FChanged.notify_all();
    }
    if (freeSelf) delete this;
}

void TThread::ParkWhileSuspended(std::unique_lock<std::mutex>& lock) {
    FChanged.wait(lock, [this] { return FSuspendCount == 0; });
}

// State changes notify while holding the lock: a thread that frees itself on
// termination may be gone as soon as the lock is released.
void TThread::Resume() {
    std::lock_guard lock(FMutex);
    if (FSuspendCount > 0) --FSuspendCount;
    FChanged.notify_all();
}

void TThread::Suspend() {
    {
        std::lock_guard lock(FMutex);
        ++FSuspendCount;
        FChanged.notify_all(); // cuts a running Sleep short
    }
    if (OnOwnThread()) CheckSuspended();
}

bool TThread::Suspended() const {
    std::lock_guard lock(FMutex);
    return FSuspendCount > 0;
}

void TThread::Terminate() {
    std::lock_guard lock(FMutex);
    FTerminated = true;
    FChanged.notify_all();
}

bool TThread::Terminated() const {
    std::lock_guard lock(FMutex);
    return FTerminated;
}

bool TThread::Finished() const {
    std::lock_guard lock(FMutex);
    return FFinished;
}

int TThread::WaitFor() {
    if (OnOwnThread()) throw EThread("Cannot wait for a thread from the thread itself");
    {
        std::lock_guard lock(FMutex);
        if (FFreeOnTerminate && !FEnding)
            throw EThread("Cannot wait for a thread that frees itself on termination");
    }
    if (vt::IsMainThread()) {
        // Serve hand-overs while waiting, or a worker in Synchronize would never end.
        pollfd fds[2] = {{FFinishedSignal, POLLIN, 0}, {vt::SynchronizeDescriptor(), POLLIN, 0}};
        while (!Finished()) {
            vt::CheckSynchronize();
            if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        }
    } else {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return FFinished; });
    }
    if (FThread.joinable()) FThread.join();
    return FReturnValue;
}

void TThread::EndThread() {
    {
        std::lock_guard lock(FMutex);
        FEnding = true; // a thread that has not started yet never will
        FTerminated = true;
        FSuspendCount = 0;
        FChanged.notify_all();
    }
    WaitFor();
}

TThreadPriority TThread::Priority() const {
    std::lock_guard lock(FMutex);
    return FPriority;
}

void TThread::SetPriority(TThreadPriority Value) {
    {
        std::lock_guard lock(FMutex);
        FPriority = Value;
    }
    ApplyPriority();
}

void TThread::ApplyPriority() {
    static constexpr int kNice[] = {0, 10, 5, 0, -5, -10, -15};
    int tid;
    TThreadPriority priority;
    {
        std::lock_guard lock(FMutex);
        tid = FThreadID;
        priority = FPriority;
    }
    if (tid == 0) return;
    sched_param param{};
    // Refusals (raising without the privilege) leave the thread where it was.
    sched_setscheduler(tid, priority == tpIdle ? SCHED_IDLE : SCHED_OTHER, &param);
    if (priority != tpIdle) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[priority]);
}

bool TThread::FreeOnTerminate() const {
    std::lock_guard lock(FMutex);
    return FFreeOnTerminate;
}

void TThread::SetFreeOnTerminate(bool Value) {
    std::lock_guard lock(FMutex);
    FFreeOnTerminate = Value;
}

int TThread::ReturnValue() const {
    return FReturnValue;
}

std::exception_ptr TThread::FatalException() const {
    return FFatalException;
}

void TThread::Synchronize(const std::function<void()>& Method) {
    if (OnOwnThread()) CheckSuspended();
    vt::SynchronizeWithMainThread(Method);
}

void TThread::CheckSuspended() {
    std::unique_lock lock(FMutex);
    ParkWhileSuspended(lock);
}

bool TThread::Sleep(DWORD Milliseconds) {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(FMutex);
    auto deadline = Clock::now() + std::chrono::milliseconds(Milliseconds);
    for (;;) {
        if (FTerminated) return false;
        if (FSuspendCount > 0) {
            ParkWhileSuspended(lock);
            // A resumed sleeper measures its whole period again.
            deadline = Clock::now() + std::chrono::milliseconds(Milliseconds);
            continue;
        }
        if (Clock::now() >= deadline) return true;
        FChanged.wait_until(lock, deadline);
    }
}

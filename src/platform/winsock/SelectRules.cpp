#include "platform/winsock/SelectRules.h"

#include "platform/messages/Messages.h"
#include "platform/winsock/HostCalls.h"
#include "platform/winsock/WinsockDefs.h"

#include <cerrno>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace vt::ws {

short PollNow(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) > 0 ? p.revents : 0;
}

int BytesWaiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

int PendingSocketError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 ? err : errno;
}

namespace {

bool OnOwnerThread(const Entry& e) {
    return e.Owner == std::this_thread::get_id();
}

} // namespace

bool Wants(const Entry& e, long event) {
    return e.Wnd != nullptr && (e.Mask & event) != 0;
}

void Post(const Entry& e, long event, int error) {
    PostMessage(e.Wnd, e.Msg, e.Id,
                WSAMAKESELECTREPLY(static_cast<WORD>(event), static_cast<WORD>(error)));
}

void StopWatching(Entry& e) {
    // Watches belong to the window's thread; elsewhere closing the descriptor ends it.
    if (e.Wnd != nullptr && OnOwnerThread(e)) {
        vt::UnwatchDescriptor(e.Wnd, e.Fd);
        if (e.ReminderArmed) vt::UnwatchDescriptor(e.Wnd, e.ReminderFd);
    }
    e.Watching = false;
    e.ReminderArmed = false;
}

void OnReady(SocketId id) {
    std::lock_guard lock(Sockets().Mutex);
    if (EntryPtr e = Find(id)) {
        e->Watching = false; // one-shot: it fired
        Refresh(*e);
    }
}

void OnReminder(SocketId id) {
    std::lock_guard lock(Sockets().Mutex);
    if (EntryPtr e = Find(id)) {
        e->ReminderArmed = false; // one-shot: it fired
        Refresh(*e);
    }
}

// Brings the loop back for held bytes on its next pass: the reminder descriptor is always
// readable (its count is never taken), so its one-shot watch fires at once.
void Remind(Entry& e) {
    if (e.ReminderArmed || !OnOwnerThread(e)) return;
    if (e.ReminderFd < 0) e.ReminderFd = ::eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC);
    const SocketId id = e.Id;
    if (e.ReminderFd >= 0)
        e.ReminderArmed = vt::WatchDescriptor(e.Wnd, e.ReminderFd, EPOLLIN,
                                              [id](std::uint32_t) { OnReminder(id); });
    // Without a reminder the notification goes out now, as Winsock itself would post it.
    if (!e.ReminderArmed && e.ReadEnabled && Wants(e, FD_READ)) {
        e.ReadEnabled = false;
        Post(e, FD_READ, 0);
    }
}

void Watch(Entry& e, std::uint32_t events) {
    if (!OnOwnerThread(e)) return;
    // An armed watch reports its events whenever they hold, also those that hold now:
    // arming it again for the same events would only cost a system call.
    if (e.Watching && e.WatchedEvents == events) return;
    const SocketId id = e.Id;
    e.Watching = vt::WatchDescriptor(e.Wnd, e.Fd, events, [id](std::uint32_t) { OnReady(id); });
    e.WatchedEvents = events;
}

// `rev` is the host's readiness that ended the connect: writable without an error or a
// hang-up is a success, and only a failure has a code worth asking for.
void FinishConnect(Entry& e, short rev) {
    e.ConnectError = (rev & (POLLERR | POLLHUP)) ? WsaErrorFromErrno(PendingSocketError(e.Fd)) : 0;
    if (e.ConnectError != 0) {
        e.State = Phase::Failed;
        if (Wants(e, FD_CONNECT)) Post(e, FD_CONNECT, e.ConnectError);
        return;
    }
    e.State = Phase::Connected;
    e.WriteArmed = true;
    if (Wants(e, FD_CONNECT)) Post(e, FD_CONNECT, 0);
}

// A non-blocking connect may have finished without anyone watching; look before
// judging the state.
void UpdateConnecting(Entry& e) {
    if (e.State != Phase::Connecting) return;
    const short rev = PollNow(e.Fd, POLLOUT);
    if (rev & (POLLOUT | POLLERR | POLLHUP)) FinishConnect(e, rev);
}

void RefreshStream(Entry& e, short rev) {
    if (!e.Terminal && (rev & (POLLERR | POLLHUP))) {
        e.Terminal = true;
        e.PeerClosed = true;
        // A hang-up alone is both directions closed in order; only an error has a code.
        e.ResetError = (rev & POLLERR) ? WsaErrorFromErrno(PendingSocketError(e.Fd)) : 0;
    }
    if (rev & POLLRDHUP) e.PeerClosed = true;
    const int pending = e.Held() > 0   ? 1
                        : e.EndRead    ? 0
                        : e.PeerClosed ? BytesWaiting(e.Fd)
                                       : ((rev & POLLIN) ? 1 : 0);
    if (pending > 0 && e.ReadEnabled && Wants(e, FD_READ)) {
        e.ReadEnabled = false;
        Post(e, FD_READ, 0);
    }
    if ((rev & POLLPRI) && e.OobEnabled && Wants(e, FD_OOB)) {
        e.OobEnabled = false;
        Post(e, FD_OOB, 0);
    }
    if ((rev & POLLOUT) && !e.Terminal && e.WriteArmed && Wants(e, FD_WRITE)) {
        e.WriteArmed = false;
        Post(e, FD_WRITE, 0);
    }
    // A graceful close is reported once the data before it has been read; a reset at once.
    if (e.PeerClosed && (pending == 0 || e.ResetError != 0) && !e.CloseReported &&
        Wants(e, FD_CLOSE)) {
        e.CloseReported = true;
        Post(e, FD_CLOSE, e.ResetError);
    }
}

void RefreshDatagram(Entry& e, short rev) {
    if ((rev & (POLLIN | POLLERR)) && e.ReadEnabled && Wants(e, FD_READ)) {
        e.ReadEnabled = false;
        Post(e, FD_READ, 0);
    }
    if ((rev & POLLOUT) && e.WriteArmed && Wants(e, FD_WRITE)) {
        e.WriteArmed = false;
        Post(e, FD_WRITE, 0);
    }
}

// What to wait for next: only conditions that could lead to a notification, so that a
// condition that stays true (data nobody reads yet, a closed peer) never floods the loop.
void Arm(Entry& e, short rev) {
    std::uint32_t events = 0;
    bool arm = false;
    if (e.Type == SOCK_DGRAM) {
        // A pending error is reported at once by the host; recv re-arms after reading it.
        if (!((rev & POLLERR) && !e.ReadEnabled)) {
            if (e.ReadEnabled && Wants(e, FD_READ)) events |= EPOLLIN;
            if (e.WriteArmed && Wants(e, FD_WRITE)) events |= EPOLLOUT;
            arm = events != 0;
        }
    } else if (e.State == Phase::Connecting) {
        events = EPOLLOUT;
        arm = true;
    } else if (e.State == Phase::Listening) {
        if (e.AcceptEnabled && Wants(e, FD_ACCEPT)) events = EPOLLIN;
        arm = events != 0;
    } else if (e.State == Phase::Connected && !e.Terminal) {
        const bool closeWanted = !e.CloseReported && Wants(e, FD_CLOSE);
        if (!e.PeerClosed && e.ReadEnabled && Wants(e, FD_READ)) events |= EPOLLIN;
        if (!e.PeerClosed && closeWanted) events |= EPOLLRDHUP;
        if (e.OobEnabled && Wants(e, FD_OOB)) events |= EPOLLPRI;
        if (e.WriteArmed && Wants(e, FD_WRITE)) events |= EPOLLOUT;
        // With nothing else to wait for, a reset is still worth hearing about.
        arm = events != 0 || closeWanted;
    }
    if (arm)
        Watch(e, events);
    else
        StopWatching(e);
}

// Posts whatever is due now and waits for the rest. Called with the table locked, after
// every change that can make a notification due.
void Refresh(Entry& e) {
    if (e.Closed) return;
    if (e.Wnd == nullptr || e.Mask == 0) return StopWatching(e);
    // A stream that is not connecting, connected or listening has nothing to report.
    if (e.Type == SOCK_STREAM && (e.State == Phase::Fresh || e.State == Phase::Failed))
        return StopWatching(e);
    const short rev = PollNow(e.Fd);
    if (e.State == Phase::Connecting && (rev & (POLLOUT | POLLERR | POLLHUP)))
        FinishConnect(e, rev);
    if (e.Type == SOCK_DGRAM) {
        RefreshDatagram(e, rev);
    } else if (e.State == Phase::Listening) {
        if ((rev & POLLIN) && e.AcceptEnabled && Wants(e, FD_ACCEPT)) {
            e.AcceptEnabled = false;
            Post(e, FD_ACCEPT, 0);
        }
    } else if (e.State == Phase::Connected) {
        RefreshStream(e, rev);
    }
    Arm(e, rev);
}

// Re-enabling FD_READ this way needs no look at the descriptor: once FD_READ is enabled
// the watch includes readability, and the host reports at once what is already there
// (data left by a read that filled its buffer) or arrives later. The FD_READ for data
// that remains is then posted from the loop, once however often the caller has read
// meanwhile: a receive loop that reads many times per notification does not pile up a
// notification per read. A closed or failed connection takes the full path, which
// reports FD_CLOSE in its place; so does a caller on another thread, where no watch is.
bool ReenableRead(Entry& e) {
    if (e.Closed || e.Type != SOCK_STREAM || e.State != Phase::Connected || e.PeerClosed ||
        e.Terminal || e.Wnd == nullptr || e.Mask == 0 || !OnOwnerThread(e))
        return false;
    e.ReadEnabled = true;
    Arm(e, 0); // a connected stream's watch does not depend on the readiness argument
    if (e.Held() > 0) Remind(e);
    return true;
}

} // namespace vt::ws

#pragma once
// WSAAsyncSelect's notification rules for one socket. Every function here runs with the
// socket table locked.

#include "platform/winsock/SocketEntry.h"

#include <poll.h>

namespace vt::ws {

// The host's readiness of a descriptor right now, without waiting.
short PollNow(int fd, short events = POLLIN | POLLOUT | POLLPRI | POLLRDHUP);
int BytesWaiting(int fd);
// The host's pending error of a socket (read once: reading clears it).
int PendingSocketError(int fd);

bool Wants(const Entry& e, long event);
void Post(const Entry& e, long event, int error);
void StopWatching(Entry& e);
// Completes a non-blocking connect that finished without anyone watching.
void UpdateConnecting(Entry& e);
// Posts whatever is due now and waits for the rest; called after every change that can
// make a notification due.
void Refresh(Entry& e);
// recv's re-enabling of FD_READ on a connected stream that is still open, made on the
// window's thread: the watch reports data that remains, so nothing is looked at now.
// False when the caller must Refresh instead.
bool ReenableRead(Entry& e);

} // namespace vt::ws

#pragma once
// One socket of the library and the table that holds them all, on the host side.

#include "platform/runtime/WinTypes.h"
#include "platform/winsock/SocketTable.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <unistd.h>

namespace vt::ws {

// Handles count up and are never reused, so a notification still queued for a closed
// socket can never be taken for a newer one.
constexpr SocketId kFirstSocketId = 0x100;
constexpr SocketId kSocketIdStep = 4;

enum class Phase { Fresh, Connecting, Connected, Listening, Failed };

struct Entry {
    SocketId Id = kInvalidSocket;
    int Fd = -1;
    int Type = 0; // SOCK_STREAM or SOCK_DGRAM
    Phase State = Phase::Fresh;
    bool Bound = false;
    bool NonBlocking = false; // Winsock's mode; the host descriptor is always non-blocking
    bool Closed = false;

    // WSAAsyncSelect registration; the watch lives on the window's thread.
    HWND Wnd = nullptr;
    UINT Msg = 0;
    long Mask = 0;
    std::thread::id Owner;

    // Winsock's one-shot rules: an event is posted once, then again only after its
    // re-enabling call (recv, accept, a send that would block).
    bool ReadEnabled = true;
    bool AcceptEnabled = true;
    bool OobEnabled = true;
    bool WriteArmed = false;
    bool CloseReported = false;

    // The one-shot descriptor watch: armed for WatchedEvents until it fires or is
    // dropped, so an unchanged watch is not armed again.
    bool Watching = false;
    std::uint32_t WatchedEvents = 0;

    bool PeerClosed = false; // nothing more will arrive
    bool EndRead = false;    // a read met the end: the host's queue stays empty
    bool Terminal = false;   // the connection is over; the host reports it for good
    bool SendShut = false;
    int ResetError = 0;   // code of an abortive end, answered by every later recv/send
    int ConnectError = 0; // outcome of the last connect, read once from the host

    bool LingerOn = false;
    int LingerSeconds = 0;
    long long Received = 0;
    int LeftAfterRecv = -1; // queued bytes the host reported with the last plain recv

    // Read-ahead of a stream: small reads take a large block from the host at once and
    // are served from it, so they cost no system call each. Held bytes come before
    // anything still queued at the host; the notification rules count them as waiting.
    std::unique_ptr<char[]> Ahead;
    std::size_t AheadAt = 0;  // the next held byte
    std::size_t AheadEnd = 0; // the end of the held bytes
    int HostLeft = -1;        // what the host said it still had after the block was read
    bool TellsLeft = false;   // the host was asked to tell that with every read
    // Held bytes are not the host's readiness, so the watch cannot report them: a
    // reminder (an event descriptor watched on the window's thread) brings the loop back.
    int ReminderFd = -1;
    bool ReminderArmed = false;
    std::size_t Held() const { return AheadEnd - AheadAt; }

    Entry() = default;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    ~Entry() {
        if (Fd >= 0) ::close(Fd);
        if (ReminderFd >= 0) ::close(ReminderFd);
    }
};
using EntryPtr = std::shared_ptr<Entry>;

struct Table {
    std::mutex Mutex;
    std::unordered_map<SocketId, EntryPtr> Sockets;
    SocketId LastId = kFirstSocketId - kSocketIdStep;
    std::atomic<int> Starts{0};
};

// The one table; lock its mutex around every use of it and of its entries.
Table& Sockets();
// The entry of a live socket, or null.
EntryPtr Find(SocketId s);

} // namespace vt::ws

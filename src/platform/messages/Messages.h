#pragma once
// The window manager's message queue: one queue per thread, hidden windows with a
// window procedure, posted messages, window timers and the pump functions.
// Built on epoll; each thread's queue is one pollable descriptor.

#include "platform/runtime/WinTypes.h"

#include <cstdint>
#include <functional>

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

// The window procedure of a hidden window.
using TWndMethod = std::function<void(TMessage&)>;

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
};

// Hidden windows belong to the thread that allocates them; their messages are
// dispatched only by that thread's pump.
HWND AllocateHWnd(TWndMethod method);
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Callable from any thread. Returns false, and drops the message, when the window
// does not exist (any more) or its queue already holds 100000 messages.
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once; only from the window's own thread (a window of
// another thread raises EInvalidOperation; a missing window gives 0).
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Window timers deliver WM_TIMER with wParam = id. Returns the id, or 0 when refused
// (not a live window of the calling thread, id 0, or too many timers). Setting an
// existing id starts its period afresh. Periods below 10 ms count as 10 ms. A timer
// that is late delivers one WM_TIMER, never a burst.
UINT_PTR SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs);
bool KillTimer(HWND wnd, UINT_PTR id);

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// The calling thread's pump. A WM_QUIT is returned by PeekMessage/GetMessage and
// never dispatched. Each pass takes posted messages first (at most 64 in a row),
// then runs the handlers of ready descriptors, then delivers due timers. On the GUI
// thread every pump call also serves the hand-over requests of worker threads.
bool PeekMessage(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags);
bool GetMessage(MSG& msg, HWND filter, UINT filterMin, UINT filterMax); // false on WM_QUIT
bool TranslateMessage(const MSG& msg);
LRESULT DispatchMessage(const MSG& msg);

// Blocks in the kernel until the calling thread's queue has something to do.
void WaitMessage();
// The CPU-free yield of waiting loops: waits in the kernel for the next queue activity
// (post, timer, socket, GUI event) for at most timeoutMs; true when something arrived.
bool WaitMessageTimeout(DWORD timeoutMs);

// The calling thread's queue as one descriptor, readable whenever the queue has work;
// a toolkit's event loop watches it.
int QueueDescriptor();

namespace vt {

// Descriptor watching for the socket layer. The handler runs on the thread that owns
// `owner`, inside its pump. Watches are one-shot: after the handler runs, the
// descriptor is not watched again until WatchDescriptor is called anew.
// Call both on the owner's thread; WatchDescriptor is false when `owner` is not a live
// window of the calling thread or the descriptor cannot be watched. Watching again
// replaces the events and handler. Unwatch a descriptor before closing it: a handler
// whose descriptor was unwatched (or whose window was deallocated) never runs.
using TDescriptorHandler = std::function<void(std::uint32_t epollEvents)>;
bool WatchDescriptor(HWND owner, int fd, std::uint32_t epollEvents, TDescriptorHandler handler);
void UnwatchDescriptor(HWND owner, int fd);

// The GUI toolkit's wait. When set, WaitMessage, WaitMessageTimeout and GetMessage on
// the GUI thread call it instead of waiting in the kernel themselves, so a waiting pump
// wakes for toolkit events as well. It blocks up to timeoutMs (-1: without limit)
// until a toolkit event arrives or QueueDescriptor() becomes readable, handles the
// toolkit's events, and returns true when it handled any. Not called re-entrantly.
using TGuiWait = std::function<bool(int timeoutMs)>;
void SetGuiThreadWait(TGuiWait wait);

} // namespace vt

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
// does not exist (any more).
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once; only from the window's own thread.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Window timers deliver WM_TIMER with wParam = id. Returns the id, or 0 when refused.
UINT_PTR SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs);
bool KillTimer(HWND wnd, UINT_PTR id);

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// The calling thread's pump. A WM_QUIT is returned by PeekMessage/GetMessage and
// never dispatched.
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
using TDescriptorHandler = std::function<void(std::uint32_t epollEvents)>;
bool WatchDescriptor(HWND owner, int fd, std::uint32_t epollEvents, TDescriptorHandler handler);
void UnwatchDescriptor(HWND owner, int fd);

} // namespace vt

#include "platform/messages/Messages.h"

#include "platform/messages/MessageQueue.h"
#include "platform/runtime/Exceptions.h"

#include <limits>
#include <mutex>
#include <unordered_map>

namespace vt {

namespace {

struct WindowTable {
    std::mutex Mutex;
    std::unordered_map<HWND, std::shared_ptr<WindowRecord>> Windows;
    std::uintptr_t LastHandle = 0;
};

// Never destroyed: threads may still post while the process exits.
WindowTable& Table() {
    static auto* table = new WindowTable;
    return *table;
}

} // namespace

void RegisterWindow(const std::shared_ptr<WindowRecord>& window) {
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    // Handles count up and are never reused, so a stale handle never reaches a newer window.
    window->Handle = reinterpret_cast<HWND>(++table.LastHandle);
    table.Windows.emplace(window->Handle, window);
}

std::shared_ptr<WindowRecord> UnregisterWindow(HWND wnd) {
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    auto it = table.Windows.find(wnd);
    if (it == table.Windows.end()) return nullptr;
    auto window = std::move(it->second);
    table.Windows.erase(it);
    window->Alive = false;
    return window;
}

std::shared_ptr<WindowRecord> LookupWindow(HWND wnd) {
    if (wnd == nullptr) return nullptr;
    auto& table = Table();
    std::lock_guard lock(table.Mutex);
    auto it = table.Windows.find(wnd);
    return it == table.Windows.end() ? nullptr : it->second;
}

bool WatchDescriptor(HWND owner, int fd, std::uint32_t epollEvents, TDescriptorHandler handler) {
    return MessageQueue::Current().Watch(owner, fd, epollEvents, std::move(handler));
}

void UnwatchDescriptor(HWND owner, int fd) {
    MessageQueue::Current().Unwatch(owner, fd);
}

void SetGuiThreadWait(TGuiWait wait) {
    GuiThreadWait() = std::move(wait);
}

} // namespace vt

using vt::MessageQueue;

HWND AllocateHWnd(TWndMethod method) {
    auto window = std::make_shared<vt::WindowRecord>();
    window->Method = std::move(method);
    window->Queue = MessageQueue::CurrentShared();
    vt::RegisterWindow(window);
    window->Queue->AddWindow(window);
    return window->Handle;
}

void DeallocateHWnd(HWND wnd) {
    auto window = vt::UnregisterWindow(wnd);
    if (!window) return;
    // On another thread the owner cleans up its timers and watches when it next looks.
    if (window->Queue->IsCurrent()) window->Queue->RemoveWindow(wnd);
}

bool IsWindow(HWND wnd) {
    return vt::LookupWindow(wnd) != nullptr;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const MSG message{wnd, msg, wParam, lParam, vt::TickNow()};
    if (wnd == nullptr) return MessageQueue::Current().Post(message); // a thread message
    auto window = vt::LookupWindow(wnd);
    return window && window->Queue->Post(message);
}

namespace {

// `window` is a local copy of the shared record: it keeps the method alive even when
// the window is deallocated inside its own procedure.
LRESULT CallWindow(std::shared_ptr<vt::WindowRecord> window, UINT msg, WPARAM wParam,
                   LPARAM lParam) {
    TMessage message{msg, wParam, lParam, 0};
    if (!window->Method) return DefWindowProc(window->Handle, msg, wParam, lParam);
    window->Method(message);
    return message.Result;
}

} // namespace

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto window = MessageQueue::Current().FindWindow(wnd);
    if (window) return CallWindow(std::move(window), msg, wParam, lParam);
    if (IsWindow(wnd))
        throw EInvalidOperation("SendMessage to a window of another thread is not supported");
    return 0;
}

void PostQuitMessage(int exitCode) {
    MessageQueue::Current().PostQuit(exitCode);
}

UINT_PTR SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs) {
    return MessageQueue::Current().SetTimer(wnd, id, elapseMs);
}

bool KillTimer(HWND wnd, UINT_PTR id) {
    return MessageQueue::Current().KillTimer(wnd, id);
}

bool PeekMessage(MSG& msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags) {
    return MessageQueue::Current().Peek(msg, filter, filterMin, filterMax, removeFlags);
}

bool GetMessage(MSG& msg, HWND filter, UINT filterMin, UINT filterMax) {
    auto& queue = MessageQueue::Current();
    while (!queue.Peek(msg, filter, filterMin, filterMax, PM_REMOVE)) {
        queue.Wait(-1);
    }
    return msg.message != WM_QUIT;
}

bool TranslateMessage(const MSG&) {
    return true;
}

LRESULT DispatchMessage(const MSG& msg) {
    if (msg.hwnd == nullptr || msg.message == WM_QUIT) return 0;
    auto window = MessageQueue::Current().FindWindow(msg.hwnd);
    return window ? CallWindow(std::move(window), msg.message, msg.wParam, msg.lParam) : 0;
}

void WaitMessage() {
    MessageQueue::Current().Wait(-1);
}

bool WaitMessageTimeout(DWORD timeoutMs) {
    constexpr DWORD kLongest = static_cast<DWORD>(std::numeric_limits<int>::max());
    return MessageQueue::Current().Wait(timeoutMs > kLongest ? -1 : static_cast<int>(timeoutMs));
}

int QueueDescriptor() {
    return MessageQueue::Current().Descriptor();
}

#include "support/Pump.h"

#include "platform/messages/Messages.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace vt::test {

Watchdog::Watchdog(int seconds, std::string what) {
    FThread = std::thread([this, seconds, what = std::move(what)] {
        std::unique_lock lock(FMutex);
        if (!FDone.wait_for(lock, std::chrono::seconds(seconds), [this] { return FDisarmed; })) {
            std::fprintf(stderr, "watchdog: %s still running after %d s\n", what.c_str(), seconds);
            std::fflush(stderr);
            _exit(3);
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(FMutex);
        FDisarmed = true;
    }
    FDone.notify_all();
    FThread.join();
}

namespace {

void DispatchPending() {
    MSG msg;
    while (PeekMessage(msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(msg);
        DispatchMessage(msg);
    }
}

} // namespace

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DispatchPending();
        if (pred()) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        WaitMessageTimeout(static_cast<DWORD>(left < 20 ? left : 20));
    }
}

void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

} // namespace vt::test

// Measures what the message queue costs when idle and how fast a cross-thread post
// reaches its window procedure. Goals: an idle pump under 1% of a core; median
// post-to-dispatch latency under 50 microseconds.

#include "platform/messages/Messages.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Pumps the calling thread for `seconds`, the way a program's main loop waits.
void PumpFor(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    MSG msg;
    for (;;) {
        while (PeekMessage(msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessage(msg);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return;
        WaitMessageTimeout(static_cast<DWORD>(left));
    }
}

void IdleCost(const char* label, UINT timerMs) {
    int ticks = 0;
    HWND wnd = AllocateHWnd([&](TMessage& m) { ticks += m.Msg == WM_TIMER; });
    if (timerMs) SetTimer(wnd, 1, timerMs);
    const double cpu0 = ThreadCpuSeconds();
    const auto t0 = Clock::now();
    PumpFor(1.0);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double share = 100.0 * cpu / wall;
    std::printf("idle pump, %-22s wall %.3f s  cpu %.3f ms  = %.4f%% of a core  (%d ticks)  %s\n",
                label, wall, cpu * 1e3, share, ticks, share < 1.0 ? "goal met" : "GOAL MISSED");
    DeallocateHWnd(wnd);
}

void Latency(int samples) {
    std::vector<std::int64_t> latencies;
    latencies.reserve(samples);
    std::atomic<int> dispatched{0};
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        latencies.push_back(NowNs() - static_cast<std::int64_t>(m.LParam));
        dispatched.fetch_add(1, std::memory_order_release);
    });
    std::thread poster([&] {
        for (int i = 0; i < samples; ++i) {
            // Let the pump fall asleep in the kernel, so each sample measures a wake-up.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            PostMessage(wnd, WM_USER, 0, static_cast<LPARAM>(NowNs()));
            while (dispatched.load(std::memory_order_acquire) <= i)
                std::this_thread::yield();
        }
    });
    MSG msg;
    while (dispatched.load() < samples && GetMessage(msg, nullptr, 0, 0))
        DispatchMessage(msg);
    poster.join();
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[static_cast<size_t>(q * (samples - 1))] / 1e3; };
    std::printf("post -> dispatch latency over %d posts: median %.1f us  p90 %.1f us  p99 %.1f us  "
                "max %.1f us  %s\n",
                samples, at(0.5), at(0.9), at(0.99), at(1.0),
                at(0.5) < 50.0 ? "goal met" : "GOAL MISSED");
    DeallocateHWnd(wnd);
}

void Throughput(int count) {
    int got = 0;
    HWND wnd = AllocateHWnd([&](TMessage&) { ++got; });
    const auto t0 = Clock::now();
    std::thread poster([&] {
        for (int i = 0; i < count; ++i) {
            while (!PostMessage(wnd, WM_USER, 0, i))
                std::this_thread::yield(); // queue full
        }
    });
    MSG msg;
    while (got < count && GetMessage(msg, nullptr, 0, 0))
        DispatchMessage(msg);
    poster.join();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("burst of %d cross-thread posts: %.3f s  = %.0f messages/s\n", count, secs,
                count / secs);
    DeallocateHWnd(wnd);
}

} // namespace

int main() {
    IdleCost("nothing queued:", 0);
    IdleCost("a 100 ms window timer:", 100);
    Latency(5000);
    Throughput(200000);
    return 0;
}

#pragma once
// Waiting on the calling thread's message queue in tests, always bounded in time.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vt::test {

// Ends the test process with a message when still armed after `seconds`, so a hang
// fails in seconds instead of at the CI time limit.
class Watchdog {
public:
    explicit Watchdog(int seconds, std::string what = "test");
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FDisarmed = false;
    std::thread FThread;
};

// Dispatches the calling thread's messages until pred() holds; false when timeoutMs
// passed first. Waits in the kernel between messages, never spins.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Dispatches the calling thread's messages for about ms milliseconds.
void PumpFor(int ms);

} // namespace vt::test

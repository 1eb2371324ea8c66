#pragma once
// The knobs behind FaultControl.h. Present in every variant of the library, but only the
// fault variant exports the functions that set them, so elsewhere they stay 0.

#include <atomic>

namespace vt::ws {

struct FaultKnobs {
    std::atomic<long> SendMax{0};
    std::atomic<long> SendWouldBlock{0};
    std::atomic<long> RecvResetAfter{0};
    std::atomic<long> LookupError{0};
    std::atomic<long> LookupDelayMs{0};
    std::atomic<long> StartupError{0};
    std::atomic<long> SocketError{0};
    std::atomic<unsigned long> SendCalls{0};
};

FaultKnobs& Faults();

// True when the injected alternation makes this send call fail with WSAEWOULDBLOCK.
bool InjectSendWouldBlock();

} // namespace vt::ws

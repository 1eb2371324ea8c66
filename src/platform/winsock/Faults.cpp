#include "platform/winsock/Faults.h"

namespace vt::ws {

FaultKnobs& Faults() {
    // Never destroyed: lookup workers may still read it while the process exits.
    static auto* knobs = new FaultKnobs;
    return *knobs;
}

bool InjectSendWouldBlock() {
    auto& knobs = Faults();
    if (knobs.SendWouldBlock.load(std::memory_order_relaxed) == 0) return false;
    return knobs.SendCalls.fetch_add(1, std::memory_order_relaxed) % 2 == 0;
}

} // namespace vt::ws

// The exported knob setters of the fault-injecting variant (see FaultControl.h).
#include "platform/winsock/FaultControl.h"

#include "platform/winsock/Faults.h"

#include <cstring>

#define VT_EXPORT extern "C" __attribute__((visibility("default")))

VT_EXPORT int VtFaultSet(const char* key, long value) {
    if (key == nullptr) return -1;
    auto& knobs = vt::ws::Faults();
    struct Knob {
        const char* Name;
        std::atomic<long>* Value;
    };
    const Knob table[] = {
        {"send.max", &knobs.SendMax},
        {"send.wouldblock", &knobs.SendWouldBlock},
        {"recv.reset.after", &knobs.RecvResetAfter},
        {"lookup.error", &knobs.LookupError},
        {"lookup.delay", &knobs.LookupDelayMs},
        {"startup.error", &knobs.StartupError},
        {"socket.error", &knobs.SocketError},
    };
    for (const auto& knob : table) {
        if (std::strcmp(knob.Name, key) != 0) continue;
        knob.Value->store(value);
        if (knob.Value == &knobs.SendWouldBlock) knobs.SendCalls.store(0);
        return 0;
    }
    return -1;
}

VT_EXPORT void VtFaultReset() {
    auto& knobs = vt::ws::Faults();
    for (auto* knob :
         {&knobs.SendMax, &knobs.SendWouldBlock, &knobs.RecvResetAfter, &knobs.LookupError,
          &knobs.LookupDelayMs, &knobs.StartupError, &knobs.SocketError})
        knob->store(0);
    knobs.SendCalls.store(0);
}

#pragma once
// Shared pieces of the fuzz targets: a check that stops the run with its text, and the
// scripted variant of the socket library, loaded by name like the real one.

#include "net/Winsock32.h"
#include "platform/messages/Messages.h"
#include "platform/winsock/ScriptControl.h"

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);         \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace vt::fuzz {

struct TScriptLibrary {
    VtScriptPlayProc Play = nullptr;
    VtScriptSentProc Sent = nullptr;
    VtScriptConnectionsProc Connections = nullptr;
};

// Loads "wsock32-script.dll" once; the socket layer then uses it for every socket.
inline TScriptLibrary& ScriptLibrary() {
    static TScriptLibrary library = [] {
        vt::SetWinsockLibraryName("wsock32-script.dll");
        TScriptLibrary l;
        l.Play = reinterpret_cast<VtScriptPlayProc>(WSocketLoadProc("VtScriptPlay"));
        l.Sent = reinterpret_cast<VtScriptSentProc>(WSocketLoadProc("VtScriptSent"));
        l.Connections =
            reinterpret_cast<VtScriptConnectionsProc>(WSocketLoadProc("VtScriptConnections"));
        return l;
    }();
    return library;
}

// Dispatches what is queued on this thread, at most Budget messages; false when the
// queue ran empty.
inline bool DispatchQueued(int Budget) {
    MSG msg;
    for (; Budget > 0; --Budget) {
        if (!PeekMessage(msg, nullptr, 0, 0, PM_REMOVE)) return false;
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(msg);
        DispatchMessage(msg);
    }
    return true;
}

} // namespace vt::fuzz

#include "platform/messages/Application.h"

#include "platform/messages/Messages.h"
#include "platform/runtime/Exceptions.h"

#include <cerrno>
#include <cstdio>

namespace {

// Messages one ProcessMessages call dispatches at most; whatever is left keeps the
// queue's descriptor readable, so the next pump round takes it.
constexpr int kProcessMessagesBudget = 4096;

void WriteToStandardError(const std::string& title, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
}

} // namespace

TApplication Application;

namespace vt {

std::string ErrorDisplayText(const std::string& Message) {
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + ".";
    return Message;
}

} // namespace vt

TApplication::TApplication()
    : FTitle(program_invocation_short_name), FErrorDisplay(WriteToStandardError) {}

void TApplication::SetErrorDisplay(TErrorDisplay Display) {
    FErrorDisplay = Display ? std::move(Display) : TErrorDisplay(WriteToStandardError);
}

void TApplication::HandleException(const std::exception& E) {
    if (dynamic_cast<const EAbort*>(&E)) return;
    FErrorDisplay(FTitle, vt::ErrorDisplayText(E.what()));
}

void TApplication::HandleException(std::exception_ptr E) {
    if (!E) return;
    try {
        std::rethrow_exception(E);
    } catch (const std::exception& error) {
        HandleException(error);
    } catch (...) {
        FErrorDisplay(FTitle, vt::ErrorDisplayText("Unknown exception"));
    }
}

bool TApplication::ProcessMessage(MSG& Msg) {
    try {
        // Descriptor handlers run inside PeekMessage; their errors land here too.
        if (!PeekMessage(Msg, nullptr, 0, 0, PM_REMOVE)) return false;
        if (Msg.message == WM_QUIT) {
            FTerminated = true;
            return true;
        }
        TranslateMessage(Msg);
        DispatchMessage(Msg);
    } catch (...) {
        HandleException(std::current_exception());
    }
    return true;
}

void TApplication::PumpGuiEvents() {
    // The toolkit's own handler for our queue may call ProcessMessages again.
    if (!FGuiPump || FInGuiPump) return;
    FInGuiPump = true;
    try {
        FGuiPump();
    } catch (...) {
        FInGuiPump = false;
        HandleException(std::current_exception());
        return;
    }
    FInGuiPump = false;
}

void TApplication::ProcessMessages() {
    PumpGuiEvents();
    ProcessQueuedMessages();
}

void TApplication::ProcessQueuedMessages() {
    MSG msg;
    for (int n = 0; n < kProcessMessagesBudget && ProcessMessage(msg); ++n) {
    }
}

void TApplication::HandleMessage() {
    MSG msg;
    if (ProcessMessage(msg)) return;
    try {
        WaitMessage(); // through the toolkit's wait when one is plugged in
    } catch (...) {
        HandleException(std::current_exception());
    }
}

void TApplication::Run() {
    while (!Terminated()) {
        HandleMessage();
    }
}

void TApplication::Terminate() {
    // Run ends when the loop takes this WM_QUIT, so nothing of it is left behind.
    PostQuitMessage(0);
}

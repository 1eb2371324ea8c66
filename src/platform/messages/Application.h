#pragma once
// The application object of the GUI thread: title, message loop, termination and the
// error display that receives errors leaving event handlers.

#include <atomic>
#include <exception>
#include <functional>
#include <string>

struct MSG;

// Receives an error to show: the caption (the application title) and the text.
using TErrorDisplay = std::function<void(const std::string& Title, const std::string& Text)>;

class TApplication {
public:
    TApplication();

    // Defaults to the program's file name.
    const std::string& Title() const { return FTitle; }
    void SetTitle(std::string Value) { FTitle = std::move(Value); }

    // Dispatches what is queued for the calling thread now (and, with a toolkit
    // plugged in, its events), then returns. Re-entrant: handlers may call it again.
    // Stops after a bounded number of messages so a handler that keeps posting to
    // itself cannot hold the caller; the rest stays queued and the queue stays ready.
    void ProcessMessages();
    // Dispatches one message, or waits in the kernel until there is something to do.
    void HandleMessage();
    // Runs the message loop until Terminate or a WM_QUIT.
    void Run();
    // Ends Run: posts a WM_QUIT to the calling thread; taking it sets Terminated.
    void Terminate();
    bool Terminated() const { return FTerminated.load(std::memory_order_relaxed); }

    // The error display for an error that left an event handler: EAbort is silent;
    // any other error is shown with the title and its text (see ErrorDisplayText).
    void HandleException(const std::exception& E);
    void HandleException(std::exception_ptr E);
    // The default display writes "title: text" to standard error.
    void SetErrorDisplay(TErrorDisplay Display);

    // Toolkit hook: serves pending toolkit events without blocking; ProcessMessages
    // calls it first. (Waiting for toolkit events: vt::SetGuiThreadWait.)
    void SetGuiEventPump(std::function<void()> Pump) { FGuiPump = std::move(Pump); }
    // Dispatches what is queued for the calling thread without serving the toolkit:
    // for the toolkit's own handler of QueueDescriptor(). Bounded like ProcessMessages.
    void ProcessQueuedMessages();

private:
    // Takes and dispatches one message; false when none was queued.
    bool ProcessMessage(MSG& Msg);
    void PumpGuiEvents();

    std::string FTitle;
    std::atomic<bool> FTerminated{false};
    bool FInGuiPump = false;
    TErrorDisplay FErrorDisplay;
    std::function<void()> FGuiPump;
};

// The program's application object.
extern TApplication Application;

namespace vt {
// The text the error display shows for a message: "." appended when its last
// character sorts after "." in character-code order ("Bad" -> "Bad.", "Done!" stays).
std::string ErrorDisplayText(const std::string& Message);
} // namespace vt

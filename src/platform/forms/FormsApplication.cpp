// The toolkit's start-up and its bridge to the application object and the message queue.

#include "platform/forms/Forms.h"
#include "platform/forms/QtForms.h"
#include "platform/gdi/QtGdi.h"
#include "platform/messages/Messages.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

namespace vt {

namespace {

bool gInitialized = false;
TForm* gMainForm = nullptr;
int gWaitDepth = 0;

// Fonts the layout names that this system lacks.
constexpr const char* kFallbackFonts[] = {"Verdana", "MS Sans Serif", "Small Fonts"};
constexpr const char* kFallbackFamily = "DejaVu Sans";

// Serves toolkit events and our queue's work (through the notifier) that are ready now.
void PumpToolkit() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// The waiting pump of the GUI thread: blocks in the toolkit until it has an event or
// our queue's descriptor becomes readable (the notifier wakes it).
bool WaitInToolkit(int TimeoutMs) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) return false;
    if (TimeoutMs == 0) return dispatcher->processEvents(QEventLoop::AllEvents);
    bool timedOut = false;
    QTimer timer;
    if (TimeoutMs > 0) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&timedOut] { timedOut = true; });
        timer.start(TimeoutMs);
    }
    ++gWaitDepth;
    const bool handled =
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    --gWaitDepth;
    // Objects deleted "later" are freed at the outermost wait, where nothing uses them.
    if (gWaitDepth == 0) QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return handled && !timedOut;
}

} // namespace

void InitializeForms(int, char**) {
    if (gInitialized) return;
    gInitialized = true;
    EnsureGuiApplication();
    qApp->setQuitOnLastWindowClosed(false);
    for (const char* name : kFallbackFonts)
        QFont::insertSubstitution(QString::fromLatin1(name), QString::fromLatin1(kFallbackFamily));
    // One notifier on the GUI thread's queue, left enabled: the queue's descriptor stays
    // readable while work is left, so every pump round, nested ones included, takes it.
    auto* notifier = new QSocketNotifier(QueueDescriptor(), QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [] { Application.ProcessQueuedMessages(); });
    Application.SetGuiEventPump(PumpToolkit);
    SetGuiThreadWait(WaitInToolkit);
    Application.SetErrorDisplay(ShowErrorMessage);
}

bool FormsInitialized() {
    return gInitialized;
}

void ShowErrorMessage(const std::string& Title, const std::string& Text) {
    EnsureGuiApplication();
    QMessageBox box(QMessageBox::Critical, ToQString(Title), ToQString(Text), QMessageBox::Ok);
    box.exec();
}

TForm* MainForm() {
    return gMainForm;
}

void SetMainForm(TForm* Form) {
    gMainForm = Form;
}

} // namespace vt

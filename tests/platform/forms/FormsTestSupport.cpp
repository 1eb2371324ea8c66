#include "FormsTestSupport.h"

#include "gif/GIFImage.h"
#include "platform/gdi/JPEGImage.h"
#include "platform/messages/Messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <cstdlib>

namespace vt::test {

void FormsTest::SetUp() {
    Dog = std::make_unique<Watchdog>(20, "forms test");
    Application.SetTitle("Forms Test");
    Application.SetErrorDisplay([this](const std::string& Title, const std::string& Text) {
        Errors.push_back({Title, Text});
    });
    InitializeGifImg();
    RegisterJpegFormat();
}

void FormsTest::TearDown() {
    Form.reset();
    QApplication::processEvents();
    Application.SetErrorDisplay(vt::ShowErrorMessage);
    Dog.reset();
}

TForm* FormsTest::MakeForm(int ClientWidth, int ClientHeight) {
    Form.reset(vt::CreateForm<TForm>());
    Form->SetLeft(40);
    Form->SetTop(30);
    Form->SetClientWidth(ClientWidth);
    Form->SetClientHeight(ClientHeight);
    return Form.get();
}

void FormsTest::ShowAndActivate(TForm* F) {
    F->Show();
    QWidget* window = F->Handle();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

QImage FormsTest::Grab(TWinControl* Control) {
    return Control->Handle()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool FormsTest::WaitFor(const std::function<bool()>& Done, int TimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > TimeoutMs) return false;
        Application.ProcessMessages();
        WaitMessageTimeout(10);
    }
    return true;
}

std::string FormsDataDir() {
    if (const char* dir = std::getenv("VT_SOURCE_DIR"))
        return std::string(dir) + "/tests/data/forms";
    const std::string file = __FILE__;
    return file.substr(0, file.rfind("/platform/forms/")) + "/data/forms";
}

bool Near(QColor A, QColor B, int Tolerance) {
    return std::abs(A.red() - B.red()) <= Tolerance &&
           std::abs(A.green() - B.green()) <= Tolerance &&
           std::abs(A.blue() - B.blue()) <= Tolerance;
}

} // namespace vt::test

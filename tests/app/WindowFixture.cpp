#include "WindowFixture.h"

#include "gif/GIFImage.h"
#include "http/HttpCli.h"
#include "platform/shell/Shell.h"
#include "support/Peers.h"

#include <QImage>
#include <QPixmap>
#include <QTest>
#include <QWidget>

namespace vt::test {

void AppWindow::SetUp() {
    InitializeGifImg();
    vt::InitializeForms();
    Application.SetTitle("Bren Vik Vantrel");
    Application.SetErrorDisplay(
        [this](const std::string&, const std::string& text) { FErrors.push_back(text); });
    vt::SetShellOpener([this](const std::string& address) {
        FOpened.push_back(address);
        return true;
    });
}

void AppWindow::TearDown() {
    delete FForm;
    vt::SetMainForm(nullptr);
    vt::SetShellOpener(nullptr);
    Application.SetErrorDisplay(nullptr);
}

THttpGetForm& AppWindow::Open(const std::string& settings) {
    FForm = vt::CreateForm<THttpGetForm>();
    // Closing a test's window must not end the application.
    vt::SetMainForm(nullptr);
    if (!settings.empty()) WriteFile(SettingsPath(), settings);
    FForm->Show();
    return *FForm;
}

std::string AppWindow::ProxySettings(const TCannedServer& proxy, const std::string& symbol) {
    return "[Data]\nURL=" + symbol + "\nProxyHost=127.0.0.1\nProxyPort=" + proxy.Port() + "\n";
}

std::string AppWindow::SettingsPath() const {
    return FFolders.ConfigDir() + "/" + FForm->IniFileName();
}

void AppWindow::TypeSymbol(const std::string& text) {
    QWidget* edit = FForm->URLEdit->Handle();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromLatin1(text.c_str()));
}

void AppWindow::PressEnter() {
    QTest::keyClick(FForm->URLEdit->Handle(), Qt::Key_Return);
}

QWidget* SurfaceOf(TControl* control, int& x, int& y) {
    if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
        if (x < 0) x = control->Width() / 2;
        if (y < 0) y = control->Height() / 2;
        return windowed->Handle();
    }
    x = control->Left() + (x < 0 ? control->Width() / 2 : x);
    y = control->Top() + (y < 0 ? control->Height() / 2 : y);
    return control->Parent()->Handle();
}

void AppWindow::ClickOn(TControl* control, int x, int y) {
    QWidget* surface = SurfaceOf(control, x, y);
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(x, y));
}

void AppWindow::DoubleClickOn(TControl* control, int x, int y) {
    QWidget* surface = SurfaceOf(control, x, y);
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseDClick(surface, Qt::LeftButton, {}, QPoint(x, y));
}

std::uint32_t AppWindow::PixelAt(int x, int y) {
    const QImage image = FForm->Handle()->grab().toImage();
    return image.pixel(x, y) & 0xFFFFFF;
}

void AppWindow::RecordProgress() {
    THttpCli* client = FForm->HttpCli1;
    auto header = client->OnHeaderData;
    client->OnHeaderData = [this, header](TObject* sender) {
        if (FCaptions.empty()) FCaptions.push_back(FForm->InfoLabel->Caption());
        header(sender);
        FCaptions.push_back(FForm->InfoLabel->Caption());
    };
    auto doc = client->OnDocData;
    client->OnDocData = [this, doc](TObject* sender, const void* buffer, int len) {
        doc(sender, buffer, len);
        FCaptions.push_back(FForm->InfoLabel->Caption());
    };
}

} // namespace vt::test

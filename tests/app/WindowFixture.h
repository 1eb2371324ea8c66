#pragma once
// The chart window under test: a real THttpGetForm on Qt's offscreen platform, in fresh
// working and configuration folders, with the error display and the shell opener
// captured, reaching a loopback server through the settings file's proxy entries.

#include "AppTestSupport.h"
#include "app/HttpGetForm.h"
#include "support/CannedServer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class QWidget;

namespace vt::test {

class AppWindow : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window, writes `settings` (INI text; none when empty) as its settings
    // file and shows it.
    THttpGetForm& Open(const std::string& settings = "");
    // Settings text that sends requests to `proxy`, with the symbol `symbol`.
    static std::string ProxySettings(const TCannedServer& proxy, const std::string& symbol);
    std::string SettingsPath() const;

    // Typing into the symbol box as a person does: select all, then type.
    void TypeSymbol(const std::string& text);
    // Enter in the symbol box (presses the default button; returns after the request).
    void PressEnter();
    // Clicks and double-clicks at a control's centre, windowed or not.
    void ClickOn(TControl* control, int x = -1, int y = -1);
    void DoubleClickOn(TControl* control, int x = -1, int y = -1);
    // The window as it looks now, in the form's client coordinates.
    std::uint32_t PixelAt(int x, int y);

    // Records InfoLabel's caption around every progress event of the client.
    void RecordProgress();

    TScratchFolders FFolders;
    THttpGetForm* FForm = nullptr;
    std::vector<std::string> FErrors;   // texts shown by the error display
    std::vector<std::string> FOpened;   // addresses handed to the browser
    std::vector<std::string> FCaptions; // InfoLabel captions seen by the progress events
};

// The widget a control is drawn on, and the control's centre on it.
QWidget* SurfaceOf(TControl* control, int& x, int& y);

} // namespace vt::test

// The settings file: read on the first show, written on close, read back on the next
// start; hexadecimal and broken integers, long values, a write that fails.
#include "WindowFixture.h"

#include "platform/gdi/Picture.h"
#include "platform/profile/IniFile.h"
#include "support/Peers.h"

#include <QWidget>
#include <sys/stat.h>

using vt::test::AppWindow;
using vt::test::ReadFile;

namespace {

// Closes the window as the window manager's close box does.
void CloseWindow(THttpGetForm& form) {
    form.Handle()->close();
}

} // namespace

TEST_F(AppWindow, StoredSettingsFillTheWindow) {
    const std::string longValue(1500, 'L');
    THttpGetForm& form = Open("[data]\n"
                              "url=_GSPC\n"
                              "ProxyHost=proxy.local\n"
                              "ProxyPort=\n"
                              "FileName=old.gif\n"
                              "[Window]\n"
                              "Top=40\n"
                              "Left=0x30\n"
                              "Width=0x1F4\n"
                              "Height=1F4\n"
                              "[vtrx]\n"
                              "button1=IBM\n"
                              "button14=" +
                              longValue + "\n");
    // Stored as _GSPC, shown at position 1 as ^GSPC.
    EXPECT_EQ(form.URLEdit->Text(), "^GSPC");
    EXPECT_EQ(form.ProxyHostEdit->Text(), "proxy.local");
    EXPECT_EQ(form.ProxyPortEdit->Text(), ""); // present and empty: not the default
    EXPECT_EQ(form.FileNameEdit->Text(), "old.gif");
    EXPECT_EQ(form.Top(), 40);
    EXPECT_EQ(form.Left(), 0x30);
    EXPECT_EQ(form.Width(), 500);
    EXPECT_NE(form.Height(), 0x1F4); // "1F4" does not convert: height unchanged
    EXPECT_EQ(form.Buttons[0]->Caption(), "IBM");
    EXPECT_EQ(form.Buttons[13]->Caption(), longValue.substr(0, 1023));
    for (int i = 1; i < 13; ++i)
        EXPECT_EQ(form.Buttons[i]->Caption(), "");
    // The last chart file is not loaded at start-up.
    EXPECT_EQ(form.Image1->Picture()->Graphic(), nullptr);
}

TEST_F(AppWindow, CloseWritesEverythingAndTheNextStartReadsItBack) {
    THttpGetForm& form = Open("[Window]\nWidth=\n");
    form.URLEdit->SetText("MSFT");
    form.Buttons[2]->SetCaption("AAPL");
    form.Buttons[9]->SetCaption(std::string(1023, 'x'));
    form.SetBounds(70, 60, 420, 230);
    CloseWindow(form);
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(FErrors.empty());

    const TIniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadString("Data", "URL", "?"), "MSFT");
    EXPECT_EQ(ini.ReadString("Data", "ProxyHost", "?"), "");
    EXPECT_EQ(ini.ReadString("Data", "ProxyPort", "?"), "80");
    EXPECT_EQ(ini.ReadString("Data", "FileName", "?"), "vtrx");
    EXPECT_EQ(ini.ReadString("Window", "Left", "?"), "70");
    EXPECT_EQ(ini.ReadString("Window", "Top", "?"), "60");
    EXPECT_EQ(ini.ReadString("Window", "Width", "?"), "420");
    EXPECT_EQ(ini.ReadString("Window", "Height", "?"), "230");
    // Every button key is written, empty ones with empty values.
    for (int i = 1; i <= 14; ++i)
        EXPECT_NE(ini.ReadString("vtrx", "button" + std::to_string(i), "missing"), "missing");
    EXPECT_EQ(ini.ReadString("vtrx", "button1", "?"), "");
    EXPECT_EQ(ini.ReadString("vtrx", "button3", "?"), "AAPL");

    delete FForm;
    FForm = nullptr;
    THttpGetForm& next = Open();
    EXPECT_EQ(next.URLEdit->Text(), "MSFT");
    EXPECT_EQ(next.Buttons[2]->Caption(), "AAPL");
    EXPECT_EQ(next.Buttons[9]->Caption(), std::string(1023, 'x'));
    EXPECT_EQ(next.Buttons[0]->Caption(), "");
    EXPECT_EQ(next.Left(), 70);
    EXPECT_EQ(next.Top(), 60);
    EXPECT_EQ(next.Width(), 420);
    EXPECT_EQ(next.Height(), 230);
}

TEST_F(AppWindow, AFailedWriteKeepsTheWindowOpenUntilALaterCloseSucceeds) {
    THttpGetForm& form = Open();
    // A folder in the settings file's place cannot be replaced by a file.
    ASSERT_EQ(::mkdir(SettingsPath().c_str(), 0700), 0);
    form.URLEdit->SetText("KEPT");
    CloseWindow(form);
    EXPECT_TRUE(form.Visible());
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0], "Unable to write to " + form.IniFileName() + ".");

    ASSERT_EQ(::rmdir(SettingsPath().c_str()), 0);
    CloseWindow(form);
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Data", "URL", "?"), "KEPT");
}

TEST_F(AppWindow, ASecondShowKeepsGeometryAndSettingsButRedoesTheSizing) {
    THttpGetForm& form = Open("[Data]\nURL=_DJI\n");
    EXPECT_EQ(form.URLEdit->Text(), "^DJI");
    form.SetBounds(10, 20, 400, 260);
    form.Hide();
    vt::test::WriteFile(SettingsPath(), "[Data]\nURL=OTHER\n[Window]\nWidth=999\n");
    form.tb1->SetWidth(10);
    form.URLEdit->SetText("_DJI"); // position 1 keeps what it is given until the show
    form.Show();
    EXPECT_EQ(form.URLEdit->Text(), "^DJI");
    EXPECT_EQ(form.Width(), 400);
    EXPECT_EQ(form.Left(), 10);
    EXPECT_EQ(form.tb1->Width(), 89);
    EXPECT_EQ(form.Label1->Width(), 89);
}

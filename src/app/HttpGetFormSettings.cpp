// THttpGetForm: start-up and the settings file (read on the first show, written on
// close). The file is a plain copy of the controls' texts and the window's bounds.
#include "app/HttpGetForm.h"

#include "app/ChartRequest.h"
#include "http/HttpCli.h"
#include "platform/profile/IniFile.h"

#include <filesystem>

namespace {

std::string ExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("brenvik-vantrel") : path.string();
}

std::string ButtonKey(int Index) {
    return "button" + std::to_string(Index + 1);
}

} // namespace

void THttpGetForm::FormCreate(TObject* Sender) {
    FIniFileName = SettingsFileName(ExecutablePath());
    InfoLabel->SetCaption("");
}

void THttpGetForm::FormShow(TObject* Sender) {
    if (!FFirstShowDone) {
        FFirstShowDone = true;
        ReadSettings();
    }
    tb1->SetWidth(URLEdit->Width() + GetButton->Width());
    tb1->SetLeft(URLEdit->Left());
    tb1Change(this);
    Label1->SetBounds(tb1->Left(), Label1->Top(), tb1->Width(), Label1->Height());
}

void THttpGetForm::FormClose(TObject* Sender, TCloseAction& Action) {
    WriteSettings();
    // A download still running would keep the program alive after its window is gone.
    if (FDownloading) HttpCli1->Abort();
}

void THttpGetForm::ReadSettings() {
    const TIniFile ini(FIniFileName);
    URLEdit->SetText(ini.ReadString("Data", "URL", "vtrx"));
    ProxyHostEdit->SetText(ini.ReadString("Data", "ProxyHost", ""));
    ProxyPortEdit->SetText(ini.ReadString("Data", "ProxyPort", "80"));
    FileNameEdit->SetText(ini.ReadString("Data", "FileName", "vtrx"));
    SetTop(ini.ReadInteger("Window", "Top", Top()));
    SetLeft(ini.ReadInteger("Window", "Left", Left()));
    SetWidth(ini.ReadInteger("Window", "Width", Width()));
    SetHeight(ini.ReadInteger("Window", "Height", Height()));
    for (int i = 0; i < 14; ++i)
        Buttons[i]->SetCaption(ini.ReadString("vtrx", ButtonKey(i), ""));
}

void THttpGetForm::WriteSettings() {
    TIniFile ini(FIniFileName);
    ini.WriteString("Data", "URL", URLEdit->Text());
    ini.WriteString("Data", "ProxyHost", ProxyHostEdit->Text());
    ini.WriteString("Data", "ProxyPort", ProxyPortEdit->Text());
    ini.WriteString("Data", "FileName", FileNameEdit->Text());
    ini.WriteInteger("Window", "Top", Top());
    ini.WriteInteger("Window", "Left", Left());
    ini.WriteInteger("Window", "Width", Width());
    ini.WriteInteger("Window", "Height", Height());
    for (int i = 0; i < 14; ++i)
        ini.WriteString("vtrx", ButtonKey(i), Buttons[i]->Caption());
}

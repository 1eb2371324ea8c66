// THttpGetForm: quick-symbol buttons, drag and drop of the symbol box, index prefixes
// and the link labels that open quote pages in the browser.
#include "app/HttpGetForm.h"

#include "app/Symbols.h"
#include "platform/shell/Shell.h"

void THttpGetForm::Button8Click(TObject* Sender) {
    auto* button = dynamic_cast<TButton*>(Sender);
    if (!button) return;
    if (button->Caption().empty()) {
        button->SetCaption(URLEdit->Text());
        return;
    }
    // A fetch while a download runs would pull the symbol box from under it.
    if (FDownloading) return;
    URLEdit->SetText(button->Caption());
    GetButtonClick(this);
}

void THttpGetForm::Button1DragOver(TObject* Sender, TObject* Source, int X, int Y, TDragState State,
                                   bool& Accept) {
    Accept = dynamic_cast<TEdit*>(Source) != nullptr;
}

void THttpGetForm::Button1DragDrop(TObject* Sender, TObject* Source, int X, int Y) {
    auto* button = dynamic_cast<TButton*>(Sender);
    if (button && dynamic_cast<TEdit*>(Source)) button->SetCaption(URLEdit->Text());
    URLEdit->SetSelLength(0);
}

void THttpGetForm::Button1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y) {
    auto* button = dynamic_cast<TButton*>(Sender);
    if (button && !button->Caption().empty()) button->SetHint("");
}

void THttpGetForm::URLEditMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X,
                                    int Y) {
    URLEdit->BeginDrag(false, vt::DragThreshold);
}

void THttpGetForm::URLEditEndDrag(TObject* Sender, TObject* Target, int X, int Y) {
    if (!Target) URLEdit->SetSelLength(0);
}

void THttpGetForm::URLEditDblClick(TObject* Sender) {
    URLEdit->SetText("");
}

void THttpGetForm::URLEditChange(TObject* Sender) {
    const std::string text = URLEdit->Text();
    const std::string wanted = IndexForm(text, tb1->Position(), true);
    if (wanted != text) URLEdit->SetText(wanted);
}

void THttpGetForm::tb1Change(TObject* Sender) {
    const std::string text = URLEdit->Text();
    const std::string wanted = IndexForm(text, tb1->Position(), false);
    if (wanted != text) URLEdit->SetText(wanted);
}

void THttpGetForm::ClearRow(int First) {
    for (int i = First; i < First + 7; ++i)
        Buttons[i]->SetCaption("");
}

void THttpGetForm::Panel4DblClick(TObject* Sender) {
    ClearRow(0);
}

void THttpGetForm::Panel5DblClick(TObject* Sender) {
    ClearRow(7);
}

void THttpGetForm::OpenAddress(const std::string& Address) {
    ShellExecute(nullptr, nullptr, Address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// A symbol too long for the address buffer opens nothing rather than a cut address.
void THttpGetForm::Image1DblClick(TObject* Sender) {
    if (const auto address = QuotePageAddress(URLEdit->Text())) OpenAddress(*address);
}

void THttpGetForm::Label1Click(TObject* Sender) {
    if (const auto address = MakerAddress(Label1->Caption())) OpenAddress(*address);
}

void THttpGetForm::Label6Click(TObject* Sender) {
    OpenAddress(ServicePageAddress("/?u"));
}

void THttpGetForm::Label7Click(TObject* Sender) {
    OpenAddress(ServicePageAddress("/q?d=t&s=^DJI"));
}

void THttpGetForm::Label8Click(TObject* Sender) {
    OpenAddress(ServicePageAddress("/q?d=t&s=^IXIC"));
}

void THttpGetForm::Label9Click(TObject* Sender) {
    OpenAddress(ServicePageAddress("/q?d=t&s=^GSPC"));
}

#include "platform/forms/Button.h"

#include "platform/forms/QtForms.h"

#include <QPushButton>

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner, new QPushButton) {
    auto* button = static_cast<QPushButton*>(Handle());
    button->setAutoDefault(false);
    // Every press (mouse, Space, accelerator, Enter through the form) comes here.
    QObject::connect(button, &QPushButton::clicked, button,
                     [this] { vt::Guarded([this] { Click(); }); });
    SetBounds(0, 0, 75, 25);
}

TButton::~TButton() = default;

void TButton::SetCaption(const std::string& Value) {
    if (Value == FCaption) return;
    FCaption = Value;
    // The toolkit reads "&" the same way: it underlines and binds Alt + the letter.
    static_cast<QPushButton*>(Handle())->setText(vt::ToQString(Value));
}

void TButton::SetDefault(bool Value) {
    FDefault = Value;
    static_cast<QPushButton*>(Handle())->setDefault(Value);
}

void TButton::SetCancel(bool Value) {
    FCancel = Value;
}

void TButton::Click() {
    if (Enabled()) TWinControl::Click();
}

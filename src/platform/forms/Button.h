#pragma once
// TButton: a push button. The caption marks its accelerator with "&" (Alt + the
// letter presses it; "&&" is a plain "&"). Default: Enter anywhere on the form presses
// it; Cancel: Esc presses it while it is visible.

#include "platform/forms/WinControl.h"

#include <string>

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* AOwner);
    ~TButton() override;

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    bool Default() const { return FDefault; }
    void SetDefault(bool Value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value);

    // Presses the button: raises OnClick when it is enabled.
    void Click() override;

protected:
    bool ClicksOnRelease() const override { return false; }

private:
    std::string FCaption;
    bool FDefault = false;
    bool FCancel = false;
};

#pragma once
// TEdit: a single-line edit box holding 8-bit text. Selection positions count from 0.

#include "platform/forms/WinControl.h"

#include <string>

class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* AOwner);
    ~TEdit() override;

    // Setting the text (by code or typing) raises OnChange when it differs.
    std::string Text() const;
    void SetText(const std::string& Value);
    int SelStart() const;
    void SetSelStart(int Value);
    int SelLength() const;
    void SetSelLength(int Value);
    std::string SelText() const;
    void SelectAll();
    // 0: no limit.
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int Value);
    bool ReadOnly() const;
    void SetReadOnly(bool Value);

    TNotifyEvent OnChange;

protected:
    friend class vt::ControlAccess;
    void Change(); // raises OnChange
    void ColorChanged() override;

private:
    int FMaxLength = 0;
};

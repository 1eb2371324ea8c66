#pragma once
// TLabel: a windowless text label. "&" in the caption underlines the next letter and is
// not drawn ("&&" draws "&") while ShowAccelChar is true.

#include "platform/forms/GraphicControl.h"

#include <string>

class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent* AOwner);
    ~TLabel() override;

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout Value);
    // With AutoSize (the default) the label takes the size of its text; switch it off
    // for a label of fixed size.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    // A transparent label leaves its background unpainted.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool Value);

protected:
    void Paint() override;
    void FontChanged() override;

private:
    void AdjustSize();

    std::string FCaption;
    TAlignment FAlignment = taLeftJustify;
    TTextLayout FLayout = tlTop;
    bool FAutoSize = true;
    bool FTransparent = false;
    bool FShowAccelChar = true;
};

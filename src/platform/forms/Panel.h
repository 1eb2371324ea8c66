#pragma once
// TPanel: a container with bevels and an optional caption; docked children keep clear
// of its bevels.

#include "platform/forms/WinControl.h"

#include <string>

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* AOwner);
    ~TPanel() override;

    // Drawn inside the bevels, at Alignment horizontally and centred vertically.
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    // The outer bevel (bvRaised by default) and the inner one (bvNone), each BevelWidth
    // pixels, with BorderWidth pixels between them.
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel Value);
    TPanelBevel BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel Value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int Value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int Value);

    TRect DockRect() const override;

protected:
    // Draws the background, bevels and caption.
    void PaintBackground(TCanvas& Canvas) override;

private:
    void Changed();

    std::string FCaption;
    TAlignment FAlignment = taCenter;
    TPanelBevel FBevelOuter = bvRaised;
    TPanelBevel FBevelInner = bvNone;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
};

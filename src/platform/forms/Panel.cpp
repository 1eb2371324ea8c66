#include "platform/forms/Panel.h"

#include "platform/forms/QtForms.h"
#include "platform/gdi/GdiInternal.h"
#include "platform/gdi/QtGdi.h"

#include <QPainter>

namespace {

// One bevel of Width pixels just inside R; R shrinks past it.
void DrawBevel(TCanvas& Canvas, TRect& R, TPanelBevel Bevel, int Width) {
    if (Bevel == bvNone) return;
    const TColor light = Bevel == bvLowered ? clBtnShadow : clBtnHighlight;
    const TColor dark = Bevel == bvLowered ? clBtnHighlight : clBtnShadow;
    for (int i = 0; i < Width && !R.IsEmpty(); ++i) {
        if (Bevel != bvSpace) {
            Canvas.Brush()->SetColor(light);
            Canvas.FillRect(Rect(R.Left, R.Top, R.Right, R.Top + 1));
            Canvas.FillRect(Rect(R.Left, R.Top, R.Left + 1, R.Bottom));
            Canvas.Brush()->SetColor(dark);
            Canvas.FillRect(Rect(R.Left, R.Bottom - 1, R.Right, R.Bottom));
            Canvas.FillRect(Rect(R.Right - 1, R.Top, R.Right, R.Bottom));
        }
        R = Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1);
    }
}

} // namespace

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 185, 41);
}

TPanel::~TPanel() = default;

void TPanel::SetCaption(const std::string& Value) {
    if (Value == FCaption) return;
    FCaption = Value;
    Invalidate();
}

void TPanel::SetAlignment(TAlignment Value) {
    FAlignment = Value;
    Invalidate();
}

void TPanel::SetBevelOuter(TPanelBevel Value) {
    FBevelOuter = Value;
    Changed();
}

void TPanel::SetBevelInner(TPanelBevel Value) {
    FBevelInner = Value;
    Changed();
}

void TPanel::SetBevelWidth(int Value) {
    FBevelWidth = std::max(Value, 1);
    Changed();
}

void TPanel::SetBorderWidth(int Value) {
    FBorderWidth = std::max(Value, 0);
    Changed();
}

void TPanel::Changed() {
    Realign();
    Invalidate();
}

TRect TPanel::DockRect() const {
    int inset = FBorderWidth;
    if (FBevelOuter != bvNone) inset += FBevelWidth;
    if (FBevelInner != bvNone) inset += FBevelWidth;
    const TRect r = ClientRect();
    return Rect(r.Left + inset, r.Top + inset, std::max(r.Right - inset, r.Left + inset),
                std::max(r.Bottom - inset, r.Top + inset));
}

void TPanel::PaintBackground(TCanvas& Canvas) {
    TRect r = ClientRect();
    Canvas.Brush()->SetStyle(bsSolid);
    Canvas.Brush()->SetColor(Color());
    Canvas.FillRect(r);
    DrawBevel(Canvas, r, FBevelOuter, FBevelWidth);
    r = Rect(r.Left + FBorderWidth, r.Top + FBorderWidth, r.Right - FBorderWidth,
             r.Bottom - FBorderWidth);
    DrawBevel(Canvas, r, FBevelInner, FBevelWidth);
    QPainter* painter = vt::CanvasAccess::Painter(Canvas);
    if (FCaption.empty() || !painter || r.IsEmpty()) return;
    const int horizontal = FAlignment == taCenter         ? Qt::AlignHCenter
                           : FAlignment == taRightJustify ? Qt::AlignRight
                                                          : Qt::AlignLeft;
    painter->save();
    painter->setFont(vt::ToQFont(*Font()));
    painter->setPen(vt::ToQColor(Enabled() ? Font()->Color() : clGrayText));
    painter->drawText(QRect(r.Left, r.Top, r.Width(), r.Height()),
                      horizontal | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                      vt::ToQString(FCaption));
    painter->restore();
}

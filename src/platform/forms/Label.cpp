#include "platform/forms/Label.h"

#include "platform/forms/QtForms.h"
#include "platform/gdi/GdiInternal.h"
#include "platform/gdi/QtGdi.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

int AlignmentFlags(TAlignment Alignment, TTextLayout Layout) {
    int flags = Qt::TextSingleLine;
    flags |= Alignment == taCenter         ? Qt::AlignHCenter
             : Alignment == taRightJustify ? Qt::AlignRight
                                           : Qt::AlignLeft;
    flags |= Layout == tlCenter   ? Qt::AlignVCenter
             : Layout == tlBottom ? Qt::AlignBottom
                                  : Qt::AlignTop;
    return flags;
}

} // namespace

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
    SetBounds(0, 0, 65, 17);
}

TLabel::~TLabel() = default;

void TLabel::SetCaption(const std::string& Value) {
    if (Value == FCaption) return;
    FCaption = Value;
    AdjustSize();
    Invalidate();
}

void TLabel::SetAlignment(TAlignment Value) {
    FAlignment = Value;
    Invalidate();
}

void TLabel::SetLayout(TTextLayout Value) {
    FLayout = Value;
    Invalidate();
}

void TLabel::SetAutoSize(bool Value) {
    FAutoSize = Value;
    AdjustSize();
}

void TLabel::SetTransparent(bool Value) {
    FTransparent = Value;
    Invalidate();
}

void TLabel::SetShowAccelChar(bool Value) {
    FShowAccelChar = Value;
    AdjustSize();
    Invalidate();
}

void TLabel::FontChanged() {
    AdjustSize();
    TGraphicControl::FontChanged();
}

void TLabel::AdjustSize() {
    if (!FAutoSize) return;
    vt::EnsureGuiApplication();
    const QFontMetrics metrics(vt::ToQFont(*Font()));
    const int flags = FShowAccelChar ? Qt::TextShowMnemonic : 0;
    const QSize size = metrics.size(Qt::TextSingleLine | flags, vt::ToQString(FCaption));
    SetBounds(Left(), Top(), size.width(), std::max(size.height(), metrics.height()));
}

void TLabel::Paint() {
    TCanvas* canvas = Canvas();
    const TRect r = ClientRect();
    if (!FTransparent) {
        canvas->Brush()->SetColor(Color());
        canvas->Brush()->SetStyle(bsSolid);
        canvas->FillRect(r);
    }
    QPainter* painter = vt::CanvasAccess::Painter(*canvas);
    if (!painter || FCaption.empty()) return;
    painter->save();
    painter->setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()), Qt::IntersectClip);
    painter->setFont(vt::ToQFont(*Font()));
    painter->setPen(vt::ToQColor(Enabled() ? Font()->Color() : clGrayText));
    QString text = vt::ToQString(FCaption);
    if (!FShowAccelChar) text.replace(QLatin1Char('&'), QLatin1String("&&")); // drawn as is
    painter->drawText(QRect(r.Left, r.Top, r.Width(), r.Height()),
                      AlignmentFlags(FAlignment, FLayout) | Qt::TextShowMnemonic, text);
    painter->restore();
}

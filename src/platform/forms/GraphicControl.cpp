#include "platform/forms/GraphicControl.h"

#include "platform/forms/ContainerWidget.h"
#include "platform/gdi/Bitmap.h"
#include "platform/gdi/QtGdi.h"

#include <QPainter>
#include <QTimer>

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner) {}

TGraphicControl::~TGraphicControl() {
    Invalidate(); // the parent shows what lay behind
}

void TGraphicControl::Invalidate() {
    if (Parent() && Parent()->Handle())
        Parent()->Handle()->update(Left(), Top(), Width(), Height());
}

void TGraphicControl::Repaint() {
    if (Parent() && Parent()->Handle())
        Parent()->Handle()->repaint(Left(), Top(), Width(), Height());
}

void TGraphicControl::PaintOn() {
    if (FCapturing) return;
    try {
        Paint();
        FPaintFailed = false;
    } catch (...) {
        // Reported once, and after the paint: a message box inside a paint event
        // would paint again.
        if (FPaintFailed) return;
        FPaintFailed = true;
        QTimer::singleShot(
            0, [error = std::current_exception()] { Application.HandleException(error); });
    }
}

void TGraphicControl::CaptureBackground(TBitmap& Bitmap) {
    const int w = std::max(Width(), 1), h = std::max(Height(), 1);
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(vt::ToQColor(Parent() ? Parent()->Color() : Color()));
    auto* surface = Parent() ? dynamic_cast<vt::ContainerWidget*>(Parent()->Handle()) : nullptr;
    if (surface) {
        QPainter painter(&image);
        painter.translate(-Left(), -Top());
        const QRect area(Left(), Top(), w, h);
        painter.setClipRect(area);
        FCapturing = true;
        try {
            surface->PaintContent(painter, area, this, true);
        } catch (...) {
            FCapturing = false;
            throw;
        }
        FCapturing = false;
    }
    vt::FromQImage(Bitmap, image);
}

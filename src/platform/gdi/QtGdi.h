#pragma once
// The graphics module's bridge to Qt, for the forms module (the only other Qt user).

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Canvas.h"

#include <QColor>
#include <QFont>
#include <QImage>

class QPainter;

namespace vt {

// Qt's application object, made on first use when the program has none yet (text
// needs one). The forms module calls this instead of making its own.
void EnsureGuiApplication();

QColor ToQColor(TColor color);
QFont ToQFont(const TFont& font);
// A copy of the pixels in QImage::Format_RGB32.
QImage ToQImage(const TBitmap& bitmap);
// The bitmap's pixels in place (no copy), in the QImage format of its pixel format;
// valid while the bitmap keeps its size and format.
QImage ImageView(const TBitmap& bitmap);
// Replaces the bitmap's pixels with the image's, as pfDevice.
void FromQImage(TBitmap& bitmap, const QImage& image);

// Lets a canvas draw on a window surface while it is painted: from construction to
// destruction the canvas draws through painter, clipped to clip (canvas coordinates).
class PainterBinding {
public:
    PainterBinding(TCanvas& canvas, QPainter& painter, const TRect& clip);
    ~PainterBinding();
    PainterBinding(const PainterBinding&) = delete;
    PainterBinding& operator=(const PainterBinding&) = delete;

private:
    TCanvas& FCanvas;
};

} // namespace vt

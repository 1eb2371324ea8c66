#include "platform/gdi/Canvas.h"

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/GdiInternal.h"
#include "platform/gdi/QtGdi.h"
#include "platform/runtime/Exceptions.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <optional>

// ---- Drawing tools ------------------------------------------------------------------

void TGraphicsObject::Changed() {
    if (OnChange) OnChange(this);
}

template <class T> static bool Replace(T& field, const T& value) {
    if (field == value) return false;
    field = value;
    return true;
}

void TFont::SetName(const std::string& value) {
    if (Replace(FName, value)) Changed();
}
void TFont::SetHeight(int value) {
    if (Replace(FHeight, value)) Changed();
}
int TFont::Size() const {
    return -FHeight * 72 / PixelsPerInch;
}
void TFont::SetSize(int value) {
    SetHeight(-(value * PixelsPerInch + 36) / 72);
}
void TFont::SetColor(TColor value) {
    if (Replace(FColor, value)) Changed();
}
void TFont::SetStyle(TFontStyles value) {
    if (Replace(FStyle, value)) Changed();
}
void TFont::Assign(const TFont& source) {
    FName = source.FName;
    FHeight = source.FHeight;
    FColor = source.FColor;
    FStyle = source.FStyle;
    Changed();
}

void TBrush::SetColor(TColor value) {
    if (Replace(FColor, value)) Changed();
}
void TBrush::SetStyle(TBrushStyle value) {
    if (Replace(FStyle, value)) Changed();
}
void TBrush::Assign(const TBrush& source) {
    FColor = source.FColor;
    FStyle = source.FStyle;
    Changed();
}

void TPen::SetColor(TColor value) {
    if (Replace(FColor, value)) Changed();
}
void TPen::SetWidth(int value) {
    if (Replace(FWidth, std::max(value, 1))) Changed();
}
void TPen::SetStyle(TPenStyle value) {
    if (Replace(FStyle, value)) Changed();
}
void TPen::Assign(const TPen& source) {
    FColor = source.FColor;
    FWidth = source.FWidth;
    FStyle = source.FStyle;
    Changed();
}

// ---- Painting through Qt ---------------------------------------------------------------

namespace {

// A QPainter on the canvas's surface. Bitmaps in 24 or 32 bits are painted in place;
// palette and 1-bit bitmaps (which Qt cannot paint on) are painted as a true-colour
// copy, and the pixels that changed are mapped back to the nearest index or bit.
class Surface {
public:
    Surface(TBitmap* bitmap, QPainter* painter, const TRect& clip) : FBitmap(bitmap) {
        if (!bitmap) {
            FPainter = painter;
            FPainter->save();
            FPainter->setClipRect(QRect(clip.Left, clip.Top, clip.Width(), clip.Height()),
                                  Qt::IntersectClip);
            return;
        }
        vt::CanvasAccess::Changing(*bitmap);
        const TPixelFormat format = bitmap->PixelFormat();
        if (format == pf1bit || format == pf8bit) {
            FOriginal = vt::ImageView(*bitmap).convertToFormat(QImage::Format_RGB32);
            FImage = FOriginal.copy();
        } else {
            FImage = QImage(vt::CanvasAccess::Bits(*bitmap), bitmap->Width(), bitmap->Height(),
                            vt::CanvasAccess::Stride(*bitmap),
                            format == pf24bit ? QImage::Format_BGR888 : QImage::Format_RGB32);
        }
        FOwnPainter.emplace(&FImage);
        FPainter = &*FOwnPainter;
    }
    ~Surface() {
        if (!FOwnPainter)
            FPainter->restore();
        else if (FOwnPainter->isActive())
            FOwnPainter->end();
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    QPainter& Painter() { return *FPainter; }

    // Puts the painted pixels into the bitmap and announces the change.
    void Finish() {
        if (!FBitmap) return;
        FOwnPainter->end();
        if (!FOriginal.isNull()) {
            for (int y = 0; y < FImage.height(); ++y) {
                const auto* now = reinterpret_cast<const QRgb*>(FImage.constScanLine(y));
                const auto* was = reinterpret_cast<const QRgb*>(FOriginal.constScanLine(y));
                for (int x = 0; x < FImage.width(); ++x)
                    if (now[x] != was[x])
                        vt::CanvasAccess::StoreRgb(*FBitmap, x, y, now[x] & 0xFFFFFF);
            }
        }
        vt::CanvasAccess::Changed(*FBitmap);
    }

private:
    TBitmap* FBitmap;
    QImage FImage;
    QImage FOriginal;
    std::optional<QPainter> FOwnPainter;
    QPainter* FPainter = nullptr;
};

QPainter::CompositionMode CompositionFor(DWORD rop) {
    switch (rop) {
    case SRCAND:
        return QPainter::RasterOp_SourceAndDestination;
    case SRCINVERT:
        return QPainter::RasterOp_SourceXorDestination;
    case SRCPAINT:
        return QPainter::RasterOp_SourceOrDestination;
    case DSTANDNOTSRC:
        return QPainter::RasterOp_NotSourceAndDestination;
    case NOTSRCCOPY:
        return QPainter::RasterOp_NotSource;
    case SRCERASE:
        return QPainter::RasterOp_SourceAndNotDestination;
    case NOTSRCERASE:
        return QPainter::RasterOp_NotSourceAndNotDestination;
    case MERGEPAINT:
        return QPainter::RasterOp_NotSourceOrDestination;
    default:
        return QPainter::CompositionMode_Source;
    }
}

QRect ToQRect(const TRect& r) {
    return QRect(r.Left, r.Top, r.Width(), r.Height());
}

} // namespace

// ---- The canvas -------------------------------------------------------------------------

TCanvas::TCanvas() = default;

TCanvas::TCanvas(TBitmap* bitmap) : FBitmap(bitmap) {}

TCanvas::~TCanvas() = default;

void TCanvas::RequireSurface() const {
    if (!FBitmap && !FPainter) throw EInvalidOperation("Canvas does not allow drawing");
}

int TCanvas::SetBkMode(int mode) {
    const int previous = FBkMode;
    FBkMode = mode == TRANSPARENT ? TRANSPARENT : OPAQUE;
    return previous;
}

TColor TCanvas::SetBkColor(TColor color) {
    const TColor previous = FBkColor;
    FBkColor = color;
    return previous;
}

TRect TCanvas::ClipRect() const {
    if (FBitmap) return Rect(0, 0, FBitmap->Width(), FBitmap->Height());
    if (FPainter) return FPainterClip;
    return TRect{};
}

std::uint32_t TCanvas::ResolveRgb(TColor color) const {
    return FBitmap ? FBitmap->ColorRgb(color) : vt::SwapRB(ColorToRGB(color));
}

QColor TCanvas::ResolveColor(TColor color) const {
    return QColor::fromRgb(ResolveRgb(color));
}

std::uint32_t TCanvas::PatternRgb() const {
    return ResolveRgb(FBrush.Color());
}

TColor TCanvas::Pixels(int x, int y) const {
    if (FBitmap) {
        if (x < 0 || y < 0 || x >= FBitmap->FWidth || y >= FBitmap->FHeight) return -1;
        return static_cast<TColor>(vt::SwapRB(FBitmap->PixelRgb(x, y)));
    }
    if (FPainter && FPainter->device() && FPainter->device()->devType() == QInternal::Image) {
        const auto* image = static_cast<const QImage*>(FPainter->device());
        if (image->valid(x, y))
            return static_cast<TColor>(vt::SwapRB(image->pixel(x, y) & 0xFFFFFF));
    }
    return -1;
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    if (FBitmap) {
        FBitmap->SetPixelColor(x, y, color);
        return;
    }
    RequireSurface();
    Surface surface(nullptr, FPainter, FPainterClip);
    surface.Painter().setPen(ResolveColor(color));
    surface.Painter().drawPoint(x, y);
}

void TCanvas::MoveTo(int x, int y) {
    FPenPos = Point(x, y);
}

void TCanvas::LineTo(int x, int y) {
    RequireSurface();
    const TPoint from = FPenPos;
    FPenPos = Point(x, y);
    if (FPen.Style() == psClear) return;
    if (FBitmap && FPen.Width() == 1 && FPen.Style() == psSolid) {
        // Bresenham without the end point, as line drawing does here.
        TBitmap& bitmap = *FBitmap;
        bitmap.Changing();
        const std::uint32_t value = bitmap.StoredValueOf(FPen.Color());
        int cx = from.X, cy = from.Y;
        const int dx = std::abs(x - cx), sx = cx < x ? 1 : -1;
        const int dy = -std::abs(y - cy), sy = cy < y ? 1 : -1;
        int err = dx + dy;
        while (cx != x || cy != y) {
            if (cx >= 0 && cy >= 0 && cx < bitmap.FWidth && cy < bitmap.FHeight)
                bitmap.Store(cx, cy, value);
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                cx += sx;
            }
            if (e2 <= dx) {
                err += dx;
                cy += sy;
            }
        }
        bitmap.FireChanged();
        return;
    }
    if (FBitmap && FBitmap->Empty()) return;
    Surface surface(FBitmap, FPainter, FPainterClip);
    QPen pen(ResolveColor(FPen.Color()), FPen.Width());
    pen.setStyle(FPen.Style() == psDash  ? Qt::DashLine
                 : FPen.Style() == psDot ? Qt::DotLine
                                         : Qt::SolidLine);
    surface.Painter().setPen(pen);
    surface.Painter().drawLine(from.X, from.Y, x, y);
    surface.Finish();
}

void TCanvas::FillRect(const TRect& rect) {
    RequireSurface();
    if (FBrush.Style() == bsClear || rect.IsEmpty()) return;
    if (FBitmap) {
        TBitmap& bitmap = *FBitmap;
        bitmap.Changing();
        const std::uint32_t value = bitmap.StoredValueOf(FBrush.Color());
        for (int y = std::max(rect.Top, 0); y < std::min(rect.Bottom, bitmap.FHeight); ++y)
            for (int x = std::max(rect.Left, 0); x < std::min(rect.Right, bitmap.FWidth); ++x)
                bitmap.Store(x, y, value);
        bitmap.FireChanged();
        return;
    }
    Surface surface(nullptr, FPainter, FPainterClip);
    surface.Painter().fillRect(ToQRect(rect), ResolveColor(FBrush.Color()));
}

void TCanvas::FrameRect(const TRect& rect) {
    if (rect.IsEmpty()) return;
    const TBrushStyle style = FBrush.Style();
    FBrush.SetStyle(bsSolid);
    FillRect(Rect(rect.Left, rect.Top, rect.Right, rect.Top + 1));
    FillRect(Rect(rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom));
    FillRect(Rect(rect.Left, rect.Top, rect.Left + 1, rect.Bottom));
    FillRect(Rect(rect.Right - 1, rect.Top, rect.Right, rect.Bottom));
    FBrush.SetStyle(style);
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
    RequireSurface();
    FillRect(Rect(left, top, right, bottom));
    if (FPen.Style() == psClear) return;
    const TColor brushColor = FBrush.Color();
    const TBrushStyle brushStyle = FBrush.Style();
    FBrush.SetColor(FPen.Color());
    for (int i = 0; i < FPen.Width() && left + i < right - i && top + i < bottom - i; ++i)
        FrameRect(Rect(left + i, top + i, right - i, bottom - i));
    FBrush.SetColor(brushColor);
    FBrush.SetStyle(brushStyle);
}

// ---- Text --------------------------------------------------------------------------------

void TCanvas::DrawText(const TRect* clip, int x, int y, const std::string& text) {
    RequireSurface();
    vt::EnsureGuiApplication();
    const QFont font = vt::ToQFont(FFont);
    const QFontMetrics metrics(font);
    const QString string = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const int width = metrics.horizontalAdvance(string);
    FPenPos = Point(x + width, y);
    if (FBitmap && FBitmap->Empty()) return;
    Surface surface(FBitmap, FPainter, FPainterClip);
    QPainter& painter = surface.Painter();
    if (clip) painter.setClipRect(ToQRect(*clip), Qt::IntersectClip);
    if (FBkMode == OPAQUE)
        painter.fillRect(QRect(x, y, width, metrics.height()), ResolveColor(FBkColor));
    painter.setFont(font);
    painter.setPen(ResolveColor(FFont.Color()));
    painter.drawText(x, y + metrics.ascent(), string);
    surface.Finish();
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    DrawText(nullptr, x, y, text);
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
    if (rect.IsEmpty()) {
        FPenPos = Point(x, y);
        return;
    }
    DrawText(&rect, x, y, text);
}

int TCanvas::TextWidth(const std::string& text) {
    vt::EnsureGuiApplication();
    return QFontMetrics(vt::ToQFont(FFont))
        .horizontalAdvance(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

int TCanvas::TextHeight(const std::string&) {
    vt::EnsureGuiApplication();
    return QFontMetrics(vt::ToQFont(FFont)).height();
}

// ---- Graphics and block transfers ---------------------------------------------------------

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
    if (graphic && !graphic->Empty())
        graphic->Draw(this, Rect(x, y, x + graphic->Width(), y + graphic->Height()));
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic) {
    if (graphic && !graphic->Empty()) graphic->Draw(this, rect);
}

void TCanvas::StretchBlt(const TRect& dest, const TBitmap& source, const TRect& sourceRect,
                         DWORD rop) {
    RequireSurface();
    if (FBitmap) {
        FBitmap->Changing();
        vt::CanvasAccess::Blit(*FBitmap, dest, &source, sourceRect, rop, PatternRgb());
        FBitmap->FireChanged();
        return;
    }
    Surface surface(nullptr, FPainter, FPainterClip);
    QPainter& painter = surface.Painter();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setCompositionMode(CompositionFor(rop));
    painter.drawImage(ToQRect(dest), vt::ImageView(source), ToQRect(sourceRect));
}

void TCanvas::StretchTransparent(const TRect& dest, const TBitmap& source, TColor transparent) {
    RequireSurface();
    const std::uint32_t skip = vt::SwapRB(ColorToRGB(transparent));
    if (FBitmap) {
        FBitmap->Changing();
        vt::CanvasAccess::Blit(*FBitmap, dest, &source, Rect(0, 0, source.FWidth, source.FHeight),
                               SRCCOPY, PatternRgb(), skip);
        FBitmap->FireChanged();
        return;
    }
    QImage image = vt::ToQImage(source).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xFFFFFF) == skip) line[x] = 0;
    }
    Surface surface(nullptr, FPainter, FPainterClip);
    surface.Painter().drawImage(ToQRect(dest), image);
}

// The pixels a canvas can be read from: its bitmap, or a copy of the image its painter
// paints on (a window's back buffer). Other window surfaces cannot be read.
static const TBitmap& ReadableBitmap(TCanvas* source, TBitmap& copy) {
    if (source && source->Bitmap()) return *source->Bitmap();
    if (QPainter* painter = source ? vt::CanvasAccess::Painter(*source) : nullptr) {
        if (painter->device() && painter->device()->devType() == QInternal::Image) {
            vt::FromQImage(copy, *static_cast<const QImage*>(painter->device()));
            return copy;
        }
    }
    throw EInvalidOperation("Canvas does not allow drawing");
}

void TCanvas::CopyRect(const TRect& dest, TCanvas* source, const TRect& sourceRect) {
    TBitmap copy;
    StretchBlt(dest, ReadableBitmap(source, copy), sourceRect, FCopyMode);
}

void TCanvas::BitBlt(int x, int y, int width, int height, TCanvas* source, int sx, int sy,
                     DWORD rop) {
    StretchBlt(x, y, width, height, source, sx, sy, width, height, rop);
}

void TCanvas::StretchBlt(int x, int y, int width, int height, TCanvas* source, int sx, int sy,
                         int sWidth, int sHeight, DWORD rop) {
    if (!vt::RopUsesSource(rop)) {
        PatBlt(x, y, width, height, rop);
        return;
    }
    TBitmap copy;
    StretchBlt(Bounds(x, y, width, height), ReadableBitmap(source, copy),
               Bounds(sx, sy, sWidth, sHeight), rop);
}

void TCanvas::PatBlt(int x, int y, int width, int height, DWORD rop) {
    RequireSurface();
    if (FBitmap) {
        FBitmap->Changing();
        vt::CanvasAccess::Blit(*FBitmap, Bounds(x, y, width, height), nullptr, TRect{}, rop,
                               PatternRgb());
        FBitmap->FireChanged();
        return;
    }
    Surface surface(nullptr, FPainter, FPainterClip);
    const QRect rect(x, y, width, height);
    switch (rop) {
    case BLACKNESS:
        surface.Painter().fillRect(rect, Qt::black);
        break;
    case WHITENESS:
        surface.Painter().fillRect(rect, Qt::white);
        break;
    case DSTINVERT:
        surface.Painter().setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        surface.Painter().fillRect(rect, Qt::white);
        break;
    case PATINVERT:
        surface.Painter().setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        surface.Painter().fillRect(rect, ResolveColor(FBrush.Color()));
        break;
    default:
        surface.Painter().fillRect(rect, ResolveColor(FBrush.Color()));
        break;
    }
}

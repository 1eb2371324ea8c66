#pragma once
// TCanvas and its drawing tools (TFont, TBrush, TPen). A canvas draws either on a
// bitmap (TBitmap::Canvas) or, during a paint, on a window surface bound to it by the
// forms module.

#include "platform/gdi/GdiTypes.h"
#include "platform/runtime/Classes.h"

#include <cstdint>
#include <string>

class TBitmap;
class TGraphic;
class QColor;
class QPainter;

namespace vt {
class CanvasAccess;
} // namespace vt

// A drawing tool whose changes are announced through OnChange.
class TGraphicsObject : public TObject {
public:
    TNotifyEvent OnChange;

protected:
    void Changed();
};

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned; // or'ed TFontStyle values

class TFont : public TGraphicsObject {
public:
    // Pixels per inch of the display; Size and Height convert with it.
    static constexpr int PixelsPerInch = 96;

    const std::string& Name() const { return FName; }
    void SetName(const std::string& value);
    // Negative: the character height in pixels without internal leading; positive: the
    // cell height in pixels.
    int Height() const { return FHeight; }
    void SetHeight(int value);
    // Points; stored as Height = -Size * PixelsPerInch / 72.
    int Size() const;
    void SetSize(int value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles value);
    void Assign(const TFont& source);

private:
    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    TColor FColor = clWindowText;
    TFontStyles FStyle = 0;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle value);
    void Assign(const TBrush& source);

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = bsSolid;
};

enum TPenStyle { psSolid, psDash, psDot, psClear };

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    int Width() const { return FWidth; }
    void SetWidth(int value);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle value);
    void Assign(const TPen& source);

private:
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = psSolid;
};

class TCanvas : public TObject {
public:
    // A canvas without a surface; drawing on it raises EInvalidOperation until a
    // surface is bound.
    TCanvas();
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TFont* Font() { return &FFont; }
    TBrush* Brush() { return &FBrush; }
    TPen* Pen() { return &FPen; }
    // Raster operation of CopyRect and of drawing bitmaps.
    TCopyMode CopyMode() const { return FCopyMode; }
    void SetCopyMode(TCopyMode value) { FCopyMode = value; }

    // Background behind text: OPAQUE fills the text cells with BkColor, TRANSPARENT
    // leaves them. Both setters return the previous value.
    int BkMode() const { return FBkMode; }
    int SetBkMode(int mode);
    TColor BkColor() const { return FBkColor; }
    TColor SetBkColor(TColor color);

    // The drawable area: the whole bitmap, or the window's area being painted.
    TRect ClipRect() const;

    // One pixel. Outside the surface nothing is written and Pixels returns -1 (an
    // invalid colour). PALETTEINDEX colours take the bitmap's palette entry.
    TColor Pixels(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    TPoint PenPos() const { return FPenPos; }
    void MoveTo(int x, int y);
    void LineTo(int x, int y);                                // the end point itself is not drawn
    void Rectangle(int left, int top, int right, int bottom); // pen outline, brush fill
    void FillRect(const TRect& rect);                         // brush only
    void FrameRect(const TRect& rect); // one-pixel border in the brush colour

    // Text with its top-left at (x, y) in Font; TextRect clips it to rect.
    void TextOut(int x, int y, const std::string& text);
    void TextRect(const TRect& rect, int x, int y, const std::string& text);
    int TextWidth(const std::string& text);
    int TextHeight(const std::string& text);

    // A graphic at its own size, or stretched into rect.
    void Draw(int x, int y, TGraphic* graphic);
    void StretchDraw(const TRect& rect, TGraphic* graphic);

    // Block transfers with a raster operation; the source is stretched (nearest pixel)
    // when the sizes differ. CopyRect uses CopyMode. A source canvas must be a bitmap's
    // or paint on an image (a window's surface cannot be read: EInvalidOperation).
    void CopyRect(const TRect& dest, TCanvas* source, const TRect& sourceRect);
    void BitBlt(int x, int y, int width, int height, TCanvas* source, int sx, int sy, DWORD rop);
    void StretchBlt(int x, int y, int width, int height, TCanvas* source, int sx, int sy,
                    int sWidth, int sHeight, DWORD rop);
    void StretchBlt(const TRect& dest, const TBitmap& source, const TRect& sourceRect, DWORD rop);
    // A raster operation without source: pattern (brush colour) and destination.
    void PatBlt(int x, int y, int width, int height, DWORD rop);

    // The bitmap this canvas draws on, or null.
    TBitmap* Bitmap() const { return FBitmap; }

private:
    friend class TBitmap;
    friend class vt::CanvasAccess;
    explicit TCanvas(TBitmap* bitmap);
    void RequireSurface() const;
    void StretchTransparent(const TRect& dest, const TBitmap& source, TColor transparent);
    void DrawText(const TRect* clip, int x, int y, const std::string& text);
    // 0x00RRGGBB of a colour, palette indexes resolved by the bitmap's palette.
    std::uint32_t ResolveRgb(TColor color) const;
    QColor ResolveColor(TColor color) const;
    std::uint32_t PatternRgb() const;

    TBitmap* FBitmap = nullptr;   // borrowed: the bitmap owns its canvas
    QPainter* FPainter = nullptr; // borrowed: a window surface while it is painted
    TRect FPainterClip;
    TFont FFont;
    TBrush FBrush;
    TPen FPen;
    TCopyMode FCopyMode = cmSrcCopy;
    int FBkMode = OPAQUE;
    TColor FBkColor = clWhite;
    TPoint FPenPos;
};

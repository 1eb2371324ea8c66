#pragma once
// TBitmap: a picture held as pixels in memory, in one of a few pixel formats, with an
// optional logical palette and a canvas to draw on it.
//
// Rows are stored top row first, each padded to a multiple of 4 bytes (the layout of a
// device-independent bitmap): pf1bit has one bit per pixel, most significant bit
// leftmost (1 = white, 0 = black); pf8bit one palette index per pixel; pf24bit blue,
// green, red; pf32bit and pfDevice blue, green, red and 0xFF.

#include "platform/gdi/Canvas.h"
#include "platform/gdi/Graphic.h"

#include <array>
#include <cstdint>
#include <memory>

enum TPixelFormat { pfDevice, pf1bit, pf8bit, pf24bit, pf32bit };

namespace vt {
class CanvasAccess;
// The largest bitmap made (width * height); a larger request raises EOutOfResources.
constexpr std::int64_t MaxBitmapPixels = std::int64_t{1} << 25;
constexpr int MaxBitmapSide = 65535;
} // namespace vt

class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    void Assign(TGraphic* source) override;
    void Draw(TCanvas* canvas, const TRect& rect) override;

    // Resizing keeps the pixels of the remaining area; new pixels are white (index 0 in
    // a pf8bit bitmap). Sizes beyond the limits above raise EOutOfResources "Out of
    // system resources", negative sizes count as 0.
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return FPixelFormat; }
    // Converts the pixels: to pf8bit by the nearest palette entry, to pf1bit by the
    // nearer of black and white.
    void SetPixelFormat(TPixelFormat value);
    bool Monochrome() const { return FPixelFormat == pf1bit; }
    // true: pf1bit; false: pfDevice.
    void SetMonochrome(bool value);

    // The bitmap owns the palette it is given (a previous one is deleted). In pf8bit it
    // defines the colours of the indexes; in the other formats it resolves
    // PALETTEINDEX colours. Without one the default palette (20 system colours) serves.
    void SetPalette(HPALETTE value) override;
    // Gives up the palette: the caller owns it, the bitmap has none afterwards.
    HPALETTE ReleasePalette();

    TCanvas* Canvas();
    // The raw pixels of one row, for fast access (no change notification). A row
    // outside 0..Height-1 raises EInvalidGraphicOperation "Scan line index out of range".
    void* ScanLine(int row);
    int BytesPerScanLine() const { return FStride; }

    // The colour that a transparent draw leaves out: the bottom-left pixel.
    TColor TransparentColor();

    // Raised before a change of the pixels, size or palette; a handler that raises stops
    // the change.
    TNotifyEvent OnChanging;

    // BMP data (a BITMAPFILEHEADER and what follows); reading also takes PNG data.
    void LoadFromStream(TStream* stream) override;
    void SaveToStream(TStream* stream) override;
    // A name ending in ".png" is written as PNG, any other as BMP.
    void SaveToFile(const std::string& fileName) override;
    // The bitmap through the system clipboard (format CF_BITMAP, data 0).
    void LoadFromClipboardFormat(WORD format, THandle data, HPALETTE palette) override;
    void SaveToClipboardFormat(WORD& format, THandle& data, HPALETTE& palette) override;

protected:
    bool GetEmpty() override { return FWidth == 0 || FHeight == 0; }
    int GetWidth() override { return FWidth; }
    int GetHeight() override { return FHeight; }
    HPALETTE GetPalette() override { return FPalette; }

private:
    friend class TCanvas;
    friend class vt::CanvasAccess;

    // The pixel store, as the canvas and the blits use it.
    std::uint8_t* Row(int y) { return FBits.get() + static_cast<std::ptrdiff_t>(y) * FStride; }
    const std::uint8_t* Row(int y) const {
        return FBits.get() + static_cast<std::ptrdiff_t>(y) * FStride;
    }
    // 0x00RRGGBB of a stored pixel / of a colour value.
    std::uint32_t PixelRgb(int x, int y) const;
    // The same from a stored value of the given format (palette indexes by this
    // bitmap's palette) / the stored value of pixel x in a row of the given format.
    std::uint32_t RgbOf(TPixelFormat format, std::uint32_t stored) const;
    static std::uint32_t StoredIn(TPixelFormat format, const std::uint8_t* row, int x);
    std::uint32_t ColorRgb(TColor color) const;
    // The value stored for a 0x00RRGGBB colour in the current format.
    std::uint32_t StoredValue(std::uint32_t rgb) const;
    std::uint32_t StoredValueOf(TColor color) const;
    std::uint32_t StoredAt(int x, int y) const;
    void Store(int x, int y, std::uint32_t value);
    std::uint8_t NearestIndex(std::uint32_t rgb) const;
    const std::array<std::uint32_t, 256>& IndexColors() const { return FIndexColors; }

    // The canvas's set-pixel, the hot path of image decoders: no painter, no allocation.
    void SetPixelColor(int x, int y, TColor color);
    void Reformat(TPixelFormat format, int width, int height);
    void UpdateIndexColors();
    static void ReadIndexColors(HPALETTE palette, std::array<std::uint32_t, 256>& colors,
                                int& count);
    void Changing();
    void FireChanged();

    std::unique_ptr<TCanvas> FCanvas; // made by Canvas() on first use
    TPixelFormat FPixelFormat = pfDevice;
    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    std::unique_ptr<std::uint8_t[]> FBits;
    HPALETTE FPalette = nullptr;
    // 0x00RRGGBB of each index under the palette in force (entries beyond its count
    // repeat entry 0).
    std::array<std::uint32_t, 256> FIndexColors{};
    int FIndexCount = 0;
    // The last colour mapped to an index, so runs of one colour map once.
    mutable std::uint32_t FLastRgb = 0xFFFFFFFF;
    mutable std::uint8_t FLastIndex = 0;
};

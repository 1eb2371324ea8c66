#pragma once
// Internal helpers shared by the graphics module's sources (not for other modules).

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Canvas.h"

#include <cstdint>
#include <optional>

class QPainter;

namespace vt {

// The module's way into the private parts of TBitmap and TCanvas.
class CanvasAccess {
public:
    static int Width(const TBitmap& bitmap) { return bitmap.FWidth; }
    static int Height(const TBitmap& bitmap) { return bitmap.FHeight; }
    static int Stride(const TBitmap& bitmap) { return bitmap.FStride; }
    static const std::uint8_t* Bits(const TBitmap& bitmap) { return bitmap.FBits.get(); }
    static std::uint8_t* Bits(TBitmap& bitmap) { return bitmap.FBits.get(); }
    static const std::array<std::uint32_t, 256>& IndexColors(const TBitmap& bitmap) {
        return bitmap.FIndexColors;
    }
    // Resizes and reformats without notification; new pixels are white (index 0).
    static void Reformat(TBitmap& bitmap, TPixelFormat format, int width, int height) {
        bitmap.Reformat(format, width, height);
    }
    static void Changing(TBitmap& bitmap) { bitmap.Changing(); }
    static void Changed(TBitmap& bitmap) { bitmap.FireChanged(); }
    static QPainter* Painter(const TCanvas& canvas) { return canvas.FPainter; }
    static void BindPainter(TCanvas& canvas, QPainter* painter, const TRect& clip) {
        canvas.FPainter = painter;
        canvas.FPainterClip = clip;
    }
    // Stores a 0x00RRGGBB colour at (x, y), inside the bitmap.
    static void StoreRgb(TBitmap& bitmap, int x, int y, std::uint32_t rgb) {
        bitmap.Store(x, y, bitmap.StoredValue(rgb));
    }
    static std::uint32_t PixelRgb(const TBitmap& bitmap, int x, int y) {
        return bitmap.PixelRgb(x, y);
    }

    // Transfers src (stretched from srcRect, nearest pixel) into dest at destRect with a
    // ternary raster operation; pattern is the brush colour (0x00RRGGBB). Pixels of the
    // source equal to skipRgb leave the destination as it is.
    static void Blit(TBitmap& dest, const TRect& destRect, const TBitmap* src, const TRect& srcRect,
                     DWORD rop, std::uint32_t patternRgb,
                     std::optional<std::uint32_t> skipRgb = std::nullopt);
};

// 0x00BBGGRR <-> 0x00RRGGBB.
constexpr std::uint32_t SwapRB(std::uint32_t c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// The result of a ternary raster operation on the bits of pattern, source and dest.
inline std::uint32_t Rop3(DWORD rop, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
    const unsigned code = (rop >> 16) & 0xFF;
    switch (code) {
    case 0xCC:
        return s;
    case 0x88:
        return s & d;
    case 0x66:
        return s ^ d;
    case 0xEE:
        return s | d;
    case 0x22:
        return d & ~s;
    case 0x33:
        return ~s;
    case 0x44:
        return s & ~d;
    case 0xF0:
        return p;
    case 0x55:
        return ~d;
    case 0xAA:
        return d;
    case 0x00:
        return 0;
    case 0xFF:
        return ~0u;
    default:
        break;
    }
    // Bit i of the code is the result for pattern, source, dest bits = i's bits 2, 1, 0.
    std::uint32_t result = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (code & (1u << i))
            result |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    }
    return result;
}

// Whether a raster operation reads the source (else only pattern and destination).
constexpr bool RopUsesSource(DWORD rop) {
    const unsigned code = (rop >> 16) & 0xFF;
    return ((code >> 2) & 0x33) != (code & 0x33);
}

} // namespace vt

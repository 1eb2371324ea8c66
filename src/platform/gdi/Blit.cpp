// Block transfers between bitmaps with ternary raster operations, done on the stored
// pixel values: colours in true-colour bitmaps, indexes in palette bitmaps, bits in
// 1-bit bitmaps.

#include "platform/gdi/GdiInternal.h"

#include <algorithm>
#include <vector>

namespace vt {
namespace {

constexpr std::uint32_t White = 0xFFFFFF;

std::uint32_t ValueMask(TPixelFormat format) {
    switch (format) {
    case pf1bit:
        return 1;
    case pf8bit:
        return 0xFF;
    default:
        return 0xFFFFFF;
    }
}

// Source column (or row) for each destination one: the nearest pixel's centre.
std::vector<int> SourceSteps(int destStart, int destFrom, int destTo, int destExtent, int srcStart,
                             int srcExtent) {
    std::vector<int> steps(static_cast<std::size_t>(std::max(destTo - destFrom, 0)));
    for (int i = destFrom; i < destTo; ++i) {
        const std::int64_t offset =
            (2 * std::int64_t{i - destStart} + 1) * srcExtent / (2 * std::int64_t{destExtent});
        steps[static_cast<std::size_t>(i - destFrom)] = srcStart + static_cast<int>(offset);
    }
    return steps;
}

bool IsTrueColor(TPixelFormat format) {
    return format == pfDevice || format == pf32bit;
}

// Whole-row loops for the transfers an animation makes every frame: unstretched, between
// true-colour and 1-bit bitmaps, with the common raster operations spelled out so the
// loop needs no per-pixel dispatch.
template <class Op> struct TRowBlit {
    Op Combine;
    // True-colour destination; oneBit says how a source pixel is read.
    void TrueColor(std::uint8_t* dest, int x0, int x1, const std::uint8_t* src, int sx,
                   bool oneBit) const {
        auto* d = reinterpret_cast<std::uint32_t*>(dest);
        if (oneBit) {
            for (int x = x0; x < x1; ++x, ++sx) {
                const std::uint32_t sv = (src[sx >> 3] >> (7 - (sx & 7))) & 1 ? 0xFFFFFFu : 0u;
                d[x] = 0xFF000000u | (Combine(sv, d[x] & 0xFFFFFF) & 0xFFFFFF);
            }
        } else {
            const auto* sp = reinterpret_cast<const std::uint32_t*>(src);
            for (int x = x0; x < x1; ++x, ++sx)
                d[x] = 0xFF000000u | (Combine(sp[sx] & 0xFFFFFF, d[x] & 0xFFFFFF) & 0xFFFFFF);
        }
    }
    // 1-bit destination and source.
    void OneBit(std::uint8_t* dest, int x0, int x1, const std::uint8_t* src, int sx) const {
        for (int x = x0; x < x1; ++x, ++sx) {
            const std::uint32_t sv = (src[sx >> 3] >> (7 - (sx & 7))) & 1;
            const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
            const std::uint32_t dv = (dest[x >> 3] & bit) ? 1 : 0;
            dest[x >> 3] = static_cast<std::uint8_t>((Combine(sv, dv) & 1) ? dest[x >> 3] | bit
                                                                           : dest[x >> 3] & ~bit);
        }
    }
};

template <class Op>
void RunRows(TBitmap& dest, const TBitmap& src, int x0, int x1, int y0, int y1, int dxToSx,
             int dyToSy, Op op) {
    const TRowBlit<Op> rows{op};
    const bool destOneBit = dest.PixelFormat() == pf1bit;
    const bool srcOneBit = src.PixelFormat() == pf1bit;
    const int dstStride = CanvasAccess::Stride(dest), srcStride = CanvasAccess::Stride(src);
    std::uint8_t* dbits = CanvasAccess::Bits(dest);
    const std::uint8_t* sbits = CanvasAccess::Bits(src);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* drow = dbits + static_cast<std::ptrdiff_t>(y) * dstStride;
        const std::uint8_t* srow = sbits + static_cast<std::ptrdiff_t>(y + dyToSy) * srcStride;
        if (destOneBit)
            rows.OneBit(drow, x0, x1, srow, x0 + dxToSx);
        else
            rows.TrueColor(drow, x0, x1, srow, x0 + dxToSx, srcOneBit);
    }
}

// The unstretched transfers between distinct true-colour or 1-bit bitmaps; false when
// the general path must do it.
bool FastBlit(TBitmap& dest, const TRect& destRect, const TBitmap& src, const TRect& srcRect,
              DWORD rop, std::uint32_t pattern) {
    const TPixelFormat df = dest.PixelFormat(), sf = src.PixelFormat();
    const bool shapes =
        (IsTrueColor(df) && (IsTrueColor(sf) || sf == pf1bit)) || (df == pf1bit && sf == pf1bit);
    if (!shapes || &src == &dest || destRect.Width() != srcRect.Width() ||
        destRect.Height() != srcRect.Height())
        return false;
    const int dx = srcRect.Left - destRect.Left, dy = srcRect.Top - destRect.Top;
    // Destination pixels whose source pixel lies inside both bitmaps.
    const int x0 = std::max({destRect.Left, 0, -dx});
    const int x1 =
        std::min({destRect.Right, CanvasAccess::Width(dest), CanvasAccess::Width(src) - dx});
    const int y0 = std::max({destRect.Top, 0, -dy});
    const int y1 =
        std::min({destRect.Bottom, CanvasAccess::Height(dest), CanvasAccess::Height(src) - dy});
    if (x0 >= x1 || y0 >= y1) return true;
    using U = std::uint32_t;
    switch (rop) {
    case SRCCOPY:
        RunRows(dest, src, x0, x1, y0, y1, dx, dy, [](U s, U) { return s; });
        break;
    case SRCAND:
        RunRows(dest, src, x0, x1, y0, y1, dx, dy, [](U s, U d) { return s & d; });
        break;
    case SRCINVERT:
        RunRows(dest, src, x0, x1, y0, y1, dx, dy, [](U s, U d) { return s ^ d; });
        break;
    case SRCPAINT:
        RunRows(dest, src, x0, x1, y0, y1, dx, dy, [](U s, U d) { return s | d; });
        break;
    case DSTANDNOTSRC:
        RunRows(dest, src, x0, x1, y0, y1, dx, dy, [](U s, U d) { return d & ~s; });
        break;
    default:
        RunRows(dest, src, x0, x1, y0, y1, dx, dy,
                [rop, pattern](U s, U d) { return Rop3(rop, pattern, s, d); });
        break;
    }
    return true;
}

} // namespace

void CanvasAccess::Blit(TBitmap& dest, const TRect& destRect, const TBitmap* src,
                        const TRect& srcRect, DWORD rop, std::uint32_t patternRgb,
                        std::optional<std::uint32_t> skipRgb) {
    const int dw = destRect.Width();
    const int dh = destRect.Height();
    if (dw <= 0 || dh <= 0 || !dest.FBits) return;
    const bool readsSource = RopUsesSource(rop) || skipRgb;
    if (readsSource && (!src || !src->FBits || srcRect.Width() <= 0 || srcRect.Height() <= 0))
        return;

    if (!readsSource && dest.FPixelFormat == pf1bit && (rop == BLACKNESS || rop == WHITENESS)) {
        const int x0 = std::max(destRect.Left, 0), x1 = std::min(destRect.Right, dest.FWidth);
        for (int y = std::max(destRect.Top, 0); y < std::min(destRect.Bottom, dest.FHeight); ++y) {
            std::uint8_t* row = dest.Row(y);
            for (int x = x0; x < x1; ++x) {
                const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
                row[x >> 3] = static_cast<std::uint8_t>(rop == WHITENESS ? row[x >> 3] | bit
                                                                         : row[x >> 3] & ~bit);
            }
        }
        return;
    }
    if (!readsSource && IsTrueColor(dest.FPixelFormat) &&
        (rop == BLACKNESS || rop == WHITENESS || rop == PATCOPY)) {
        const std::uint32_t fill = 0xFF000000u | (rop == BLACKNESS   ? 0
                                                  : rop == WHITENESS ? White
                                                                     : patternRgb);
        const int x0 = std::max(destRect.Left, 0), x1 = std::min(destRect.Right, dest.FWidth);
        for (int y = std::max(destRect.Top, 0); y < std::min(destRect.Bottom, dest.FHeight); ++y)
            if (x0 < x1)
                std::fill_n(reinterpret_cast<std::uint32_t*>(dest.Row(y)) + x0, x1 - x0, fill);
        return;
    }
    if (readsSource && !skipRgb && src != &dest) {
        const std::uint32_t pattern =
            dest.FPixelFormat == pf1bit ? (patternRgb == White ? 1u : 0u) : patternRgb;
        if (FastBlit(dest, destRect, *src, srcRect, rop, pattern)) return;
    }

    // Reading from the bitmap being written would smear overlapping areas: use a copy.
    TBitmap copy;
    if (readsSource && src == &dest) {
        copy.Assign(&dest);
        src = &copy;
    }

    const int x0 = std::max(destRect.Left, 0), x1 = std::min(destRect.Right, dest.FWidth);
    const int y0 = std::max(destRect.Top, 0), y1 = std::min(destRect.Bottom, dest.FHeight);
    if (x0 >= x1 || y0 >= y1) return;

    const TPixelFormat format = dest.FPixelFormat;
    const std::uint32_t mask = ValueMask(format);
    const std::uint32_t pattern =
        (format == pf1bit ? (patternRgb == White ? 1u : 0u) : dest.StoredValue(patternRgb)) & mask;
    const bool sameIndexes = readsSource && format == pf8bit && src->FPixelFormat == pf8bit &&
                             src->FIndexColors == dest.FIndexColors;
    // The source pixel as a value of the destination's format; a colour becomes a 1-bit
    // value by matching white, the background colour.
    auto sourceValue = [&](int sx, int sy) -> std::uint32_t {
        if (sameIndexes || (format == pf1bit && src->FPixelFormat == pf1bit))
            return src->StoredAt(sx, sy);
        const std::uint32_t rgb = src->PixelRgb(sx, sy);
        if (format == pf1bit) return rgb == White ? 1 : 0;
        return dest.StoredValue(rgb);
    };

    std::vector<int> columns, rows;
    if (readsSource) {
        columns = SourceSteps(destRect.Left, x0, x1, dw, srcRect.Left, srcRect.Width());
        rows = SourceSteps(destRect.Top, y0, y1, dh, srcRect.Top, srcRect.Height());
    }
    for (int y = y0; y < y1; ++y) {
        const int sy = readsSource ? rows[static_cast<std::size_t>(y - y0)] : 0;
        if (readsSource && (sy < 0 || sy >= src->FHeight)) continue;
        for (int x = x0; x < x1; ++x) {
            std::uint32_t s = 0;
            if (readsSource) {
                const int sx = columns[static_cast<std::size_t>(x - x0)];
                if (sx < 0 || sx >= src->FWidth) continue;
                if (skipRgb && src->PixelRgb(sx, sy) == *skipRgb) continue;
                s = sourceValue(sx, sy);
            }
            dest.Store(x, y, Rop3(rop, pattern, s, dest.StoredAt(x, y)) & mask);
        }
    }
}

} // namespace vt

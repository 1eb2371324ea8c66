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

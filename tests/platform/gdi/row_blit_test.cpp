// Unstretched block transfers between true-colour and 1-bit bitmaps (the animated
// control's composition steps), pixel by pixel against the raster operations' formulas,
// at offsets that clip against both bitmaps' edges.

#include "platform/gdi/Bitmap.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Formula = std::function<std::uint32_t(std::uint32_t S, std::uint32_t D)>;

std::uint32_t Rgb(TColor C) {
    return std::uint32_t(C) & 0xFFFFFF;
}

// Colours that differ in every pixel; 1-bit bitmaps get a checker-like pattern.
void Fill(TBitmap& B, TPixelFormat Format, int W, int H, int Seed) {
    B.SetPixelFormat(Format);
    B.SetSize(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int v = (x * 37 + y * 101 + Seed * 53) & 0xFF;
            const TColor c = Format == pf1bit ? ((x + y * 3 + Seed) % 3 ? clWhite : clBlack)
                                              : RGB(BYTE(v), BYTE(255 - v), BYTE(v * 7));
            B.Canvas()->SetPixel(x, y, c);
        }
}

void Check(TPixelFormat DestFormat, TPixelFormat SrcFormat, DWORD Rop, const Formula& F) {
    for (const TPoint at : {Point(0, 0), Point(-3, -2), Point(5, 4), Point(9, 1)})
        for (const TPoint from : {Point(0, 0), Point(2, 3), Point(-2, 1), Point(6, 5)}) {
            TBitmap src, dest, before;
            Fill(src, SrcFormat, 9, 7, 1);
            Fill(dest, DestFormat, 11, 6, 2);
            before.Assign(&dest);
            const int w = 6, h = 4;
            dest.Canvas()->BitBlt(at.X, at.Y, w, h, src.Canvas(), from.X, from.Y, Rop);
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 11; ++x) {
                    const int sx = x - at.X + from.X, sy = y - at.Y + from.Y;
                    const bool inside = x >= at.X && x < at.X + w && y >= at.Y && y < at.Y + h &&
                                        sx >= 0 && sx < 9 && sy >= 0 && sy < 7;
                    const std::uint32_t d = Rgb(before.Canvas()->Pixels(x, y));
                    std::uint32_t want =
                        inside ? F(Rgb(src.Canvas()->Pixels(sx, sy)), d) & 0xFFFFFF : d;
                    if (DestFormat == pf1bit) want = want == 0xFFFFFF ? 0xFFFFFF : 0;
                    ASSERT_EQ(Rgb(dest.Canvas()->Pixels(x, y)), want)
                        << std::hex << "rop " << Rop << std::dec << " at " << at.X << "," << at.Y
                        << " from " << from.X << "," << from.Y << ": pixel " << x << "," << y;
                }
        }
}

} // namespace

TEST(RowBlit, TrueColourAndMaskTransfersClipAtBothEdges) {
    const std::pair<DWORD, Formula> rops[] = {
        {SRCCOPY, [](std::uint32_t s, std::uint32_t) { return s; }},
        {SRCAND, [](std::uint32_t s, std::uint32_t d) { return s & d; }},
        {SRCINVERT, [](std::uint32_t s, std::uint32_t d) { return s ^ d; }},
        {SRCPAINT, [](std::uint32_t s, std::uint32_t d) { return s | d; }},
        {DSTANDNOTSRC, [](std::uint32_t s, std::uint32_t d) { return d & ~s; }},
        {MERGEPAINT, [](std::uint32_t s, std::uint32_t d) { return ~s | d; }},
    };
    for (const auto& [rop, formula] : rops) {
        Check(pfDevice, pfDevice, rop, formula);
        Check(pfDevice, pf1bit, rop, formula);
        Check(pf1bit, pf1bit, rop, formula);
    }
}

TEST(RowBlit, FillsWithoutSource) {
    TBitmap b;
    Fill(b, pfDevice, 5, 4, 3);
    b.Canvas()->PatBlt(-1, 1, 3, 5, BLACKNESS);
    b.Canvas()->PatBlt(3, -2, 9, 3, WHITENESS);
    b.Canvas()->Brush()->SetColor(clTeal);
    b.Canvas()->PatBlt(4, 3, 1, 1, PATCOPY);
    EXPECT_EQ(b.Canvas()->Pixels(0, 1), clBlack);
    EXPECT_EQ(b.Canvas()->Pixels(1, 3), clBlack);
    EXPECT_NE(b.Canvas()->Pixels(2, 1), clBlack);
    EXPECT_EQ(b.Canvas()->Pixels(4, 0), clWhite);
    EXPECT_NE(b.Canvas()->Pixels(4, 1), clWhite);
    EXPECT_EQ(b.Canvas()->Pixels(4, 3), clTeal);
}

TEST(RowBlit, MaskFillsWithoutSource) {
    TBitmap m;
    Fill(m, pf1bit, 19, 3, 0);
    TBitmap before;
    before.Assign(&m);
    m.Canvas()->PatBlt(3, 1, 13, 5, WHITENESS);
    m.Canvas()->PatBlt(-2, -1, 4, 2, BLACKNESS);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 19; ++x) {
            TColor want = before.Canvas()->Pixels(x, y);
            if (x >= 3 && x < 16 && y >= 1) want = clWhite;
            if (x < 2 && y < 1) want = clBlack;
            EXPECT_EQ(m.Canvas()->Pixels(x, y), want) << x << "," << y;
        }
}

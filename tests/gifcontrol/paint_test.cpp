// The control's five paint modes on a canvas of known size, with and without
// transparency. Without a parent the background behind the control is its Color, so
// transparent pixels must come out in that colour.

#include "ControlTestSupport.h"

#include <gtest/gtest.h>

using namespace gifctest;
using giftest::Append;

namespace {

constexpr TColor Prefill = clGray;      // the canvas before the paint
constexpr TColor Background = clPurple; // what lies behind the control

// A 4 x 3 picture whose pixel (x, y) has palette index 1 + x + 4y (colours distinct).
// Transparent: index 6, pixel (1, 1), is transparent.
Bytes Picture(bool Transparent) {
    Bytes file = giftest::Header(4, 3, 8);
    if (Transparent) Append(file, Gce(0, true, 0, 6));
    Bytes pixels;
    for (int i = 0; i < 12; ++i)
        pixels.push_back(std::uint8_t(1 + i));
    Append(file, giftest::Image(4, 3, 4, giftest::PackCodes(giftest::LiteralCodes(pixels, 4))));
    file.push_back(0x3B);
    return file;
}

// The colour the picture shows at its pixel (x, y), or Background where transparent.
TColor Expected(bool Transparent, int X, int Y) {
    const int index = 1 + X + 4 * Y;
    return Transparent && index == 6 ? Background : TableColor(index);
}

struct Painted {
    TTestControl Control;
    TBitmap Canvas;
    Painted(bool Transparent, int W, int H) {
        Control.SetColor(Background);
        Control.SetBounds(0, 0, W, H);
        EXPECT_TRUE(Control.Load(Picture(Transparent)));
        Canvas.SetSize(W, H);
        Canvas.Canvas()->Brush()->SetColor(Prefill);
        Canvas.Canvas()->FillRect(Rect(0, 0, W, H));
    }
    TColor At(int X, int Y) { return Canvas.Canvas()->Pixels(X, Y); }
    void Paint() { Control.PaintOn(Canvas); }
};

} // namespace

TEST(paint, PlainAndCentred) {
    for (bool transparent : {false, true}) {
        SCOPED_TRACE(transparent);
        Painted p(transparent, 10, 7);
        p.Paint();
        EXPECT_FALSE(p.Control.Opaque()); // smaller than the control
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(p.At(x, y), Expected(transparent, x, y)) << x << "," << y;
        EXPECT_EQ(p.At(4, 0), Prefill); // the rest is the parent's
        EXPECT_EQ(p.At(9, 6), Prefill);

        Painted c(transparent, 10, 7);
        c.Control.SetCenter(true);
        c.Paint();
        // (10 - 4) div 2 = 3, (7 - 3) div 2 = 2
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(c.At(3 + x, 2 + y), Expected(transparent, x, y)) << x << "," << y;
        EXPECT_EQ(c.At(2, 2), Prefill);
        EXPECT_EQ(c.At(7, 4), Prefill);
    }
}

TEST(paint, Tiled) {
    for (bool transparent : {false, true}) {
        SCOPED_TRACE(transparent);
        Painted p(transparent, 10, 7);
        p.Control.SetTile(true);
        p.Paint();
        EXPECT_EQ(p.Control.Opaque(), !transparent);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 10; ++x)
                EXPECT_EQ(p.At(x, y), Expected(transparent, x % 4, y % 3)) << x << "," << y;
    }
}

TEST(paint, Stretched) {
    for (bool transparent : {false, true}) {
        SCOPED_TRACE(transparent);
        Painted p(transparent, 8, 9); // 2x wide, 3x high
        p.Control.SetStretch(true);
        p.Paint();
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(p.At(x, y), Expected(transparent, x / 2, y / 3)) << x << "," << y;
    }
}

TEST(paint, StretchedKeepingTheAspectRatio) {
    for (bool transparent : {false, true}) {
        SCOPED_TRACE(transparent);
        // 12 x 3 control: rx = 3, ry = 1, so the picture keeps its size 4 x 3, centred
        // with (12 - 4) / 2 = 4 columns left and right.
        Painted wide(transparent, 12, 3);
        wide.Control.SetStretchRatio(true);
        wide.Paint();
        EXPECT_FALSE(wide.Control.Opaque());
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(wide.At(4 + x, y), Expected(transparent, x, y)) << x << "," << y;
            // Outside the picture: the background the control captured when it has a
            // mask to paint through, else the parent's pixels.
            EXPECT_EQ(wide.At(0, y), transparent ? Background : Prefill);
            EXPECT_EQ(wide.At(11, y), transparent ? Background : Prefill);
        }
        // 8 x 12 control: rx = 2, ry = 4: the picture grows to 8 x 6, inset 3 rows above.
        Painted tall(transparent, 8, 12);
        tall.Control.SetStretchRatio(true);
        tall.Paint();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(tall.At(x, 3 + y), Expected(transparent, x / 2, y / 2)) << x << "," << y;
        EXPECT_EQ(tall.At(0, 2), transparent ? Background : Prefill);
        EXPECT_EQ(tall.At(0, 9), transparent ? Background : Prefill);
        // Stretch wins over StretchRatio.
        Painted both(transparent, 8, 12);
        both.Control.SetStretchRatio(true);
        both.Control.SetStretch(true);
        both.Paint();
        EXPECT_EQ(both.At(7, 11), Expected(transparent, 3, 2));
    }
}

TEST(paint, OpaqueStyleAndHiddenImage) {
    Painted p(false, 4, 3); // the image covers the control
    p.Paint();
    EXPECT_TRUE(p.Control.Opaque());
    EXPECT_EQ(p.At(3, 2), Expected(false, 3, 2));
    // The control's own Visible hides the picture, not the control.
    p.Control.SetVisible(false);
    EXPECT_FALSE(p.Control.Visible());
    EXPECT_TRUE(p.Control.TControl::Visible());
    p.Canvas.Canvas()->FillRect(Rect(0, 0, 4, 3));
    p.Paint();
    EXPECT_FALSE(p.Control.Opaque());
    EXPECT_EQ(p.At(3, 2), Prefill);
    EXPECT_EQ(p.Control.GetPalette(), nullptr);
    p.Control.SetVisible(true);
    EXPECT_NE(p.Control.GetPalette(), nullptr);

    // An empty control paints nothing.
    TTestControl empty;
    TBitmap canvas;
    canvas.SetSize(5, 5);
    canvas.Canvas()->Brush()->SetColor(Prefill);
    canvas.Canvas()->FillRect(Rect(0, 0, 5, 5));
    empty.PaintOn(canvas);
    EXPECT_EQ(canvas.Canvas()->Pixels(2, 2), Prefill);
    EXPECT_EQ(empty.GetPalette(), nullptr);
}

TEST(paint, OpaqueFirstFrameThenTransparentOnesPaintThroughTheMask) {
    // Frame 1 (opaque) covers only the left half of an 8 x 2 screen; frame 2 is
    // transparent. The right half, never covered, must show the background behind the
    // control, not the picture's black.
    Bytes file = giftest::Header(8, 2, 8);
    Append(file, SolidImage(0, 0, 4, 2, 3));
    Append(file, Gce(1, true, 0, 9));
    Append(file, SolidImage(4, 0, 4, 2, 9));
    file.push_back(0x3B);
    TTestControl c;
    c.SetColor(Background);
    c.SetBounds(0, 0, 8, 2);
    ASSERT_TRUE(c.Load(file));
    TBitmap canvas;
    canvas.SetSize(8, 2);
    c.PaintOn(canvas);
    EXPECT_EQ(canvas.Canvas()->Pixels(1, 1), TableColor(3));
    EXPECT_EQ(canvas.Canvas()->Pixels(6, 1), Background);
}

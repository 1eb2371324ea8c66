#include "GdiTestSupport.h"

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/QtGdi.h"
#include "platform/runtime/Exceptions.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstring>

using vt::test::MakePalette;
using vt::test::Prepare;

// fontconfig keeps a cache for the life of the process, which the leak checker would
// report at exit of every test that draws text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

constexpr TColor S = RGB(0xF0, 0xCC, 0x33);
constexpr TColor D = RGB(0x3C, 0xAA, 0x55);

TColor Blit(TPixelFormat format, DWORD rop, TColor brush = clBlack) {
    TBitmap source, dest;
    Prepare(source, pfDevice, 1, 1, S);
    Prepare(dest, format, 1, 1, D);
    dest.Canvas()->Brush()->SetColor(brush);
    dest.Canvas()->BitBlt(0, 0, 1, 1, source.Canvas(), 0, 0, rop);
    return dest.Canvas()->Pixels(0, 0);
}

TEST(Canvas, RasterOperationsOnKnownPixelPairs) {
    EXPECT_EQ(Blit(pfDevice, SRCCOPY), S);
    EXPECT_EQ(Blit(pfDevice, SRCAND), RGB(0x30, 0x88, 0x11));
    EXPECT_EQ(Blit(pfDevice, SRCINVERT), RGB(0xCC, 0x66, 0x66));
    EXPECT_EQ(Blit(pfDevice, SRCPAINT), RGB(0xFC, 0xEE, 0x77));
    EXPECT_EQ(Blit(pfDevice, DSTANDNOTSRC), RGB(0x0C, 0x22, 0x44));
    EXPECT_EQ(Blit(pfDevice, NOTSRCCOPY), RGB(0x0F, 0x33, 0xCC));
    EXPECT_EQ(Blit(pfDevice, SRCERASE), RGB(0xC0, 0x44, 0x22));
    EXPECT_EQ(Blit(pfDevice, MERGEPAINT), RGB(0x3F, 0xBB, 0xDD));
    EXPECT_EQ(Blit(pfDevice, DSTINVERT), RGB(0xC3, 0x55, 0xAA));
    EXPECT_EQ(Blit(pfDevice, BLACKNESS), clBlack);
    EXPECT_EQ(Blit(pfDevice, WHITENESS), clWhite);
    EXPECT_EQ(Blit(pfDevice, PATCOPY, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(Blit(pfDevice, MERGECOPY, RGB(0x0F, 0xFF, 0x00)), RGB(0x00, 0xCC, 0x00)); // P & S
    // 24-bit pixels take the same operations.
    EXPECT_EQ(Blit(pf24bit, SRCINVERT), RGB(0xCC, 0x66, 0x66));
    EXPECT_EQ(Blit(pf24bit, DSTANDNOTSRC), RGB(0x0C, 0x22, 0x44));
}

// The transparent-sprite sequence of the animated control: the image is blackened
// where the mask is set, then background AND mask, then XOR image.
TEST(Canvas, MaskAndInvertCompositionShowsTheBackgroundThroughTransparentPixels) {
    TBitmap image, mask, screen;
    Prepare(image, pfDevice, 4, 1, clRed);
    image.Canvas()->SetPixel(1, 0, clLime);
    Prepare(mask, pf1bit, 4, 1, clBlack);
    mask.Canvas()->SetPixel(0, 0, clWhite); // 1 = transparent
    mask.Canvas()->SetPixel(3, 0, clWhite);

    image.Canvas()->BitBlt(0, 0, 4, 1, mask.Canvas(), 0, 0, DSTANDNOTSRC);
    EXPECT_EQ(image.Canvas()->Pixels(0, 0), clBlack);
    EXPECT_EQ(image.Canvas()->Pixels(1, 0), clLime);
    EXPECT_EQ(image.Canvas()->Pixels(3, 0), clBlack);

    Prepare(screen, pfDevice, 4, 1, clBlue);
    screen.Canvas()->BitBlt(0, 0, 4, 1, mask.Canvas(), 0, 0, SRCAND);
    screen.Canvas()->BitBlt(0, 0, 4, 1, image.Canvas(), 0, 0, SRCINVERT);
    EXPECT_EQ(screen.Canvas()->Pixels(0, 0), clBlue);
    EXPECT_EQ(screen.Canvas()->Pixels(1, 0), clLime);
    EXPECT_EQ(screen.Canvas()->Pixels(2, 0), clRed);
    EXPECT_EQ(screen.Canvas()->Pixels(3, 0), clBlue);
}

TEST(Canvas, MasksAreMadeFromColoursByMatchingWhite) {
    TBitmap colour, mask;
    Prepare(colour, pfDevice, 3, 1, clWhite);
    colour.Canvas()->SetPixel(1, 0, RGB(250, 250, 250)); // near white is not white
    colour.Canvas()->SetPixel(2, 0, clBlack);
    Prepare(mask, pf1bit, 3, 1, clBlack);
    mask.Canvas()->BitBlt(0, 0, 3, 1, colour.Canvas(), 0, 0, SRCCOPY);
    EXPECT_EQ(static_cast<const BYTE*>(mask.ScanLine(0))[0] & 0xE0, 0x80);

    // And 1-bit operations work on bits: XOR with a full mask inverts it.
    TBitmap ones;
    Prepare(ones, pf1bit, 3, 1, clWhite);
    mask.Canvas()->BitBlt(0, 0, 3, 1, ones.Canvas(), 0, 0, SRCINVERT);
    EXPECT_EQ(static_cast<const BYTE*>(mask.ScanLine(0))[0] & 0xE0, 0x60);
}

TEST(Canvas, PaletteBitmapsCopyIndexesBetweenEqualPalettes) {
    // Two entries of the same colour: the index, not the colour, must survive.
    TBitmap source, dest;
    for (TBitmap* b : {&source, &dest}) {
        b->SetPixelFormat(pf8bit);
        b->SetSize(2, 1);
        b->SetPalette(MakePalette({{0, 0, 0}, {9, 9, 9}, {9, 9, 9}}));
    }
    source.Canvas()->SetPixel(0, 0, PALETTEINDEX(2));
    source.Canvas()->SetPixel(1, 0, PALETTEINDEX(1));
    dest.Canvas()->CopyRect(Rect(0, 0, 2, 1), source.Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(std::memcmp(dest.ScanLine(0), "\2\1", 2), 0);

    // From a true-colour source the nearest entry is taken.
    TBitmap colour;
    Prepare(colour, pfDevice, 1, 1, RGB(8, 8, 10));
    dest.Canvas()->Draw(0, 0, &colour);
    EXPECT_EQ(static_cast<const BYTE*>(dest.ScanLine(0))[0], 1);
}

TEST(Canvas, StretchDrawCoversTheRectangleOnly) {
    TBitmap picture, target;
    Prepare(picture, pfDevice, 2, 2, clRed);
    picture.Canvas()->SetPixel(1, 0, clLime);
    picture.Canvas()->SetPixel(0, 1, clBlue);
    picture.Canvas()->SetPixel(1, 1, clYellow);
    Prepare(target, pfDevice, 10, 8, clWhite);
    target.Canvas()->StretchDraw(Rect(1, 1, 9, 7), &picture);

    EXPECT_EQ(target.Canvas()->Pixels(1, 1), clRed);
    EXPECT_EQ(target.Canvas()->Pixels(8, 1), clLime);
    EXPECT_EQ(target.Canvas()->Pixels(1, 6), clBlue);
    EXPECT_EQ(target.Canvas()->Pixels(8, 6), clYellow);
    EXPECT_EQ(target.Canvas()->Pixels(4, 3), clRed); // the halves meet between 4 and 5
    EXPECT_EQ(target.Canvas()->Pixels(5, 3), clLime);
    EXPECT_EQ(target.Canvas()->Pixels(4, 4), clBlue);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(target.Canvas()->Pixels(x, 0), clWhite);
        EXPECT_EQ(target.Canvas()->Pixels(x, 7), clWhite);
    }
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(target.Canvas()->Pixels(0, y), clWhite);
        EXPECT_EQ(target.Canvas()->Pixels(9, y), clWhite);
    }
}

TEST(Canvas, ShrinkingTakesTheNearestPixelsAndClipsAtTheEdges) {
    TBitmap picture, target;
    Prepare(picture, pfDevice, 8, 8, clBlack);
    picture.Canvas()->SetPixel(2, 2, clRed);  // centre of the top-left quarter
    picture.Canvas()->SetPixel(6, 6, clAqua); // centre of the bottom-right quarter
    Prepare(target, pfDevice, 2, 2, clWhite);
    target.Canvas()->StretchDraw(Rect(0, 0, 2, 2), &picture);
    EXPECT_EQ(target.Canvas()->Pixels(0, 0), clRed);
    EXPECT_EQ(target.Canvas()->Pixels(1, 1), clAqua);
    EXPECT_EQ(target.Canvas()->Pixels(1, 0), clBlack);

    // Partly outside the target: the visible part lands where it belongs.
    Prepare(target, pfDevice, 4, 4, clWhite);
    target.Canvas()->Draw(-6, -6, &picture);
    EXPECT_EQ(target.Canvas()->Pixels(0, 0), clAqua);
    EXPECT_EQ(target.Canvas()->Pixels(2, 2), clWhite);
}

TEST(Canvas, TransparentBitmapsLeaveOutTheirBottomLeftColour) {
    TBitmap sprite, target;
    Prepare(sprite, pfDevice, 2, 2, clFuchsia);
    sprite.Canvas()->SetPixel(1, 0, clNavy);
    sprite.SetTransparent(true);
    EXPECT_EQ(sprite.TransparentColor(), clFuchsia);
    Prepare(target, pfDevice, 2, 2, clGreen);
    target.Canvas()->Draw(0, 0, &sprite);
    EXPECT_EQ(target.Canvas()->Pixels(1, 0), clNavy);
    EXPECT_EQ(target.Canvas()->Pixels(0, 0), clGreen);
    EXPECT_EQ(target.Canvas()->Pixels(1, 1), clGreen);
}

int CountPixels(TBitmap& bitmap, TColor colour, const TRect& area) {
    int n = 0;
    for (int y = area.Top; y < area.Bottom; ++y)
        for (int x = area.Left; x < area.Right; ++x)
            n += bitmap.Canvas()->Pixels(x, y) == colour;
    return n;
}

TEST(Canvas, TextIsClippedToItsRectangle) {
    for (TPixelFormat format : {pfDevice, pf24bit, pf1bit}) {
        TBitmap bitmap;
        Prepare(bitmap, format, 60, 24, clWhite);
        TCanvas* canvas = bitmap.Canvas();
        canvas->Font()->SetHeight(-16);
        canvas->Font()->SetColor(clBlack);
        canvas->SetBkMode(TRANSPARENT);
        const TRect clip = Rect(3, 2, 15, 12);
        canvas->TextRect(clip, 3, 2, "WWWWWW");

        const int inside = CountPixels(bitmap, clBlack, clip);
        EXPECT_GT(inside, 10) << format;
        EXPECT_EQ(CountPixels(bitmap, clWhite, Rect(0, 0, 60, 24)) + inside, 60 * 24) << format;

        // The same text unclipped reaches well beyond the rectangle.
        canvas->TextOut(3, 2, "WWWWWW");
        EXPECT_GT(CountPixels(bitmap, clBlack, Rect(15, 0, 60, 24)), 10) << format;
        EXPECT_GT(canvas->PenPos().X, 30) << format;
    }
}

TEST(Canvas, OpaqueTextFillsItsCellsWithTheBackgroundColour) {
    TBitmap bitmap;
    Prepare(bitmap, pfDevice, 40, 20, clWhite);
    TCanvas* canvas = bitmap.Canvas();
    EXPECT_EQ(canvas->SetBkMode(OPAQUE), OPAQUE);
    EXPECT_EQ(canvas->SetBkColor(clYellow), clWhite);
    canvas->Font()->SetHeight(-10);
    canvas->Font()->SetColor(clBlue);
    const TRect clip = Rect(0, 0, 8, 8);
    canvas->TextRect(clip, 0, 0, "iiii");
    const int background = CountPixels(bitmap, clYellow, clip);
    const int text = CountPixels(bitmap, clBlue, clip);
    EXPECT_GT(background, 10);
    EXPECT_GT(text, 3);
    EXPECT_EQ(background + text, 64); // the cells fill the whole clip rectangle
    EXPECT_EQ(CountPixels(bitmap, clWhite, Rect(0, 0, 40, 20)), 40 * 20 - 64);
}

TEST(Canvas, TextOnAPaletteBitmapWritesPaletteIndexesOnly) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(30, 16);
    bitmap.SetPalette(MakePalette({{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {255, 255, 255}}));
    for (int y = 0; y < 16; ++y)
        std::memset(bitmap.ScanLine(y), 3, 30); // the second white
    TCanvas* canvas = bitmap.Canvas();
    canvas->Font()->SetHeight(-12);
    canvas->Font()->SetColor(PALETTEINDEX(2));
    canvas->SetBkMode(TRANSPARENT);
    canvas->TextOut(1, 1, "Hi");
    int text = 0;
    for (int y = 0; y < 16; ++y) {
        const auto* row = static_cast<const BYTE*>(bitmap.ScanLine(y));
        for (int x = 0; x < 30; ++x) {
            ASSERT_TRUE(row[x] == 3 || row[x] == 2) << x << "," << y << ": " << int(row[x]);
            text += row[x] == 2;
        }
    }
    EXPECT_GT(text, 5);
}

TEST(Canvas, ShapesFillTheirPixelsExactly) {
    TBitmap bitmap;
    Prepare(bitmap, pfDevice, 6, 6, clWhite);
    TCanvas* canvas = bitmap.Canvas();
    canvas->Brush()->SetColor(clRed);
    canvas->FillRect(Rect(-3, 4, 2, 99)); // clipped at the edges
    EXPECT_EQ(CountPixels(bitmap, clRed, Rect(0, 0, 6, 6)), 4);
    EXPECT_EQ(canvas->Pixels(1, 5), clRed);

    canvas->Pen()->SetColor(clBlue);
    canvas->MoveTo(0, 0);
    canvas->LineTo(4, 0); // the end point is not drawn
    EXPECT_EQ(CountPixels(bitmap, clBlue, Rect(0, 0, 6, 1)), 4);
    EXPECT_EQ(canvas->Pixels(4, 0), clWhite);

    canvas->Brush()->SetColor(clYellow);
    canvas->Rectangle(2, 1, 6, 4); // blue outline, yellow inside
    EXPECT_EQ(canvas->Pixels(2, 1), clBlue);
    EXPECT_EQ(canvas->Pixels(5, 3), clBlue);
    EXPECT_EQ(canvas->Pixels(3, 2), clYellow);
    EXPECT_EQ(canvas->Pixels(4, 2), clYellow);
}

TEST(Canvas, DrawingOnAnEmptyBitmapDoesNothing) {
    TBitmap empty, picture;
    Prepare(picture, pfDevice, 2, 2, clRed);
    TCanvas* canvas = empty.Canvas();
    vt::EnsureGuiApplication(); // Qt may have its own say when it starts
    testing::internal::CaptureStderr();
    canvas->TextOut(0, 0, "text");
    canvas->Pen()->SetWidth(3);
    canvas->LineTo(5, 5);
    canvas->FillRect(Rect(0, 0, 4, 4));
    canvas->StretchDraw(Rect(0, 0, 4, 4), &picture);
    canvas->SetPixel(0, 0, clRed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(canvas->Pixels(0, 0), -1);
}

TEST(Canvas, WithoutSurfaceDrawingIsRefused) {
    TCanvas canvas;
    EXPECT_THROW(canvas.FillRect(Rect(0, 0, 1, 1)), EInvalidOperation);
    EXPECT_THROW(canvas.TextOut(0, 0, "x"), EInvalidOperation);
    EXPECT_EQ(canvas.Pixels(0, 0), -1);
    EXPECT_TRUE(canvas.ClipRect().IsEmpty());
}

// The forms module binds a canvas to a window surface while it paints.
TEST(Canvas, DrawsOnAWindowSurfaceThroughAPainter) {
    QImage surface(8, 4, QImage::Format_RGB32);
    surface.fill(Qt::white);
    TBitmap picture;
    Prepare(picture, pfDevice, 2, 1, clBlue);
    picture.Canvas()->SetPixel(1, 0, clLime);
    {
        QPainter painter(&surface);
        TCanvas canvas;
        vt::PainterBinding binding(canvas, painter, Rect(0, 0, 6, 4));
        EXPECT_EQ(canvas.ClipRect(), Rect(0, 0, 6, 4));
        canvas.StretchDraw(Rect(0, 0, 8, 2), &picture); // clipped at x = 6
        EXPECT_EQ(canvas.Pixels(3, 1), clBlue);
        canvas.Brush()->SetColor(clRed);
        canvas.FillRect(Rect(0, 3, 8, 4));
        canvas.BitBlt(0, 2, 2, 1, picture.Canvas(), 0, 0, SRCINVERT);

        // A surface that is an image can be read back, e.g. to keep the background.
        TBitmap background;
        Prepare(background, pfDevice, 2, 2, clBlack);
        background.Canvas()->CopyRect(Rect(0, 0, 2, 2), &canvas, Rect(4, 2, 6, 4));
        EXPECT_EQ(background.Canvas()->Pixels(0, 0), clWhite);
        EXPECT_EQ(background.Canvas()->Pixels(1, 1), clRed);
    }
    EXPECT_EQ(surface.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(surface.pixel(3, 1), qRgb(0, 0, 255));
    EXPECT_EQ(surface.pixel(5, 1), qRgb(0, 255, 0));
    EXPECT_EQ(surface.pixel(6, 1), qRgb(255, 255, 255)); // outside the clip
    EXPECT_EQ(surface.pixel(0, 3), qRgb(255, 0, 0));
    EXPECT_EQ(surface.pixel(7, 3), qRgb(255, 255, 255));
    EXPECT_EQ(surface.pixel(0, 2), qRgb(255, 255, 0)); // white XOR blue
    EXPECT_EQ(surface.pixel(1, 2), qRgb(255, 0, 255)); // white XOR lime
}

} // namespace

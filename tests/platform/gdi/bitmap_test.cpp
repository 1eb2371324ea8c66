#include "GdiTestSupport.h"

#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <cstring>

using vt::test::MakePalette;
using vt::test::Prepare;

namespace {

TEST(Palette, EntriesAreCopiedAndHandlesAreChecked) {
    HPALETTE palette = MakePalette({{255, 0, 0}, {0, 255, 0}, {1, 2, 3}});
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 3u);
    PALETTEENTRY entries[4] = {};
    EXPECT_EQ(GetPaletteEntries(palette, 1, 4, entries), 2u); // only what is there
    EXPECT_EQ(entries[0].peGreen, 255);
    EXPECT_EQ(entries[1].peRed, 1);
    EXPECT_EQ(entries[1].peBlue, 3);

    EXPECT_TRUE(DeleteObject(palette));
    EXPECT_FALSE(DeleteObject(palette)); // already gone: refused, no double free
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 0u);
    int notAPalette = 0;
    EXPECT_FALSE(DeleteObject(&notAPalette));
    EXPECT_FALSE(DeleteObject(GetStockObject(DEFAULT_PALETTE))); // stock objects stay
}

TEST(Palette, MalformedRecordsMakeNoPalette) {
    TMaxLogPalette log{0x200, 1, {}};
    EXPECT_EQ(CreatePalette(reinterpret_cast<LOGPALETTE*>(&log)), nullptr); // wrong version
    log.palVersion = PaletteVersion;
    log.palNumEntries = 0;
    EXPECT_EQ(CreatePalette(reinterpret_cast<LOGPALETTE*>(&log)), nullptr);
    log.palNumEntries = 257;
    EXPECT_EQ(CreatePalette(reinterpret_cast<LOGPALETTE*>(&log)), nullptr);
    EXPECT_EQ(CreatePalette(nullptr), nullptr);
}

TEST(Display, HasNoHardwarePalette) {
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE, 0);
    EXPECT_EQ(GetDeviceCaps(dc, SIZEPALETTE), 0);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 32);
    PALETTEENTRY entries[16];
    EXPECT_EQ(GetSystemPaletteEntries(dc, 0, 16, entries), 0u);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
}

TEST(Bitmap, PaletteIndexPixelsInAPaletteBitmap) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetWidth(4);
    bitmap.SetHeight(2);
    bitmap.SetPalette(MakePalette({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}}));
    TCanvas* canvas = bitmap.Canvas();
    for (int i = 0; i < 4; ++i)
        canvas->SetPixel(i, 1, 0x01000000 + i);

    EXPECT_EQ(canvas->Pixels(0, 1), RGB(255, 0, 0));
    EXPECT_EQ(canvas->Pixels(1, 1), RGB(0, 255, 0));
    EXPECT_EQ(canvas->Pixels(2, 1), RGB(0, 0, 255));
    EXPECT_EQ(canvas->Pixels(3, 1), RGB(10, 20, 30));
    const auto* row = static_cast<const BYTE*>(bitmap.ScanLine(1));
    EXPECT_EQ(std::memcmp(row, "\0\1\2\3", 4), 0); // the indexes themselves are stored

    // The palette defines the colours: a new one recolours the same indexes.
    bitmap.SetPalette(MakePalette({{9, 9, 9}, {8, 8, 8}, {7, 7, 7}, {6, 6, 6}}));
    EXPECT_EQ(canvas->Pixels(3, 1), RGB(6, 6, 6));
}

TEST(Bitmap, PaletteIndexPixelsInADeviceBitmapAreResolvedWhenSet) {
    TBitmap bitmap;
    bitmap.SetSize(2, 1);
    bitmap.SetPalette(MakePalette({{200, 100, 50}, {1, 2, 3}}));
    bitmap.Canvas()->SetPixel(0, 0, PALETTEINDEX(1));
    bitmap.Canvas()->SetPixel(1, 0, PALETTEINDEX(7)); // beyond the palette: entry 0
    const auto* row = static_cast<const BYTE*>(bitmap.ScanLine(0));
    EXPECT_EQ(std::memcmp(row, "\3\2\1\xFF\x32\x64\xC8\xFF", 8), 0); // blue, green, red, 0xFF
    bitmap.SetPalette(MakePalette({{0, 0, 0}}));
    EXPECT_EQ(bitmap.Canvas()->Pixels(0, 0), RGB(1, 2, 3)); // already a colour
}

TEST(Bitmap, WithoutPaletteIndexesNameTheSystemColours) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(3, 1);
    bitmap.Canvas()->SetPixel(0, 0, PALETTEINDEX(13));
    bitmap.Canvas()->SetPixel(1, 0, PALETTEINDEX(19));
    bitmap.Canvas()->SetPixel(2, 0, PALETTEINDEX(200));
    EXPECT_EQ(bitmap.Canvas()->Pixels(0, 0), clRed);
    EXPECT_EQ(bitmap.Canvas()->Pixels(1, 0), clWhite);
    EXPECT_EQ(bitmap.Canvas()->Pixels(2, 0), clBlack); // no such entry: entry 0
}

TEST(Bitmap, PixelsOutsideAreDroppedAndReadAsInvalid) {
    TBitmap bitmap;
    Prepare(bitmap, pf8bit, 3, 2, PALETTEINDEX(0));
    int changes = 0;
    bitmap.OnChange = [&](TObject*) { ++changes; };
    for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, -1}, {0, 2}, {100000, 100000}})
        bitmap.Canvas()->SetPixel(x, y, PALETTEINDEX(5));
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(bitmap.Canvas()->Pixels(3, 0), -1);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(bitmap.ScanLine(y), "\0\0\0", 3), 0);
}

TEST(Bitmap, ResizingKeepsPixelsAndWhitensNewOnes) {
    TBitmap bitmap;
    bitmap.SetWidth(3); // width first, then height, as image decoders size bitmaps
    EXPECT_TRUE(bitmap.Empty());
    bitmap.SetHeight(2);
    EXPECT_FALSE(bitmap.Empty());
    EXPECT_EQ(bitmap.Canvas()->Pixels(2, 1), clWhite);
    bitmap.Canvas()->SetPixel(1, 1, clRed);
    bitmap.SetSize(5, 4);
    EXPECT_EQ(bitmap.Canvas()->Pixels(1, 1), clRed);
    EXPECT_EQ(bitmap.Canvas()->Pixels(4, 3), clWhite);
    bitmap.SetSize(1, 1);
    bitmap.SetSize(2, 2);
    EXPECT_EQ(bitmap.Canvas()->Pixels(1, 1), clWhite); // cut off, then new
}

TEST(Bitmap, HugeSizesAreRefusedAndTheBitmapStaysIntact) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    bitmap.Canvas()->SetPixel(0, 0, clBlue);
    bitmap.SetWidth(65535);
    try {
        bitmap.SetHeight(65535);
        FAIL() << "no error";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), "Out of system resources");
    }
    EXPECT_EQ(bitmap.Width(), 65535);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.Canvas()->Pixels(0, 0), clBlue);
    EXPECT_THROW(bitmap.SetSize(70000, 1), EOutOfResources);
    bitmap.SetSize(-5, 3);
    EXPECT_EQ(bitmap.Width(), 0);
}

TEST(Bitmap, ChangeHandlersSeeEveryChangeAndCanRefuseIt) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    int changes = 0;
    bitmap.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &bitmap);
        ++changes;
    };
    bitmap.Canvas()->SetPixel(0, 0, clRed);
    bitmap.SetSize(3, 3);
    bitmap.SetPalette(MakePalette({{1, 1, 1}}));
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(bitmap.Modified());

    bitmap.OnChanging = [](TObject*) {
        throw EInvalidGraphicOperation("Cannot modify TFrame bitmap");
    };
    EXPECT_THROW(bitmap.Canvas()->SetPixel(1, 1, clRed), EInvalidGraphicOperation);
    EXPECT_THROW(bitmap.Canvas()->TextOut(0, 0, "x"), EInvalidGraphicOperation);
    EXPECT_THROW(bitmap.SetSize(1, 1), EInvalidGraphicOperation);
    EXPECT_THROW(bitmap.SetPalette(MakePalette({{2, 2, 2}})), EInvalidGraphicOperation);
    EXPECT_EQ(bitmap.Canvas()->Pixels(1, 1), clWhite);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(changes, 3);
}

TEST(Bitmap, MonochromeMasksUseOneBitPerPixelMostSignificantFirst) {
    TBitmap mask;
    mask.SetMonochrome(true);
    EXPECT_EQ(mask.PixelFormat(), pf1bit);
    Prepare(mask, pf1bit, 10, 2, clBlack);
    EXPECT_EQ(mask.BytesPerScanLine(), 4);
    mask.Canvas()->SetPixel(0, 0, clWhite);
    mask.Canvas()->SetPixel(9, 0, RGB(200, 200, 200)); // nearer white
    mask.Canvas()->SetPixel(1, 0, RGB(60, 60, 60));    // nearer black
    const auto* row = static_cast<const BYTE*>(mask.ScanLine(0));
    EXPECT_EQ(row[0], 0x80);
    EXPECT_EQ(row[1] & 0xC0, 0x40); // the rest of the byte is padding
    EXPECT_EQ(mask.Canvas()->Pixels(9, 0), clWhite);
    EXPECT_EQ(mask.Canvas()->Pixels(1, 0), clBlack);
    mask.SetMonochrome(false);
    EXPECT_EQ(mask.PixelFormat(), pfDevice);
    EXPECT_EQ(mask.Canvas()->Pixels(0, 0), clWhite);
    EXPECT_EQ(mask.Canvas()->Pixels(1, 0), clBlack);
}

TEST(Bitmap, ConversionToPaletteFormatPicksTheNearestEntry) {
    TBitmap bitmap;
    bitmap.SetSize(3, 1);
    bitmap.SetPalette(MakePalette({{0, 0, 0}, {250, 10, 10}, {10, 10, 250}}));
    bitmap.Canvas()->SetPixel(0, 0, RGB(200, 40, 30));
    bitmap.Canvas()->SetPixel(1, 0, RGB(30, 30, 200));
    bitmap.Canvas()->SetPixel(2, 0, RGB(20, 20, 20));
    bitmap.SetPixelFormat(pf8bit);
    EXPECT_EQ(std::memcmp(bitmap.ScanLine(0), "\1\2\0", 3), 0);
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap.BytesPerScanLine(), 12);
    EXPECT_EQ(std::memcmp(bitmap.ScanLine(0), "\x0A\x0A\xFA\xFA\x0A\x0A", 6), 0);
}

TEST(Bitmap, ScanLineOutsideTheBitmapIsRefused) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    EXPECT_NE(bitmap.ScanLine(1), nullptr);
    try {
        bitmap.ScanLine(2);
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Scan line index out of range");
    }
    EXPECT_THROW(bitmap.ScanLine(-1), EInvalidGraphicOperation);
}

TEST(Bitmap, StreamsAsBmpAndKeepsPixelsAndPalette) {
    TBitmap source;
    source.SetPixelFormat(pf8bit);
    source.SetSize(5, 3);
    source.SetPalette(MakePalette({{0, 0, 0}, {255, 128, 0}, {12, 34, 56}}));
    source.Canvas()->SetPixel(4, 2, PALETTEINDEX(2));
    source.Canvas()->SetPixel(0, 0, PALETTEINDEX(1));
    TMemoryStream stream;
    source.SaveToStream(&stream);
    ASSERT_GT(stream.Size(), 2);
    EXPECT_EQ(std::memcmp(stream.Memory(), "BM", 2), 0);

    stream.SetPosition(0);
    TBitmap copy;
    copy.LoadFromStream(&stream);
    EXPECT_EQ(copy.PixelFormat(), pf8bit);
    EXPECT_EQ(copy.Width(), 5);
    EXPECT_EQ(copy.Height(), 3);
    EXPECT_EQ(copy.Canvas()->Pixels(4, 2), RGB(12, 34, 56));
    EXPECT_EQ(copy.Canvas()->Pixels(0, 0), RGB(255, 128, 0));
    EXPECT_EQ(copy.Canvas()->Pixels(1, 1), clBlack);
}

TEST(Bitmap, PngFilesForLookingAtPictures) {
    const std::string dir = vt::test::MakeTempDir("vt-gdi");
    TBitmap source;
    Prepare(source, pfDevice, 4, 4, clYellow);
    source.Canvas()->SetPixel(3, 0, RGB(1, 2, 3));
    source.SaveToFile(dir + "/shot.png");
    EXPECT_EQ(vt::test::ReadFile(dir + "/shot.png").substr(1, 3), "PNG");
    TBitmap copy;
    copy.LoadFromFile(dir + "/shot.png");
    EXPECT_EQ(copy.Canvas()->Pixels(3, 0), RGB(1, 2, 3));
    EXPECT_EQ(copy.Canvas()->Pixels(0, 3), clYellow);
    vt::test::RemoveTree(dir);
}

TEST(Bitmap, DataThatIsNoBitmapIsRefused) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    for (const std::string& bytes :
         {std::string("BM\x10\0\0\0garbage", 13), std::string("GIF89a...."), std::string()}) {
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        stream.SetPosition(0);
        EXPECT_THROW(bitmap.LoadFromStream(&stream), EInvalidGraphic);
    }
    EXPECT_EQ(bitmap.Width(), 2);
}

TEST(Bitmap, AssignCopiesPixelsPaletteAndFormat) {
    TBitmap source;
    source.SetPixelFormat(pf8bit);
    source.SetSize(2, 1);
    source.SetPalette(MakePalette({{0, 0, 0}, {5, 6, 7}}));
    source.Canvas()->SetPixel(1, 0, PALETTEINDEX(1));
    TBitmap copy;
    copy.Assign(&source);
    source.Canvas()->SetPixel(1, 0, PALETTEINDEX(0)); // the copy has its own pixels
    EXPECT_EQ(copy.PixelFormat(), pf8bit);
    EXPECT_EQ(copy.Canvas()->Pixels(1, 0), RGB(5, 6, 7));
    EXPECT_NE(copy.Palette(), source.Palette());
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
}

} // namespace

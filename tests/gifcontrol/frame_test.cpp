// TFrame, the control's own tolerant image reader, on hand-built images: descriptor and
// extension fields, the LZW edge cases, truncation, interlacing, masks and bitmaps.

#include "gif/GifBytes.h"
#include "gifcontrol/Frame.h"
#include "platform/runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <vector>

using namespace giftest;

namespace {

// An owner with a chosen colour depth that records progress and can stop the load.
struct TestOwner : TFrameOwner {
    int Depth = 8;
    bool Progress = false;
    int StopAfter = -1; // progress calls before EAbort, -1 never
    std::vector<std::int64_t> Reports;
    std::int64_t Budget = std::int64_t{1} << 26;

    int ColorDepth() const override { return Depth; }
    bool HasProgressHandler() const override { return Progress; }
    void DoProgress(std::int64_t Bytes) override {
        Reports.push_back(Bytes);
        if (StopAfter >= 0 && int(Reports.size()) > StopAfter) throw EAbort("");
    }
    bool ClaimPixels(std::int64_t Pixels) override {
        if (Pixels > Budget) return false;
        Budget -= Pixels;
        return true;
    }
};

// Global table entry i = (i, 2i, 3i) mod 256, as giftest::Header writes it.
TColorTableBytes Globals() {
    TColorTableBytes t{};
    for (int i = 0; i < 256; ++i) {
        t[3 * i] = std::uint8_t(i);
        t[3 * i + 1] = std::uint8_t(2 * i);
        t[3 * i + 2] = std::uint8_t(3 * i);
    }
    return t;
}

TColor GlobalColor(int i) {
    return RGB(BYTE(i), BYTE(2 * i), BYTE(3 * i));
}

// A graphic control extension record: flags, delay, transparent index.
TExtensionRecord Extension(std::uint8_t Flags, int Delay = 0, std::uint8_t Index = 0) {
    return {4, Flags, std::uint8_t(Delay), std::uint8_t(Delay >> 8), Index, 0};
}

struct ReadResult {
    bool Ok = false;
    std::size_t Left = 0; // bytes behind the read pointer afterwards
};

struct Fixture {
    TestOwner Owner;
    TColorTableBytes Colors = Globals();
    TFrame Frame{&Owner};

    // Reads Image followed by a trailer byte.
    ReadResult Read(Bytes Image, const TExtensionRecord& Ext = {}) {
        Image.push_back(0x3B);
        TReadPointer p(Image.data(), Image.size());
        ReadResult r;
        r.Ok = Frame.Read(p, &Colors, Ext);
        r.Left = p.Left();
        return r;
    }
    // Palette indexes recovered from the bitmap's colours (global table, indexes < 86).
    Bytes Indexes() {
        Bytes out;
        for (int y = 0; y < Frame.Height(); ++y)
            for (int x = 0; x < Frame.Width(); ++x) {
                const TColor c = Frame.Bitmap()->Canvas()->Pixels(x, y);
                out.push_back(GetRValue(DWORD(c)));
                EXPECT_EQ(c, GlobalColor(GetRValue(DWORD(c)))) << x << "," << y;
            }
        return out;
    }
};

Bytes Pattern(int Count, int Colors) {
    Bytes p;
    for (int i = 0; i < Count; ++i)
        p.push_back(std::uint8_t((i * 7 + i / 13) % Colors));
    return p;
}

} // namespace

TEST(frame, DescriptorExtensionAndColours) {
    Fixture f;
    // Image at (3, 5), 4 x 2, code size 2, literal pixels 0 1 2 3 / 3 2 1 0.
    Bytes img = {0x2C};
    Word(img, 3);
    Word(img, 5);
    Word(img, 4);
    Word(img, 2);
    img.push_back(0); // flags: no local table, not interlaced
    img.push_back(2); // code size
    Append(img, SubBlocks(PackCodes(LiteralCodes({0, 1, 2, 3, 3, 2, 1, 0}, 2))));
    // Disposal 5 (bits 2-4) counts as 2; delay 7 hundredths; not transparent.
    const ReadResult r = f.Read(img, Extension(5 << 2, 7));
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(r.Left, 1u); // at the trailer
    EXPECT_EQ(f.Frame.Left(), 3);
    EXPECT_EQ(f.Frame.Top(), 5);
    EXPECT_EQ(f.Frame.Disposal(), 2);
    EXPECT_EQ(f.Frame.Delay(), 70);
    EXPECT_FALSE(f.Frame.Transparent());
    EXPECT_EQ(f.Frame.MaskBitmap(), nullptr);
    EXPECT_EQ(f.Frame.SavedImage(), nullptr);
    EXPECT_EQ(f.Frame.BitsPerPixel(), 0);
    EXPECT_EQ(f.Frame.ColorTable(), &f.Colors);
    EXPECT_EQ(f.Indexes(), (Bytes{0, 1, 2, 3, 3, 2, 1, 0}));
    // The palette has 2^ColorDepth entries of the global table.
    ASSERT_NE(f.Frame.Bitmap()->Palette(), nullptr);
    EXPECT_EQ(GetPaletteEntries(f.Frame.Bitmap()->Palette(), 0, 0, nullptr), 256u);
}

TEST(frame, DisposalMethodsAndSaveAreas) {
    for (int method = 0; method < 8; ++method) {
        Fixture f;
        ASSERT_TRUE(f.Read(Image(2, 2, 2, PackCodes(LiteralCodes({1, 1, 1, 1}, 2))),
                           Extension(std::uint8_t(method << 2)))
                        .Ok);
        const int expected = method <= 3 ? method : 2;
        EXPECT_EQ(f.Frame.Disposal(), expected) << method;
        EXPECT_EQ(f.Frame.SavedImage() != nullptr, expected == 3);
        if (expected == 3) {
            EXPECT_EQ(f.Frame.SavedImage()->Width(), 2);
            EXPECT_TRUE(f.Frame.SavedMask()->Monochrome());
        }
    }
}

TEST(frame, LocalColorTableAndPalette) {
    Fixture f;
    // 2-entry local table: red, blue. ColorDepth of the owner does not matter.
    const Bytes table = {255, 0, 0, 0, 0, 255};
    ASSERT_TRUE(f.Read(Image(3, 1, 2, PackCodes(LiteralCodes({1, 0, 1}, 2)), 0x80 | 0, table)).Ok);
    EXPECT_TRUE(f.Frame.HasLocalColorTable());
    EXPECT_EQ(f.Frame.BitsPerPixel(), 1);
    EXPECT_NE(f.Frame.ColorTable(), &f.Colors);
    TCanvas* c = f.Frame.Bitmap()->Canvas();
    EXPECT_EQ(c->Pixels(0, 0), clBlue);
    EXPECT_EQ(c->Pixels(1, 0), clRed);
    PALETTEENTRY e[4];
    ASSERT_EQ(GetPaletteEntries(f.Frame.Bitmap()->Palette(), 0, 4, e), 2u);
    EXPECT_EQ(e[1].peBlue, 255);
    EXPECT_EQ(e[0].peRed, 255);
}

TEST(frame, TransparentIndexZeroOnAllZeroPixels) {
    Fixture f;
    ASSERT_TRUE(
        f.Read(Image(35, 2, 2, PackCodes(LiteralCodes(Bytes(70, 0), 2))), Extension(1, 0, 0)).Ok);
    ASSERT_NE(f.Frame.MaskBitmap(), nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 35; ++x) {
            EXPECT_EQ(f.Frame.MaskBitmap()->Canvas()->Pixels(x, y), clWhite);
            EXPECT_EQ(f.Frame.Bitmap()->Canvas()->Pixels(x, y), clBlack);
        }
}

TEST(frame, TransparentPixelsAreMaskedAndBlackened) {
    Fixture f;
    // Index 5 is transparent; other pixels keep their colours.
    ASSERT_TRUE(
        f.Read(Image(4, 1, 3, PackCodes(LiteralCodes({5, 6, 5, 7}, 3))), Extension(1, 0, 5)).Ok);
    TCanvas* mask = f.Frame.MaskBitmap()->Canvas();
    TCanvas* image = f.Frame.Bitmap()->Canvas();
    EXPECT_EQ(mask->Pixels(0, 0), clWhite);
    EXPECT_EQ(mask->Pixels(1, 0), clBlack);
    EXPECT_EQ(mask->Pixels(2, 0), clWhite);
    EXPECT_EQ(image->Pixels(0, 0), clBlack);
    EXPECT_EQ(image->Pixels(1, 0), GlobalColor(6));
    EXPECT_EQ(image->Pixels(3, 0), GlobalColor(7));
}

TEST(frame, FullTableStaysFullWithoutClearCode) {
    // 8-bit literals well beyond 4096 codes, no clear code when the table fills.
    const Bytes pixels = Pattern(6000, 80);
    Fixture f;
    ASSERT_TRUE(f.Read(Image(100, 60, 8, PackCodes(LiteralCodes(pixels, 8, true)))).Ok);
    EXPECT_EQ(f.Indexes(), pixels);
    // The same with the clear codes an encoder usually sends.
    Fixture g;
    ASSERT_TRUE(g.Read(Image(100, 60, 8, PackCodes(LiteralCodes(pixels, 8)))).Ok);
    EXPECT_EQ(g.Indexes(), pixels);
}

TEST(frame, DataWithoutLeadingClearCode) {
    Fixture f;
    // code size 2: pixels 1, 2, then 6 = "1 2" (the first entry), end 5.
    ASSERT_TRUE(f.Read(Image(4, 1, 2, PackCodes({{1, 3}, {2, 3}, {6, 3}, {5, 3}}))).Ok);
    EXPECT_EQ(f.Indexes(), (Bytes{1, 2, 1, 2}));
}

TEST(frame, CodesBeyondTheTableDecodeLikeTheCodeBeingDefined) {
    Fixture f;
    // code size 2, next free code 6: 7 lies beyond the table and is decoded as 6 would
    // be: old code 1 plus its first byte, "1 1".
    ASSERT_TRUE(f.Read(Image(3, 1, 2, PackCodes({{4, 3}, {1, 3}, {7, 3}, {5, 3}}))).Ok);
    EXPECT_EQ(f.Indexes(), (Bytes{1, 1, 1}));
}

TEST(frame, AfterACodeBeyondTheTableStringsComeFromTheTableUntilTheNextClear) {
    Fixture f;
    // Code size 2 (clear 4, end 5): 1, 2, 6 = "1 2" fill entries 6 and 7; the width is 4
    // from here. 12 lies beyond the table: "1 2" plus its first byte; 8 is that entry;
    // 12 again is entry 10 in the making, the previous string plus its first byte. After
    // the clear: 3, 3, 6 = "3 3".
    const Bytes img = Image(6, 3, 2,
                            PackCodes({{4, 3},
                                       {1, 3},
                                       {2, 3},
                                       {6, 3},
                                       {12, 4},
                                       {8, 4},
                                       {12, 4},
                                       {4, 4},
                                       {3, 3},
                                       {3, 3},
                                       {6, 3},
                                       {5, 4}}));
    ASSERT_TRUE(f.Read(img).Ok);
    EXPECT_EQ(f.Indexes(), (Bytes{1, 2, 1, 2, 1, 2, 1, 1, 2, 1, 1, 2, 1, 1, 3, 3, 3, 3}));
}

TEST(frame, OnlyTheTransparentIndexItselfIsTransparentWithWideCodes) {
    Fixture f;
    // Code size 9 (clear 512, end 513): the literal 261 shows as colour 5 (its low 8
    // bits), but only the literal 5 is the transparent index.
    ASSERT_TRUE(
        f.Read(Image(3, 1, 9, PackCodes({{512, 10}, {261, 10}, {5, 10}, {6, 10}, {513, 10}})),
               Extension(1, 0, 5))
            .Ok);
    TCanvas* mask = f.Frame.MaskBitmap()->Canvas();
    TCanvas* image = f.Frame.Bitmap()->Canvas();
    EXPECT_EQ(mask->Pixels(0, 0), clBlack);
    EXPECT_EQ(image->Pixels(0, 0), GlobalColor(5));
    EXPECT_EQ(mask->Pixels(1, 0), clWhite);
    EXPECT_EQ(image->Pixels(1, 0), clBlack);
    EXPECT_EQ(mask->Pixels(2, 0), clBlack);
    EXPECT_EQ(image->Pixels(2, 0), GlobalColor(6));
}

TEST(frame, TruncatedDataEndsTheImage) {
    const Bytes pixels = Pattern(40, 4);
    Bytes codes = PackCodes(LiteralCodes(pixels, 2));
    codes.resize(codes.size() / 2);
    // The sub-block announces more bytes than the file holds: no trailer behind it.
    Bytes img = Image(8, 5, 2, {});
    img.pop_back(); // the empty data's terminator
    img.push_back(std::uint8_t(codes.size() + 20));
    Append(img, codes);
    Fixture f;
    TReadPointer p(img.data(), img.size());
    ASSERT_TRUE(f.Frame.Read(p, &f.Colors, {}));
    EXPECT_TRUE(p.AtEnd());
    const Bytes got = f.Indexes();
    // The pixels the data held come out; the rest keep index 0.
    std::size_t decoded = 0;
    while (decoded < got.size() && got[decoded] == pixels[decoded])
        ++decoded;
    EXPECT_GT(decoded, 10u);
    for (std::size_t i = decoded; i < got.size(); ++i)
        EXPECT_EQ(got[i], 0) << i;
}

TEST(frame, ReadStopsAtTheTerminatorAndSkipsExtraData) {
    // The rows end before the end code; extra codes and a second sub-block follow.
    Bytes data = PackCodes(LiteralCodes({1, 2, 3, 1, 2, 3, 3, 3}, 2));
    Bytes img = Image(3, 1, 2, {});
    img.pop_back();                  // the empty data's terminator
    Append(img, SubBlocks(data, 2)); // many small sub-blocks
    Fixture f;
    const ReadResult r = f.Read(img);
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(r.Left, 1u);
    EXPECT_EQ(f.Indexes(), (Bytes{1, 2, 3}));
}

TEST(frame, InterlacedRowsArriveInPassOrder) {
    // Height 3: rows 0, 2, 1. Each data row is one colour: 1, 2, 3.
    Fixture f;
    ASSERT_TRUE(f.Read(Image(2, 3, 2, PackCodes(LiteralCodes({1, 1, 2, 2, 3, 3}, 2)), 0x40)).Ok);
    EXPECT_TRUE(f.Frame.Interlaced());
    EXPECT_EQ(f.Indexes(), (Bytes{1, 1, 3, 3, 2, 2}));
    // Height 10: 0, 8 | 4 | 2, 6 | 1, 3, 5, 7, 9.
    Bytes rows;
    for (int r = 0; r < 10; ++r)
        rows.push_back(std::uint8_t(r + 1));
    Fixture g;
    ASSERT_TRUE(g.Read(Image(1, 10, 4, PackCodes(LiteralCodes(rows, 4)), 0x40)).Ok);
    EXPECT_EQ(g.Indexes(), (Bytes{1, 6, 4, 7, 3, 8, 5, 9, 2, 10}));
}

TEST(frame, CodeSizesAboveElevenAreRefused) {
    for (int size : {12, 15, 16, 255}) {
        Fixture f;
        EXPECT_FALSE(f.Read(Image(2, 1, size, {0, 0, 0})).Ok) << size;
    }
    // Size 9: pixel values above 255 keep their low 8 bits (300 -> 44).
    Fixture f;
    ASSERT_TRUE(f.Read(Image(2, 1, 9, PackCodes({{512, 10}, {300, 10}, {20, 10}, {513, 10}}))).Ok);
    EXPECT_EQ(f.Indexes(), (Bytes{44, 20}));
}

TEST(frame, BrokenDescriptorsAreRefused) {
    Fixture f;
    EXPECT_FALSE(f.Read({0x21, 0xF9}).Ok); // not a separator
    Fixture g;
    EXPECT_FALSE(g.Read({0x2C, 0, 0, 0}).Ok); // descriptor cut short
    Fixture h;
    Bytes cut = Image(2, 1, 2, {}, 0x80 | 7, {});
    cut.resize(14); // the 768-byte local table is missing
    EXPECT_FALSE(h.Read(cut).Ok);
    Fixture i;
    i.Owner.Budget = 100; // a 20 x 20 frame claims 400 pixels
    EXPECT_FALSE(i.Read(Image(20, 20, 2, {})).Ok);
}

TEST(frame, ZeroSizedImageConsumesItsData) {
    Fixture f;
    const ReadResult r = f.Read(Image(0, 0, 2, PackCodes(LiteralCodes({1, 2}, 2))));
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(r.Left, 1u);
    EXPECT_TRUE(f.Frame.Bitmap()->Empty());
    // A transparent frame without width still gets its (empty) mask.
    Fixture g;
    ASSERT_TRUE(g.Read(Image(0, 3, 2, PackCodes(LiteralCodes({1, 2}, 2))), Extension(1, 0, 1)).Ok);
    EXPECT_TRUE(g.Frame.MaskBitmap()->Empty());
}

TEST(frame, ProgressEveryFewRowsOfLargeFramesAndItsStop) {
    const int w = 400, h = 300; // > 100000 pixels, wider than 320: every 32nd row
    const Bytes pixels = Pattern(w * h, 16);
    const Bytes img = Image(w, h, 4, PackCodes(LiteralCodes(pixels, 4)));
    Fixture f;
    f.Owner.Progress = true;
    ASSERT_TRUE(f.Read(img).Ok);
    EXPECT_EQ(f.Owner.Reports.size(), 10u); // rows 0, 32, ..., 288
    for (std::size_t i = 1; i < f.Owner.Reports.size(); ++i)
        EXPECT_GT(f.Owner.Reports[i], f.Owner.Reports[i - 1]);
    EXPECT_EQ(f.Indexes(), pixels);

    Fixture small; // 300 x 300 is narrower than 320: every 64th row
    small.Owner.Progress = true;
    ASSERT_TRUE(small.Read(Image(300, 400, 4, PackCodes(LiteralCodes(Pattern(120000, 16), 4)))).Ok);
    EXPECT_EQ(small.Owner.Reports.size(), 7u); // rows 0, 64, ..., 384

    Fixture stop;
    stop.Owner.Progress = true;
    stop.Owner.StopAfter = 2;
    EXPECT_THROW(stop.Read(img), EAbort);
    EXPECT_EQ(stop.Owner.Reports.size(), 3u);
}

TEST(frame, MakeDIBPaletteTakesTheInfoColours) {
    BITMAPINFO info{};
    info.bmiHeader.biClrUsed = 3;
    info.bmiColors[0] = {1, 2, 3, 0}; // blue, green, red
    info.bmiColors[2] = {10, 20, 30, 0};
    HPALETTE palette = MakeDIBPalette(info);
    PALETTEENTRY e[3];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 3, e), 3u);
    EXPECT_EQ(e[0].peRed, 3);
    EXPECT_EQ(e[0].peBlue, 1);
    EXPECT_EQ(e[2].peRed, 30);
    EXPECT_EQ(e[2].peGreen, 20);
    DeleteObject(palette);
}

TEST(frame, MakeDIBBitmapReadsBottomUpRowsToo) {
    BITMAPINFO info{};
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = 2; // bottom row first
    info.bmiHeader.biBitCount = 8;
    info.bmiHeader.biClrUsed = 2;
    info.bmiColors[1] = {0, 0, 255, 0}; // red
    const std::uint8_t bits[8] = {1, 0, 0, 0, 0, 1, 0, 0};
    TBitmap b;
    MakeDIBBitmap(b, info, bits);
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_EQ(b.Canvas()->Pixels(0, 1), clRed);
    EXPECT_EQ(b.Canvas()->Pixels(1, 0), clRed);
    EXPECT_EQ(b.Canvas()->Pixels(0, 0), clBlack);
}

// The LZW decoder on hand-built code streams, written into plain pixel rows.

#include "GifBytes.h"
#include "gif/Decoder.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace giftest;

namespace {

// Pixel rows over a buffer with a stride wider than a row; untouched bytes stay 0xEE.
struct TestRows {
    TestRows(int W, int H) : Buffer(std::size_t(W + 3) * H, 0xEE) {
        Rows.Base = Buffer.data();
        Rows.Stride = W + 3;
        Rows.Width = W;
        Rows.Height = H;
    }
    // The image's pixels, row by row; the padding must stay untouched.
    Bytes Pixels() const {
        Bytes out;
        for (int y = 0; y < Rows.Height; ++y) {
            const auto* row = Buffer.data() + std::size_t(y) * Rows.Stride;
            out.insert(out.end(), row, row + Rows.Width);
            EXPECT_EQ(Bytes(row + Rows.Width, row + Rows.Stride), Bytes(3, 0xEE)) << "row " << y;
        }
        return out;
    }
    Bytes Buffer;
    vt::TPixelRows Rows;
};

struct Stream {
    explicit Stream(const Bytes& Data) { S.WriteBuffer(Data.data(), int(Data.size())); }
    TMemoryStream S;
};

Bytes Decode(int CodeSize, const Bytes& Data, int W, int H, bool Interlaced = false) {
    Stream source(Data);
    TDecoder decoder(CodeSize, &source.S);
    TestRows rows(W, H);
    decoder.Decode(rows.Rows, Interlaced);
    return rows.Pixels();
}

// Rows without padding, all 0 before the decode, as a new bitmap's are: the decoder
// writes straight into them.
Bytes DecodeBlank(int CodeSize, const Bytes& Data, int W, int H) {
    Stream source(Data);
    TDecoder decoder(CodeSize, &source.S);
    Bytes buffer(std::size_t(W) * H, 0);
    vt::TPixelRows rows;
    rows.Base = buffer.data();
    rows.Stride = W;
    rows.Width = W;
    rows.Height = H;
    rows.Blank = true;
    decoder.Decode(rows, false);
    return buffer;
}

// Pixels with runs and repeats, as pictures have: strings of every length up to long
// runs of one colour (which the encoder codes as the string it is defining).
Bytes PicturePixels(int Count, int Colours, unsigned Seed) {
    std::mt19937 random(Seed);
    Bytes pixels;
    while (int(pixels.size()) < Count) {
        const int run = random() % 4 == 0 ? int(random() % 300) : int(random() % 6) + 1;
        const auto value = static_cast<std::uint8_t>(random() % Colours);
        for (int i = 0; i < run && int(pixels.size()) < Count; ++i)
            pixels.push_back(value);
        if (random() % 3 == 0 && pixels.size() > 40) { // repeat an earlier stretch
            const std::size_t from = random() % (pixels.size() - 40);
            for (std::size_t i = 0; i < 40 && int(pixels.size()) < Count; ++i)
                pixels.push_back(pixels[from + i]);
        }
    }
    return pixels;
}

std::string DecodeError(int CodeSize, const Bytes& Data, int W, int H) {
    try {
        Decode(CodeSize, Data, W, H);
    } catch (const EStreamError& e) {
        return "EStreamError: " + e.Message();
    } catch (const EInvalidGraphicOperation& e) {
        return "EInvalidGraphicOperation: " + e.Message();
    }
    return "no error";
}

} // namespace

TEST(gifDecoder, OnePixelImage) {
    // code size 2: clear 4, pixel 0, end 5, all 3 bits wide
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {0, 3}, {5, 3}}), 1, 1), Bytes{0});
}

TEST(gifDecoder, CodesAreReadLeastSignificantBitFirst) {
    // clear 4, then 1, 2, 3 at 3 bits; entry 7 makes the end code 5 four bits wide.
    // Bit 0 of the first byte is bit 0 of the first code: 0x8C = 1 000 1 100, 0x56.
    const Bytes data = {0x8C, 0x56};
    EXPECT_EQ(PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}}), data);
    EXPECT_EQ(Decode(2, data, 3, 1), (Bytes{1, 2, 3}));
}

TEST(gifDecoder, CodeEqualToNextCodeRepeatsFirstByte) {
    // code size 8: clear 256, 65, then 258 (not yet defined) -> 65 65 65
    EXPECT_EQ(Decode(8, PackCodes({{256, 9}, {65, 9}, {258, 9}, {257, 9}}), 3, 1),
              (Bytes{65, 65, 65}));
}

TEST(gifDecoder, KnownCodesExpandAndChain) {
    // code size 2: 4(clear) 1 2 6=[1,2] 7=[2,1] 8=[1,2,2]? decode: 1,2,(1,2),(2,1)
    // entries: 6=1+2 (after 2), 7=2+1 (after 6), 8=[1,2]+2 (after 7)
    const Bytes data = PackCodes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {7, 4}, {5, 4}});
    EXPECT_EQ(Decode(2, data, 6, 1), (Bytes{1, 2, 1, 2, 2, 1}));
}

TEST(gifDecoder, EncodedPicturesDecodeIntoPaddedAndBlankRows) {
    // Streams of a greedy LZW encoder: table strings of all lengths, strings defined by
    // the code that uses them, full tables and clears. Both ways into the rows agree.
    struct Case {
        int W, H, CodeSize, Colours;
    } cases[] = {{64, 40, 2, 4},  {64, 40, 4, 16},  {200, 100, 8, 256}, {8, 1, 2, 2},
                 {1, 300, 4, 16}, {128, 128, 8, 3}, {33, 17, 9, 256}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        const Bytes pixels = PicturePixels(c.W * c.H, c.Colours, seed++);
        const Bytes data = PackCodes(LzwCodes(pixels, c.CodeSize));
        EXPECT_EQ(Decode(c.CodeSize, data, c.W, c.H), pixels) << c.W << "x" << c.H;
        EXPECT_EQ(DecodeBlank(c.CodeSize, data, c.W, c.H), pixels) << c.W << "x" << c.H;
    }
    // One colour throughout: each code is the string being defined, one pixel longer.
    const Bytes flat(5000, 7);
    const Bytes data = PackCodes(LzwCodes(flat, 4));
    EXPECT_LT(data.size(), 100u); // about 100 codes, the last ones 100 pixels long
    EXPECT_EQ(Decode(4, data, 100, 50), flat);
    EXPECT_EQ(DecodeBlank(4, data, 100, 50), flat);
}

TEST(gifDecoder, CutStreamsLeaveTheRestOfBlankRowsZero) {
    // Cut after every byte: the pixels coded so far, the rest untouched (padded rows) or
    // still 0 (blank rows, whose fast copies may run past the last string).
    const Bytes pixels = PicturePixels(24 * 10, 5, 99);
    const Bytes data = PackCodes(LzwCodes(pixels, 4));
    for (std::size_t cut = 0; cut <= data.size(); ++cut) {
        const Bytes part(data.begin(), data.begin() + cut);
        Bytes expected = Decode(4, part, 24, 10);
        for (auto& p : expected)
            if (p == 0xEE) p = 0;
        ASSERT_EQ(DecodeBlank(4, part, 24, 10), expected) << "cut at " << cut;
    }
}

TEST(gifDecoder, CodeWidthGrowsWhenNextCodeReachesLimit) {
    // Literal codes only with code size 8: the width becomes 10 bits as soon as entry 511
    // has been stored (next code 512), and 11, 12 bits later. A decoder that widened one
    // code early or late would lose the rest of the stream.
    Bytes pixels;
    for (int i = 0; i < 3000; ++i)
        pixels.push_back(static_cast<std::uint8_t>(i * 7 + i / 13));
    const auto codes = LiteralCodes(pixels, 8);
    EXPECT_EQ(codes[255].second, 9);  // the 255th literal stores entry 511 ...
    EXPECT_EQ(codes[256].second, 10); // ... so the next code is 10 bits wide
    EXPECT_EQ(Decode(8, PackCodes(codes), 3000, 1), pixels);
}

TEST(gifDecoder, TableFullThenClearCodeStartsOver) {
    // 6000 literals at code size 2 fill the table to 4096 twice; the encoder clears.
    Bytes pixels;
    for (int i = 0; i < 6000; ++i)
        pixels.push_back(static_cast<std::uint8_t>((i * i + i / 5) & 3));
    EXPECT_EQ(Decode(2, PackCodes(LiteralCodes(pixels, 2)), 100, 60), pixels);
}

TEST(gifDecoder, DeferredClearKeepsDecodingWithFullTable) {
    // The encoder leaves the clear code for later: with the table full the codes stay
    // 12 bits wide and no entries are added; a later clear starts over.
    Bytes pixels;
    for (int i = 0; i < 5000; ++i)
        pixels.push_back(static_cast<std::uint8_t>((i * 31) & 0xFF));
    auto codes = LiteralCodes(pixels, 8, /*Deferred=*/true);
    EXPECT_EQ(codes.back().second, 12);
    codes.pop_back(); // the end code
    // Entry 258 (the first two pixels) still stands; then a clear and a fresh table.
    codes.insert(codes.end(), {{258, 12}, {256, 12}, {7, 9}, {8, 9}, {258, 9}, {257, 9}});
    Bytes expected = pixels;
    expected.insert(expected.end(), {pixels[0], pixels[1], 7, 8, 7, 8});
    EXPECT_EQ(Decode(8, PackCodes(codes), int(expected.size()), 1), expected);
}

TEST(gifDecoder, RunsOfClearCodesBehaveLikeOne) {
    const Bytes one = PackCodes({{4, 3}, {3, 3}, {1, 3}, {6, 3}, {5, 4}});
    const Bytes three = PackCodes({{4, 3}, {4, 3}, {4, 3}, {3, 3}, {1, 3}, {6, 3}, {5, 4}});
    EXPECT_EQ(Decode(2, one, 4, 1), (Bytes{3, 1, 3, 1}));
    EXPECT_EQ(Decode(2, three, 4, 1), (Bytes{3, 1, 3, 1}));
}

TEST(gifDecoder, ClearResetsWidthAndTable) {
    // After a clear, entry 6 is defined anew and codes are 3 bits again.
    const Bytes data =
        PackCodes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {4, 4}, {3, 3}, {0, 3}, {6, 3}, {5, 4}});
    EXPECT_EQ(Decode(2, data, 8, 1), (Bytes{1, 2, 1, 2, 3, 0, 3, 0}));
}

TEST(gifDecoder, CodeSizeNineTakesLowEightBitsOfLiterals) {
    // clear 512, end 513, 10-bit codes: literal 300 is pixel 44, 511 is 255
    EXPECT_EQ(Decode(9, PackCodes({{512, 10}, {300, 10}, {511, 10}, {513, 10}}), 2, 1),
              (Bytes{44, 255}));
}

TEST(gifDecoder, RejectsCodeSizesOutsideTwoToNine) {
    EXPECT_EQ(DecodeError(1, {0}, 1, 1), "EInvalidGraphicOperation: Invalid LZW Code Size: 1");
    EXPECT_EQ(DecodeError(10, {0}, 1, 1), "EInvalidGraphicOperation: Invalid LZW Code Size: 10");
    EXPECT_EQ(DecodeError(0, {0}, 1, 1), "EInvalidGraphicOperation: Invalid LZW Code Size: 0");
    EXPECT_EQ(DecodeError(255, {0}, 1, 1), "EInvalidGraphicOperation: Invalid LZW Code Size: 255");
}

TEST(gifDecoder, StreamFormatErrors) {
    // end code right after a clear code (or a run of them)
    EXPECT_EQ(DecodeError(2, PackCodes({{4, 3}, {5, 3}}), 1, 1),
              "EStreamError: Invalid stream format");
    EXPECT_EQ(DecodeError(2, PackCodes({{4, 3}, {4, 3}, {5, 3}}), 1, 1),
              "EStreamError: Invalid stream format");
    // a code above the next free code (6 right after the first literal)
    EXPECT_EQ(DecodeError(2, PackCodes({{4, 3}, {1, 3}, {7, 3}, {5, 3}}), 4, 1),
              "EStreamError: Invalid stream format");
}

TEST(gifDecoder, FirstCodeAfterClearThatIsNoLiteralCountsAsZero) {
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {7, 3}, {2, 3}, {5, 3}}), 2, 1), (Bytes{0, 2}));
}

TEST(gifDecoder, EndCodeFirstWritesNothing) {
    EXPECT_EQ(Decode(2, PackCodes({{5, 3}}), 2, 2), Bytes(4, 0xEE));
}

TEST(gifDecoder, StreamWithoutLeadingClearStartsAsAfterOne) {
    // No clear code: the first code is a literal, the next entry is 6, codes 3 bits wide.
    EXPECT_EQ(Decode(2, PackCodes({{1, 3}, {2, 3}, {6, 3}, {5, 4}}), 4, 1), (Bytes{1, 2, 1, 2}));
}

TEST(gifDecoder, DataEndingBeforeEndCodeEndsTheDecode) {
    // Codes up to the end of the data are decoded; a repeated last byte is never invented.
    // code size 7: every code is 8 bits, one byte
    EXPECT_EQ(Decode(7, {128, 1, 2, 3}, 5, 1), (Bytes{1, 2, 3, 0xEE, 0xEE}));
    // clear and one literal in 6 bits; the 2 bits left make no code
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {1, 3}}), 2, 1), (Bytes{1, 0xEE}));
    // A stream of clear codes that stops without an end code ends quietly too.
    EXPECT_EQ(Decode(2, {0x24, 0x49, 0x92, 0x24}, 1, 1), Bytes{0xEE});
    EXPECT_EQ(Decode(2, {}, 1, 1), Bytes{0xEE});
}

TEST(gifDecoder, SurplusPixelsAreDropped) {
    // 2x1 image, six pixels coded: the last four fall below the image.
    const Bytes data = PackCodes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {7, 4}, {5, 4}});
    EXPECT_EQ(Decode(2, data, 2, 1), (Bytes{1, 2}));
    // Error checking goes on after the image is full.
    EXPECT_EQ(DecodeError(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {15, 4}}), 1, 1),
              "EStreamError: Invalid stream format");
}

TEST(gifDecoder, StringsSpanningRowsWrapToTheNextRow) {
    // 3x2: strings of length 2 cross the row end.
    const Bytes data = PackCodes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {7, 4}, {5, 4}});
    EXPECT_EQ(Decode(2, data, 3, 2), (Bytes{1, 2, 1, 2, 2, 1}));
}

namespace {
// The rows in the order they receive data: the k-th coded row of a 1-pixel-wide image
// holds the value k.
std::vector<int> InterlacedRowOrder(int Height) {
    Bytes coded;
    for (int k = 0; k < Height; ++k)
        coded.push_back(static_cast<std::uint8_t>(k));
    const Bytes rows = Decode(4, PackCodes(LiteralCodes(coded, 4)), 1, Height, true);
    std::vector<int> order(Height, -1);
    for (int y = 0; y < Height; ++y)
        if (rows[y] < Height) order[rows[y]] = y;
    return order;
}
} // namespace

TEST(gifDecoder, InterlacedRowOrder) {
    EXPECT_EQ(InterlacedRowOrder(3), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(InterlacedRowOrder(10), (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
    EXPECT_EQ(InterlacedRowOrder(1), (std::vector<int>{0}));
    EXPECT_EQ(InterlacedRowOrder(2), (std::vector<int>{0, 1}));
    EXPECT_EQ(InterlacedRowOrder(5), (std::vector<int>{0, 4, 2, 1, 3}));
}

TEST(gifDecoder, InterlacedPixelsLandInTheirRows) {
    // 2x4 interlaced: coded rows are 0, 2, 1, 3.
    const Bytes coded = {0, 0, 2, 2, 1, 1, 3, 3};
    EXPECT_EQ(Decode(2, PackCodes(LiteralCodes(coded, 2)), 2, 4, true),
              (Bytes{0, 0, 1, 1, 2, 2, 3, 3}));
}

TEST(gifDecoder, ZeroSizedImageTakesNoPixels) {
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}}), 0, 0), Bytes{});
    EXPECT_EQ(Decode(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}}), 0, 5), Bytes{});
}

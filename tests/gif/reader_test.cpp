// The GIF block reader on hand-built files: separators, extensions, frames, colour
// tables and cut-off data.

#include "GifBytes.h"
#include "gif/GIFData.h"
#include "gif/GIFFrame.h"
#include "gif/GIFImage.h"
#include "platform/gdi/Bitmap.h"
#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace giftest;

namespace {

const std::string SeparatorText =
    "Incomplete download, missing internet connection or\r\ninvalid GIF format separator: $";

// Parsed data of a byte sequence; holds one reference.
struct Parsed {
    explicit Parsed(const Bytes& File) : Data(new TGIFData) {
        Data->AddRef();
        auto stream = std::make_unique<TMemoryStream>();
        stream->WriteBuffer(File.data(), int(File.size()));
        Data->SetStream(std::move(stream));
    }
    ~Parsed() { TGIFData::Release(Data); }
    TGIFData* Data;
};

// The error class and text that parsing raises, "" when it succeeds.
std::string ParseError(const Bytes& File) {
    Parsed p(File);
    try {
        p.Data->ReadFrames();
    } catch (const EReadError& e) {
        return "EReadError: " + e.Message();
    } catch (const EStreamError& e) {
        return "EStreamError: " + e.Message();
    } catch (const EInvalidGraphicOperation& e) {
        return "EInvalidGraphicOperation: " + e.Message();
    } catch (const Exception& e) {
        return "Exception: " + e.Message();
    }
    return "";
}

// A 2x2 image with code size 2: pixels 0 1 / 2 3.
Bytes SmallImage(std::uint8_t Flags = 0, const Bytes& LocalTable = {}) {
    return Image(2, 2, 2, PackCodes(LiteralCodes({0, 1, 2, 3}, 2)), Flags, LocalTable);
}

Bytes File(const std::vector<Bytes>& Blocks, int TableBits = 2) {
    Bytes file = Header(2, 2, TableBits);
    for (const Bytes& b : Blocks)
        Append(file, b);
    file.push_back(0x3B);
    return file;
}

std::vector<std::uint8_t> Indexes(TBitmap* Bitmap) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < Bitmap->Height(); ++y) {
        auto* row = static_cast<std::uint8_t*>(Bitmap->ScanLine(y));
        out.insert(out.end(), row, row + Bitmap->Width());
    }
    return out;
}

// Records what reaches the application's error display.
struct ErrorRecorder {
    ErrorRecorder() {
        Application.SetErrorDisplay(
            [this](const std::string&, const std::string& Text) { Texts.push_back(Text); });
    }
    ~ErrorRecorder() { Application.SetErrorDisplay(nullptr); }
    std::vector<std::string> Texts;
};

} // namespace

TEST(gifReader, ReadsScreenTableAndOneFrame) {
    Parsed p(File({SmallImage()}));
    ASSERT_EQ(p.Data->FrameCount(), 1);
    EXPECT_EQ(p.Data->ScreenWidth(), 2);
    EXPECT_EQ(p.Data->ScreenHeight(), 2);
    EXPECT_EQ(p.Data->ScreenFlags(), 0x81);
    ASSERT_NE(p.Data->GlobalColorTable(), nullptr);
    EXPECT_EQ(p.Data->GlobalColorTable()->Count(), 4);
    EXPECT_EQ(p.Data->GlobalColorTable()->GetColor(3), 3u + 6u * 256 + 9u * 65536);
    TBitmap* bitmap = p.Data->FrameBitmap(0);
    EXPECT_EQ(bitmap->Width(), 2);
    EXPECT_EQ(bitmap->Height(), 2);
    EXPECT_EQ(Indexes(bitmap), (std::vector<std::uint8_t>{0, 1, 2, 3}));
    // The palette gives the colours: entry 2 is (2, 4, 6).
    EXPECT_EQ(bitmap->Canvas()->Pixels(0, 1), RGB(2, 4, 6));
    EXPECT_EQ(p.Data->FrameDelay(0), 0);
}

TEST(gifReader, SignatureIsNotExamined) {
    Bytes file = File({SmallImage()});
    Parsed good(file);
    std::copy_n("NOTGIF", 6, file.begin());
    Parsed odd(file);
    ASSERT_EQ(odd.Data->FrameCount(), 1);
    EXPECT_EQ(Indexes(odd.Data->FrameBitmap(0)), Indexes(good.Data->FrameBitmap(0)));
}

TEST(gifReader, LocalTableOverridesGlobalAndMissingTablesLeaveNoPalette) {
    const Bytes local = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    Parsed withLocal(File({SmallImage(0x81, local)}));
    TBitmap* bitmap = withLocal.Data->FrameBitmap(0);
    EXPECT_EQ(bitmap->Canvas()->Pixels(1, 1), RGB(100, 110, 120));

    Parsed noTables(File({SmallImage()}, 0));
    EXPECT_EQ(noTables.Data->GlobalColorTable(), nullptr);
    TBitmap* plain = noTables.Data->FrameBitmap(0);
    EXPECT_EQ(plain->Palette(), nullptr);
    EXPECT_EQ(Indexes(plain), (std::vector<std::uint8_t>{0, 1, 2, 3}));
}

TEST(gifReader, GraphicControlDelays) {
    auto delayOf = [](std::vector<int> Delays) {
        std::vector<Bytes> blocks;
        for (int d : Delays)
            blocks.push_back(GraphicControl(d));
        blocks.push_back(SmallImage());
        Parsed p(File(blocks));
        return p.Data->FrameDelay(0);
    };
    EXPECT_EQ(delayOf({250}), 25);
    EXPECT_EQ(delayOf({500}), 30);
    EXPECT_EQ(delayOf({9}), 0);
    EXPECT_EQ(delayOf({300}), 30);
    EXPECT_EQ(delayOf({65535}), 30);
    EXPECT_EQ(delayOf({250, 120}), 12); // the later one wins
}

TEST(gifReader, OverlongFixedBlockIsSkippedWhole) {
    // A graphic control block of 6 bytes instead of 4: the delay comes from its start, and
    // the two surplus bytes are not taken for the sub-block chain.
    Bytes gce = {0x21, 0xF9, 6, 0, 100, 0, 0, 0x3B, 0x2C, 0};
    Parsed p(File({gce, SmallImage()}));
    ASSERT_EQ(p.Data->FrameCount(), 1);
    EXPECT_EQ(p.Data->FrameDelay(0), 10);
}

TEST(gifReader, ShortFixedBlockReadsWhatIsThere) {
    // A 2-byte graphic control block: flags and the low delay byte only.
    Bytes gce = {0x21, 0xF9, 2, 0, 200, 0};
    Parsed p(File({gce, SmallImage()}));
    EXPECT_EQ(p.Data->FrameDelay(0), 20);
}

TEST(gifReader, FramesInFileOrderWithExtensionsBetween) {
    Bytes app = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C', 'A', 'P',
                 'E',  '2',  '.', '0', 3,   1,   0,   0,   0};
    Bytes unknown = {0x21, 0x02, 3, 'a', 'b', 'c', 2, 'd', 'e', 0};
    Parsed p(File({app, Comment("first"), GraphicControl(100), SmallImage(), unknown,
                   GraphicControl(200), Image(3, 1, 2, PackCodes(LiteralCodes({3, 2, 1}, 2)))}));
    ASSERT_EQ(p.Data->FrameCount(), 2);
    EXPECT_EQ(p.Data->FrameDelay(0), 10);
    EXPECT_EQ(p.Data->FrameDelay(1), 20);
    EXPECT_EQ(Indexes(p.Data->FrameBitmap(1)), (std::vector<std::uint8_t>{3, 2, 1}));
}

TEST(gifReader, ExtensionsAfterLastImageMakeAnEmptyFrame) {
    Parsed p(File({SmallImage(), GraphicControl(300), Comment("trailing")}));
    ASSERT_EQ(p.Data->FrameCount(), 2);
    EXPECT_EQ(p.Data->FrameBitmap(1)->Width(), 0);
    EXPECT_EQ(p.Data->FrameBitmap(1)->Height(), 0);
    EXPECT_EQ(p.Data->FrameDelay(1), 0); // its extensions are not applied
}

TEST(gifReader, ExtensionClassesKeepTheirBlocks) {
    Parsed p(File({}));
    auto stream = std::make_unique<TMemoryStream>();
    const Bytes bytes = {11,  'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.',
                         '0', 3,   1,   5,   0,   2,   7,   8,   0, // app
                         2,   'h', 'i', 3,   'y', 'o', 'u', 0,      // comment
                         12,  1,   0,   2,   0,   30,  0,   8,   0,   4,   8,
                         1,   0,   3,   'o', 'n', 'e', 3,   't', 'w', 'o', 0}; // text
    stream->WriteBuffer(bytes.data(), int(bytes.size()));
    stream->SetPosition(0);
    p.Data->SetStream(std::move(stream));

    TApplicationExtension app(p.Data);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(app.Identifier), 8), "NETSCAPE");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(app.AuthCode), 3), "2.0");
    ASSERT_EQ(app.Data.Size(), 5);
    EXPECT_EQ(std::string(static_cast<char*>(app.Data.Memory()), 5),
              std::string("\x01\x05\x00\x07\x08", 5));

    TCommentExtension comment(p.Data);
    ASSERT_EQ(comment.Comments.Count(), 2);
    EXPECT_EQ(comment.Comments[0], "hi");
    EXPECT_EQ(comment.Comments[1], "you");

    TPlainTextExtension text(p.Data);
    EXPECT_EQ(text.GridLeft, 1);
    EXPECT_EQ(text.GridTop, 2);
    EXPECT_EQ(text.GridWidth, 30);
    EXPECT_EQ(text.GridHeight, 8);
    EXPECT_EQ(text.CellWidth, 4);
    EXPECT_EQ(text.CellHeight, 8);
    EXPECT_EQ(text.ForegroundIndex, 1);
    EXPECT_EQ(text.BackgroundIndex, 0);
    ASSERT_EQ(text.Text.Count(), 2);
    EXPECT_EQ(text.Text[1], "two");
    EXPECT_EQ(p.Data->Stream()->Position(), p.Data->Stream()->Size());
}

namespace {
// A 40x16 image of index 0 with a plain text extension before it.
Bytes PlainTextFile(const std::vector<std::string>& Texts, int Foreground = 1) {
    Bytes pte = {0x21, 0x01, 12};
    Word(pte, 2);      // grid left
    Word(pte, 1);      // grid top
    Word(pte, 36);     // grid width
    Word(pte, 14);     // grid height
    pte.push_back(8);  // cell width
    pte.push_back(12); // cell height
    pte.push_back(static_cast<std::uint8_t>(Foreground));
    pte.push_back(2); // background index
    for (const std::string& t : Texts) {
        pte.push_back(static_cast<std::uint8_t>(t.size()));
        pte.insert(pte.end(), t.begin(), t.end());
    }
    pte.push_back(0);
    Bytes file = Header(40, 16, 2);
    Append(file, pte);
    Append(file, Image(40, 16, 2, PackCodes(LiteralCodes(Bytes(40 * 16, 0), 2))));
    file.push_back(0x3B);
    return file;
}
} // namespace

TEST(gifReader, PlainTextIsDrawnOntoTheFrameInsideItsGrid) {
    Parsed none(PlainTextFile({}));
    Parsed one(PlainTextFile({"WWW"}));
    Parsed three(PlainTextFile({"WWW", "second", "third"}));
    const auto blank = Indexes(none.Data->FrameBitmap(0));
    const auto drawn = Indexes(one.Data->FrameBitmap(0));
    // No text sub-block: only settings change, the pixels stay.
    EXPECT_EQ(blank, std::vector<std::uint8_t>(40 * 16, 0));
    // The text changes pixels, only inside the grid (2,1)-(38,15).
    int changed = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 40; ++x)
            if (drawn[y * 40 + x] != 0) {
                ++changed;
                EXPECT_TRUE(x >= 2 && x < 38 && y >= 1 && y < 15) << x << "," << y;
            }
    EXPECT_GT(changed, 10);
    // Only the first text is drawn.
    EXPECT_EQ(Indexes(three.Data->FrameBitmap(0)), drawn);
}

TEST(gifReader, PlainTextColourOutsideTableIsReportedAndFrameKept) {
    ErrorRecorder errors;
    Parsed p(PlainTextFile({"X"}, 9));
    ASSERT_EQ(p.Data->FrameCount(), 1);
    EXPECT_EQ(p.Data->FrameBitmap(0)->Width(), 40);
    ASSERT_EQ(errors.Texts.size(), 1u);
    EXPECT_EQ(errors.Texts[0], "Index 9 out of range [0..3].");
}

TEST(gifReader, FrameIndexChecks) {
    Parsed p(File({SmallImage()}));
    try {
        p.Data->FrameBitmap(1);
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Invalid frame number 1 (0..0)");
    }
    try {
        p.Data->FrameDelay(-1);
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
}

TEST(gifReader, SeparatorErrors) {
    // A stray byte where a block should start names it in upper-case hex.
    EXPECT_EQ(ParseError(File({SmallImage(), {0x3A}})),
              "EInvalidGraphicOperation: " + SeparatorText + "3A");
    EXPECT_EQ(ParseError(File({{0x0F}})), "EInvalidGraphicOperation: " + SeparatorText + "F");
    // Cut off after a complete block: the last byte, the block terminator, is named.
    Bytes cut = File({SmallImage()});
    cut.pop_back();
    EXPECT_EQ(ParseError(cut), "EInvalidGraphicOperation: " + SeparatorText + "0");
    Bytes afterExtension = Header(2, 2, 2);
    Append(afterExtension, Comment("x"));
    EXPECT_EQ(ParseError(afterExtension), "EInvalidGraphicOperation: " + SeparatorText + "0");
}

TEST(gifReader, DataCutInsideBlocksIsAReadError) {
    const Bytes file = File({SmallImage()});
    // Inside the image data sub-blocks (copied): the stream read error.
    Bytes inData(file.begin(), file.end() - 3);
    EXPECT_EQ(ParseError(inData), "EReadError: Stream read error");
    // Inside the screen descriptor, the global table, the image descriptor.
    EXPECT_EQ(ParseError(Bytes(file.begin(), file.begin() + 9)), "EReadError: Stream read error");
    EXPECT_EQ(ParseError(Bytes(file.begin(), file.begin() + 16)), "EReadError: Stream read error");
    EXPECT_EQ(ParseError(Bytes(file.begin(), file.begin() + 30)), "EReadError: Stream read error");
    // A skipped sub-block chain that never ends.
    Bytes unknown = Header(2, 2, 0);
    Append(unknown, {0x21, 0x02, 200, 1, 2, 3});
    EXPECT_EQ(ParseError(unknown), "EReadError: Stream read error");
}

TEST(gifReader, ErrorInALaterFrameKeepsEarlierFramesAndParsesOnce) {
    // Second image: code size 1 is refused by the decoder.
    Bytes file = File({SmallImage(), Image(1, 1, 1, {0x00})});
    Parsed p(file);
    try {
        p.Data->ReadFrames();
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Invalid LZW Code Size: 1");
    }
    EXPECT_EQ(p.Data->FrameCount(), 1); // no second parse, no second error
    EXPECT_EQ(Indexes(p.Data->FrameBitmap(0)), (std::vector<std::uint8_t>{0, 1, 2, 3}));
}

TEST(gifReader, FramesTogetherStayWithinThePixelLimit) {
    // Frames are sized by their descriptors: three 2x2 images with no pixel data at all
    // (end code first) claim 12 pixels. A limit of 8 keeps the first two.
    const Bytes empty = Image(2, 2, 2, PackCodes({{5, 3}}));
    Parsed p(File({empty, SmallImage(), empty}));
    p.Data->SetPixelLimit(8);
    try {
        p.Data->ReadFrames();
        FAIL() << "no error";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), "Out of system resources");
    }
    ASSERT_EQ(p.Data->FrameCount(), 2);
    EXPECT_EQ(Indexes(p.Data->FrameBitmap(1)), (std::vector<std::uint8_t>{0, 1, 2, 3}));

    // Exactly at the limit is allowed; frames without an image claim nothing.
    Parsed exact(File({SmallImage(), Comment("c"), SmallImage(), Comment("after")}));
    exact.Data->SetPixelLimit(8);
    EXPECT_EQ(exact.Data->FrameCount(), 3);
}

TEST(gifReader, DataWithoutStreamHasNoFrames) {
    TGIFData* data = new TGIFData;
    data->AddRef();
    EXPECT_EQ(data->FrameCount(), 0);
    EXPECT_EQ(data->Frames(), nullptr);
    EXPECT_THROW(data->FrameBitmap(0), EInvalidGraphicOperation);
    EXPECT_THROW(data->FrameBitmap(-1), EListError);
    TGIFData::Release(data);
    TGIFData::Release(nullptr); // accepted, does nothing
}

TEST(gifReader, FrameBitmapIsReadOnly) {
    Parsed p(File({SmallImage()}));
    TBitmap* bitmap = p.Data->FrameBitmap(0);
    try {
        bitmap->Canvas()->SetPixel(0, 0, PALETTEINDEX(3));
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Cannot modify TGIFFrame bitmap");
    }
    EXPECT_THROW(bitmap->SetWidth(5), EInvalidGraphicOperation);
    EXPECT_EQ(bitmap->Width(), 2);
    EXPECT_EQ(Indexes(bitmap), (std::vector<std::uint8_t>{0, 1, 2, 3}));
}

TEST(gifReader, ColorTableEntriesAndRange) {
    TMemoryStream s;
    const Bytes rgb = {1, 2, 3, 4, 5, 6};
    s.WriteBuffer(rgb.data(), 6);
    s.SetPosition(0);
    TColorTable table(&s, 6);
    EXPECT_EQ(table.Count(), 2);
    EXPECT_EQ(table.GetColor(1), 4u + 5u * 256 + 6u * 65536);
    std::uint8_t r, g, b;
    try {
        table.GetEntry(2, r, g, b);
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "Index 2 out of range [0..1]");
    }
    EXPECT_THROW(table.GetEntry(-1, r, g, b), EListError);
    // A 2-entry table makes a 2-entry palette of its own colours (no hardware palette
    // here, so even a 16-entry table keeps its colours).
    HPALETTE palette = table.CreatePalette();
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[2];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 2, entries), 2u);
    EXPECT_EQ(entries[1].peRed, 4);
    EXPECT_EQ(entries[1].peBlue, 6);
    DeleteObject(palette);
    TColorTable empty(&s, 0);
    EXPECT_EQ(empty.CreatePalette(), nullptr);
    // A table cut short fails.
    s.SetPosition(3);
    EXPECT_THROW(TColorTable(&s, 6), EReadError);
}

TEST(gifReader, SixteenColourTableKeepsItsColoursWithoutHardwarePalette) {
    Parsed p(File({SmallImage()}, 4));
    TBitmap* bitmap = p.Data->FrameBitmap(0);
    PALETTEENTRY entries[16];
    ASSERT_EQ(GetPaletteEntries(bitmap->Palette(), 0, 16, entries), 16u);
    EXPECT_EQ(entries[15].peRed, 15);
    EXPECT_EQ(entries[15].peGreen, 30);
    EXPECT_EQ(entries[15].peBlue, 45);
}

TEST(gifReader, TruncationAtEveryOffsetFailsInOrder) {
    // Two frames with every kind of block; every prefix either parses or raises one of
    // the reader's errors.
    Bytes pte = {0x21, 0x01, 12, 0, 0, 0, 0, 4, 0, 4, 0, 4, 4, 1, 0, 1, 'a', 0};
    Bytes app = {0x21, 0xFF, 11, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', '3', 2, 9, 9, 0};
    const Bytes file = File({app, Comment("comment"), GraphicControl(50), SmallImage(0x40), pte,
                             Image(3, 3, 3, PackCodes(LiteralCodes({1, 2, 3, 4, 5, 6, 7, 0, 1}, 3)),
                                   0x82, Bytes(24, 7))});
    EXPECT_EQ(ParseError(file), "");
    for (std::size_t n = 0; n < file.size(); ++n) {
        const std::string error = ParseError(Bytes(file.begin(), file.begin() + n));
        const bool known = error.empty() || error == "EReadError: Stream read error" ||
                           error.starts_with("EInvalidGraphicOperation: " + SeparatorText);
        EXPECT_TRUE(known) << "cut at " << n << ": " << error;
    }
}

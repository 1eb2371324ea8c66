#include "gif/Decoder.h"

#include "gif/GIFBlocks.h"
#include "gif/LzwCodes.h"
#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int InterlaceFirstRow[4] = {0, 4, 2, 1};
constexpr int InterlaceStep[4] = {8, 8, 4, 2};

// Images up to this many pixels are expanded on the stack when their rows cannot take
// the pixels directly.
constexpr std::size_t StackPixels = 4096;

[[noreturn]] void InvalidStream() {
    throw EStreamError("Invalid stream format");
}

} // namespace

TDecoder::TDecoder(int ACodeSize, TMemoryStream* ASource) : FCodeSize(ACodeSize) {
    if (static_cast<std::uint8_t>(ACodeSize - 2) > 7)
        throw EInvalidGraphicOperation(Format("Invalid LZW Code Size: %d", ACodeSize));
    FCodeWidth = FCodeSize + 1;
    FClearCode = 1 << FCodeSize;
    FEndCode = FClearCode + 1;
    FMaxLiteral = FClearCode - 1;
    ASource->SetPosition(0);
    FReader.At = static_cast<const std::uint8_t*>(ASource->Memory());
    FReader.End = FReader.At ? FReader.At + ASource->Size() : nullptr;
}

int TDecoder::NextRow(int Height) {
    int y = FRow;
    if (FPass <= 3) y += InterlaceStep[FPass];
    while (y >= Height && FPass <= 3) {
        ++FPass;
        if (FPass <= 3) y = InterlaceFirstRow[FPass];
    }
    return y;
}

// A string is kept as where it was last written and its length: each new entry is the
// previous code's string plus the first byte of the next, and those lie side by side
// in the output, so a code is expanded by copying earlier output, not by walking a chain.
std::size_t TDecoder::Expand(std::uint8_t* Out, std::size_t Capacity) {
    std::uint32_t at[MaxCodes];        // left uninitialised: only entries below next are read
    std::uint16_t length[MaxCodes];    // of the string
    vt::lzw::TCodeReader in = FReader; // in locals: the pixel stores could alias members
    // String positions are kept in 32 bits; a bitmap holds far fewer pixels.
    Capacity = std::min<std::size_t>(Capacity, UINT32_MAX);
    const int clear = FClearCode;
    const int endCode = FEndCode;
    const int maxLiteral = FMaxLiteral;
    int width = FCodeWidth;
    // A stream that does not start with a clear code starts as if it had one.
    int next = clear + 2;
    int limit = 1 << width;
    std::size_t written = 0;        // pixels coded so far
    std::size_t previousAt = 0;     // where the previous code's string starts
    std::size_t previousLength = 0; // 0: no previous code since the last clear

    for (int code = in.Read(width); code != endCode && code != NoMoreData; code = in.Read(width)) {
        if (code == clear) {
            width = FCodeSize + 1;
            next = clear + 2;
            limit = 1 << width;
            previousLength = 0;
            do
                code = in.Read(width);
            while (code == clear);
            if (code == endCode) InvalidStream();
            if (code == NoMoreData) break;
        }
        bool definedNow = false; // the code is the entry this step defines
        if (previousLength == 0) {
            if (code >= next) code = 0; // the first code after a clear is a single pixel
        } else {
            if (code >= next) {
                if (code > next) InvalidStream();
                definedNow = true;
            }
            // A full table takes no entries until the next clear (a deferred clear).
            if (next < MaxCodes) {
                at[next] = static_cast<std::uint32_t>(previousAt);
                length[next] = static_cast<std::uint16_t>(previousLength + 1);
                if (++next == limit && width < MaxCodeWidth) {
                    ++width;
                    limit <<= 1;
                }
            }
        }
        std::size_t n = 1;
        if (code <= maxLiteral) {
            if (written < Capacity) Out[written] = static_cast<std::uint8_t>(code);
        } else {
            n = length[code];
            const std::size_t from = at[code];
            if (written + n + vt::lzw::CopyBlock <= Capacity) {
                vt::lzw::CopyString(Out + written, Out + from, n);
                // The string being defined ends with its own first byte, which the block
                // copy read before it was written.
                if (definedNow) Out[written + n - 1] = Out[from];
            } else if (written < Capacity) {
                // Near the end: byte by byte, which also serves a string being defined.
                const std::size_t fit = std::min(n, Capacity - written);
                for (std::size_t i = 0; i < fit; ++i)
                    Out[written + i] = Out[from + i];
            }
        }
        previousAt = written;
        previousLength = n;
        written += n;
    }
    FReader = in;
    FCodeWidth = width;
    return written;
}

void TDecoder::PlaceRows(const std::uint8_t* Pixels, std::size_t Count,
                         const vt::TPixelRows& Target, bool Interlaced) {
    // In locals: the pixel stores could alias members.
    const auto width = static_cast<std::size_t>(Target.Width);
    const int height = Target.Height;
    if (width == 0) return;
    int y = FRow;
    auto copy = [width](std::uint8_t* To, const std::uint8_t* From, std::size_t N) {
        if (width < 16) {
            // Narrow rows (a column has one pixel a row): no call per row.
            for (std::size_t i = 0; i < N; ++i)
                To[i] = From[i];
        } else {
            std::memcpy(To, From, N);
        }
    };
    for (; Count >= width && y < height; Count -= width, Pixels += width) {
        copy(Target.Row(y), Pixels, width);
        if (Interlaced) {
            FRow = y;
            y = NextRow(height);
        } else {
            ++y;
        }
    }
    FRow = y;
    if (Count > 0 && y < height) copy(Target.Row(y), Pixels, Count); // a row left unfinished
}

void TDecoder::Decode(const vt::TPixelRows& Target, bool Interlaced) {
    const std::size_t pixels =
        Target.Width > 0 && Target.Height > 0
            ? static_cast<std::size_t>(Target.Width) * static_cast<std::size_t>(Target.Height)
            : 0;
    if (!Interlaced && Target.Stride == Target.Width && Target.Blank) {
        // Blank rows one after the other: the pixels go straight into them. The block
        // copies may leave stray bytes just past the last string; they become 0 again.
        const std::size_t coded = std::min(Expand(Target.Base, pixels), pixels);
        if (coded < pixels)
            std::memset(Target.Base + coded, 0, std::min(vt::lzw::CopyBlock, pixels - coded));
        FRow = pixels ? static_cast<int>(coded / static_cast<std::size_t>(Target.Width)) : 0;
        return;
    }
    // Expanded in coded order first, then put in their rows.
    std::uint8_t stack[StackPixels];
    std::unique_ptr<std::uint8_t[]> heap;
    std::uint8_t* scratch = stack;
    if (pixels > StackPixels) {
        heap.reset(new std::uint8_t[pixels]);
        scratch = heap.get();
    }
    const std::size_t coded = Expand(scratch, pixels);
    PlaceRows(scratch, std::min(coded, pixels), Target, Interlaced);
}

vt::TPixelRows TDecoder::PixelRows(TBitmap* Bitmap) {
    vt::TPixelRows rows;
    rows.Width = Bitmap->Width();
    rows.Height = Bitmap->Height();
    if (rows.Width > 0 && rows.Height > 0) {
        // The rows of a bitmap lie one after the other, top row first.
        rows.Base = static_cast<std::uint8_t*>(Bitmap->ScanLine(0));
        rows.Stride = Bitmap->BytesPerScanLine();
    }
    return rows;
}

void TDecoder::Decode(TBitmap* Bitmap, bool Interlaced) {
    if (Bitmap->PixelFormat() != pf8bit) Bitmap->SetPixelFormat(pf8bit); // one index a byte
    Decode(PixelRows(Bitmap), Interlaced);
}

void RenderImage(TRasterData* RasterData, TImageDescriptor* Descriptor, TBitmap* Bitmap) {
    // Palette indexes go straight into an 8-bit bitmap's rows: the same pixels as setting
    // each one to its palette index through the canvas, without a call per pixel.
    const bool blank = Bitmap->Empty(); // then sizing makes every pixel index 0
    Bitmap->SetPixelFormat(pf8bit);
    Bitmap->SetSize(Descriptor->Width, Descriptor->Height);
    if (Descriptor->ColorTable) Bitmap->SetPalette(Descriptor->ColorTable->CreatePalette());
    TDecoder decoder(RasterData->CodeSize, &RasterData->Data);
    vt::TPixelRows rows = TDecoder::PixelRows(Bitmap);
    rows.Blank = blank;
    decoder.Decode(rows, Descriptor->Interlaced());
}

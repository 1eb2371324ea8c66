#include "gif/Decoder.h"

#include "gif/GIFBlocks.h"
#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

// The string table of one decode run; a string is its prefix code plus one byte.
// First byte and length are kept per code so a string is written without walking it
// twice.
struct TDecoder::TTable {
    std::uint16_t Prefix[MaxCodes];
    std::uint8_t Suffix[MaxCodes];
    std::uint8_t First[MaxCodes];
    std::uint16_t Length[MaxCodes];
};

namespace {

constexpr int InterlaceFirstRow[4] = {0, 4, 2, 1};
constexpr int InterlaceStep[4] = {8, 8, 4, 2};

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
    FSource = static_cast<const std::uint8_t*>(ASource->Memory());
    FSourceSize = FSource ? static_cast<std::size_t>(ASource->Size()) : 0;
}

int TDecoder::ReadCode() {
    while (FBitsLeft < FCodeWidth) {
        if (FSourcePos >= FSourceSize) return NoMoreData;
        FBitBuffer |= std::uint32_t(FSource[FSourcePos++]) << FBitsLeft;
        FBitsLeft += 8;
    }
    int code = static_cast<int>(FBitBuffer & ((1u << FCodeWidth) - 1));
    FBitBuffer >>= FCodeWidth;
    FBitsLeft -= FCodeWidth;
    return code;
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

void TDecoder::AdvanceRow() {
    FColumn = 0;
    if (FRow >= FHeight) return; // past the image: the rest is dropped
    FRow = FInterlaced ? NextRow(FHeight) : FRow + 1;
    FRowPixels = FRow < FHeight ? FTarget.Row(FRow) : nullptr;
}

void TDecoder::Decode(TBitmap* Bitmap, bool Interlaced) {
    if (Bitmap->PixelFormat() != pf8bit) Bitmap->SetPixelFormat(pf8bit); // one index a byte
    vt::TPixelRows rows;
    rows.Width = Bitmap->Width();
    rows.Height = Bitmap->Height();
    if (rows.Width > 0 && rows.Height > 0) {
        // The rows of a bitmap lie one after the other, top row first.
        rows.Base = static_cast<std::uint8_t*>(Bitmap->ScanLine(0));
        rows.Stride = Bitmap->BytesPerScanLine();
    }
    Decode(rows, Interlaced);
}

// A row is complete: the common case (the next row of a plain image) without a call.
inline void TDecoder::CompleteRow() {
    if (!FInterlaced && FRow + 1 < FHeight) {
        FColumn = 0;
        ++FRow;
        FRowPixels += FTarget.Stride;
    } else {
        AdvanceRow();
    }
}

void TDecoder::WriteString(const TTable& Table, int Code) {
    const int length = Table.Length[Code];
    if (FRowPixels && FColumn + length <= FWidth) {
        // The whole string lands inside the current row: write it back to front.
        std::uint8_t* p = FRowPixels + FColumn + length - 1;
        while (Code > FMaxLiteral) {
            *p-- = Table.Suffix[Code];
            Code = Table.Prefix[Code];
        }
        *p = static_cast<std::uint8_t>(Code);
        FColumn += length;
        if (FColumn == FWidth) CompleteRow();
        return;
    }
    // The string crosses a row end or falls outside the image: unpacked first, then
    // written a row piece at a time.
    std::uint8_t string[MaxCodes];
    std::uint8_t* p = string + length;
    while (Code > FMaxLiteral) {
        *--p = Table.Suffix[Code];
        Code = Table.Prefix[Code];
    }
    *--p = static_cast<std::uint8_t>(Code);
    if (FWidth == 0) return; // no column ever completes a row
    int left = length;
    if (!FInterlaced && FRowPixels) {
        // Rows one after the other (narrow images have many per string): kept in locals,
        // as the pixel stores could otherwise alias every member.
        std::uint8_t* row = FRowPixels;
        int y = FRow;
        int column = FColumn;
        const int width = FWidth;
        const int height = FHeight;
        const std::ptrdiff_t stride = FTarget.Stride;
        while (left > 0 && y < height) {
            const int n = std::min(left, width - column);
            if (n == 1)
                row[column] = *p;
            else
                std::memcpy(row + column, p, static_cast<std::size_t>(n));
            p += n;
            left -= n;
            column += n;
            if (column == width) {
                column = 0;
                ++y;
                row += stride;
            }
        }
        FRow = y;
        FRowPixels = y < height ? row : nullptr;
        FColumn = (column + left) % width; // pixels past the last row are dropped
        return;
    }
    while (left > 0) {
        const int n = std::min(left, FWidth - FColumn);
        if (FRowPixels) {
            if (n == 1)
                FRowPixels[FColumn] = *p;
            else
                std::memcpy(FRowPixels + FColumn, p, static_cast<std::size_t>(n));
        }
        p += n;
        left -= n;
        FColumn += n;
        if (FColumn == FWidth) CompleteRow();
    }
}

void TDecoder::Decode(const vt::TPixelRows& Target, bool Interlaced) {
    TTable table; // left uninitialised: only entries below the next code are read
    for (int c = 0; c <= FMaxLiteral; ++c) {
        table.First[c] = static_cast<std::uint8_t>(c);
        table.Length[c] = 1;
    }
    FTarget = Target;
    FInterlaced = Interlaced;
    FWidth = Target.Width;
    FHeight = Target.Height;
    FColumn = 0;
    FRowPixels = FRow < FHeight ? Target.Row(FRow) : nullptr;

    // A stream that does not start with a clear code starts as if it had one.
    int nextCode = FClearCode + 2;
    int codeLimit = 1 << FCodeWidth;
    int oldCode = 0;
    bool firstCode = true;
    bool tableFull = false;
    auto resetTable = [&] {
        FCodeWidth = FCodeSize + 1;
        nextCode = FClearCode + 2;
        codeLimit = 1 << FCodeWidth;
        tableFull = false;
        firstCode = true;
    };
    auto addEntry = [&](int prefix, std::uint8_t suffix) {
        table.Prefix[nextCode] = static_cast<std::uint16_t>(prefix);
        table.Suffix[nextCode] = suffix;
        table.First[nextCode] = table.First[prefix];
        table.Length[nextCode] = static_cast<std::uint16_t>(table.Length[prefix] + 1);
        if (++nextCode < codeLimit) return;
        if (FCodeWidth >= MaxCodeWidth)
            tableFull = true; // no more entries until the next clear code
        else {
            codeLimit <<= 1;
            ++FCodeWidth;
        }
    };

    int code = ReadCode();
    while (code != FEndCode && code != NoMoreData) {
        if (code == FClearCode) {
            resetTable();
            do
                code = ReadCode();
            while (code == FClearCode);
            if (code == FEndCode) InvalidStream();
            if (code == NoMoreData) break;
        }
        if (firstCode) {
            if (code >= nextCode) code = 0;
            firstCode = false;
            WriteString(table, code);
        } else if (code < nextCode) {
            if (!tableFull) addEntry(oldCode, table.First[code]);
            WriteString(table, code);
        } else if (code == nextCode && !tableFull) {
            // The string being defined: the previous one plus its own first byte.
            addEntry(oldCode, table.First[oldCode]);
            WriteString(table, code);
        } else {
            InvalidStream();
        }
        oldCode = code;
        code = ReadCode();
    }
}

void RenderImage(TRasterData* RasterData, TImageDescriptor* Descriptor, TBitmap* Bitmap) {
    // Palette indexes go straight into an 8-bit bitmap's rows: the same pixels as setting
    // each one to its palette index through the canvas, without a call per pixel.
    Bitmap->SetPixelFormat(pf8bit);
    Bitmap->SetSize(Descriptor->Width, Descriptor->Height);
    if (Descriptor->ColorTable) Bitmap->SetPalette(Descriptor->ColorTable->CreatePalette());
    TDecoder decoder(RasterData->CodeSize, &RasterData->Data);
    decoder.Decode(Bitmap, Descriptor->Interlaced());
}

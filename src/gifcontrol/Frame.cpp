#include "gifcontrol/Frame.h"

#include "platform/gdi/Canvas.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int TableSize = 4096;
constexpr int MaxCodeWidth = 12;
constexpr std::uint8_t ImageSeparator = 0x2C;
// Above this many pixels a frame reports progress while it decodes.
constexpr std::int64_t ProgressPixels = 100000;

// The state of one Decode call: the string tables, the output stack and the code reader
// over the image's data sub-blocks. About 20 KB, on the stack.
class TLzwState {
public:
    TLzwState(TReadPointer& P, int CodeSize) : FP(P), FClear(1 << CodeSize) { ResetTable(); }

    // The next pixel value, -1 when the data is exhausted, -2 at the end code.
    int NextPixel() {
        if (FSp > 0) return FStack[--FSp];
        return DecodeCode();
    }

    // Pops up to Count pixel values into Out (the hot path of a row); returns how many.
    int Drain(std::uint16_t* Out, int Count) {
        const int n = Count < FSp ? Count : FSp;
        for (int i = 0; i < n; ++i)
            Out[i] = FStack[--FSp];
        return n;
    }

private:
    void ResetTable() {
        std::memset(FPrefix, 0, sizeof FPrefix);
        std::memset(FSuffix, 0, sizeof FSuffix);
        for (int i = 0; i < FClear; ++i)
            FSuffix[i] = static_cast<std::uint16_t>(i);
        FNext = FClear + 2;
        FLimit = 2 * FClear;
        FWidth = 0;
        while ((1 << FWidth) < FClear)
            ++FWidth;
        FWidth += 1;
        FAfterClear = true;
    }

    int DecodeCode() {
        int code = ReadCodeBits();
        if (code < 0) return code;
        while (code == FClear) {
            ResetTable();
            code = ReadCodeBits();
            if (code < 0) return code;
        }
        if (code == FClear + 1) return EndOfData();
        if (FAfterClear) {
            // The first code after a clear is a pixel of its own and starts the chain.
            FAfterClear = false;
            FOld = FFirst = code;
            return code;
        }
        const int incoming = code;
        if (code >= FNext) { // the string being defined, or a code beyond the table
            FStack[FSp++] = static_cast<std::uint16_t>(FFirst);
            code = FOld;
        }
        // Junk data can link entries into a cycle: the stack's size bounds the walk.
        while (code >= FClear && FSp < TableSize - 1) {
            FStack[FSp++] = FSuffix[code];
            code = FPrefix[code];
        }
        if (code >= FClear) code = 0;
        FFirst = FSuffix[code];
        FStack[FSp++] = static_cast<std::uint16_t>(FFirst);
        if (FNext < TableSize) { // a full table stays full until a clear code
            FPrefix[FNext] = static_cast<std::uint16_t>(FOld);
            FSuffix[FNext] = static_cast<std::uint16_t>(FFirst);
            ++FNext;
            if (FNext >= FLimit && FLimit < TableSize) {
                FLimit *= 2;
                ++FWidth;
            }
        }
        FOld = incoming;
        return FStack[--FSp];
    }

    // Skips the rest of the data up to and including its terminator.
    int EndOfData() {
        if (!FTerminated) {
            FP.Skip(FBlockLeft);
            FBlockLeft = 0;
            FP.SkipSubBlocks();
            FTerminated = true;
        }
        return -2;
    }

    // Code-width bits, least significant first, across sub-blocks; -1 when the data
    // holds no further whole code.
    int ReadCodeBits() {
        while (FBits < FWidth)
            if (!ReadByte()) return -1;
        const int code = static_cast<int>(FAccumulator & ((1u << FWidth) - 1));
        FAccumulator >>= FWidth;
        FBits -= FWidth;
        return code;
    }

    bool ReadByte() {
        if (FBlockLeft == 0 && !ReadSubBlockLength()) return false;
        if (FP.AtEnd()) { // a sub-block cut short by the end of the file
            FTerminated = true;
            FBlockLeft = 0;
            return false;
        }
        FAccumulator |= static_cast<std::uint32_t>(*FP.Pos++) << FBits;
        FBits += 8;
        --FBlockLeft;
        return true;
    }

    bool ReadSubBlockLength() {
        if (FTerminated) return false;
        const int length = FP.Peek();
        FP.Skip(1);
        if (length <= 0) { // the terminator, or no data left
            FTerminated = true;
            return false;
        }
        FBlockLeft = length;
        return true;
    }

    TReadPointer& FP;
    const int FClear;
    int FNext = 0;
    int FLimit = 0;
    int FWidth = 0;
    int FOld = 0;
    int FFirst = 0;
    bool FAfterClear = true;
    std::uint32_t FAccumulator = 0;
    int FBits = 0;
    int FBlockLeft = 0;
    bool FTerminated = false;
    int FSp = 0;
    std::uint16_t FPrefix[TableSize];
    std::uint16_t FSuffix[TableSize];
    std::uint16_t FStack[TableSize];
};

static_assert(MaxCodeWidth <= 16, "codes must fit the 32-bit accumulator with a byte to spare");

// The rows of an image in the order its data holds them.
class TRowOrder {
public:
    TRowOrder(int Height, bool Interlaced) : FHeight(Height), FInterlaced(Interlaced) {}
    int Row() const { return FRow; }
    // Moves to the next row; false when the rows are used up.
    bool Next() {
        if (!FInterlaced) return ++FRow < FHeight;
        static constexpr int Start[] = {0, 4, 2, 1};
        static constexpr int Step[] = {8, 8, 4, 2};
        FRow += Step[FPass];
        while (FRow >= FHeight) {
            if (++FPass == 4) return false;
            FRow = Start[FPass];
        }
        return true;
    }

private:
    int FHeight;
    bool FInterlaced;
    int FRow = 0;
    int FPass = 0;
};

const TColorTableBytes& NoColors() {
    static const TColorTableBytes none{};
    return none;
}

bool NearerWhite(const RGBQUAD& c) {
    return c.rgbRed + c.rgbGreen + c.rgbBlue > 3 * 255 / 2;
}

void CopyMonochrome(TBitmap& Bitmap, const BITMAPINFO& Info, const std::uint8_t* Bits) {
    const int rowSize = (Bitmap.Width() + 31) / 32 * 4;
    const bool white0 = NearerWhite(Info.bmiColors[0]);
    const bool white1 = NearerWhite(Info.bmiColors[1]);
    for (int y = 0; y < Bitmap.Height(); ++y) {
        const int from = Info.bmiHeader.biHeight < 0 ? y : Bitmap.Height() - 1 - y;
        const std::uint8_t* src = Bits + static_cast<std::ptrdiff_t>(from) * rowSize;
        auto* dst = static_cast<std::uint8_t*>(Bitmap.ScanLine(y));
        if (white1 && !white0)
            std::memcpy(dst, src, static_cast<std::size_t>(rowSize));
        else
            for (int i = 0; i < rowSize; ++i)
                dst[i] =
                    static_cast<std::uint8_t>(white0 == white1 ? (white0 ? 0xFF : 0) : ~src[i]);
    }
}

void CopyIndexed(TBitmap& Bitmap, const BITMAPINFO& Info, const std::uint8_t* Bits) {
    std::uint32_t colors[256];
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& c = Info.bmiColors[i];
        colors[i] = 0xFF000000u | (std::uint32_t{c.rgbRed} << 16) |
                    (std::uint32_t{c.rgbGreen} << 8) | c.rgbBlue;
    }
    const int width = Bitmap.Width();
    const int rowSize = (width + 3) & ~3;
    for (int y = 0; y < Bitmap.Height(); ++y) {
        const int from = Info.bmiHeader.biHeight < 0 ? y : Bitmap.Height() - 1 - y;
        const std::uint8_t* src = Bits + static_cast<std::ptrdiff_t>(from) * rowSize;
        auto* dst = static_cast<std::uint32_t*>(Bitmap.ScanLine(y));
        for (int x = 0; x < width; ++x)
            dst[x] = colors[src[x]];
    }
}

} // namespace

// ---- Module routines -------------------------------------------------------------------

HPALETTE MakeDIBPalette(const BITMAPINFO& Info) {
    TMaxLogPalette log{PaletteVersion, 0, {}};
    const DWORD count = Info.bmiHeader.biClrUsed;
    log.palNumEntries = static_cast<WORD>(count < 256 ? count : 256);
    for (int i = 0; i < log.palNumEntries; ++i) {
        const RGBQUAD& c = Info.bmiColors[i];
        log.palPalEntry[i] = {c.rgbRed, c.rgbGreen, c.rgbBlue, 0};
    }
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(&log));
}

void MakeDIBBitmap(TBitmap& Bitmap, const BITMAPINFO& Info, const std::uint8_t* Bits) {
    const bool mono = Info.bmiHeader.biBitCount == 1;
    Bitmap.SetPalette(MakeDIBPalette(Info));
    Bitmap.SetPixelFormat(mono ? pf1bit : pfDevice);
    Bitmap.SetSize(Info.bmiHeader.biWidth, std::abs(Info.bmiHeader.biHeight));
    if (mono)
        CopyMonochrome(Bitmap, Info, Bits);
    else
        CopyIndexed(Bitmap, Info, Bits);
}

// ---- TFrame ----------------------------------------------------------------------------

TFrame::TFrame(TFrameOwner* Owner) : FOwner(Owner), FBitmap(std::make_unique<TBitmap>()) {}

TFrame::~TFrame() = default;

void TFrame::ReadExtension(const TExtensionRecord& Extension) {
    const std::uint8_t flags = Extension[1];
    const std::uint8_t method = (flags >> 2) & 7;
    FDisposal = method <= 3 ? method : 2;
    FDelay = (Extension[2] | (Extension[3] << 8)) * 10;
    FTransparent = (flags & 1) != 0;
    FTransparentIndex = Extension[4];
}

bool TFrame::Read(TReadPointer& P, const TColorTableBytes* GlobalColors,
                  const TExtensionRecord& Extension) {
    std::uint8_t d[10]; // separator, left, top, width, height, flags
    if (P.Peek() != ImageSeparator || !P.Take(d, sizeof d)) return false;
    FLeft = d[1] | (d[2] << 8);
    FTop = d[3] | (d[4] << 8);
    FWidth = d[5] | (d[6] << 8);
    FHeight = d[7] | (d[8] << 8);
    const std::uint8_t flags = d[9];

    FHasLocalColorTable = (flags & 0x80) != 0;
    if (FHasLocalColorTable) {
        FBitsPerPixel = (flags & 7) + 1;
        FLocalColors = std::make_unique<TColorTableBytes>();
        if (!P.Take(FLocalColors->data(), std::size_t{3} << FBitsPerPixel)) return false;
        FColorTable = FLocalColors.get();
    } else {
        FBitsPerPixel = 0;
        FColorTable = GlobalColors ? GlobalColors : &NoColors();
    }
    FInterlaced = (flags & 0x40) != 0;
    ReadExtension(Extension);

    const int codeSize = P.Peek();
    if (codeSize < 0 || codeSize > MaxCodeSize) return false;
    const std::int64_t pixels = std::int64_t{FWidth} * FHeight;
    if (pixels > vt::MaxBitmapPixels || (FOwner && !FOwner->ClaimPixels(pixels))) return false;

    if (FDisposal == 3) {
        FSavedImage = std::make_unique<TBitmap>();
        FSavedImage->SetSize(FWidth, FHeight);
        FSavedMask = std::make_unique<TBitmap>();
        FSavedMask->SetMonochrome(true);
        FSavedMask->SetSize(FWidth, FHeight);
    }

    // The buffers are zero-filled, so rows the data does not reach keep index 0.
    const int pixelRowSize = (FWidth + 3) & ~3;
    const int maskRowSize = (FWidth + 31) / 32 * 4;
    auto pixelBuffer = std::make_unique<std::uint8_t[]>(std::size_t(pixelRowSize) * FHeight);
    std::unique_ptr<std::uint8_t[]> maskBuffer;
    if (FTransparent) {
        FMaskBitmap = std::make_unique<TBitmap>();
        maskBuffer = std::make_unique<std::uint8_t[]>(std::size_t(maskRowSize) * FHeight);
    }
    auto info = std::make_unique<BITMAPINFO>();

    Decode(P, pixelBuffer.get(), maskRowSize, pixelRowSize, maskBuffer.get());

    const int depth = FHasLocalColorTable ? FBitsPerPixel : (FOwner ? FOwner->ColorDepth() : 8);
    FillHeader(*info, 8, 1 << depth, pixelRowSize);
    for (int i = 0; i < 256; ++i)
        info->bmiColors[i] = {(*FColorTable)[3 * i + 2], (*FColorTable)[3 * i + 1],
                              (*FColorTable)[3 * i], 0};
    MakeDIBBitmap(*FBitmap, *info, pixelBuffer.get());

    if (FTransparent) {
        FillHeader(*info, 1, 2, maskRowSize);
        info->bmiColors[0] = {0, 0, 0, 0};
        info->bmiColors[1] = {255, 255, 255, 0};
        MakeDIBBitmap(*FMaskBitmap, *info, maskBuffer.get());
        // Transparent pixels turn black, ready for the and-then-xor drawing.
        FBitmap->Canvas()->BitBlt(0, 0, FWidth, FHeight, FMaskBitmap->Canvas(), 0, 0, DSTANDNOTSRC);
    }
    return true;
}

void TFrame::FillHeader(BITMAPINFO& Info, int Bits, int Colors, int RowSize) const {
    Info.bmiHeader = {};
    Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Info.bmiHeader.biWidth = FWidth;
    Info.bmiHeader.biHeight = -FHeight; // top row first
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = static_cast<WORD>(Bits);
    Info.bmiHeader.biCompression = BI_RGB;
    Info.bmiHeader.biSizeImage = static_cast<DWORD>(RowSize) * static_cast<DWORD>(FHeight);
    Info.bmiHeader.biClrUsed = static_cast<DWORD>(Colors);
}

int TFrame::Decode(TReadPointer& P, std::uint8_t* Pixels, int MaskRowSize, int PixelRowSize,
                   std::uint8_t* Mask) {
    const int codeSize = P.Peek();
    P.Skip(1);
    if (codeSize < 0 || codeSize > MaxCodeSize) return -1;
    TLzwState lzw(P, codeSize);

    const bool progress =
        FOwner && FOwner->HasProgressHandler() && std::int64_t{FWidth} * FHeight > ProgressPixels;
    const int progressMask = FWidth <= 320 ? 63 : 31;
    const bool masked = FTransparent && Mask;
    int result = 0;
    if (FWidth > 0 && FHeight > 0) {
        TRowOrder rows(FHeight, FInterlaced);
        std::uint16_t run[TableSize];
        do {
            const int row = rows.Row();
            std::uint8_t* out = Pixels + static_cast<std::ptrdiff_t>(row) * PixelRowSize;
            std::uint8_t* maskRow =
                masked ? Mask + static_cast<std::ptrdiff_t>(row) * MaskRowSize : nullptr;
            for (int x = 0; x < FWidth;) {
                int n = lzw.Drain(run, FWidth - x);
                if (n == 0) {
                    const int v = lzw.NextPixel();
                    if (v < 0) {
                        result = v;
                        break;
                    }
                    run[0] = static_cast<std::uint16_t>(v);
                    n = 1;
                }
                for (int i = 0; i < n; ++i, ++x) {
                    out[x] = static_cast<std::uint8_t>(run[i]);
                    if (maskRow && run[i] == FTransparentIndex)
                        maskRow[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
                }
            }
            if (result < 0) break;
            if (progress && (row & progressMask) == 0) FOwner->DoProgress(P.Offset());
        } while (rows.Next());
    }
    // The rest of the data, up to the end code and the terminator, is read and dropped.
    while (result >= 0)
        result = lzw.NextPixel();
    return result;
}

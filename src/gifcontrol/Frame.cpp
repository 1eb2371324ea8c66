#include "gifcontrol/Frame.h"

#include "gifcontrol/FrameDecoder.h"
#include "platform/gdi/Canvas.h"

#include <algorithm>
#include <vector>

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint8_t ImageSeparator = 0x2C;
// Above this many pixels a frame reports progress while it decodes.
constexpr std::int64_t ProgressPixels = 100000;

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

// The image's data sub-blocks joined into one run; P moves past their terminator (or to
// the end of a file cut short).
std::vector<std::uint8_t> JoinSubBlocks(TReadPointer& P) {
    std::size_t size = 0;
    for (TReadPointer walk = P; !walk.AtEnd();) {
        const std::size_t length = *walk.Pos++;
        if (length == 0) break;
        size += std::min(length, walk.Left());
        walk.Skip(length);
    }
    std::vector<std::uint8_t> data;
    data.reserve(size);
    while (!P.AtEnd()) {
        const std::size_t length = *P.Pos++;
        if (length == 0) break;
        const std::size_t held = std::min(length, P.Left());
        data.insert(data.end(), P.Pos, P.Pos + held);
        P.Skip(held);
    }
    return data;
}

// Copies N pixels; narrow rows (a column has one pixel a row) without a call per row.
void CopyPixels(std::uint8_t* To, const std::uint8_t* From, std::size_t N, std::size_t Width) {
    if (Width < 16) {
        for (std::size_t i = 0; i < N; ++i)
            To[i] = From[i];
    } else {
        std::memcpy(To, From, N);
    }
}

// Copies Count pixels, in coded order, into rows of Width pixels, RowSize bytes apart.
void PlaceRows(const std::uint8_t* Coded, std::size_t Count, int Width, int Height, bool Interlaced,
               std::uint8_t* Rows, int RowSize) {
    const auto width = static_cast<std::size_t>(Width);
    if (!Interlaced) {
        for (; Count >= width; Count -= width, Coded += width, Rows += RowSize)
            CopyPixels(Rows, Coded, width, width);
        CopyPixels(Rows, Coded, Count, width); // a row left unfinished
        return;
    }
    TRowOrder order(Height, true);
    for (;;) {
        const std::size_t n = std::min(width, Count);
        CopyPixels(Rows + static_cast<std::ptrdiff_t>(order.Row()) * RowSize, Coded, n, width);
        Coded += n;
        Count -= n;
        if (Count == 0 || !order.Next()) return;
    }
}

const TColorTableBytes& NoColors() {
    static const TColorTableBytes none{};
    return none;
}

bool NearerWhite(const RGBQUAD& c) {
    return c.rgbRed + c.rgbGreen + c.rgbBlue > 3 * 255 / 2;
}

void CopyMonochrome(TBitmap& Bitmap, const BITMAPINFO& Info, const std::uint8_t* Bits) {
    if (Bitmap.Width() == 0 || Bitmap.Height() == 0) return; // no pixels to write
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
    const int width = Bitmap.Width(), height = Bitmap.Height();
    if (width == 0 || height == 0) return;
    std::uint32_t colors[256];
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& c = Info.bmiColors[i];
        colors[i] = 0xFF000000u | (std::uint32_t{c.rgbRed} << 16) |
                    (std::uint32_t{c.rgbGreen} << 8) | c.rgbBlue;
    }
    const std::ptrdiff_t rowSize = (width + 3) & ~3;
    // Top row first, or bottom row first.
    const bool topDown = Info.bmiHeader.biHeight < 0;
    const std::uint8_t* src = topDown ? Bits : Bits + (height - 1) * rowSize;
    const std::ptrdiff_t srcStep = topDown ? rowSize : -rowSize;
    auto* dst = static_cast<std::uint8_t*>(Bitmap.ScanLine(0));
    const std::ptrdiff_t stride = Bitmap.BytesPerScanLine();
    for (int y = 0; y < height; ++y, src += srcStep, dst += stride) {
        auto* out = reinterpret_cast<std::uint32_t*>(dst);
        for (int x = 0; x < width; ++x)
            out[x] = colors[src[x]];
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
    const std::int64_t dataStart = P.Offset();
    const std::vector<std::uint8_t> data = JoinSubBlocks(P);
    TFrameDecoder lzw(data.data(), data.size(), codeSize);
    const bool masked = FTransparent && Mask;
    if (masked) lzw.SetTransparentIndex(FTransparentIndex);

    const std::size_t pixels =
        FWidth > 0 && FHeight > 0 ? static_cast<std::size_t>(FWidth) * FHeight : 0;
    if (pixels > 0) {
        // Rows that lie one after the other in coded order take the pixels directly.
        const bool direct = !FInterlaced && PixelRowSize == FWidth;
        std::unique_ptr<std::uint8_t[]> scratch;
        std::uint8_t* coded = Pixels;
        if (!direct) {
            scratch.reset(new std::uint8_t[pixels]);
            coded = scratch.get();
        }
        const std::size_t count =
            std::min(ExpandRows(lzw, coded, dataStart, P.Offset(), data.size()), pixels);
        if (direct) {
            // The block copies may leave stray bytes behind the last pixel: rows the data
            // does not reach keep index 0.
            std::memset(Pixels + count, 0, std::min(vt::lzw::CopyBlock, pixels - count));
        } else if (count > 0) {
            PlaceRows(coded, count, FWidth, FHeight, FInterlaced, Pixels, PixelRowSize);
        }
        if (masked) MarkTransparent(lzw, count, Pixels, PixelRowSize, Mask, MaskRowSize);
    }
    // The rest of the data, up to the end code, is read and dropped.
    lzw.Expand(nullptr, 0, SIZE_MAX);
    return lzw.Result();
}

std::size_t TFrame::ExpandRows(TFrameDecoder& Lzw, std::uint8_t* Coded, std::int64_t DataStart,
                               std::int64_t DataEnd, std::size_t DataSize) {
    const std::size_t pixels = static_cast<std::size_t>(FWidth) * FHeight;
    const bool progress =
        FOwner && FOwner->HasProgressHandler() && std::int64_t{FWidth} * FHeight > ProgressPixels;
    if (!progress) return Lzw.Expand(Coded, pixels, pixels);
    // Every few rows, as far as the data reaches: how far through the file the decoder is.
    const int progressMask = FWidth <= 320 ? 63 : 31;
    TRowOrder rows(FHeight, FInterlaced);
    std::size_t until = 0;
    do {
        until += static_cast<std::size_t>(FWidth);
        if (Lzw.Expand(Coded, pixels, until) < until) break;
        if ((rows.Row() & progressMask) == 0) {
            const std::int64_t read = std::min(Lzw.Consumed(), DataSize);
            FOwner->DoProgress(DataStart +
                               (DataEnd - DataStart) * static_cast<std::int64_t>(read) /
                                   static_cast<std::int64_t>(std::max<std::size_t>(DataSize, 1)));
        }
    } while (rows.Next());
    return Lzw.Expand(Coded, pixels, 0);
}

void TFrame::MarkTransparent(const TFrameDecoder& Lzw, std::size_t Count,
                             const std::uint8_t* Pixels, int PixelRowSize, std::uint8_t* Mask,
                             int MaskRowSize) const {
    TRowOrder rows(FHeight, FInterlaced);
    for (std::size_t done = 0; done < Count;) {
        const std::size_t n = std::min(static_cast<std::size_t>(FWidth), Count - done);
        const std::uint8_t* row = Pixels + static_cast<std::ptrdiff_t>(rows.Row()) * PixelRowSize;
        std::uint8_t* maskRow = Mask + static_cast<std::ptrdiff_t>(rows.Row()) * MaskRowSize;
        for (std::size_t x = 0; x < n; ++x) {
            if (row[x] == FTransparentIndex && !Lzw.Opaque(done + x))
                maskRow[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        }
        done += n;
        if (!rows.Next()) break;
    }
}

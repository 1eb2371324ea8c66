#include "platform/gdi/Bitmap.h"

#include "platform/gdi/GdiInternal.h"
#include "platform/gdi/QtGdi.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <QBuffer>
#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
    case pf1bit:
        return 1;
    case pf8bit:
        return 8;
    case pf24bit:
        return 24;
    case pf32bit:
    case pfDevice:
        break;
    }
    return 32;
}

// Rows padded to whole 32-bit words, as device-independent bitmaps have them.
int StrideOf(TPixelFormat format, int width) {
    return static_cast<int>((static_cast<std::int64_t>(width) * BitsPerPixel(format) + 31) / 32 *
                            4);
}

constexpr std::uint32_t White = 0xFFFFFF;

std::uint32_t Distance(std::uint32_t a, std::uint32_t b) {
    const int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
    const int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
    const int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
    return static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
}

bool IsNearerWhite(std::uint32_t rgb) {
    return Distance(rgb, White) < Distance(rgb, 0);
}

} // namespace

TBitmap::TBitmap() {
    UpdateIndexColors();
}

TBitmap::~TBitmap() {
    if (FPalette) DeleteObject(FPalette);
}

// ---- Pixels -------------------------------------------------------------------------

std::uint32_t TBitmap::StoredIn(TPixelFormat format, const std::uint8_t* row, int x) {
    switch (format) {
    case pf1bit:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case pf8bit:
        return row[x];
    case pf24bit: {
        const std::uint8_t* p = row + x * 3;
        return p[0] | (p[1] << 8) | (p[2] << 16);
    }
    case pf32bit:
    case pfDevice:
        break;
    }
    std::uint32_t v;
    std::memcpy(&v, row + x * 4, 4);
    return v & 0xFFFFFF;
}

std::uint32_t TBitmap::StoredAt(int x, int y) const {
    return StoredIn(FPixelFormat, Row(y), x);
}

void TBitmap::Store(int x, int y, std::uint32_t value) {
    std::uint8_t* row = Row(y);
    switch (FPixelFormat) {
    case pf1bit: {
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        row[x >> 3] =
            static_cast<std::uint8_t>((value & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
        return;
    }
    case pf8bit:
        row[x] = static_cast<std::uint8_t>(value);
        return;
    case pf24bit: {
        std::uint8_t* p = row + x * 3;
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
        p[2] = static_cast<std::uint8_t>(value >> 16);
        return;
    }
    case pf32bit:
    case pfDevice:
        break;
    }
    const std::uint32_t v = 0xFF000000 | (value & 0xFFFFFF);
    std::memcpy(row + x * 4, &v, 4);
}

std::uint32_t TBitmap::RgbOf(TPixelFormat format, std::uint32_t stored) const {
    switch (format) {
    case pf1bit:
        return stored ? White : 0;
    case pf8bit:
        return FIndexColors[stored];
    default:
        return stored;
    }
}

std::uint32_t TBitmap::PixelRgb(int x, int y) const {
    return RgbOf(FPixelFormat, StoredAt(x, y));
}

std::uint32_t TBitmap::ColorRgb(TColor color) const {
    const auto c = static_cast<std::uint32_t>(color);
    if ((c >> 24) == 0x01) {
        const std::uint32_t index = c & 0xFFFF;
        return FIndexColors[index < 256 ? index : 0];
    }
    return vt::SwapRB(static_cast<std::uint32_t>(ColorToRGB(color)));
}

std::uint8_t TBitmap::NearestIndex(std::uint32_t rgb) const {
    if (rgb == FLastRgb) return FLastIndex;
    std::uint8_t best = 0;
    std::uint32_t bestDistance = ~0u;
    for (int i = 0; i < FIndexCount && bestDistance != 0; ++i) {
        const std::uint32_t d = Distance(rgb, FIndexColors[i]);
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<std::uint8_t>(i);
        }
    }
    FLastRgb = rgb;
    FLastIndex = best;
    return best;
}

std::uint32_t TBitmap::StoredValue(std::uint32_t rgb) const {
    switch (FPixelFormat) {
    case pf1bit:
        return IsNearerWhite(rgb) ? 1 : 0;
    case pf8bit:
        return NearestIndex(rgb);
    default:
        return rgb;
    }
}

std::uint32_t TBitmap::StoredValueOf(TColor color) const {
    const auto c = static_cast<std::uint32_t>(color);
    if (FPixelFormat == pf8bit && (c >> 24) == 0x01) {
        const std::uint32_t index = c & 0xFFFF;
        return index < 256 ? index : 0;
    }
    return StoredValue(ColorRgb(color));
}

void TBitmap::SetPixelColor(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
    Changing();
    Store(x, y, StoredValueOf(color));
    FireChanged();
}

TColor TBitmap::TransparentColor() {
    if (GetEmpty()) return clNone;
    return static_cast<TColor>(vt::SwapRB(PixelRgb(0, FHeight - 1)));
}

void* TBitmap::ScanLine(int row) {
    if (row < 0 || row >= FHeight) throw EInvalidGraphicOperation("Scan line index out of range");
    return Row(row);
}

// ---- Change notification --------------------------------------------------------------

void TBitmap::Changing() {
    if (OnChanging) OnChanging(this);
}

void TBitmap::FireChanged() {
    Changed();
}

// ---- Size, format and palette ------------------------------------------------------------

void TBitmap::Reformat(TPixelFormat format, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width > vt::MaxBitmapSide || height > vt::MaxBitmapSide ||
        static_cast<std::int64_t>(width) * height > vt::MaxBitmapPixels)
        throw EOutOfResources("Out of system resources");

    // The new store first, so a failure leaves the bitmap as it was.
    const int stride = StrideOf(format, width);
    std::unique_ptr<std::uint8_t[]> bits;
    if (width > 0 && height > 0) {
        bits.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(stride) * height]);
        if (!bits) throw EOutOfResources("Out of system resources");
    }

    // The old store stays readable until the pixels are carried over; the palette
    // does not change here, so old indexes keep their colours.
    const TPixelFormat oldFormat = FPixelFormat;
    const int oldWidth = FWidth;
    const int oldHeight = FHeight;
    const int oldStride = FStride;
    const std::unique_ptr<std::uint8_t[]> oldBits = std::move(FBits);

    FPixelFormat = format;
    FWidth = width;
    FHeight = height;
    FStride = stride;
    FBits = std::move(bits);
    if (!FBits) return;

    // New pixels are white; a palette bitmap starts at index 0.
    std::memset(FBits.get(), format == pf8bit ? 0 : 0xFF,
                static_cast<std::size_t>(stride) * height);
    const int w = std::min(width, oldWidth);
    const int h = std::min(height, oldHeight);
    if (!oldBits || w == 0 || h == 0) return;
    const auto oldRow = [&](int y) {
        return oldBits.get() + static_cast<std::ptrdiff_t>(y) * oldStride;
    };
    if (format == oldFormat && format != pf1bit) {
        const std::size_t bytes = static_cast<std::size_t>(w) * BitsPerPixel(format) / 8;
        for (int y = 0; y < h; ++y)
            std::memcpy(Row(y), oldRow(y), bytes);
        return;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t old = StoredIn(oldFormat, oldRow(y), x);
            Store(x, y, format == oldFormat ? old : StoredValue(RgbOf(oldFormat, old)));
        }
}

void TBitmap::SetWidth(int value) {
    SetSize(value, FHeight);
}

void TBitmap::SetHeight(int value) {
    SetSize(FWidth, value);
}

void TBitmap::SetSize(int width, int height) {
    if (std::max(width, 0) == FWidth && std::max(height, 0) == FHeight) return;
    Changing();
    Reformat(FPixelFormat, width, height);
    FireChanged();
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
    if (value == FPixelFormat) return;
    Changing();
    Reformat(value, FWidth, FHeight);
    FireChanged();
}

void TBitmap::SetMonochrome(bool value) {
    if (value != Monochrome()) SetPixelFormat(value ? pf1bit : pfDevice);
}

TCanvas* TBitmap::Canvas() {
    // Made on first use: most bitmaps (decoded frames among them) are never drawn on.
    if (!FCanvas) FCanvas.reset(new TCanvas(this));
    return FCanvas.get();
}

void TBitmap::ReadIndexColors(HPALETTE palette, std::array<std::uint32_t, 256>& colors,
                              int& count) {
    PALETTEENTRY entries[MaxPaletteEntries];
    count = static_cast<int>(GetPaletteEntries(palette, 0, MaxPaletteEntries, entries));
    for (int i = 0; i < count; ++i)
        colors[i] = (entries[i].peRed << 16) | (entries[i].peGreen << 8) | entries[i].peBlue;
    std::fill(colors.begin() + count, colors.end(), count == 0 ? 0 : colors[0]);
}

void TBitmap::UpdateIndexColors() {
    if (FPalette) {
        ReadIndexColors(FPalette, FIndexColors, FIndexCount);
    } else {
        // The stock palette never changes: its colours are read once.
        struct Stock {
            std::array<std::uint32_t, 256> Colors{};
            int Count = 0;
        };
        static const Stock stock = [] {
            Stock s;
            ReadIndexColors(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), s.Colors,
                            s.Count);
            return s;
        }();
        FIndexColors = stock.Colors;
        FIndexCount = stock.Count;
    }
    FLastRgb = 0xFFFFFFFF;
}

void TBitmap::SetPalette(HPALETTE value) {
    if (value == FPalette) return;
    try {
        Changing();
    } catch (...) {
        DeleteObject(value); // the bitmap was given it, so it does not leak
        throw;
    }
    if (FPalette) DeleteObject(FPalette);
    FPalette = value;
    UpdateIndexColors();
    FireChanged();
}

HPALETTE TBitmap::ReleasePalette() {
    HPALETTE palette = FPalette;
    FPalette = nullptr;
    UpdateIndexColors();
    return palette;
}

// ---- As a graphic -------------------------------------------------------------------------

void TBitmap::Assign(TGraphic* source) {
    if (source == this) return;
    Changing();
    if (!source) {
        Reformat(FPixelFormat, 0, 0);
    } else if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        if (FPalette) DeleteObject(FPalette);
        FPalette = bitmap->FPalette ? CopyPalette(bitmap->FPalette) : nullptr;
        UpdateIndexColors();
        FBits.reset();
        FWidth = FHeight = 0;
        Reformat(bitmap->FPixelFormat, bitmap->FWidth, bitmap->FHeight);
        if (FBits)
            std::memcpy(FBits.get(), bitmap->FBits.get(),
                        static_cast<std::size_t>(FStride) * FHeight);
        SetTransparent(bitmap->Transparent());
    } else {
        // Any other graphic is rendered at its own size.
        Reformat(pfDevice, 0, 0);
        Reformat(pfDevice, source->Width(), source->Height());
        if (FBits) source->Draw(Canvas(), Rect(0, 0, FWidth, FHeight));
    }
    FireChanged();
}

void TBitmap::Draw(TCanvas* canvas, const TRect& rect) {
    if (GetEmpty() || !canvas) return;
    if (Transparent())
        canvas->StretchTransparent(rect, *this, TransparentColor());
    else
        canvas->StretchBlt(rect, *this, Rect(0, 0, FWidth, FHeight), canvas->CopyMode());
}

// ---- Files, streams and the clipboard --------------------------------------------------------

namespace {

QByteArray Encode(const TBitmap& bitmap, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage image = vt::ImageView(bitmap);
    if (image.isNull() || !image.save(&buffer, format))
        throw EInvalidGraphicOperation("Cannot save an empty bitmap");
    return bytes;
}

void WriteAll(TStream* stream, const QByteArray& bytes) {
    stream->WriteBuffer(bytes.constData(), static_cast<std::int32_t>(bytes.size()));
}

} // namespace

void TBitmap::LoadFromStream(TStream* stream) {
    const std::int64_t size = stream->Size() - stream->Position();
    if (size <= 0 || size > std::int64_t{1} << 30)
        throw EInvalidGraphic("Bitmap image is not valid");
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    stream->ReadBuffer(bytes.data(), static_cast<std::int32_t>(size));

    // Only the bitmap's own formats: BMP, and PNG for pictures saved here.
    const char* format = bytes.startsWith("BM")        ? "BMP"
                         : bytes.startsWith("\x89PNG") ? "PNG"
                                                       : nullptr;
    if (!format) throw EInvalidGraphic("Bitmap image is not valid");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize dimensions = reader.size();
    if (!dimensions.isValid() ||
        static_cast<std::int64_t>(dimensions.width()) * dimensions.height() > vt::MaxBitmapPixels)
        throw EInvalidGraphic("Bitmap image is not valid");
    QImage image;
    if (!reader.read(&image)) throw EInvalidGraphic("Bitmap image is not valid");

    Changing();
    if (image.format() == QImage::Format_Indexed8) {
        TMaxLogPalette log{PaletteVersion, 0, {}};
        const QList<QRgb> table = image.colorTable();
        log.palNumEntries = static_cast<WORD>(std::clamp<qsizetype>(table.size(), 1, 256));
        for (int i = 0; i < table.size() && i < 256; ++i)
            log.palPalEntry[i] = {static_cast<BYTE>(qRed(table[i])),
                                  static_cast<BYTE>(qGreen(table[i])),
                                  static_cast<BYTE>(qBlue(table[i])), 0};
        if (FPalette) DeleteObject(FPalette);
        FPalette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&log));
        UpdateIndexColors();
        FBits.reset();
        FWidth = FHeight = 0;
        Reformat(pf8bit, image.width(), image.height());
        for (int y = 0; y < FHeight; ++y)
            std::memcpy(Row(y), image.constScanLine(y), static_cast<std::size_t>(FWidth));
    } else {
        vt::FromQImage(*this, image);
    }
    FireChanged();
}

void TBitmap::SaveToStream(TStream* stream) {
    WriteAll(stream, Encode(*this, "BMP"));
}

void TBitmap::SaveToFile(const std::string& fileName) {
    const QByteArray bytes =
        Encode(*this, SameText(ExtractFileExt(fileName), ".png") ? "PNG" : "BMP");
    TFileStream stream(fileName, fmCreate);
    WriteAll(&stream, bytes);
}

void TBitmap::LoadFromClipboardFormat(WORD format, THandle, HPALETTE) {
    vt::EnsureGuiApplication();
    const QImage image = format == CF_BITMAP ? QGuiApplication::clipboard()->image() : QImage();
    if (image.isNull()) throw EInvalidGraphic("Unsupported clipboard format");
    Changing();
    vt::FromQImage(*this, image);
    FireChanged();
}

void TBitmap::SaveToClipboardFormat(WORD& format, THandle& data, HPALETTE& palette) {
    vt::EnsureGuiApplication();
    QGuiApplication::clipboard()->setImage(vt::ToQImage(*this));
    format = CF_BITMAP;
    data = 0;
    palette = FPalette ? CopyPalette(FPalette) : nullptr;
}

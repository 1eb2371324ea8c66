#pragma once
// The LZW decoder of GIF image data and the rasterisation of one image into a bitmap.

#include "platform/runtime/Classes.h"

#include <cstddef>
#include <cstdint>

class TBitmap;
class TMemoryStream;
class TRasterData;
class TImageDescriptor;

namespace vt {

// Where decoded palette indexes go: Height rows of Width bytes, Stride bytes apart.
struct TPixelRows {
    std::uint8_t* Base = nullptr;
    std::ptrdiff_t Stride = 0;
    int Width = 0;
    int Height = 0;
    std::uint8_t* Row(int Y) const { return Base + Y * Stride; }
};

} // namespace vt

class TDecoder : public TObject {
public:
    // Raises EInvalidGraphicOperation "Invalid LZW Code Size: %d" unless ACodeSize is 2..9.
    // The source stays the caller's; decoding starts at its first byte.
    TDecoder(int ACodeSize, TMemoryStream* ASource);

    // Decodes the whole code stream into the bitmap's pixels as palette indexes (the
    // bitmap is made 8-bit first). Ends at the end code or where the data ends.
    void Decode(TBitmap* Bitmap, bool Interlaced);
    void Decode(const vt::TPixelRows& Target, bool Interlaced);

    // The next code, or NoMoreData when the source ends before the code is complete.
    static constexpr int NoMoreData = -1;
    int ReadCode();

    int CodeSize() const { return FCodeSize; }
    int CodeWidth() const { return FCodeWidth; }
    int Row() const { return FRow; }
    int Pass() const { return FPass; }

private:
    static constexpr int MaxCodes = 4096;
    static constexpr int MaxCodeWidth = 12;
    struct TTable;

    int NextRow(int Height);
    void AdvanceRow();
    void CompleteRow();
    void WriteString(const TTable& Table, int Code);

    std::uint32_t FBitBuffer = 0; // unread bits, least significant first
    int FBitsLeft = 0;
    int FCodeSize;
    int FCodeWidth;
    int FClearCode;
    int FEndCode;
    int FMaxLiteral;
    int FRow = 0;
    int FPass = 0;
    const std::uint8_t* FSource;
    std::size_t FSourceSize;
    std::size_t FSourcePos = 0;

    // Output of one Decode run.
    vt::TPixelRows FTarget;
    bool FInterlaced = false;
    int FWidth = 0;
    int FHeight = 0;
    int FColumn = 0;
    std::uint8_t* FRowPixels = nullptr; // the row at FRow, nullptr outside the image
};

// Sizes the bitmap to the image, gives it the image's palette and decodes the raster
// data into it.
void RenderImage(TRasterData* RasterData, TImageDescriptor* Descriptor, TBitmap* Bitmap);

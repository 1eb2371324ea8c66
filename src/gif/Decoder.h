#pragma once
// The LZW decoder of GIF image data and the rasterisation of one image into a bitmap.

#include "gif/LzwCodes.h"
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
    // Every pixel is 0 before the decode (a bitmap just sized): pixels the code stream
    // does not reach may then be written as 0 again.
    bool Blank = false;
    std::uint8_t* Row(int Y) const { return Base + Y * Stride; }
};

} // namespace vt

class TDecoder : public TObject {
public:
    // Raises EInvalidGraphicOperation "Invalid LZW Code Size: %d" unless ACodeSize is 2..9.
    // The source stays the caller's; decoding starts at its first byte.
    TDecoder(int ACodeSize, TMemoryStream* ASource);

    // Decodes the whole code stream into the bitmap's pixels as palette indexes (the
    // bitmap is made 8-bit first). Ends at the end code or where the data ends; pixels
    // the code stream does not reach keep their values.
    void Decode(TBitmap* Bitmap, bool Interlaced);
    void Decode(const vt::TPixelRows& Target, bool Interlaced);
    // The rows of an 8-bit bitmap.
    static vt::TPixelRows PixelRows(TBitmap* Bitmap);

    // The next code, or NoMoreData when the source ends before the code is complete.
    static constexpr int NoMoreData = vt::lzw::TCodeReader::NoMoreData;
    int ReadCode() { return FReader.Read(FCodeWidth); }

    int CodeSize() const { return FCodeSize; }
    int CodeWidth() const { return FCodeWidth; }
    int Row() const { return FRow; }
    int Pass() const { return FPass; }

private:
    static constexpr int MaxCodes = 4096;
    static constexpr int MaxCodeWidth = 12;

    // Expands the code stream into Out, pixel after pixel in coded order; pixels beyond
    // Capacity are dropped. Returns the number of pixels coded.
    std::size_t Expand(std::uint8_t* Out, std::size_t Capacity);
    // Puts Count pixels in coded order into the target's rows.
    void PlaceRows(const std::uint8_t* Pixels, std::size_t Count, const vt::TPixelRows& Target,
                   bool Interlaced);
    int NextRow(int Height);

    vt::lzw::TCodeReader FReader;
    int FCodeSize;
    int FCodeWidth;
    int FClearCode;
    int FEndCode;
    int FMaxLiteral;
    int FRow = 0;
    int FPass = 0;
};

// Sizes the bitmap to the image, gives it the image's palette and decodes the raster
// data into it.
void RenderImage(TRasterData* RasterData, TImageDescriptor* Descriptor, TBitmap* Bitmap);

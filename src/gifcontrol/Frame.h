#pragma once
// TFrame: one image of a GIF file as the animated control plays it. It reads the image
// descriptor, the local colour table and the LZW data at the control's read pointer,
// tolerantly (codes beyond the table, a full table and truncated data are no errors),
// and turns the pixels into bitmaps ready for mask-and-invert composition.

#include "gifcontrol/ReadPointer.h"
#include "platform/gdi/Bitmap.h"
#include "platform/gdi/GdiTypes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// The graphic control extension as copied from the file: block size, flags, delay
// (16-bit little-endian, hundredths of a second), transparent index, terminator.
using TExtensionRecord = std::array<std::uint8_t, 6>;
// 256 RGB triples.
using TColorTableBytes = std::array<std::uint8_t, 768>;

// What a frame needs of the control that reads it.
class TFrameOwner {
public:
    virtual ~TFrameOwner() = default;
    // Bits of the colour table in force for frames without a local one.
    virtual int ColorDepth() const = 0;
    virtual bool HasProgressHandler() const = 0;
    // Reports loading progress; raises EAbort when the handler stops the load.
    virtual void DoProgress(std::int64_t BytesProcessed) = 0;
    // Counts a frame's pixels against the file's budget before any buffer is made; false
    // refuses the frame.
    virtual bool ClaimPixels(std::int64_t Pixels) = 0;
};

class TFrameDecoder;

class TFrame {
public:
    // The largest code size byte whose clear code fits the 4096-entry string tables.
    static constexpr int MaxCodeSize = 11;

    explicit TFrame(TFrameOwner* Owner);
    virtual ~TFrame();
    TFrame(const TFrame&) = delete;
    TFrame& operator=(const TFrame&) = delete;

    // Decodes the image data at the read pointer into the pixel buffer (rows of
    // PixelRowSize bytes) and, for a transparent frame, the mask buffer (rows of
    // MaskRowSize bytes, 1 = transparent). Consumes the data up to its terminator and
    // returns the code reader's final result: -1 data exhausted, -2 end code.
    virtual int Decode(TReadPointer& P, std::uint8_t* Pixels, int MaskRowSize, int PixelRowSize,
                       std::uint8_t* Mask);
    // Reads one image starting at its 0x2C separator and advances past its data. False
    // when the separator, the descriptor or the colour table is missing, the code size is
    // unusable or the owner refuses the frame's pixels.
    virtual bool Read(TReadPointer& P, const TColorTableBytes* GlobalColors,
                      const TExtensionRecord& Extension);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    TFrameOwner* Owner() const { return FOwner; }
    int BitsPerPixel() const { return FBitsPerPixel; }
    // Milliseconds.
    int Delay() const { return FDelay; }
    std::uint8_t Disposal() const { return FDisposal; }
    bool HasLocalColorTable() const { return FHasLocalColorTable; }
    bool Interlaced() const { return FInterlaced; }
    bool Transparent() const { return FTransparent; }
    std::uint8_t TransparentIndex() const { return FTransparentIndex; }
    const std::string& Comment() const { return FComment; }
    void SetComment(const std::string& Value) { FComment = Value; }
    const TColorTableBytes* ColorTable() const { return FColorTable; }
    // The image; transparent pixels are black.
    TBitmap* Bitmap() const { return FBitmap.get(); }
    // Transparent frames only (else null): 1 (white) = transparent.
    TBitmap* MaskBitmap() const { return FMaskBitmap.get(); }
    // Disposal 3 only (else null): the areas under the frame, saved before it is drawn.
    TBitmap* SavedImage() const { return FSavedImage.get(); }
    TBitmap* SavedMask() const { return FSavedMask.get(); }

private:
    void ReadExtension(const TExtensionRecord& Extension);
    // Expands the pixels in coded order into Coded, reporting progress by rows for large
    // frames; returns how many the data holds. DataStart..DataEnd: the data in the file.
    std::size_t ExpandRows(TFrameDecoder& Lzw, std::uint8_t* Coded, std::int64_t DataStart,
                           std::int64_t DataEnd, std::size_t DataSize);
    // Sets the mask bits of the first Count pixels (in coded order) that are transparent.
    void MarkTransparent(const TFrameDecoder& Lzw, std::size_t Count, const std::uint8_t* Pixels,
                         int PixelRowSize, std::uint8_t* Mask, int MaskRowSize) const;
    void FillHeader(BITMAPINFO& Info, int Bits, int Colors, int RowSize) const;

    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    TFrameOwner* FOwner; // not owned
    int FBitsPerPixel = 0;
    int FDelay = 0;
    std::uint8_t FDisposal = 0;
    bool FHasLocalColorTable = false;
    bool FInterlaced = false;
    bool FTransparent = false;
    std::uint8_t FTransparentIndex = 0;
    std::string FComment;
    const TColorTableBytes* FColorTable = nullptr; // FLocalColors or the owner's
    std::unique_ptr<TColorTableBytes> FLocalColors;
    std::unique_ptr<TBitmap> FBitmap;
    std::unique_ptr<TBitmap> FMaskBitmap;
    std::unique_ptr<TBitmap> FSavedImage;
    std::unique_ptr<TBitmap> FSavedMask;
};

// A logical palette with the info's colour count of entries, taken from its colours.
HPALETTE MakeDIBPalette(const BITMAPINFO& Info);
// Makes Bitmap the picture of the device-independent Bits described by Info, with the
// palette of MakeDIBPalette: an 8-bit picture becomes a true-colour bitmap, a 1-bit one
// (a mask) a monochrome bitmap.
void MakeDIBBitmap(TBitmap& Bitmap, const BITMAPINFO& Info, const std::uint8_t* Bits);

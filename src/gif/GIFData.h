#pragma once
// One loaded GIF file: its bytes, read once and lazily into frames. Shared by
// reference counting between the images that show it.

#include "gif/GIFBlocks.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Streams.h"

#include <cstdint>
#include <memory>
#include <string>

class TBitmap;
class TGIFFrame;
class TOwnedObjectList;

class TGIFData : public TObject {
public:
    // The block separators.
    static constexpr std::uint8_t ExtensionIntroducer = 0x21;
    static constexpr std::uint8_t ImageSeparator = 0x2C;
    static constexpr std::uint8_t Trailer = 0x3B;

    // The pixels all frame bitmaps of one file may take together (one byte each). Frames
    // are sized by their descriptors, not by their data, so without a bound a file of a
    // few kilobytes could claim gigabytes.
    static constexpr std::int64_t DefaultPixelLimit = std::int64_t{1} << 28;

    TGIFData();
    ~TGIFData() override;
    TGIFData(const TGIFData&) = delete;
    TGIFData& operator=(const TGIFData&) = delete;

    void AddRef() { ++FRefCount; }
    // Drops one reference and destroys the data with the last one; nullptr is ignored.
    static void Release(TGIFData* Data);
    std::int32_t RefCount() const { return FRefCount; }

    // The complete file, byte for byte (nullptr until one is given).
    TMemoryStream* Stream() const { return FStream.get(); }
    void SetStream(std::unique_ptr<TMemoryStream> AStream);

    // Parses the stream into frames unless that was done already. Without a stream there
    // is nothing to parse and no frame.
    void ReadFrames();
    int FrameCount();
    // EInvalidGraphicOperation "Invalid frame number %d (0..%d)" when Index >= FrameCount.
    void CheckFrameIndex(int Index);
    // Counts a frame of Pixels pixels against the limit before its bitmap is made;
    // EOutOfResources "Out of system resources" when the frames would exceed it.
    void ClaimPixels(std::int64_t Pixels);
    std::int64_t PixelLimit() const { return FPixelLimit; }
    void SetPixelLimit(std::int64_t Value) { FPixelLimit = Value; }
    TGIFFrame* Frame(int Index);
    TBitmap* FrameBitmap(int Index);
    int FrameDelay(int Index);

    // nullptr until parsed.
    TOwnedObjectList* Frames() const { return FFrames.get(); }
    TColorTable* GlobalColorTable() const { return FGlobalColorTable.get(); }
    std::uint16_t ScreenWidth() const { return FScreenWidth; }
    std::uint16_t ScreenHeight() const { return FScreenHeight; }
    std::uint8_t ScreenFlags() const { return FScreenFlags; }
    std::uint8_t BackgroundIndex() const { return FBackgroundIndex; }
    std::uint8_t AspectRatio() const { return FAspectRatio; }
    bool HasGlobalColorTable() const { return (FScreenFlags & 0x80) != 0; }
    int GlobalColorTableSize() const {
        return HasGlobalColorTable() ? 3 << ((FScreenFlags & 7) + 1) : 0;
    }

    // Reading routines, all at the stream's position. A read past the end of the data
    // raises EReadError "Stream read error".
    std::uint8_t ReadByte();
    std::uint16_t ReadWord();
    void ReadBytes(void* Destination, int Count);
    // A block of at most Expected bytes (0: any size); a longer block's excess is skipped.
    void ReadBlock(void* Destination, int Expected);
    void ReadSubBlockString(std::string& S);
    void ReadStrings(TStrings* List);
    void ReadSubBlocks(TStream* Target);
    std::uint8_t SkipSubBlock();
    void SkipSubBlocks();
    // The next block separator. At the end of the data, the incomplete-download error
    // naming the last byte of the data.
    std::uint8_t ReadSeparator();
    [[noreturn]] static void SeparatorError(std::uint8_t Separator);

private:
    void Skip(std::int64_t Count);

    std::int32_t FRefCount = 0;
    // Declared so that destruction frees the colour table, the frames, then the stream.
    std::unique_ptr<TMemoryStream> FStream;
    std::unique_ptr<TOwnedObjectList> FFrames;
    std::unique_ptr<TColorTable> FGlobalColorTable;
    std::uint16_t FScreenWidth = 0;
    std::uint16_t FScreenHeight = 0;
    std::uint8_t FScreenFlags = 0;
    std::uint8_t FBackgroundIndex = 0;
    std::uint8_t FAspectRatio = 0;
    std::int64_t FPixelLimit = DefaultPixelLimit;
    std::int64_t FClaimedPixels = 0;
};

#pragma once
// TGIFImage: the picture class for GIF files. It keeps the file's bytes in a shared
// TGIFData and draws the current frame stretched into any rectangle.

#include "platform/gdi/Graphic.h"

#include <cstdint>

class TBitmap;
class TGIFData;
class TTimerPool;

class TGIFImage : public TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;

    // nullptr empties the image; another TGIFImage shares its data; any other graphic
    // raises EInvalidGraphicOperation "Cannot assign to TGIFImage".
    void Assign(TGraphic* Source) override;
    // The current frame stretched into Rect; an image never loaded draws nothing.
    void Draw(TCanvas* Canvas, const TRect& Rect) override;
    // Clipped to the screen size and remembered; the image itself is not resized.
    void SetWidth(int Value) override;
    void SetHeight(int Value) override;

    // Reads the rest of the stream as a GIF file and selects its first frame.
    void LoadFromStream(TStream* Stream) override;
    // Writes the loaded file's bytes unchanged; EInvalidGraphicOperation "No GIF data"
    // without one.
    void SaveToStream(TStream* Stream) override;
    void LoadFromClipboardFormat(WORD Format, THandle Data, HPALETTE Palette) override;
    void SaveToClipboardFormat(WORD& Format, THandle& Data, HPALETTE& Palette) override;
    // A 32-bit little-endian length, then that many bytes of GIF file.
    void ReadData(TStream* Stream) override;
    void WriteData(TStream* Stream) override;

    int FrameCount();
    std::int32_t CurrentFrame() const { return FCurrentFrame; }
    // Clamped to the frames there are; selecting the current frame again does nothing.
    void SetCurrentFrame(int Index);
    // The frame after the current one, the first after the last.
    void NextFrame();
    TBitmap* CurrentBitmap();

    TGIFData* GIFData() const { return FGIFData; }
    std::int32_t RequestedWidth() const { return FRequestedWidth; }
    std::int32_t RequestedHeight() const { return FRequestedHeight; }
    std::int32_t TriggerHandle() const { return FTriggerHandle; }

protected:
    bool GetEmpty() override;
    int GetWidth() override;
    int GetHeight() override;

private:
    void NewData();
    void LoadData(std::int64_t Size, TStream* Stream);
    void TriggerFired(TObject* Sender, std::int32_t Handle, std::int32_t IntervalTicks,
                      std::int32_t ElapsedTicks);

    std::int32_t FTriggerHandle = -1;
    TGIFData* FGIFData = nullptr; // one counted reference
    std::int32_t FCurrentFrame = 0;
    std::int32_t FRequestedWidth = 0;
    std::int32_t FRequestedHeight = 0;
};

// The timer pool shared by all images: made with the first image, freed with the last.
TTimerPool* GIFTimerPool();

// Module start-up: registers TGIFImage for ".gif" files ("GIF", "Graphics Interchange
// Format"). The program calls it once at start-up; calling it again changes nothing.
void InitializeGifImg();
// Module shutdown: frees the shared timer pool if it still exists.
void FinalizeGifImg();

#pragma once
// TGIFImageControl: a windowless control that plays animated GIF files. It reads the file
// with its own tolerant reader (one TFrame per image), composes the frames onto an
// offscreen true-colour image and a 1-bit mask by each frame's disposal method and
// transparency, and paints that image plainly, centred, tiled, stretched, or stretched
// with the aspect ratio kept. A TTimerEx steps the animation on the GUI thread.
//
// Loads fail quietly: the result is false and GIFErrorCode says why.

#include "gifcontrol/Frame.h"
#include "platform/forms/GraphicControl.h"
#include "platform/messages/Thread.h"
#include "platform/runtime/Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TTimerEx;

// The status of the last operation of any animated control (GUI thread only).
enum : int {
    gifOk = 0,
    gifStopped = 1,       // the progress handler stopped the load
    gifNoData = 2,        // nothing to load
    gifLoading = 3,       // a load is in progress, or failed
    gifBadFrameIndex = 5, // a frame index outside 1..count
    gifFileNotFound = 7,
};
extern int GIFErrorCode;

// Loading progress: bytes of the file read so far, the file size, the rounded percentage;
// clearing KeepOnProcessing stops the load.
using TProgressEvent = std::function<void(TObject* Sender, int BytesProcessed, int BytesToProcess,
                                          int PercentageProcessed, bool& KeepOnProcessing)>;

class TGIFImageControl : public TGraphicControl, private TFrameOwner {
public:
    static constexpr int MaxFrames = 256;
    // The pixels all frames of one file may hold together (four bytes each, the same
    // bytes as the picture class's budget). Frames are sized by their descriptors, not
    // by their data: without a bound a file of a few kilobytes could claim gigabytes.
    static constexpr std::int64_t MaxFramePixels = std::int64_t{1} << 26;
    // The shortest frame time in milliseconds at Speed 100.
    static constexpr int MinDelay = 50;

    explicit TGIFImageControl(TComponent* AOwner);
    ~TGIFImageControl() override;

    // ---- Published properties
    bool Animate() const { return FAnimate; }
    void SetAnimate(bool Value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    bool Center() const { return FCenter; }
    void SetCenter(bool Value);
    // 1-based; the frame the next timer tick draws.
    int CurrentFrame() const { return FCurrentFrame; }
    void SetCurrentFrame(int Value);
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value);
    bool Loop() const { return FLoop; }
    void SetLoop(bool Value);
    // Percent; values below 1 become 1.
    int Speed() const { return FSpeed; }
    void SetSpeed(int Value);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool Value);
    bool StretchRatio() const { return FStretchRatio; }
    void SetStretchRatio(bool Value);
    bool Tile() const { return FTile; }
    void SetTile(bool Value);
    bool Threaded() const;
    void SetThreaded(bool Value);
    TThreadPriority ThreadPriority() const;
    void SetThreadPriority(TThreadPriority Value);
    // The image's own visibility; the control itself stays visible.
    bool Visible() const { return FImageVisible; }
    void SetVisible(bool Value) override;

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    TNotifyEvent OnWrapAnimation;

    // ---- Loading
    // False (and GIFErrorCode 7) for a missing file; false after any other failure,
    // with the control emptied.
    bool LoadFromFile(const std::string& Name);
    bool LoadFromStream(TMemoryStream* Stream);
    // The "Data" property as stored with a form: a 32-bit little-endian size, then the
    // file's bytes. Stored only when DataStored() is true.
    virtual void ReadData(TStream* Stream);
    virtual void WriteData(TStream* Stream);
    bool DataStored() { return FData.Size() > 0; }
    // The loaded file's bytes.
    TMemoryStream* Data() { return &FData; }

    // ---- State
    bool Empty() const { return FEmpty; }
    int FrameCount() const { return static_cast<int>(FFrames.size()); }
    // Frames 1..FrameCount; null outside.
    TFrame* Frames(int Index) const;
    int LoopCount() const { return FLoopCount; }
    int LoopsDone() const { return FLoopsDone; }
    int ColorDepth() const override { return FColorDepth; }
    int ImageWidth() const { return FImageWidth; }
    int ImageHeight() const { return FImageHeight; }
    bool AnyTransparent() const { return FAnyTransparent; }
    bool AnyInterlaced() const { return FAnyInterlaced; }
    // The composed picture and its mask (null while empty / without transparent frames).
    TBitmap* Image() const { return FImage.get(); }
    TBitmap* Mask() const { return FMask.get(); }
    TTimerEx* Timer() const { return FTimer.get(); }
    // The current frame's palette; null when there is none to show.
    HPALETTE GetPalette() const;

    // ---- Animation steps
    void TimerTick(TObject* Sender);
    void DrawFrame();
    void DisposeFrame(int Index);
    void Reset();
    void ClearAll();

protected:
    void Loaded() override;
    void Paint() override;
    // The paint handling on Canvas, whose origin is the control's top left: settles the
    // paint style, then paints the picture and lets the timer run.
    void HandlePaint(TCanvas* Canvas);
    void PaintTo(TCanvas* Canvas);
    // Reads the working stream into frames; false when it is no GIF file.
    virtual bool Parse();
    void DoProgress(std::int64_t BytesProcessed) override;

private:
    bool HasProgressHandler() const override { return static_cast<bool>(OnProgress); }
    bool ClaimPixels(std::int64_t Pixels) override;

    bool Load();
    void ReadBlocks(TReadPointer& P);
    bool ReadExtensionBlock(TReadPointer& P);
    bool ReadImage(TReadPointer& P);
    void MakeImage();
    // Frame time of the current frame in milliseconds at the current speed.
    int IntervalOf(int Frame) const;
    bool Finished() const { return !FLoop && FLoopCount > 0 && FLoopCount < FLoopsDone; }
    // The paint style and the timer that follow from the properties.
    void UpdatePaintStyle();
    bool WantsOpaque() const;
    void UpdateTimer();
    TRect DestinationRect() const;
    void PaintTransparent(TCanvas* Canvas, const TRect& Dest);
    void PaintOpaque(TCanvas* Canvas, const TRect& Dest);
    void Changed();
    void FireChanging();
    void FireChange();

    bool FAnimate = false;
    bool FAutoSize = false;
    bool FCenter = false;
    int FCurrentFrame = 1;
    std::string FFileName;
    bool FLoop = false;
    int FSpeed = 100;
    bool FStretch = false;
    bool FStretchRatio = false;
    bool FTile = false;
    bool FImageVisible = true;

    std::vector<std::unique_ptr<TFrame>> FFrames;
    int FLoopCount = 1;
    int FLoopsDone = 1;
    int FColorDepth = 0;
    TColorTableBytes FGlobalColors{};
    TExtensionRecord FExtension{};
    std::string FCommentText;
    int FImageWidth = 0;
    int FImageHeight = 0;
    bool FEmpty = true;
    bool FAnimated = false;
    bool FAnyTransparent = false;
    bool FAnyInterlaced = false;
    bool FFirstTick = true;
    bool FCapturePending = false;
    bool FStretched = false;
    bool FKeepOnProcessing = true;
    std::int64_t FPixelsClaimed = 0;
    std::unique_ptr<TBitmap> FImage;  // ImageDC: the composed picture
    std::unique_ptr<TBitmap> FMask;   // MaskDC: 1 (white) = transparent
    std::unique_ptr<TBitmap> FBuffer; // BufferDC: the background behind the control
    TMemoryStream FData;              // the loaded file, stored with the form
    TMemoryStream FWorking;           // the file while it is parsed
    std::unique_ptr<TTimerEx> FTimer;
};

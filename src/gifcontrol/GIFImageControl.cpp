// TGIFImageControl: lifetime, properties, composition and the animation's timer steps.
// Loading is in GIFImageControlParse.cpp, painting in GIFImageControlPaint.cpp.

#include "gifcontrol/GIFImageControl.h"

#include "util/TimerEx.h"

#include <algorithm>

int GIFErrorCode = gifOk;

TGIFImageControl::TGIFImageControl(TComponent* AOwner)
    : TGraphicControl(AOwner), FTimer(std::make_unique<TTimerEx>(nullptr)) {
    SetBounds(Left(), Top(), 105, 105);
    FTimer->SetEnabled(false);
    FTimer->SetOnTimer([this](TObject* Sender) { TimerTick(Sender); });
}

TGIFImageControl::~TGIFImageControl() {
    FTimer.reset();
    while (!FFrames.empty()) // last first
        FFrames.pop_back();
}

TFrame* TGIFImageControl::Frames(int Index) const {
    return Index >= 1 && Index <= FrameCount() ? FFrames[Index - 1].get() : nullptr;
}

HPALETTE TGIFImageControl::GetPalette() const {
    const TFrame* frame = Frames(FCurrentFrame);
    if (FEmpty || !FImageVisible || !frame) return nullptr;
    return frame->Bitmap()->Palette();
}

// ---- Properties -------------------------------------------------------------------------

void TGIFImageControl::Changed() {
    Invalidate();
}

void TGIFImageControl::SetAnimate(bool Value) {
    if (Value == FAnimate) return;
    FAnimate = Value;
    FLoopsDone = 1;
    if (Value && FrameCount() > 1) FTimer->SetInterval(IntervalOf(FCurrentFrame));
    FTimer->SetEnabled(Value && FAnimated && !FEmpty);
    // Stopping shows frame 1 again. Right after a wrap the next frame is already 1 while
    // the last frame is still on screen, so that one is disposed too.
    const bool lastOnScreen = FCurrentFrame == 1 && !FFirstTick && FrameCount() > 1;
    if (!Value && (FCurrentFrame >= 2 || lastOnScreen)) {
        DisposeFrame(lastOnScreen ? FrameCount() : FCurrentFrame - 1);
        FCurrentFrame = 1;
        DrawFrame();
        Invalidate();
    }
}

void TGIFImageControl::SetAutoSize(bool Value) {
    if (Value == FAutoSize) return;
    FAutoSize = Value;
    if (Value && !FEmpty) SetBounds(Left(), Top(), FImageWidth, FImageHeight);
    Changed();
}

void TGIFImageControl::SetCenter(bool Value) {
    if (Value == FCenter) return;
    FCenter = Value;
    Changed();
}

void TGIFImageControl::SetCurrentFrame(int Value) {
    if (Value == FCurrentFrame) return;
    if (Value < 1 || Value > FrameCount()) {
        GIFErrorCode = gifBadFrameIndex;
        return;
    }
    FireChanging();
    DisposeFrame(FCurrentFrame);
    FCurrentFrame = Value;
    DrawFrame();
    Repaint();
    FireChange();
}

void TGIFImageControl::SetFileName(const std::string& Value) {
    LoadFromFile(Value);
}

void TGIFImageControl::SetLoop(bool Value) {
    if (Value == FLoop) return;
    FLoop = Value;
    if (Value && FLoopCount > 0 && FLoopCount < FLoopsDone) { // a finished animation waits
        FCurrentFrame = 1;
        FLoopsDone = 1;
        if (FAnimate && FAnimated) FTimer->SetInterval(IntervalOf(1));
        FTimer->SetEnabled(FAnimate && FAnimated);
    }
}

void TGIFImageControl::SetSpeed(int Value) {
    FSpeed = std::max(Value, 1);
    // The next tick comes at once and takes the new speed.
    if (FrameCount() > 1 && FAnimate) FTimer->SetInterval(1);
}

void TGIFImageControl::SetStretch(bool Value) {
    if (Value == FStretch) return;
    FStretch = Value;
    Changed();
}

void TGIFImageControl::SetStretchRatio(bool Value) {
    if (Value == FStretchRatio) return;
    FStretchRatio = Value;
    Changed();
}

void TGIFImageControl::SetTile(bool Value) {
    if (Value == FTile) return;
    FTile = Value;
    Changed();
}

bool TGIFImageControl::Threaded() const {
    return FTimer->Threaded();
}

void TGIFImageControl::SetThreaded(bool Value) {
    FTimer->SetThreaded(Value);
}

TThreadPriority TGIFImageControl::ThreadPriority() const {
    return FTimer->ThreadPriority();
}

void TGIFImageControl::SetThreadPriority(TThreadPriority Value) {
    FTimer->SetThreadPriority(Value);
}

void TGIFImageControl::SetVisible(bool Value) {
    if (Value == FImageVisible) return;
    FImageVisible = Value;
    Changed();
}

// ---- Events -----------------------------------------------------------------------------

void TGIFImageControl::FireChanging() {
    if (OnChanging) OnChanging(this);
}

void TGIFImageControl::FireChange() {
    if (OnChange) OnChange(this);
}

// ---- Composition ------------------------------------------------------------------------

void TGIFImageControl::DrawFrame() {
    TFrame* f = Frames(FCurrentFrame);
    if (!f || !FImage) {
        GIFErrorCode = gifBadFrameIndex;
        return;
    }
    const int l = f->Left(), t = f->Top(), w = f->Width(), h = f->Height();
    if (f->Disposal() == 3) {
        if (FMask) f->SavedMask()->Canvas()->BitBlt(0, 0, w, h, FMask->Canvas(), l, t, SRCCOPY);
        f->SavedImage()->Canvas()->BitBlt(0, 0, w, h, FImage->Canvas(), l, t, SRCCOPY);
    }
    const TRect whole = Rect(0, 0, w, h);
    if (f->Transparent()) {
        // The mask keeps only what both leave transparent; the picture is cleared where
        // the frame is opaque and the frame's pixels (black where transparent) xor'ed in.
        FMask->Canvas()->StretchBlt(Bounds(l, t, w, h), *f->MaskBitmap(), whole, SRCAND);
        FImage->Canvas()->StretchBlt(Bounds(l, t, w, h), *f->MaskBitmap(), whole, SRCAND);
        FImage->Canvas()->StretchBlt(Bounds(l, t, w, h), *f->Bitmap(), whole, SRCINVERT);
    } else {
        if (FMask) FMask->Canvas()->PatBlt(l, t, w, h, BLACKNESS);
        FImage->Canvas()->StretchBlt(Bounds(l, t, w, h), *f->Bitmap(), whole, SRCCOPY);
    }
}

void TGIFImageControl::DisposeFrame(int Index) {
    TFrame* f = Frames(Index);
    if (!f || !FImage) {
        GIFErrorCode = gifBadFrameIndex;
        return;
    }
    const int l = f->Left(), t = f->Top(), w = f->Width(), h = f->Height();
    switch (f->Disposal()) {
    case 2:
        if (FMask) FMask->Canvas()->PatBlt(l, t, w, h, WHITENESS);
        FImage->Canvas()->PatBlt(l, t, w, h, BLACKNESS);
        break;
    case 3:
        if (FMask) FMask->Canvas()->BitBlt(l, t, w, h, f->SavedMask()->Canvas(), 0, 0, SRCCOPY);
        FImage->Canvas()->BitBlt(l, t, w, h, f->SavedImage()->Canvas(), 0, 0, SRCCOPY);
        break;
    default:
        break;
    }
}

// ---- Animation --------------------------------------------------------------------------

int TGIFImageControl::IntervalOf(int Frame) const {
    const TFrame* f = Frames(Frame);
    const int delay = std::max(f ? f->Delay() : 0, MinDelay);
    return std::max(static_cast<int>(std::int64_t{delay} * 100 / FSpeed), 1);
}

void TGIFImageControl::TimerTick(TObject*) {
    if (FCapturePending || FEmpty || !FAnimate) return;
    const int count = FrameCount();
    if (FCurrentFrame < 1 || FCurrentFrame > count) FCurrentFrame = 1;
    FireChanging();
    if (FFirstTick) {
        FFirstTick = false;
    } else {
        DisposeFrame(FCurrentFrame == 1 ? count : FCurrentFrame - 1);
        DrawFrame();
        Repaint();
    }
    FTimer->SetInterval(IntervalOf(FCurrentFrame));
    ++FCurrentFrame;
    const bool wrapped = FCurrentFrame > count;
    if (!FLoop && FLoopCount > 0 && wrapped) {
        ++FLoopsDone;
        FTimer->SetEnabled(FTimer->Enabled() && FLoopCount >= FLoopsDone);
    } else if (wrapped) {
        FCurrentFrame = 1;
    }
    FireChange();
    if (wrapped && OnWrapAnimation) OnWrapAnimation(this);
}

void TGIFImageControl::UpdateTimer() {
    FTimer->SetEnabled(FAnimated && FAnimate && !FEmpty && !Finished());
}

// ---- Emptying ---------------------------------------------------------------------------

void TGIFImageControl::Reset() {
    FEmpty = true;
    FTimer->SetEnabled(false);
    while (!FFrames.empty())
        FFrames.pop_back();
    FWorking.SetPosition(0);
    FData.Clear();
    FCurrentFrame = 1;
    FLoopCount = 1;
    FLoopsDone = 1;
    FFirstTick = true;
    FKeepOnProcessing = true;
    FColorDepth = 0;
    FAnyInterlaced = false;
    FAnyTransparent = false;
    FAnimated = false;
    FPixelsClaimed = 0;
}

void TGIFImageControl::ClearAll() {
    Reset();
    FFileName.clear();
    FImage.reset();
    FMask.reset();
    FBuffer.reset();
    FImageWidth = FImageHeight = 0;
    SetOpaque(false);
    Invalidate();
}

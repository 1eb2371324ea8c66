#include "gif/GIFImage.h"

#include "gif/GIFData.h"
#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "util/TimerPool.h"

#include <algorithm>
#include <memory>

namespace {

TTimerPool* SharedPool = nullptr;

// The trigger interval, in milliseconds, of a frame delay in tenths of a second.
constexpr int MillisecondsPerDelayUnit = 100;
// The interval a new image's trigger starts with.
constexpr int InitialTriggerInterval = 10;

void WriteLength(TStream* Stream, std::uint32_t Length) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(Length), static_cast<std::uint8_t>(Length >> 8),
        static_cast<std::uint8_t>(Length >> 16), static_cast<std::uint8_t>(Length >> 24)};
    Stream->WriteBuffer(bytes, sizeof bytes);
}

std::int32_t ReadLength(TStream* Stream) {
    std::uint8_t bytes[4];
    Stream->ReadBuffer(bytes, sizeof bytes);
    return static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                     std::uint32_t(bytes[3]) << 24);
}

} // namespace

TTimerPool* GIFTimerPool() {
    return SharedPool;
}

TGIFImage::TGIFImage() {
    FGIFData = new TGIFData;
    FGIFData->AddRef();
    if (!SharedPool) {
        SharedPool = new TTimerPool(nullptr);
        SharedPool->SetDefEnabled(false); // triggers start disabled
    }
    FTriggerHandle = SharedPool->AddTrigger(
        InitialTriggerInterval,
        [this](TObject* Sender, std::int32_t Handle, std::int32_t Interval, std::int32_t Elapsed) {
            TriggerFired(Sender, Handle, Interval, Elapsed);
        });
}

TGIFImage::~TGIFImage() {
    TGIFData::Release(FGIFData);
    if (SharedPool && FTriggerHandle != -1) {
        SharedPool->RemoveTrigger(FTriggerHandle);
        if (SharedPool->TriggerCount() == 0) FinalizeGifImg();
    }
}

void TGIFImage::Assign(TGraphic* Source) {
    if (!Source) {
        NewData();
        Changed();
        return;
    }
    if (auto* gif = dynamic_cast<TGIFImage*>(Source)) {
        if (gif->FGIFData != FGIFData) {
            gif->FGIFData->AddRef();
            TGIFData::Release(FGIFData);
            FGIFData = gif->FGIFData;
        }
        FCurrentFrame = gif->FCurrentFrame;
        Changed();
        return;
    }
    throw EInvalidGraphicOperation("Cannot assign to " + ClassName());
}

void TGIFImage::Draw(TCanvas* Canvas, const TRect& Rect) {
    if (!FGIFData->Stream()) return; // never loaded: nothing to show
    Canvas->StretchDraw(Rect, CurrentBitmap());
}

bool TGIFImage::GetEmpty() {
    return !FGIFData->Stream() || FGIFData->Stream()->Size() == 0;
}
int TGIFImage::GetWidth() {
    return FGIFData->ScreenWidth();
}
int TGIFImage::GetHeight() {
    return FGIFData->ScreenHeight();
}

void TGIFImage::SetWidth(int Value) {
    Value = std::min<int>(FGIFData->ScreenWidth(), Value);
    if (Value == FRequestedWidth) return;
    FRequestedWidth = Value;
    Changed();
}

void TGIFImage::SetHeight(int Value) {
    Value = std::min<int>(FGIFData->ScreenHeight(), Value);
    if (Value == FRequestedHeight) return;
    FRequestedHeight = Value;
    Changed();
}

void TGIFImage::LoadFromStream(TStream* Stream) {
    LoadData(Stream->Size() - Stream->Position(), Stream);
}

void TGIFImage::SaveToStream(TStream* Stream) {
    TMemoryStream* data = FGIFData->Stream();
    if (!data) throw EInvalidGraphicOperation("No GIF data");
    data->SaveToStream(Stream);
}

void TGIFImage::LoadFromClipboardFormat(WORD, THandle, HPALETTE) {}

void TGIFImage::SaveToClipboardFormat(WORD& Format, THandle& Data, HPALETTE& Palette) {
    CurrentBitmap()->SaveToClipboardFormat(Format, Data, Palette);
}

void TGIFImage::ReadData(TStream* Stream) {
    LoadData(ReadLength(Stream), Stream);
}

void TGIFImage::WriteData(TStream* Stream) {
    TMemoryStream* data = FGIFData->Stream();
    const std::int64_t size = data ? data->Size() : 0;
    WriteLength(Stream, static_cast<std::uint32_t>(size));
    if (size > 0) data->SaveToStream(Stream);
}

void TGIFImage::NewData() {
    FCurrentFrame = -1;
    // Data that nobody shares and nothing was loaded into is as good as new.
    if (FGIFData->RefCount() == 1 && !FGIFData->Stream()) return;
    auto* fresh = new TGIFData;
    fresh->AddRef();
    TGIFData::Release(FGIFData);
    FGIFData = fresh;
}

void TGIFImage::LoadData(std::int64_t Size, TStream* Stream) {
    NewData();
    // A length that the source cannot deliver fails before anything is allocated.
    if (Size < 0 || Size > Stream->Size() - Stream->Position())
        throw EReadError("Stream read error");
    auto bytes = std::make_unique<TMemoryStream>();
    bytes->SetSize(Size);
    auto* memory = static_cast<char*>(bytes->Memory());
    for (std::int64_t done = 0; done < Size;) {
        const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(Size - done, 1 << 30));
        Stream->ReadBuffer(memory + done, chunk);
        done += chunk;
    }
    FGIFData->SetStream(std::move(bytes));
    SetCurrentFrame(0);
}

int TGIFImage::FrameCount() {
    return FGIFData->FrameCount();
}

void TGIFImage::SetCurrentFrame(int Index) {
    const int count = FrameCount();
    if (Index >= count)
        Index = count - 1;
    else if (Index < 0)
        Index = 0;
    if (Index == FCurrentFrame) return;
    FCurrentFrame = Index;
    if (Index >= 0 && SharedPool && FTriggerHandle != -1)
        SharedPool->SetTriggerInterval(FTriggerHandle,
                                       FGIFData->FrameDelay(Index) * MillisecondsPerDelayUnit);
    Changed();
}

void TGIFImage::NextFrame() {
    SetCurrentFrame(FCurrentFrame < FrameCount() - 1 ? FCurrentFrame + 1 : 0);
}

TBitmap* TGIFImage::CurrentBitmap() {
    return FGIFData->FrameBitmap(FCurrentFrame);
}

void TGIFImage::TriggerFired(TObject*, std::int32_t, std::int32_t, std::int32_t) {
    NextFrame();
}

void InitializeGifImg() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    TPicture::RegisterFileFormat<TGIFImage>("GIF", "Graphics Interchange Format");
}

void FinalizeGifImg() {
    delete SharedPool;
    SharedPool = nullptr;
}

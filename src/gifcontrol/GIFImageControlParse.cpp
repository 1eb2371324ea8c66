// TGIFImageControl: loading a file, walking its blocks into frames, and the "Data"
// property.

#include "gifcontrol/GIFImageControl.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "util/TimerEx.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::uint8_t ExtensionIntroducer = 0x21;
constexpr std::uint8_t ImageSeparator = 0x2C;
constexpr std::uint8_t Trailer = 0x3B;
constexpr std::uint8_t PlainTextLabel = 0x01;
constexpr std::uint8_t GraphicControlLabel = 0xF9;
constexpr std::uint8_t CommentLabel = 0xFE;
constexpr std::uint8_t ApplicationLabel = 0xFF;

} // namespace

// ---- Loading ----------------------------------------------------------------------------

bool TGIFImageControl::LoadFromFile(const std::string& Name) {
    if (!FileExists(Name)) {
        GIFErrorCode = gifFileNotFound;
        return false;
    }
    try {
        FFileName = Name;
        FWorking.LoadFromFile(Name);
    } catch (const Exception&) {
        ClearAll();
        return false;
    }
    return Load();
}

bool TGIFImageControl::LoadFromStream(TMemoryStream* Stream) {
    try {
        if (Stream != &FWorking) FWorking.LoadFromStream(Stream);
    } catch (const Exception&) {
        ClearAll();
        return false;
    }
    return Load();
}

bool TGIFImageControl::Load() {
    try {
        if (!Parse()) throw EAbort("");
    } catch (const Exception&) {
        FWorking.Clear();
        ClearAll();
        return false;
    }
    GIFErrorCode = gifOk;
    return true;
}

void TGIFImageControl::Loaded() {
    TGraphicControl::Loaded();
    if (FData.Size() > 0) LoadFromStream(&FData);
}

void TGIFImageControl::DoProgress(std::int64_t BytesProcessed) {
    if (!OnProgress) return;
    const std::int64_t size = FWorking.Size();
    const int percent =
        size > 0 ? static_cast<int>(std::nearbyint(100.0 * double(BytesProcessed) / double(size)))
                 : 0;
    OnProgress(this, static_cast<int>(BytesProcessed), static_cast<int>(size), percent,
               FKeepOnProcessing);
    if (!FKeepOnProcessing) {
        GIFErrorCode = gifStopped;
        throw EAbort("");
    }
}

bool TGIFImageControl::ClaimPixels(std::int64_t Pixels) {
    if (Pixels > MaxFramePixels - FPixelsClaimed) return false;
    FPixelsClaimed += Pixels;
    return true;
}

// ---- The "Data" property ----------------------------------------------------------------

void TGIFImageControl::ReadData(TStream* Stream) {
    std::uint8_t size[4];
    Stream->ReadBuffer(size, 4);
    const std::uint32_t count =
        size[0] | (size[1] << 8) | (size[2] << 16) | (std::uint32_t{size[3]} << 24);
    // The stored size must be there: a short stream raises "Stream read error" before
    // anything is appended.
    if (count == 0) return;
    if (static_cast<std::int64_t>(count) > Stream->Size() - Stream->Position())
        throw EReadError("Stream read error");
    FData.Seek(0, soFromEnd);
    FData.CopyFrom(Stream, count);
}

void TGIFImageControl::WriteData(TStream* Stream) {
    const auto count = static_cast<std::uint32_t>(FData.Size());
    const std::uint8_t size[4] = {std::uint8_t(count), std::uint8_t(count >> 8),
                                  std::uint8_t(count >> 16), std::uint8_t(count >> 24)};
    Stream->WriteBuffer(size, 4);
    FData.SaveToStream(Stream);
}

// ---- Parsing ----------------------------------------------------------------------------

bool TGIFImageControl::Parse() {
    GIFErrorCode = gifLoading;
    Reset();
    FExtension = {};
    FCommentText.clear();
    FWorking.SetPosition(0);
    FData.LoadFromStream(&FWorking);
    if (FWorking.Size() == 0) {
        GIFErrorCode = gifNoData;
        return false;
    }
    TReadPointer p(FWorking.Memory(), static_cast<std::size_t>(FWorking.Size()));
    if (p.Peek(0) != 'G' || p.Peek(1) != 'I' || p.Peek(2) != 'F') {
        FWorking.Clear();
        return false;
    }
    p.Skip(6);              // "GIF" and the version, which is not checked
    std::uint8_t screen[7]; // width, height, flags, background, aspect ratio
    if (!p.Take(screen, sizeof screen)) return false;
    FGlobalColors = {};
    if (screen[4] & 0x80) {
        FColorDepth = (screen[4] & 7) + 1;
        if (!p.Take(FGlobalColors.data(), std::size_t{3} << FColorDepth)) return false;
    }
    const int screenWidth = screen[0] | (screen[1] << 8);
    const int screenHeight = screen[2] | (screen[3] << 8);

    ReadBlocks(p);
    DoProgress(p.Offset());

    FImageWidth = screenWidth;
    FImageHeight = screenHeight;
    for (const auto& f : FFrames) {
        FImageWidth = std::max(FImageWidth, f->Left() + f->Width());
        FImageHeight = std::max(FImageHeight, f->Top() + f->Height());
    }
    MakeImage();
    if (FAutoSize) SetBounds(Left(), Top(), FImageWidth, FImageHeight);
    FAnimated = FrameCount() > 1;
    FEmpty = false;
    UpdatePaintStyle();

    FTimer->SetInterval(1);
    FireChanging();
    DrawFrame();
    FireChange();
    FWorking.Clear();
    GIFErrorCode = gifOk;
    Invalidate();
    return true;
}

void TGIFImageControl::MakeImage() {
    // The composed picture starts black (no frame drawn), the mask white (all transparent).
    FImage = std::make_unique<TBitmap>();
    FImage->SetSize(FImageWidth, FImageHeight);
    FImage->Canvas()->PatBlt(0, 0, FImageWidth, FImageHeight, BLACKNESS);
    FMask.reset();
    if (FAnyTransparent) {
        FMask = std::make_unique<TBitmap>();
        FMask->SetMonochrome(true);
        FMask->SetSize(FImageWidth, FImageHeight);
        FMask->Canvas()->PatBlt(0, 0, FImageWidth, FImageHeight, WHITENESS);
    }
}

void TGIFImageControl::ReadBlocks(TReadPointer& P) {
    const std::uint8_t* before = nullptr;
    while (P.Pos != before && FKeepOnProcessing && !P.AtEnd()) {
        before = P.Pos;
        DoProgress(P.Offset());
        switch (P.Peek()) {
        case ExtensionIntroducer:
            if (!ReadExtensionBlock(P)) return;
            break;
        case ImageSeparator:
            if (!ReadImage(P)) return;
            break;
        case Trailer:
            P.Skip(P.Left());
            return;
        default: // an unknown block ends the file; what was read so far is shown
            return;
        }
    }
}

bool TGIFImageControl::ReadExtensionBlock(TReadPointer& P) {
    switch (P.Peek(1)) {
    case PlainTextLabel:
        P.Skip(2);
        P.Skip(static_cast<std::size_t>(std::max(P.Peek(), 0)) + 1); // the fixed block
        P.SkipSubBlocks();
        return true;
    case GraphicControlLabel:
        P.Skip(2);
        if (!P.Take(FExtension.data(), FExtension.size())) FExtension = {};
        return true;
    case CommentLabel:
        P.Skip(2);
        while (!P.AtEnd()) {
            const std::size_t length = *P.Pos++;
            if (length == 0) break;
            const std::size_t n = std::min(length, P.Left());
            FCommentText.append(reinterpret_cast<const char*>(P.Pos), n);
            P.Skip(n);
        }
        return true;
    case ApplicationLabel: {
        P.Skip(2);
        // Block size 11: identifier (8) and authentication code (3).
        const bool netscape =
            P.Left() >= 12 && P.Pos[0] == 11 && std::memcmp(P.Pos + 1, "NETSCAPE2.0", 11) == 0;
        P.Skip(static_cast<std::size_t>(std::max(P.Peek(), 0)) + 1);
        // The loop sub-block: length 3, id 1, 16-bit loop count, terminator.
        if (netscape && P.Left() >= 5 && P.Pos[0] == 3) {
            FLoopCount = P.Pos[2] | (P.Pos[3] << 8);
            P.Skip(4);
        }
        P.SkipSubBlocks();
        return true;
    }
    default:
        return false;
    }
}

bool TGIFImageControl::ReadImage(TReadPointer& P) {
    if (FrameCount() >= MaxFrames) return false;
    auto frame = std::make_unique<TFrame>(static_cast<TFrameOwner*>(this));
    // A frame that cannot be read ends the file and is left out, so no half-read frame
    // plays and a refused descriptor cannot enlarge the picture beyond the budget.
    if (!frame->Read(P, &FGlobalColors, FExtension)) return false;
    FColorDepth = std::max(FColorDepth, frame->BitsPerPixel());
    FAnyTransparent = FAnyTransparent || frame->Transparent();
    FAnyInterlaced = FAnyInterlaced || frame->Interlaced();
    frame->SetComment(FCommentText);
    FCommentText.clear();
    FExtension = {};
    FFrames.push_back(std::move(frame));
    return true;
}

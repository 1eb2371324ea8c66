#include "gif/GIFData.h"

#include "gif/GIFFrame.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "util/ObjectLists.h"

namespace {

constexpr int SignatureSize = 6;

[[noreturn]] void ReadError() {
    throw EReadError("Stream read error");
}

} // namespace

TGIFData::TGIFData() = default;
TGIFData::~TGIFData() = default;

void TGIFData::Release(TGIFData* Data) {
    if (!Data) return;
    if (--Data->FRefCount <= 0) delete Data;
}

void TGIFData::SetStream(std::unique_ptr<TMemoryStream> AStream) {
    FStream = std::move(AStream);
}

void TGIFData::ReadFrames() {
    if (FFrames || !FStream) return;
    FStream->SetPosition(SignatureSize); // signature and version are not examined
    std::uint8_t screen[7];              // width, height (2 bytes each), flags, background, aspect
    ReadBytes(screen, sizeof screen);
    FScreenWidth = static_cast<std::uint16_t>(screen[0] | screen[1] << 8);
    FScreenHeight = static_cast<std::uint16_t>(screen[2] | screen[3] << 8);
    FScreenFlags = screen[4];
    FBackgroundIndex = screen[5];
    FAspectRatio = screen[6];
    FGlobalColorTable.reset();
    if (GlobalColorTableSize() > 0)
        FGlobalColorTable = std::make_unique<TColorTable>(FStream.get(), GlobalColorTableSize());

    // From here on the data counts as parsed, whatever happens to the frames.
    FFrames = std::make_unique<TOwnedObjectList>();
    FClaimedPixels = 0;
    for (std::uint8_t separator = ReadSeparator(); separator != TGIFData::Trailer;
         separator = ReadSeparator()) {
        FStream->Seek(-1, soFromCurrent); // the frame reads its separator again
        auto frame = std::make_unique<TGIFFrame>(this);
        frame->Read();
        FFrames->Add(frame.get());
        frame.release();
    }
}

int TGIFData::FrameCount() {
    ReadFrames();
    return FFrames ? FFrames->Count() : 0;
}

void TGIFData::CheckFrameIndex(int Index) {
    const int count = FrameCount();
    if (Index >= count)
        throw EInvalidGraphicOperation(Format("Invalid frame number %d (0..%d)", Index, count - 1));
}

void TGIFData::ClaimPixels(std::int64_t Pixels) {
    if (Pixels > FPixelLimit - FClaimedPixels) throw EOutOfResources("Out of system resources");
    FClaimedPixels += Pixels;
}

TGIFFrame* TGIFData::Frame(int Index) {
    CheckFrameIndex(Index);
    if (!FFrames) // no data, no frame list: the index error an empty list gives
        throw EListError(Format("List index out of bounds (%d)", Index));
    return static_cast<TGIFFrame*>(FFrames->Items(Index));
}

TBitmap* TGIFData::FrameBitmap(int Index) {
    return Frame(Index)->Bitmap();
}

int TGIFData::FrameDelay(int Index) {
    return Frame(Index)->Delay();
}

std::uint8_t TGIFData::ReadByte() {
    std::uint8_t b;
    ReadBytes(&b, 1);
    return b;
}

std::uint16_t TGIFData::ReadWord() {
    std::uint8_t b[2];
    ReadBytes(b, 2);
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

void TGIFData::ReadBytes(void* Destination, int Count) {
    if (Count > 0 && FStream->Read(Destination, Count) != Count) ReadError();
}

void TGIFData::Skip(std::int64_t Count) {
    if (Count == 0) return; // the usual case: blocks of the expected size, terminators
    const std::int64_t position = FStream->Position();
    if (Count > FStream->Size() - position) ReadError();
    FStream->SetPosition(position + Count);
}

void TGIFData::ReadBlock(void* Destination, int Expected) {
    const int size = ReadByte();
    if (size == 0) return;
    const int wanted = Expected == 0 || size < Expected ? size : Expected;
    ReadBytes(Destination, wanted);
    // A block longer than its kind defines: its excess would otherwise be taken for
    // the sub-block chain that follows.
    Skip(size - wanted);
}

void TGIFData::ReadSubBlockString(std::string& S) {
    const int size = ReadByte();
    S.resize(size);
    ReadBytes(S.data(), size);
}

void TGIFData::ReadStrings(TStrings* List) {
    std::string s;
    for (ReadSubBlockString(s); !s.empty(); ReadSubBlockString(s))
        List->Add(s);
}

void TGIFData::ReadSubBlocks(TStream* Target) {
    // A complete chain is measured first, so the target grows once and each block is
    // copied straight out of memory.
    const auto* bytes = static_cast<const std::uint8_t*>(FStream->Memory());
    const std::int64_t end = FStream->Size();
    std::int64_t at = FStream->Position();
    std::int64_t total = 0;
    while (at < end && bytes[at] != 0) {
        total += bytes[at];
        at += 1 + bytes[at];
    }
    if (at >= end) {
        // Cut off: block by block, so the error comes where the data ends.
        for (int size = ReadByte(); size > 0; size = ReadByte())
            Target->CopyFrom(FStream.get(), size);
        return;
    }
    const std::int64_t start = Target->Position();
    if (start + total > Target->Size()) Target->SetSize(start + total);
    at = FStream->Position();
    for (int size = bytes[at]; size > 0; size = bytes[at]) {
        Target->WriteBuffer(bytes + at + 1, size);
        at += 1 + size;
    }
    FStream->SetPosition(at + 1);
}

std::uint8_t TGIFData::SkipSubBlock() {
    const std::uint8_t size = ReadByte();
    Skip(size);
    return size;
}

void TGIFData::SkipSubBlocks() {
    while (SkipSubBlock() != 0) {
    }
}

std::uint8_t TGIFData::ReadSeparator() {
    std::uint8_t separator;
    if (FStream->Read(&separator, 1) == 1) return separator;
    // Cut off where a block should start: report the data's last byte, as the byte seen.
    const std::int64_t size = FStream->Size();
    std::uint8_t last = 0;
    if (size > 0) {
        FStream->SetPosition(size - 1);
        FStream->Read(&last, 1);
    }
    SeparatorError(last);
}

void TGIFData::SeparatorError(std::uint8_t Separator) {
    throw EInvalidGraphicOperation(
        Format("Incomplete download, missing internet connection or\r\ninvalid GIF format "
               "separator: $%X",
               Separator));
}

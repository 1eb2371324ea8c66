#include "platform/runtime/BufferedFileStream.h"

#include "platform/runtime/Exceptions.h"

#include <cstring>

TBufferedFileStream::~TBufferedFileStream() {
    WriteOut();
}

bool TBufferedFileStream::WriteOut() {
    const std::int32_t gathered = FGathered;
    FGathered = 0;
    return gathered == 0 || THandleStream::Write(FBlock.get(), gathered) == gathered;
}

void TBufferedFileStream::Flush() {
    if (!WriteOut()) throw EWriteError("Stream write error");
}

std::int32_t TBufferedFileStream::Write(const void* Buffer, std::int32_t Count) {
    if (Count <= 0) return 0;
    if (Count > BlockSize - FGathered && !WriteOut()) return 0;
    // A write as large as a block gains nothing from a copy.
    if (Count >= BlockSize) return THandleStream::Write(Buffer, Count);
    if (!FBlock) FBlock.reset(new char[BlockSize]);
    std::memcpy(FBlock.get() + FGathered, Buffer, static_cast<size_t>(Count));
    FGathered += Count;
    return Count;
}

std::int32_t TBufferedFileStream::Read(void* Buffer, std::int32_t Count) {
    Flush();
    return THandleStream::Read(Buffer, Count);
}

std::int64_t TBufferedFileStream::Seek(std::int64_t Offset, WORD Origin) {
    Flush();
    return THandleStream::Seek(Offset, Origin);
}

std::int64_t TBufferedFileStream::Size() {
    Flush();
    return THandleStream::Size();
}

void TBufferedFileStream::SetSize(std::int64_t NewSize) {
    Flush();
    THandleStream::SetSize(NewSize);
}

#include "net/WSocketBuffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int Size) {
    Resize(Size);
}

void TBuffer::Resize(int NewSize) {
    if (NewSize <= 0) NewSize = DefaultSize;
    if (NewSize == FCapacity) return;
    // Never cut written bytes off: a smaller size would break the invariant.
    NewSize = std::max(NewSize, FWritePos);
    auto storage = std::make_unique<char[]>(NewSize);
    if (FWritePos > FReadPos) std::memcpy(storage.get(), FStorage.get(), FWritePos);
    FStorage = std::move(storage);
    FCapacity = NewSize;
}

int TBuffer::PutData(const void* Data, int Len) {
    const int free = FCapacity - FWritePos;
    if (free <= 0 || Len <= 0) return 0;
    const int n = std::min(free, Len);
    std::memcpy(FStorage.get() + FWritePos, Data, n);
    FWritePos += n;
    return n;
}

const char* TBuffer::PeekData(int& Len) const {
    Len = FWritePos - FReadPos;
    if (Len > 0) return FStorage.get() + FReadPos;
    Len = 0;
    return nullptr;
}

int TBuffer::Consume(int Len) {
    const int avail = FWritePos - FReadPos;
    if (avail <= 0 || Len <= 0) return 0;
    const int n = std::min(Len, avail);
    FReadPos += n;
    if (FReadPos == FWritePos) FReadPos = FWritePos = 0;
    return n;
}

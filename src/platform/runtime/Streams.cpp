#include "platform/runtime/Streams.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::int32_t CopyChunk = 64 * 1024;
constexpr std::int64_t MaxChunk = std::numeric_limits<std::int32_t>::max();
} // namespace

// ---- TStream ----

std::int64_t TStream::Size() {
    const std::int64_t pos = Seek(0, soFromCurrent);
    const std::int64_t size = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return size;
}

void TStream::SetSize(std::int64_t /*NewSize*/) {
    throw EStreamError("Stream cannot be resized");
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count) {
    if (Count < 0) throw EReadError("Stream read error");
    auto* p = static_cast<char*>(Buffer);
    // Some streams return less than asked before their end; only 0 means the end.
    while (Count > 0) {
        const std::int32_t n = Read(p, Count);
        if (n <= 0) throw EReadError("Stream read error");
        p += n;
        Count -= n;
    }
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count) {
    if (Count < 0) throw EWriteError("Stream write error");
    const auto* p = static_cast<const char*>(Buffer);
    while (Count > 0) {
        const std::int32_t n = Write(p, Count);
        if (n <= 0) throw EWriteError("Stream write error");
        p += n;
        Count -= n;
    }
}

std::int64_t TStream::CopyFrom(TStream* Source, std::int64_t Count) {
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    if (Count <= 0) return 0;
    const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(Count, CopyChunk));
    const std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(chunk)]);
    for (std::int64_t left = Count; left > 0;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(left, chunk));
        Source->ReadBuffer(buffer.get(), n);
        WriteBuffer(buffer.get(), n);
        left -= n;
    }
    return Count;
}

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream() {
    std::free(FMemory);
}

void TMemoryStream::SetCapacity(std::int64_t NewCapacity) {
    if (NewCapacity == FCapacity) return;
    if (NewCapacity == 0) {
        std::free(FMemory);
        FMemory = nullptr;
        FCapacity = 0;
        return;
    }
    void* grown = NewCapacity < 0 || static_cast<std::uint64_t>(NewCapacity) > PTRDIFF_MAX
                      ? nullptr
                      : std::realloc(FMemory, static_cast<size_t>(NewCapacity));
    if (grown == nullptr) throw EStreamError("Out of memory while expanding memory stream");
    FMemory = static_cast<char*>(grown);
    FCapacity = NewCapacity;
}

std::int32_t TMemoryStream::Read(void* Buffer, std::int32_t Count) {
    if (Count <= 0 || FPosition >= FSize) return 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(Count, FSize - FPosition));
    std::memcpy(Buffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

std::int32_t TMemoryStream::Write(const void* Buffer, std::int32_t Count) {
    if (Count <= 0) return 0;
    if (FPosition > std::numeric_limits<std::int64_t>::max() - Count)
        throw EStreamError("Out of memory while expanding memory stream");
    const std::int64_t end = FPosition + Count;
    if (end > FCapacity) {
        // Geometric growth keeps a long series of small appends linear.
        SetCapacity(std::max({end, FCapacity + FCapacity / 2, std::int64_t{4096}}));
    }
    if (FPosition > FSize) // a gap left by seeking past the end reads as zeros
        std::memset(FMemory + FSize, 0, static_cast<size_t>(FPosition - FSize));
    std::memcpy(FMemory + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = end;
    FSize = std::max(FSize, end);
    return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, WORD Origin) {
    std::int64_t base;
    switch (Origin) {
    case soFromBeginning:
        base = 0;
        break;
    case soFromCurrent:
        base = FPosition;
        break;
    case soFromEnd:
        base = FSize;
        break;
    default:
        return -1;
    }
    // Positions before the start would read and write outside the block.
    if ((Offset < 0 && base + Offset < 0) ||
        (Offset > 0 && base > std::numeric_limits<std::int64_t>::max() - Offset))
        return -1;
    FPosition = base + Offset;
    return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
    if (NewSize < 0) throw EStreamError("Out of memory while expanding memory stream");
    if (NewSize > FCapacity) SetCapacity(NewSize);
    if (NewSize > FSize) std::memset(FMemory + FSize, 0, static_cast<size_t>(NewSize - FSize));
    FSize = NewSize;
    if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::Clear() {
    SetCapacity(0);
    FSize = 0;
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
    Stream->SetPosition(0);
    const std::int64_t count = Stream->Size();
    SetSize(count);
    for (std::int64_t done = 0; done < count;) {
        const auto n = static_cast<std::int32_t>(std::min(count - done, MaxChunk));
        Stream->ReadBuffer(FMemory + done, n);
        done += n;
    }
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&file);
}

void TMemoryStream::SaveToStream(TStream* Stream) {
    for (std::int64_t done = 0; done < FSize;) {
        const auto n = static_cast<std::int32_t>(std::min(FSize - done, MaxChunk));
        Stream->WriteBuffer(FMemory + done, n);
        done += n;
    }
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
    TFileStream file(FileName, fmCreate);
    SaveToStream(&file);
}

// ---- THandleStream ----

THandleStream::THandleStream(int AHandle) : FHandle(AHandle) {}

THandleStream::~THandleStream() {
    // The descriptor stays the caller's: leave its offset where our reader stopped.
    DropReadAhead();
}

void THandleStream::DropReadAhead() {
    const std::int32_t unread = FReadLen - FReadPos;
    FReadPos = FReadLen = 0;
    if (unread > 0 && FHandle >= 0) ::lseek(FHandle, -static_cast<off_t>(unread), SEEK_CUR);
}

std::int32_t THandleStream::ReadDirect(char* Buffer, std::int32_t Count) {
    for (;;) {
        const ssize_t n = ::read(FHandle, Buffer, static_cast<size_t>(Count));
        if (n >= 0) return static_cast<std::int32_t>(n);
        if (errno != EINTR) return 0;
    }
}

std::int32_t THandleStream::Read(void* Buffer, std::int32_t Count) {
    if (Count <= 0) return 0;
    auto* out = static_cast<char*>(Buffer);
    std::int32_t done = std::min(Count, FReadLen - FReadPos);
    if (done > 0) {
        std::memcpy(out, FReadBuf.get() + FReadPos, static_cast<size_t>(done));
        FReadPos += done;
        if (done == Count) return done;
    }
    const std::int32_t left = Count - done;
    if (left >= ReadAheadSize) return done + ReadDirect(out + done, left);
    if (!FReadBuf) FReadBuf.reset(new char[ReadAheadSize]);
    FReadLen = ReadDirect(FReadBuf.get(), ReadAheadSize);
    FReadPos = std::min(left, FReadLen);
    std::memcpy(out + done, FReadBuf.get(), static_cast<size_t>(FReadPos));
    return done + FReadPos;
}

std::int32_t THandleStream::Write(const void* Buffer, std::int32_t Count) {
    if (Count <= 0) return 0;
    DropReadAhead();
    const auto* p = static_cast<const char*>(Buffer);
    std::int32_t done = 0;
    while (done < Count) {
        const ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(Count - done));
        if (n > 0) {
            done += static_cast<std::int32_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return done;
}

std::int64_t THandleStream::Seek(std::int64_t Offset, WORD Origin) {
    const off_t kernel = ::lseek(FHandle, 0, SEEK_CUR);
    if (kernel < 0) return -1;
    const std::int64_t logical = kernel - (FReadLen - FReadPos);
    std::int64_t target;
    switch (Origin) {
    case soFromBeginning:
        target = Offset;
        break;
    case soFromCurrent:
        target = logical + Offset;
        break;
    case soFromEnd:
        target = Size() + Offset;
        break;
    default:
        return -1;
    }
    if (target < 0) return -1;
    // A move within what was read ahead keeps the buffer.
    const std::int64_t bufferStart = kernel - FReadLen;
    if (FReadLen > 0 && target >= bufferStart && target <= kernel) {
        FReadPos = static_cast<std::int32_t>(target - bufferStart);
        return target;
    }
    FReadPos = FReadLen = 0;
    return ::lseek(FHandle, static_cast<off_t>(target), SEEK_SET);
}

std::int64_t THandleStream::Size() {
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) return -1;
    if (S_ISREG(st.st_mode)) return st.st_size;
    // Devices: ask the descriptor for its end, then put its offset back.
    const off_t here = ::lseek(FHandle, 0, SEEK_CUR);
    if (here < 0) return -1;
    const off_t end = ::lseek(FHandle, 0, SEEK_END);
    ::lseek(FHandle, here, SEEK_SET);
    return end;
}

void THandleStream::SetSize(std::int64_t NewSize) {
    const std::int64_t pos = Position();
    DropReadAhead();
    if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
        throw EWriteError("Stream write error");
    if (pos > NewSize) ::lseek(FHandle, static_cast<off_t>(NewSize), SEEK_SET);
}

// ---- TFileStream ----

int TFileStream::Open(const std::string& AFileName, WORD Mode, unsigned Rights) {
    const bool create = (Mode & 0xFF00) == fmCreate;
    int flags = O_CLOEXEC;
    if (create) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (Mode & 0x3) {
        case fmOpenRead:
            flags |= O_RDONLY;
            break;
        case fmOpenWrite:
            flags |= O_WRONLY;
            break;
        case fmOpenReadWrite:
            flags |= O_RDWR;
            break;
        default:
            throw EFOpenError("Cannot open file " + AFileName);
        }
    }
    int fd = -1;
    if (!AFileName.empty()) {
        do {
            fd = ::open(AFileName.c_str(), flags, static_cast<mode_t>(Rights));
        } while (fd < 0 && errno == EINTR);
    }
    struct stat st {};
    // A directory opens on Linux but is no file to stream.
    if (fd >= 0 && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        if (create) throw EFCreateError("Cannot create file " + AFileName);
        throw EFOpenError("Cannot open file " + AFileName);
    }
    return fd;
}

TFileStream::TFileStream(const std::string& AFileName, WORD Mode)
    : TFileStream(AFileName, Mode, 0666) {}

TFileStream::TFileStream(const std::string& AFileName, WORD Mode, unsigned Rights)
    : THandleStream(Open(AFileName, Mode, Rights)), FFileName(AFileName) {}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
    FHandle = -1; // the base must not touch a number that may already be reused
}

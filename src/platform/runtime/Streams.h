#pragma once
// Byte streams: the abstract TStream, the in-memory TMemoryStream and the file streams
// THandleStream / TFileStream. Positions and sizes are 64-bit byte counts.

#include "platform/runtime/Classes.h"
#include "platform/runtime/WinTypes.h"

#include <cstdint>
#include <memory>
#include <string>

// Seek origins.
inline constexpr WORD soFromBeginning = 0;
inline constexpr WORD soFromCurrent = 1;
inline constexpr WORD soFromEnd = 2;

class TStream : public TObject {
public:
    // Reads up to Count bytes; returns how many were read (0 at the end).
    virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
    // Writes up to Count bytes; returns how many were written.
    virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
    // Returns the new position, or -1 when the stream cannot seek there.
    virtual std::int64_t Seek(std::int64_t Offset, WORD Origin) = 0;

    std::int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(std::int64_t Pos) { Seek(Pos, soFromBeginning); }
    virtual std::int64_t Size();
    // The base class cannot resize (EStreamError); streams that can override it.
    virtual void SetSize(std::int64_t NewSize);
    // Writes out what the stream holds back, raising EWriteError "Stream write error" when
    // that fails. Most streams hold nothing back.
    virtual void Flush() {}

    // Exactly Count bytes or EReadError "Stream read error" / EWriteError "Stream write
    // error" (what was transferred before a short read stays transferred).
    void ReadBuffer(void* Buffer, std::int32_t Count);
    void WriteBuffer(const void* Buffer, std::int32_t Count);
    // Copies Count bytes from Source's position; Count 0 copies all of Source from its
    // start. Returns the number copied; a short Source raises EReadError.
    std::int64_t CopyFrom(TStream* Source, std::int64_t Count);
};

// The whole content in one block of memory that grows as needed.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, WORD Origin) override;
    std::int64_t Size() override { return FSize; }
    // Raises EStreamError "Out of memory while expanding memory stream" when the block
    // cannot grow. New bytes are zero; a position past the new end moves to the end.
    void SetSize(std::int64_t NewSize) override;

    // The content; valid until the size changes. nullptr while empty and unallocated.
    void* Memory() { return FMemory; }
    const void* Memory() const { return FMemory; }
    // Empties the stream and releases its memory.
    void Clear();
    // Replaces the content with all of Stream (from its start); position 0 afterwards.
    void LoadFromStream(TStream* Stream);
    void LoadFromFile(const std::string& FileName);
    // Writes the whole content, whatever the position.
    void SaveToStream(TStream* Stream);
    void SaveToFile(const std::string& FileName);

private:
    void SetCapacity(std::int64_t NewCapacity);

    char* FMemory = nullptr;
    std::int64_t FSize = 0;
    std::int64_t FCapacity = 0;
    std::int64_t FPosition = 0;
};

// File open modes: one access mode, optionally or'ed with one share mode. Share modes
// are accepted and not enforced (files are not locked here).
inline constexpr WORD fmOpenRead = 0x0000;
inline constexpr WORD fmOpenWrite = 0x0001;
inline constexpr WORD fmOpenReadWrite = 0x0002;
inline constexpr WORD fmCreate = 0xFF00; // create or truncate, read and write
inline constexpr WORD fmShareCompat = 0x0000;
inline constexpr WORD fmShareExclusive = 0x0010;
inline constexpr WORD fmShareDenyWrite = 0x0020;
inline constexpr WORD fmShareDenyRead = 0x0030;
inline constexpr WORD fmShareDenyNone = 0x0040;

// A stream over an open file descriptor, which stays the caller's. Reads are buffered
// ahead; every Write goes to the file at once and in order, so a failed write is
// reported by the call that made it and nothing is held back.
class THandleStream : public TStream {
public:
    explicit THandleStream(int AHandle);
    ~THandleStream() override;
    THandleStream(const THandleStream&) = delete;
    THandleStream& operator=(const THandleStream&) = delete;

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, WORD Origin) override;
    std::int64_t Size() override;
    // Raises EWriteError "Stream write error" when the file cannot be resized; a
    // position past the new end moves to the end.
    void SetSize(std::int64_t NewSize) override;
    int Handle() const { return FHandle; }

protected:
    int FHandle;

private:
    static constexpr std::int32_t ReadAheadSize = 64 * 1024;
    // Puts the descriptor's offset back where the caller thinks it is.
    void DropReadAhead();
    std::int32_t ReadDirect(char* Buffer, std::int32_t Count);

    std::unique_ptr<char[]> FReadBuf;
    std::int32_t FReadPos = 0; // next unread byte in FReadBuf
    std::int32_t FReadLen = 0; // valid bytes in FReadBuf
};

// A file opened by name and closed on destruction. Failures raise EFOpenError
// "Cannot open file <name>" or, for fmCreate, EFCreateError "Cannot create file <name>".
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& AFileName, WORD Mode);
    TFileStream(const std::string& AFileName, WORD Mode, unsigned Rights);
    ~TFileStream() override;
    const std::string& FileName() const { return FFileName; }

private:
    static int Open(const std::string& AFileName, WORD Mode, unsigned Rights);
    std::string FFileName;
};
